#include "platform/wininet_url_fetcher.h"

#include "platform/unique_handle.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cwctype>
#include <iterator>

namespace tarnwick {
namespace {

inline void InternetCloseHandleIgnoringResult(HINTERNET handle) noexcept { ::InternetCloseHandle(handle); }
using unique_hinternet = unique_any<HINTERNET, InternetCloseHandleIgnoringResult>;

constexpr DWORD kReadChunkBytes = 4096;

void BoundWaits(HINTERNET internet) {
  DWORD connect = kConnectTimeoutMs;
  DWORD receive = kReceiveTimeoutMs;
  // Failures leave WinINet's own (much longer) limits in place.
  ::InternetSetOptionW(internet, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof(connect));
  ::InternetSetOptionW(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive));
  ::InternetSetOptionW(internet, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof(receive));
}

// The Content-Length of the answer, or nullopt when none was sent (or it is
// no number). A length above `maxBytes` reads as maxBytes + 1.
std::optional<size_t> DeclaredLength(HINTERNET request, size_t maxBytes) {
  wchar_t length[32] = {};
  DWORD size = sizeof(length);
  DWORD index = 0;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, length, &size, &index) || length[0] == L'\0') {
    return std::nullopt;
  }
  size_t declared = 0;
  for (const wchar_t* digit = length; *digit != L'\0'; ++digit) {
    if (*digit < L'0' || *digit > L'9') return std::nullopt;
    declared = declared * 10 + static_cast<unsigned>(*digit - L'0');
    if (declared > maxBytes) return maxBytes + 1;
  }
  return declared;
}

struct UrlParts {
  INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
  std::wstring host;
  INTERNET_PORT port = 0;
};

std::optional<UrlParts> CrackUrl(const std::wstring& url) {
  wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = static_cast<DWORD>(std::size(host));
  if (url.empty() || !::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    return std::nullopt;
  }
  std::wstring lower(host, parts.dwHostNameLength);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(::towlower(c));
  return UrlParts{parts.nScheme, lower, parts.nPort};
}

bool IsHttps(const std::wstring& url) {
  const auto parts = CrackUrl(url);
  return parts && parts->scheme == INTERNET_SCHEME_HTTPS && !parts->host.empty();
}

bool IsRedirect(DWORD status) {
  return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT || status == HTTP_STATUS_REDIRECT_METHOD ||
         status == HTTP_STATUS_REDIRECT_KEEP_VERB || status == HTTP_STATUS_PERMANENT_REDIRECT;
}

DWORD StatusOf(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  DWORD index = 0;
  return ::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index) ? status
                                                                                                            : 0;
}

std::wstring LocationOf(HINTERNET request) {
  wchar_t location[INTERNET_MAX_URL_LENGTH] = {};
  DWORD size = sizeof(location);
  DWORD index = 0;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location, &size, &index)) return {};
  return std::wstring(location, size / sizeof(wchar_t));
}

// Opens `url`, following only redirects that stay on its host over https
// (WinINet's own would follow one to any host, and to http:). Null when the
// answer is not a 200 in the end.
unique_hinternet OpenOk(HINTERNET internet, std::wstring url, FetchControl& control) {
  for (int redirects = 0; redirects <= kMaxRedirects && !control.Cancelled(); ++redirects) {
    unique_hinternet request(::InternetOpenUrlW(
        internet, url.c_str(), nullptr, 0,
        INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_SECURE,
        0));
    if (!request) {
      control.Fail(L"InternetOpenUrlW", ::GetLastError());
      return {};
    }
    const DWORD status = StatusOf(request.get());
    if (status == HTTP_STATUS_OK) return request;
    if (!IsRedirect(status)) {
      control.Fail(L"answer", status, true);
      return {};
    }
    const auto next = SameHostRedirect(url, LocationOf(request.get()));
    if (!next) {
      control.Fail(L"redirect to another host or scheme", ERROR_INTERNET_INVALID_URL);
      return {};
    }
    url = *next;
  }
  if (!control.Cancelled()) control.Fail(L"too many redirects", ERROR_HTTP_REDIRECT_FAILED);
  return {};
}

}  // namespace

std::optional<std::wstring> SameHostRedirect(const std::wstring& fromUrl, const std::wstring& location) {
  if (location.empty()) return std::nullopt;
  wchar_t combined[INTERNET_MAX_URL_LENGTH] = {};
  DWORD length = static_cast<DWORD>(std::size(combined));
  if (!::InternetCombineUrlW(fromUrl.c_str(), location.c_str(), combined, &length, ICU_NO_ENCODE)) {
    return std::nullopt;
  }
  const std::wstring target(combined, length);
  const auto from = CrackUrl(fromUrl);
  const auto to = CrackUrl(target);
  if (!from || !to || to->scheme != INTERNET_SCHEME_HTTPS || from->scheme != INTERNET_SCHEME_HTTPS ||
      to->host != from->host || to->port != from->port) {
    return std::nullopt;
  }
  return target;
}

std::optional<std::vector<std::byte>> FetchUrlBytes(const std::wstring& url, size_t maxBytes,
                                                    const std::wstring& userAgent, FetchControl& control) {
  // Nothing the program fetches may travel in the clear.
  if (!IsHttps(url)) {
    control.Fail(L"not an https: URL", ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return std::nullopt;
  }
  const unique_hinternet internet(
      ::InternetOpenW(userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet) {
    control.Fail(L"InternetOpenW", ::GetLastError());
    return std::nullopt;
  }
  BoundWaits(internet.get());
  const unique_hinternet request = OpenOk(internet.get(), url, control);
  if (!request) return std::nullopt;
  // A declared length above the cap ends the download before any of it is read.
  const std::optional<size_t> declared = DeclaredLength(request.get(), maxBytes);
  if (declared && *declared > maxBytes) {
    control.Fail(L"declared length over the limit", ERROR_FILE_TOO_LARGE);
    return std::nullopt;
  }
  // Set again on the request: not every WinINet passes the session's
  // receive limit on to the reads of the body.
  BoundWaits(request.get());

  std::vector<std::byte> body;
  control.Report(0, declared.value_or(0));
  while (!control.Cancelled()) {
    // Asking first what has arrived lets a read return with that much: a read
    // of a whole chunk could wait for a trickling server to fill it.
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(request.get(), &available, 0, 0)) {
      control.Fail(L"InternetQueryDataAvailable", ::GetLastError());
      return std::nullopt;
    }
    const size_t total = body.size();
    // One byte past the cap is enough to know the body is too long.
    const size_t room = std::min<size_t>({std::max<DWORD>(available, 1), kReadChunkBytes, maxBytes - total + 1});
    body.resize(total + room);
    DWORD read = 0;
    if (!::InternetReadFile(request.get(), body.data() + total, static_cast<DWORD>(room), &read)) {
      control.Fail(L"InternetReadFile", ::GetLastError());
      return std::nullopt;
    }
    body.resize(total + read);
    if (read == 0) {
      // A connection that ends before the declared length is a failed read.
      if (body.empty() || (declared && body.size() != *declared)) {
        control.Fail(body.empty() ? L"empty answer" : L"answer shorter than declared", ERROR_HANDLE_EOF);
        return std::nullopt;
      }
      return body;
    }
    if (body.size() > maxBytes) {
      control.Fail(L"answer over the limit", ERROR_FILE_TOO_LARGE);
      return std::nullopt;
    }
    control.Report(body.size(), declared.value_or(0));
  }
  return std::nullopt;
}

}  // namespace tarnwick
