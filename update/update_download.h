// Downloading, verifying and starting the installer of a newer release.
#pragma once

#include "platform/program_starter.h"
#include "platform/unique_handle.h"
#include "platform/url_fetcher.h"

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

inline constexpr std::wstring_view kSetupFileName = L"TarnwickSetup.exe";
// An installer is larger than this; anything as small is an error page or a
// truncated file.
inline constexpr size_t kInstallerMinBytes = 16384;
inline constexpr size_t kInstallerMaxBytes = 256u * 1024 * 1024;
// The installer runs silently; "/UPDATE" tells it that a user asked for this
// update, so that an install it cannot complete is shown, not only returned
// as its exit code (which nobody reads here).
inline constexpr const wchar_t* kInstallerArguments = L"/S /UPDATE";
// The longest an installer's signer is looked up in its CAs' revocation
// lists: a server that has not answered by then counts as unreachable.
inline constexpr DWORD kRevocationCheckMaxMs = 20'000;

// The installer's URL: the files directory, or its "beta/" subdirectory.
[[nodiscard]] std::wstring InstallerUrl(bool beta);
// The temporary directory followed by "ombrix"; empty when there is none.
// The download folder of a program that is not elevated.
[[nodiscard]] std::wstring DownloadFolder();
// A new name in the system's temporary folder ("C:\Windows\Temp\Tarnwick-"
// and 32 random hexadecimal digits), which ordinary users cannot rename or
// re-point; the download folder of an elevated program. Empty on failure.
[[nodiscard]] std::wstring NewProtectedDownloadFolder();
// Makes `folder` with an access list that lets only Administrators and
// SYSTEM change it, inheriting nothing. False when it already exists (made
// by someone else), cannot be made, or a reparse point (a junction, a
// symbolic link) is on its path.
[[nodiscard]] bool CreateProtectedFolder(const std::wstring& folder);
// Whether `path` or any folder that holds it is a reparse point, or cannot
// be read.
[[nodiscard]] bool PathHasReparsePoint(const std::wstring& path);

// Writes `bytes` into a new file at `path`, in place of any file of that
// name; a file that could not be written whole is removed. False when the
// file could not be made or written.
[[nodiscard]] bool WriteInstaller(const std::wstring& path, std::span<const std::byte> bytes);

// The whole content of the open file `file`, read from its start, or nullopt
// when it is larger than `maxBytes` or cannot be read; the file position is
// at the start again afterwards. Between writing the installer and opening it
// for the check, the file could have been replaced: what is checked and
// started is what this read.
[[nodiscard]] std::optional<std::vector<std::byte>> ReadOpenFile(HANDLE file, size_t maxBytes);

// What a chain built with revocation checked says: Revoked when a CA's list
// names one of its certificates; Unknown when a list could not be had (no
// network, no answer in time, none named), which is accepted, as most
// signature checks do; NotRevoked otherwise.
enum class RevocationStatus { NotRevoked, Unknown, Revoked };
[[nodiscard]] RevocationStatus RevocationOfChain(DWORD chainErrorStatus);

// An installer's signer certificate with the certificates its signature
// carries, copied so that they outlive the signature check: the revocation
// check asks the network, on a thread of its own.
class SignerCertificates {
 public:
  // Empty (Valid() false) when the copy could not be made.
  explicit SignerCertificates(PCCERT_CONTEXT signer);
  ~SignerCertificates();
  SignerCertificates(const SignerCertificates&) = delete;
  SignerCertificates& operator=(const SignerCertificates&) = delete;

  [[nodiscard]] bool Valid() const noexcept { return signer_ != nullptr; }
  [[nodiscard]] PCCERT_CONTEXT Signer() const noexcept { return signer_; }
  // The signer's chain, built by the local machine's engine for code
  // signing, with the revocation of every certificate but the root asked of
  // the CAs' servers, all within `timeoutMs`.
  [[nodiscard]] RevocationStatus CheckRevocation(DWORD timeoutMs) const;

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT signer_ = nullptr;
};

// Looks the signer up on a thread of its own and waits at most
// kRevocationCheckMaxMs: a server that keeps it waiting longer (Wine ignores
// the retrieval time-out) counts as unreachable, Unknown.
[[nodiscard]] RevocationStatus CheckRevocationWithinBound(const std::shared_ptr<const SignerCertificates>& signer);
using RevocationCheck = std::function<RevocationStatus(const std::shared_ptr<const SignerCertificates>&)>;

// A WinVerifyTrust status and the last-error value that came with it, and
// the signer of a signature that passed.
struct TrustResult {
  LONG status = 0;
  DWORD lastError = 0;
  std::shared_ptr<const SignerCertificates> signer;
};

// The reason for a signature check's status, as the user reads it.
[[nodiscard]] std::wstring TrustResultText(const TrustResult& result);
// The warning shown when the installer's signature is refused: the reason
// between the two paragraphs of the prompt.
[[nodiscard]] std::wstring SignatureWarningText(const TrustResult& result);

// Shown when the error page could not be opened: its address, for the user
// to open it themselves.
[[nodiscard]] std::wstring ErrorPageNotOpenedText(const std::wstring& url);

// The SHA-256 of a certificate's public key (its DER SubjectPublicKeyInfo) in
// lowercase hexadecimal; empty when it cannot be computed.
[[nodiscard]] std::string PublicKeyDigest(PCCERT_CONTEXT certificate);

// The moment a signer's certificate chain is judged at: the time its
// signature was time-stamped, when WinVerifyTrust verified a time stamp (a
// counter-signer without error) with it; otherwise none, for the current time.
[[nodiscard]] std::optional<FILETIME> TrustedSigningTime(const CRYPT_PROVIDER_SGNR& signer);
using SigningTimeReader = std::function<std::optional<FILETIME>(const CRYPT_PROVIDER_SGNR&)>;

// Checks the Authenticode signature of the open file `file` (at `path`).
// Status 0 only when the signature is valid, the signer's public key is one
// of `pinnedKeys`, its certificate is for code signing and chains, for code
// signing, to a root that the local machine trusts, as of the signing time
// that `signingTime` reads (so a time-stamped installer outlives its
// certificate, as Windows itself accepts it); any other signer gives
// TRUST_E_SUBJECT_NOT_TRUSTED.
[[nodiscard]] TrustResult VerifyInstallerSignature(HANDLE file, const std::wstring& path,
                                                   std::span<const std::string_view> pinnedKeys,
                                                   const SigningTimeReader& signingTime = TrustedSigningTime);

// Whether a verified installer whose version resource says `installerVersion`
// may be started for the update to `announcedVersion` (both packed): only
// that very version, and only when it is newer than the running program.
[[nodiscard]] bool InstallerVersionAcceptable(std::optional<uint32_t> installerVersion, uint32_t announcedVersion);

// A downloaded installer written into its folder and checked, held open
// without write or delete sharing so that what is started is what was
// checked. Made on the download's thread, started on the window's; one that
// is never started leaves no protected folder behind.
class PreparedInstaller {
 public:
  PreparedInstaller() = default;
  ~PreparedInstaller();
  PreparedInstaller(const PreparedInstaller&) = delete;
  PreparedInstaller& operator=(const PreparedInstaller&) = delete;

 private:
  friend std::unique_ptr<PreparedInstaller> PrepareInstaller(std::span<const std::byte>, uint32_t, bool,
                                                             const RevocationCheck&);
  friend bool StartPreparedInstaller(PreparedInstaller&, HWND, ProgramStarter&);
  bool elevated_ = false;
  bool started_ = false;
  std::wstring folder_;  // empty: no folder could be made
  std::wstring path_;
  unique_hfile held_;  // null: not written, or not what was downloaded
  TrustResult trust_;
  bool versionAcceptable_ = false;
  bool signerRevoked_ = false;
};

// The slow half, for the download's thread: writes `installerBytes` (more
// than the smallest size) into the download folder and checks its signature
// and its version (`announcedVersion`, packed, as the version file said).
// Elevated, the folder is a new protected one, from which the installer is
// started directly (it inherits the rights); otherwise the user's download
// folder, and the start goes through the consent prompt. Last, the signer of
// an installer that passed is looked up through `checkRevocation`.
[[nodiscard]] std::unique_ptr<PreparedInstaller> PrepareInstaller(
    std::span<const std::byte> installerBytes, uint32_t announcedVersion, bool elevated,
    const RevocationCheck& checkRevocation = CheckRevocationWithinBound);
// The window's half: starts an installer that passed every check (its signer
// not revoked) with `kInstallerArguments`.
// True when it was started. A refused signature shows a warning over `owner`
// that offers the error page (opened un-elevated, or its address shown when
// it cannot be); every other failure is silent (the callers report it).
bool StartPreparedInstaller(PreparedInstaller& installer, HWND owner, ProgramStarter& starter);

}  // namespace tarnwick
