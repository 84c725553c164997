#include "platform/wininet_url_fetcher.h"

#include "platform/unique_handle.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>

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

// WinINet opens a URL that answers with an error page (or a proxy's 502) as
// successfully as one that answers with the file.
bool AnsweredOk(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  DWORD index = 0;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index)) {
    return false;
  }
  return status == HTTP_STATUS_OK;
}

// The Content-Length of the answer, or nullopt when none was sent (or it is
// no number). A length above `max_bytes` reads as max_bytes + 1.
std::optional<size_t> DeclaredLength(HINTERNET request, size_t max_bytes) {
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
    if (declared > max_bytes) return max_bytes + 1;
  }
  return declared;
}

}  // namespace

std::optional<std::vector<std::byte>> FetchUrlBytes(const std::wstring& url, size_t max_bytes,
                                                    const std::wstring& user_agent) {
  const unique_hinternet internet(
      ::InternetOpenW(user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet) return std::nullopt;
  BoundWaits(internet.get());
  const unique_hinternet request(::InternetOpenUrlW(internet.get(), url.c_str(), nullptr, 0,
                                                    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD, 0));
  if (!request || !AnsweredOk(request.get())) return std::nullopt;
  // A declared length above the cap ends the download before any of it is read.
  const std::optional<size_t> declared = DeclaredLength(request.get(), max_bytes);
  if (declared && *declared > max_bytes) return std::nullopt;
  // Set again on the request: not every WinINet passes the session's
  // receive limit on to the reads of the body.
  BoundWaits(request.get());

  std::vector<std::byte> body;
  while (true) {
    const size_t total = body.size();
    // One byte past the cap is enough to know the body is too long.
    const size_t room = std::min<size_t>(kReadChunkBytes, max_bytes - total + 1);
    body.resize(total + room);
    DWORD read = 0;
    if (!::InternetReadFile(request.get(), body.data() + total, static_cast<DWORD>(room), &read)) return std::nullopt;
    body.resize(total + read);
    if (read == 0) break;
    if (body.size() > max_bytes) return std::nullopt;
  }
  // A connection that ends before the declared length is a failed read.
  if (body.empty() || (declared && body.size() != *declared)) return std::nullopt;
  return body;
}

}  // namespace tarnwick
