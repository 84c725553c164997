#include "update/update_download.h"

#include "config/product.h"
#include "install/program_protection.h"
#include "platform/detached_thread.h"
#include "platform/resource_text.h"
#include "platform/unique_handle.h"
#include "res/resource.h"
#include "update/update_check.h"
#include "update/update_endpoints.h"
#include "update/version.h"

#include <bcrypt.h>
#include <objbase.h>
#include <sddl.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <initializer_list>
#include <utility>
#include <vector>

namespace tarnwick {
namespace {

inline void CertFreeCertificateChainAny(PCCERT_CHAIN_CONTEXT chain) noexcept { ::CertFreeCertificateChain(chain); }
using unique_cert_chain = unique_any<PCCERT_CHAIN_CONTEXT, CertFreeCertificateChainAny>;

// The state WinVerifyTrust keeps after a verification, released with a
// second call whatever happens in between.
class TrustState {
 public:
  TrustState(GUID action, WINTRUST_DATA& data) noexcept : action_(action), data_(data) {}
  ~TrustState() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(nullptr, &action_, &data_);
  }
  TrustState(const TrustState&) = delete;
  TrustState& operator=(const TrustState&) = delete;

 private:
  GUID action_;
  WINTRUST_DATA& data_;
};

// Each "%x" of `format`, in order, becomes the next value in lowercase
// hexadecimal; the resource text is never used as a printf format.
std::wstring FillHexFields(std::wstring format, std::initializer_list<DWORD> values) {
  size_t from = 0;
  for (const DWORD value : values) {
    const size_t field = format.find(L"%x", from);
    if (field == std::wstring::npos) break;
    wchar_t digits[16] = {};
    std::swprintf(digits, std::size(digits), L"%lx", static_cast<unsigned long>(value));
    format.replace(field, 2, digits);
    from = field + std::wcslen(digits);
  }
  return format;
}

// The first "%s" of `format` becomes `value`; the resource text is never
// used as a printf format.
std::wstring FillTextField(std::wstring format, const std::wstring& value) {
  return FillTextFields(std::move(format), {value});
}

// Chain parameters that ask for a chain valid for code signing.
class CodeSigningChainParameters {
 public:
  CodeSigningChainParameters() noexcept {
    parameters_.cbSize = sizeof(parameters_);
    parameters_.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters_.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters_.RequestedUsage.Usage.rgpszUsageIdentifier = usage_;
  }
  CodeSigningChainParameters(const CodeSigningChainParameters&) = delete;
  CodeSigningChainParameters& operator=(const CodeSigningChainParameters&) = delete;
  CERT_CHAIN_PARA* get() noexcept { return &parameters_; }

 private:
  LPSTR usage_[1] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
  CERT_CHAIN_PARA parameters_{};
};

// Built by the local machine's engine: a root that only the user's own store
// trusts (any program of the user may add one) does not count.
bool ChainsToMachineRootForCodeSigning(PCCERT_CONTEXT certificate, const std::optional<FILETIME>& at) {
  CodeSigningChainParameters parameters;
  unique_cert_chain chain;
  // The signature's own store supplies the intermediate certificates. Every
  // certificate of the chain is judged valid or not as of `at` (the current
  // time when there is none).
  FILETIME moment = at.value_or(FILETIME{});
  if (!::CertGetCertificateChain(HCCE_LOCAL_MACHINE, certificate, at ? &moment : nullptr, certificate->hCertStore,
                                 parameters.get(), 0, nullptr, chain.put())) {
    return false;
  }
  return chain.get()->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR;
}

// The certificate's own extension must name code signing: a chain's usage
// check passes a certificate that has no usage extension at all.
bool ExtensionAllowsCodeSigning(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  if (!::CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size) || size == 0) {
    return false;
  }
  std::vector<std::byte> buffer(size);
  auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
  if (!::CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) return false;
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
    if (std::string_view(usage->rgpszUsageIdentifier[i]) == szOID_PKIX_KP_CODE_SIGNING) return true;
  }
  return false;
}

bool IsPinnedKey(PCCERT_CONTEXT certificate, std::span<const std::string_view> pinnedKeys) {
  const std::string digest = PublicKeyDigest(certificate);
  return !digest.empty() && std::find(pinnedKeys.begin(), pinnedKeys.end(), digest) != pinnedKeys.end();
}

// WinVerifyTrust accepts any valid signature by any certificate the system
// trusts (and some systems, any signature at all): the signer's key is pinned
// here, its certificate must be for code signing, and its chain must end at a
// root the machine trusts.
bool SignedByPinnedKey(HANDLE trustState, std::span<const std::string_view> pinnedKeys,
                       const SigningTimeReader& signingTime) {
  CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(trustState);
  CRYPT_PROVIDER_SGNR* signer = provider != nullptr ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* leaf = signer != nullptr ? ::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
  if (leaf == nullptr || leaf->pCert == nullptr) return false;
  return IsPinnedKey(leaf->pCert, pinnedKeys) && ExtensionAllowsCodeSigning(leaf->pCert) &&
         ChainsToMachineRootForCodeSigning(leaf->pCert, signingTime(*signer));
}

// The signer of the signature that WinVerifyTrust checked: the one pinned.
std::shared_ptr<const SignerCertificates> CopySigner(HANDLE trustState) {
  CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(trustState);
  CRYPT_PROVIDER_SGNR* signer = provider != nullptr ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* leaf = signer != nullptr ? ::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
  if (leaf == nullptr || leaf->pCert == nullptr) return nullptr;
  auto copy = std::make_shared<const SignerCertificates>(leaf->pCert);
  return copy->Valid() ? copy : nullptr;
}

bool Rewind(HANDLE file) {
  LARGE_INTEGER start{};
  return ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0;
}

// After "Yes" the user waits for a browser: when none could be asked to open
// the page, they are given its address instead.
void OfferErrorPage(const TrustResult& trust, HWND owner, ProgramStarter& starter) {
  if (::MessageBoxW(owner, SignatureWarningText(trust).c_str(), kProductName, MB_ICONWARNING | MB_YESNO) != IDYES) {
    return;
  }
  const std::wstring url(kUpdateErrorPageUrl);
  if (!starter.OpenWebPage(url)) {
    ::MessageBoxW(owner, ErrorPageNotOpenedText(url).c_str(), kProductName, MB_ICONWARNING);
  }
}

// Where the installer goes: while elevated, a new folder that only
// Administrators and SYSTEM can change, so that nobody else can replace or
// re-point what is started between the check and the start; otherwise the
// user's own folder, whose programs could as well start anything themselves.
std::wstring PrepareDownloadFolder(bool elevated) {
  if (elevated) {
    std::wstring folder = NewProtectedDownloadFolder();
    return !folder.empty() && CreateProtectedFolder(folder) ? folder : std::wstring();
  }
  std::wstring folder = DownloadFolder();
  // An existing folder is fine: it is the user's own.
  if (!folder.empty()) ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

}  // namespace

std::wstring InstallerUrl(bool beta) {
  std::wstring url(kUpdateFilesBaseUrl);
  if (beta) url += L"beta/";
  return url + std::wstring(kSetupFileName);
}

std::wstring DownloadFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(static_cast<DWORD>(std::size(temp)), temp);
  if (length == 0 || length >= std::size(temp)) return {};
  std::wstring folder(temp, length);
  if (folder.back() != L'\\') folder += L'\\';
  return folder + L"ombrix";
}

std::wstring NewProtectedDownloadFolder() {
  wchar_t windows[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemWindowsDirectoryW(windows, static_cast<UINT>(std::size(windows)));
  if (length == 0 || length >= std::size(windows)) return {};
  std::wstring folder(windows, length);
  if (folder.back() != L'\\') folder += L'\\';
  GUID unique{};
  if (FAILED(::CoCreateGuid(&unique))) return {};
  wchar_t name[64] = {};
  std::swprintf(name, std::size(name), L"Tarnwick-%08lx%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned long>(unique.Data1), unique.Data2, unique.Data3, unique.Data4[0], unique.Data4[1],
                unique.Data4[2], unique.Data4[3], unique.Data4[4], unique.Data4[5], unique.Data4[6], unique.Data4[7]);
  return folder + L"Temp\\" + name;
}

bool PathHasReparsePoint(const std::wstring& path) {
  std::vector<std::wstring> folders = ContainingFolders(path);
  folders.insert(folders.begin(), path);
  for (const std::wstring& folder : folders) {
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
  }
  return false;
}

bool CreateProtectedFolder(const std::wstring& folder) {
  // Owned by Administrators, changed by them and SYSTEM only, nothing
  // inherited from the folder it is in.
  unique_hlocal descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAG:SYD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1,
          reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = descriptor.get();
  // A folder that already exists was made by someone else: it is not used.
  if (!::CreateDirectoryW(folder.c_str(), &attributes)) return false;
  if (PathHasReparsePoint(folder)) {
    ::RemoveDirectoryW(folder.c_str());
    return false;
  }
  return true;
}

std::optional<std::vector<std::byte>> ReadOpenFile(HANDLE file, size_t maxBytes) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
    return std::nullopt;
  }
  if (!Rewind(file)) return std::nullopt;
  std::vector<std::byte> bytes(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(1u << 20, bytes.size() - done));
    DWORD read = 0;
    if (!::ReadFile(file, bytes.data() + done, wanted, &read, nullptr) || read == 0) return std::nullopt;
    done += read;
  }
  if (!Rewind(file)) return std::nullopt;
  return bytes;
}

bool WriteInstaller(const std::wstring& path, std::span<const std::byte> bytes) {
  // Whatever has the name goes first and the file is made anew: writing over
  // an existing name would write into the file that the name is a link to,
  // and keep the access rights that its owner gave it.
  ::DeleteFileW(path.c_str());
  bool writtenWhole = false;
  {
    const unique_hfile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    writtenWhole = ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                   written == bytes.size();
  }
  if (!writtenWhole) ::DeleteFileW(path.c_str());
  return writtenWhole;
}

std::string PublicKeyDigest(PCCERT_CONTEXT certificate) {
  BYTE* encoded = nullptr;
  DWORD encodedSize = 0;
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &certificate->pCertInfo->SubjectPublicKeyInfo,
                             CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded, &encodedSize)) {
    return {};
  }
  const unique_hlocal encoding(encoded);
  BYTE digest[32] = {};
  DWORD digestSize = sizeof(digest);
  if (!::CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, encoded, encodedSize, digest, &digestSize) ||
      digestSize != sizeof(digest)) {
    return {};
  }
  std::string hex;
  for (const BYTE byte : digest) {
    constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

std::wstring TrustResultText(const TrustResult& result) {
  const auto status = static_cast<DWORD>(result.status);
  switch (status) {
    case 0:
      return LoadResourceText(IDS_SIGNATURE_VERIFIED);
    case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
      switch (result.lastError) {
        case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
        case static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN):
        case static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN):
          return LoadResourceText(IDS_SIGNATURE_MISSING);
        default:
          return FillHexFields(LoadResourceText(IDS_SIGNATURE_ERROR), {result.lastError, status});
      }
    case static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST):
      return LoadResourceText(IDS_SIGNATURE_DISALLOWED);
    case static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED):
      return LoadResourceText(IDS_SIGNATURE_NOT_TRUSTED);
    case static_cast<DWORD>(CRYPT_E_SECURITY_SETTINGS):
      return LoadResourceText(IDS_SIGNATURE_ADMIN_POLICY);
    default:
      return FillHexFields(LoadResourceText(IDS_SIGNATURE_ERROR), {result.lastError, status});
  }
}

std::wstring SignatureWarningText(const TrustResult& result) {
  return FillTextField(LoadResourceText(IDS_SIGNATURE_INVALID_PROMPT), TrustResultText(result));
}

std::wstring ErrorPageNotOpenedText(const std::wstring& url) {
  return FillTextField(LoadResourceText(IDS_ERROR_PAGE_NOT_OPENED), url);
}

std::optional<FILETIME> TrustedSigningTime(const CRYPT_PROVIDER_SGNR& signer) {
  // sftVerifyAsOf is the time stamp's time only when a time stamp was found
  // and verified; a provider may fill it from an attribute it never checked,
  // so the counter-signer that WinVerifyTrust verified must be there too.
  if (signer.csCounterSigners == 0 || signer.pasCounterSigners == nullptr) return std::nullopt;
  if (signer.pasCounterSigners[0].dwError != ERROR_SUCCESS) return std::nullopt;
  return signer.sftVerifyAsOf;
}

TrustResult VerifyInstallerSignature(HANDLE file, const std::wstring& path,
                                     std::span<const std::string_view> pinnedKeys,
                                     const SigningTimeReader& signingTime) {
  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file;
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  TrustResult result;
  result.status = ::WinVerifyTrust(nullptr, &action, &data);
  result.lastError = ::GetLastError();
  const TrustState state(action, data);
  if (result.status == 0 && !SignedByPinnedKey(data.hWVTStateData, pinnedKeys, signingTime)) {
    result.status = TRUST_E_SUBJECT_NOT_TRUSTED;
  }
  if (result.status == 0) result.signer = CopySigner(data.hWVTStateData);
  return result;
}

bool InstallerVersionAcceptable(std::optional<uint32_t> installerVersion, uint32_t announcedVersion) {
  return installerVersion == announcedVersion && announcedVersion > PackVersion(CurrentVersionText);
}

PreparedInstaller::~PreparedInstaller() {
  // A protected folder is made for one download: one whose installer is not
  // started goes again.
  if (!elevated_ || started_ || folder_.empty()) return;
  held_.reset();
  ::DeleteFileW(path_.c_str());
  ::RemoveDirectoryW(folder_.c_str());
}

RevocationStatus RevocationOfChain(DWORD chainErrorStatus) {
  if ((chainErrorStatus & CERT_TRUST_IS_REVOKED) != 0) return RevocationStatus::Revoked;
  // Offline, no answer within the time, or no list to ask: Windows sets
  // both bits, Wine neither.
  if ((chainErrorStatus & (CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION)) != 0) {
    return RevocationStatus::Unknown;
  }
  return RevocationStatus::NotRevoked;
}

SignerCertificates::SignerCertificates(PCCERT_CONTEXT signer) {
  store_ = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (store_ == nullptr) return;
  // The intermediate certificates come with the signature.
  if (signer->hCertStore != nullptr) {
    for (PCCERT_CONTEXT carried = ::CertEnumCertificatesInStore(signer->hCertStore, nullptr); carried != nullptr;
         carried = ::CertEnumCertificatesInStore(signer->hCertStore, carried)) {
      ::CertAddCertificateContextToStore(store_, carried, CERT_STORE_ADD_USE_EXISTING, nullptr);
    }
  }
  if (!::CertAddCertificateContextToStore(store_, signer, CERT_STORE_ADD_USE_EXISTING, &signer_)) signer_ = nullptr;
}

SignerCertificates::~SignerCertificates() {
  if (signer_ != nullptr) ::CertFreeCertificateContext(signer_);
  if (store_ != nullptr) ::CertCloseStore(store_, 0);
}

RevocationStatus SignerCertificates::CheckRevocation(DWORD timeoutMs) const {
  if (signer_ == nullptr) return RevocationStatus::Unknown;
  CodeSigningChainParameters parameters;
  // With the accumulative flag this bounds all the chain's retrievals
  // together, not each one.
  parameters.get()->dwUrlRetrievalTimeout = timeoutMs;
  unique_cert_chain chain;
  if (!::CertGetCertificateChain(
          HCCE_LOCAL_MACHINE, signer_, nullptr, store_, parameters.get(),
          CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT, nullptr,
          chain.put())) {
    return RevocationStatus::Unknown;
  }
  return RevocationOfChain(chain.get()->TrustStatus.dwErrorStatus);
}

RevocationStatus CheckRevocationWithinBound(const std::shared_ptr<const SignerCertificates>& signer) {
  struct Lookup {
    unique_handle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<RevocationStatus> status{RevocationStatus::Unknown};
  };
  auto lookup = std::make_shared<Lookup>();
  if (!signer || !lookup->done) return RevocationStatus::Unknown;
  // The thread owns what it uses: it may outlive this wait.
  if (!StartDetachedThread([lookup, signer]() noexcept {
        lookup->status = signer->CheckRevocation(kRevocationCheckMaxMs);
        ::SetEvent(lookup->done.get());
      })) {
    return RevocationStatus::Unknown;
  }
  ::WaitForSingleObject(lookup->done.get(), kRevocationCheckMaxMs);
  return lookup->status.load();
}

std::unique_ptr<PreparedInstaller> PrepareInstaller(std::span<const std::byte> installerBytes,
                                                    uint32_t announcedVersion, bool elevated,
                                                    const RevocationCheck& checkRevocation) {
  auto prepared = std::make_unique<PreparedInstaller>();
  prepared->elevated_ = elevated;
  if (installerBytes.size() <= kInstallerMinBytes) return prepared;
  prepared->folder_ = PrepareDownloadFolder(elevated);
  if (prepared->folder_.empty()) return prepared;
  prepared->path_ = prepared->folder_ + L"\\" + std::wstring(kSetupFileName);
  if (!WriteInstaller(prepared->path_, installerBytes)) return prepared;
  // Opened without write or delete sharing: from here until the start call
  // has returned, nobody can change, rename or remove the file, and what it
  // holds is checked to be what was downloaded. (The writing handle cannot be
  // kept: the system would not start a program that is open for writing.)
  unique_hfile installer(::CreateFileW(prepared->path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!installer) return prepared;
  const auto heldBytes = ReadOpenFile(installer.get(), kInstallerMaxBytes);
  if (!heldBytes || !std::equal(heldBytes->begin(), heldBytes->end(), installerBytes.begin(), installerBytes.end())) {
    return prepared;
  }
  prepared->trust_ = VerifyInstallerSignature(installer.get(), prepared->path_, kUpdateSignerKeys);
  // A genuine installer of an older release, served again, would downgrade
  // the program to a version with known faults. The file checked above is
  // what was read through the same handle.
  prepared->versionAcceptable_ = InstallerVersionAcceptable(ReadImageFileVersion(*heldBytes), announcedVersion);
  // A pinned key that was stolen is revoked by its CA: what it signs is
  // refused, until every user has a release with a new pin.
  if (prepared->trust_.status == 0 && prepared->versionAcceptable_) {
    prepared->signerRevoked_ =
        !prepared->trust_.signer || checkRevocation(prepared->trust_.signer) == RevocationStatus::Revoked;
  }
  prepared->held_ = std::move(installer);
  return prepared;
}

bool StartPreparedInstaller(PreparedInstaller& installer, HWND owner, ProgramStarter& starter) {
  if (!installer.held_) return false;
  if (installer.trust_.status != 0) {
    OfferErrorPage(installer.trust_, owner, starter);
    return false;
  }
  if (!installer.versionAcceptable_ || installer.signerRevoked_) return false;
  installer.started_ = installer.elevated_
                           ? starter.StartProgram(installer.path_, kInstallerArguments, installer.folder_)
                           : starter.StartElevated(installer.path_, kInstallerArguments);
  return installer.started_;
}

}  // namespace tarnwick
