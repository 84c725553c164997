// The update story against a real HTTPS server on localhost: the test build's
// update servers all point at it. Each test trusts the test CA in its own
// prefix (LocalMachine Root store), starts the server with the files it wants
// served, and drives the program as a user would: the balloon's click (Wine
// sends no balloon callbacks, so the test posts NIN_BALLOONUSERCLICK as the
// shell would), "Check for Update" and the message boxes that follow.
#include <windows.h>
#include <aclapi.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <initializer_list>
#include <thread>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/globals.h"
#include "platform/unique_handle.h"
#include "res/resource.h"
#include "tests/e2e/driver/tarnwick_driver.h"
#include "tests/e2e/driver/window_controls.h"
#include "ui/messages.h"
#include "update/update_download.h"

namespace tarnwick::e2e {
namespace {

using testing::Contains;
using testing::HasSubstr;
using testing::Not;

constexpr const wchar_t* kSettingsKey = L"Software\\Tarnwick";
constexpr const wchar_t* kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick";
constexpr const char* kVersionPath = "versioninfo/tarnwick/index";
constexpr const char* kInstallerPath = "files/TarnwickSetup.exe";
constexpr const char* kLaunchFailedText = "Error launching updater. Please download and run the installer again.";
// Longer than a download under Wine takes, far shorter than the receive limit.
constexpr Timeout kDownloadTimeout = 60s;

std::string VersionFile(const std::string& version) { return version + "\r\nombrix_updatevalidsig\r\n"; }

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Joined(const std::vector<std::wstring>& texts) {
  std::string joined;
  for (const std::wstring& text : texts) {
    for (const wchar_t c : text) joined += c < 0x80 ? static_cast<char>(c) : '?';
    joined += '|';
  }
  return joined;
}

// The tray window of one instance: an instance that another closes may
// still have its window for a moment.
HWND TrayWindowOf(DWORD processId) {
  for (HWND window = ::FindWindowExW(nullptr, nullptr, L"Tarnwick_TrayClass", nullptr); window != nullptr;
       window = ::FindWindowExW(nullptr, window, L"Tarnwick_TrayClass", nullptr)) {
    if (WindowProcessId(window) == processId) return window;
  }
  return nullptr;
}

std::wstring ProgramFilesFolder() {
  wchar_t folder[MAX_PATH] = {};
  ::ExpandEnvironmentStringsW(L"%ProgramW6432%\\Tarnwick", folder, MAX_PATH);
  return folder;
}

// The full image paths of the running processes named `name`.
std::vector<std::wstring> RunningImages(const wchar_t* name) {
  std::vector<std::wstring> images;
  const unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  if (!snapshot || !::Process32FirstW(snapshot.get(), &entry)) return images;
  do {
    if (_wcsicmp(entry.szExeFile, name) != 0) continue;
    const unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (process && ::QueryFullProcessImageNameW(process.get(), 0, image, &size)) images.emplace_back(image, size);
  } while (::Process32NextW(snapshot.get(), &entry));
  return images;
}

// Whether an installer started by the program still runs.
bool InstallerRuns() { return !RunningImages(L"TarnwickSetup.exe").empty(); }

// Whether the installed program runs: once the installer has ended, any
// program that it started is there.
bool InstalledProgramRuns() {
  wchar_t installed[MAX_PATH] = {};
  ::ExpandEnvironmentStringsW(L"%ProgramW6432%\\Tarnwick\\tarnwick.exe", installed, MAX_PATH);
  for (const std::wstring& image : RunningImages(L"tarnwick.exe")) {
    if (_wcsicmp(image.c_str(), installed) == 0) return true;
  }
  return false;
}

// The box of the installer (a process of its image name), or null.
HWND InstallerBox() {
  std::vector<DWORD> installers;
  const unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  if (!snapshot || !::Process32FirstW(snapshot.get(), &entry)) return nullptr;
  do {
    if (_wcsicmp(entry.szExeFile, L"TarnwickSetup.exe") == 0) installers.push_back(entry.th32ProcessID);
  } while (::Process32NextW(snapshot.get(), &entry));
  for (HWND window = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr); window != nullptr;
       window = ::FindWindowExW(nullptr, window, L"#32770", nullptr)) {
    if (::IsWindowVisible(window) &&
        std::find(installers.begin(), installers.end(), WindowProcessId(window)) != installers.end()) {
      return window;
    }
  }
  return nullptr;
}

// Where the installer puts the Start menu entry for all users.
std::wstring StartMenuEntry() {
  wchar_t entry[MAX_PATH] = {};
  ::ExpandEnvironmentStringsW(L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Tarnwick.lnk", entry,
                              MAX_PATH);
  return entry;
}

// The program and the arguments a shortcut starts, "program|arguments";
// empty when it cannot be read.
std::wstring ShortcutCommand(const std::wstring& shortcut) {
  const HRESULT initialized = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::wstring command;
  IShellLinkW* link = nullptr;
  if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      wchar_t target[MAX_PATH] = {};
      wchar_t arguments[MAX_PATH] = {};
      if (SUCCEEDED(file->Load(shortcut.c_str(), STGM_READ)) &&
          SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
          SUCCEEDED(link->GetArguments(arguments, MAX_PATH))) {
        command = std::wstring(target) + L"|" + arguments;
      }
      file->Release();
    }
    link->Release();
  }
  if (SUCCEEDED(initialized)) ::CoUninitialize();
  return command;
}

// Whether `path` is to be deleted at the next restart (MoveFileEx with
// MOVEFILE_DELAY_UNTIL_REBOOT: a "\??\" path followed by an empty target in
// PendingFileRenameOperations).
bool DeletedAtRestart(const std::wstring& path) {
  std::vector<wchar_t> pending(32768);
  DWORD size = static_cast<DWORD>(pending.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, pending.data(),
                     &size) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring wanted = L"\\??\\" + path;
  for (const wchar_t* entry = pending.data(); *entry != L'\0';) {
    std::wstring source(entry);
    const wchar_t* target = entry + source.size() + 1;
    // A folder may be named with a backslash at its end.
    if (source.size() > wanted.size() && source.back() == L'\\') source.pop_back();
    if (_wcsicmp(source.c_str(), wanted.c_str()) == 0 && *target == L'\0') return true;
    entry = target + std::wcslen(target) + 1;
  }
  return false;
}

// A value of the uninstall entry, as Apps & features reads it.
std::optional<std::wstring> UninstallEntryText(const wchar_t* name) {
  wchar_t text[1024] = {};
  DWORD size = sizeof(text);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, text,
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return text;
}
std::optional<DWORD> UninstallEntryNumber(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

// The folders that elevated downloads were made in: the program runs elevated
// under Wine, as it does from its logon task.
std::vector<std::wstring> ProtectedDownloadFolders() {
  wchar_t windows[MAX_PATH] = {};
  ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring temp = std::wstring(windows) + L"\\Temp\\";
  std::vector<std::wstring> folders;
  WIN32_FIND_DATAW found{};
  const unique_find search(::FindFirstFileW((temp + L"Tarnwick-*").c_str(), &found));
  if (!search) return folders;
  do {
    folders.push_back(temp + found.cFileName);
  } while (::FindNextFileW(search.get(), &found));
  return folders;
}

inline void CertCloseStoreAny(HCERTSTORE store) noexcept { ::CertCloseStore(store, 0); }
using unique_hcertstore = unique_any<HCERTSTORE, CertCloseStoreAny>;

inline void CertFreeCertificateContextAny(PCCERT_CONTEXT certificate) noexcept {
  ::CertFreeCertificateContext(certificate);
}
using unique_cert_context = unique_any<PCCERT_CONTEXT, CertFreeCertificateContextAny>;

// A test CA in one of this prefix's Root stores (LocalMachine or CurrentUser)
// while the object lives. The store keeps its changes in the registry, where
// other processes read them, only once it is closed (or committed).
class TrustedTestRoot {
 public:
  explicit TrustedTestRoot(const char* name = "ca.der", DWORD location = CERT_SYSTEM_STORE_LOCAL_MACHINE)
      : location_(location) {
    const auto der = ReadFileBytes(WindowsPathOf(std::string(TARNWICK_TEST_PKI_DIR "/") + name));
    EXPECT_TRUE(der.has_value()) << "no test CA " << name;
    if (!der) return;
    certificate_.reset(::CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der->data()),
                                                      static_cast<DWORD>(der->size())));
    const unique_hcertstore store = OpenRootStore(location_);
    EXPECT_TRUE(certificate_ && store);
    if (!certificate_ || !store) return;
    EXPECT_TRUE(
        ::CertAddCertificateContextToStore(store.get(), certificate_.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        << "error " << ::GetLastError();
  }
  ~TrustedTestRoot() {
    const unique_hcertstore store = OpenRootStore(location_);
    if (!certificate_ || !store) return;
    // Deleting frees the found context.
    if (PCCERT_CONTEXT found = ::CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                            certificate_.get(), nullptr)) {
      ::CertDeleteCertificateFromStore(found);
    }
  }
  TrustedTestRoot(const TrustedTestRoot&) = delete;
  TrustedTestRoot& operator=(const TrustedTestRoot&) = delete;

 private:
  static unique_hcertstore OpenRootStore(DWORD location) {
    return unique_hcertstore(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location, L"Root"));
  }
  DWORD location_;
  unique_cert_context certificate_;
};

// tests/e2e/update_server.py on the test build's update port, serving a
// folder of its own below the build folder.
class UpdateServer {
 public:
  UpdateServer()
      : unixRoot_(std::string(TARNWICK_UPDATE_SERVER_ROOTS) + "/" + std::to_string(::GetCurrentProcessId())),
        root_(WindowsPathOf(unixRoot_)) {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    const std::wstring python = WindowsPathOf(TARNWICK_PYTHON3);
    const std::string pki = TARNWICK_TEST_PKI_DIR;
    // Wine hands a Unix program its arguments as they are: Unix paths.
    std::wstring commandLine = L"\"" + python + L"\" " + Wide(TARNWICK_UPDATE_SERVER_SCRIPT) + L" --port " +
                               std::to_wstring(TARNWICK_UPDATE_TEST_PORT) + L" --cert " + Wide(pki + "/server.pem") +
                               L" --key " + Wide(pki + "/server-key.pem") + L" --root " + Wide(unixRoot_);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    EXPECT_TRUE(::CreateProcessW(python.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &started))
        << "cannot start the update server, error " << ::GetLastError();
    unique_handle process(started.hProcess);
    unique_handle thread(started.hThread);
    EXPECT_TRUE(WaitUntil([this] { return FileExists(Path("ready")); }))
        << "the update server did not start (port " << TARNWICK_UPDATE_TEST_PORT << " taken?)";
  }
  ~UpdateServer() {
    WriteFileBytes(Path("release"), "");
    WriteFileBytes(Path("stop"), "");
    EXPECT_TRUE(WaitUntil([this] { return !FileExists(Path("ready")); })) << "the update server did not stop";
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  UpdateServer(const UpdateServer&) = delete;
  UpdateServer& operator=(const UpdateServer&) = delete;

  // Serves `bytes` at `path` (relative to the server's root, '/' separated).
  void Put(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(Path(path)).parent_path());
    WriteFileBytes(Path(path), bytes);
  }
  void PutFixture(const std::string& path, const std::string& fixture) {
    const auto bytes = ReadFileBytes(WindowsPathOf(TARNWICK_UPDATE_FIXTURES_DIR "/" + fixture + ".exe"));
    ASSERT_TRUE(bytes.has_value()) << fixture;
    Put(path, *bytes);
  }
  // Answers `path` with an error status and `page` instead.
  void PutStatus(const std::string& path, int status, const std::string& page) {
    Remove(path);
    Put(path + ".status", std::to_string(status) + "\n" + page);
  }
  // Answers `path` with a few bytes and then holds the connection.
  void PutStall(const std::string& path) { Put(path + ".stall", ""); }
  // Answers `path` with a byte every half second, for ever.
  void PutTrickle(const std::string& path) {
    Remove(path);
    Put(path + ".trickle", "");
  }
  // Answers `path` with `body` and closes the connection before the length it declared.
  void PutCutShort(const std::string& path, const std::string& body) {
    Remove(path);
    Put(path + ".short", body);
  }
  void Remove(const std::string& path) {
    for (const char* variant : {"", ".status", ".stall", ".short", ".trickle"})
      ::DeleteFileW(Path(path + variant).c_str());
  }

  // The request paths so far, with their queries.
  [[nodiscard]] std::vector<std::string> Requests() const { return Lines("requests.log"); }
  // The revocation lists asked for (over plain HTTP).
  [[nodiscard]] std::vector<std::string> CrlRequests() const { return Lines("crl-requests.log"); }
  // Publishes the test CA's revocation list, which names the "revoked" signer.
  void PutRevocationList() {
    const auto list = ReadFileBytes(WindowsPathOf(TARNWICK_TEST_PKI_DIR "/ca.crl"));
    ASSERT_TRUE(list.has_value()) << "no test CRL";
    Put(TARNWICK_TEST_CRL_PATH, *list);
  }
  bool WaitForRequests(size_t count, Timeout timeout = kDefaultTimeout) const {
    return WaitUntil([&] { return Requests().size() >= count; }, timeout);
  }

 private:
  [[nodiscard]] std::vector<std::string> Lines(const std::string& relative) const {
    std::vector<std::string> lines;
    std::istringstream log(ReadFileBytes(Path(relative)).value_or(""));
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
  }
  [[nodiscard]] std::wstring Path(const std::string& relative) const {
    std::wstring path = root_ + L"\\" + Wide(relative);
    for (wchar_t& c : path) {
      if (c == L'/') c = L'\\';
    }
    return path;
  }

  std::string unixRoot_;
  std::wstring root_;
};

// Wine's browser launcher runs tests/e2e/record-opened-url.sh instead of a
// browser while the object lives, through /bin/sh and with a file of this
// test process's own: neither the script's mode bits, nor a blank in the
// checkout's path, nor another test run in the same build folder can keep a
// URL from being recorded or add one.
class BrowserStandIn {
 public:
  BrowserStandIn() : unixFile_(TARNWICK_OPENED_URLS_PREFIX + std::to_string(::GetCurrentProcessId()) + ".log") {
    ::DeleteFileW(File().c_str());
    const std::wstring command = L"/bin/sh \"" + Wide(TARNWICK_RECORD_URL_SCRIPT) + L"\" \"" + Wide(unixFile_) + L"\"";
    // winebrowser uses at most 254 characters of the value; a longer one is
    // ignored for the system's own browsers.
    EXPECT_LE(command.size(), 254u) << "a checkout path too long for Wine's browser launcher";
    EXPECT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kBrowserKey, L"Browsers", REG_SZ, command.c_str(),
                                static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  ~BrowserStandIn() {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kBrowserKey, L"Browsers");
    ::DeleteFileW(File().c_str());
  }
  BrowserStandIn(const BrowserStandIn&) = delete;
  BrowserStandIn& operator=(const BrowserStandIn&) = delete;

  // The URLs that the browser was asked to open.
  [[nodiscard]] std::vector<std::string> OpenedUrls() const {
    std::vector<std::string> lines;
    std::istringstream log(ReadFileBytes(File()).value_or(""));
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
  }

 private:
  [[nodiscard]] std::wstring File() const { return WindowsPathOf(unixFile_); }
  static constexpr const wchar_t* kBrowserKey = L"Software\\Wine\\WineBrowser";
  std::string unixFile_;
};

class UpdateTest : public TarnwickTest {
 protected:
  void SetUp() override {
    // This process links the program's globals, and with them a handle of the
    // named close event: it would keep a set event alive, so that "--close"
    // waits in vain for it to go and the program the installer starts again
    // finds it set and ends at once.
    CloseRequestEvent.reset();
    ForgetUserState();
    root_ = std::make_unique<TrustedTestRoot>();
    // Signers the updater must refuse chain to these: a second root the
    // machine trusts, and one that only the user's own store trusts.
    secondRoot_ = std::make_unique<TrustedTestRoot>("ca2.der");
    userRoot_ = std::make_unique<TrustedTestRoot>("user-ca.der", CERT_SYSTEM_STORE_CURRENT_USER);
    server_ = std::make_unique<UpdateServer>();
  }
  void TearDown() override {
    // An instance that the installer started again is closed the way a user would.
    for (int attempt = 0; attempt < 3 && FindTrayWindow() != nullptr; ++attempt) Run({L"--close"});
    EXPECT_EQ(FindTrayWindow(), nullptr) << "an instance outlives the test";
    TarnwickTest::TearDown();
    server_.reset();
    userRoot_.reset();
    secondRoot_.reset();
    root_.reset();
    ForgetUserState();
  }

  static void ForgetUserState() {
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kSettingsKey);
    ::DeleteFileW(InstallerDownloadPath().c_str());
    ::RemoveDirectoryW(DownloadFolder().c_str());
    for (const std::wstring& folder : ProtectedDownloadFolders()) {
      ::DeleteFileW((folder + L"\\TarnwickSetup.exe").c_str());
      ::RemoveDirectoryW(folder.c_str());
    }
    const std::wstring installed = ProgramFilesFolder();
    ::DeleteFileW((installed + L"\\tarnwick.exe").c_str());
    ::DeleteFileW((installed + L"\\uninstall.exe").c_str());
    ::RemoveDirectoryW(installed.c_str());
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, 0);
    ::DeleteFileW(StartMenuEntry().c_str());
    ::DeleteFileW(TaskFile(L"Tarnwick").c_str());
    ::DeleteFileW(TaskFile(L"Tarn Wick").c_str());
  }

  // The installer that the updater started (silently) says that the install
  // could not be completed: under Wine "--install" refuses every program.
  void ExpectTheInstallersBoxSaysTheProgramWillNotStartAtLogon() {
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = InstallerBox()) != nullptr; }, kDownloadTimeout))
        << "the user who asked for the update is not told that it failed";
    const std::string text = Joined(StaticTextsOf(box));
    EXPECT_THAT(text, HasSubstr("its logon task could not be registered"));
    EXPECT_THAT(text, HasSubstr("Tarnwick will not start at logon; start it from the Start menu."));
    ClickButton(box, IDOK);
  }

  // The uninstall as Apps & features runs it: the registered command, as it is.
  std::optional<DWORD> RunRegisteredUninstall(const wchar_t* value, const std::wstring& workingFolder = {}) {
    const std::optional<std::wstring> command = UninstallEntryText(value);
    EXPECT_TRUE(command.has_value()) << "no " << Joined({value});
    if (!command) return std::nullopt;
    return RunCommandLine(*command, kDownloadTimeout, workingFolder);
  }

  static std::wstring InstallerDownloadPath() { return DownloadFolder() + L"\\TarnwickSetup.exe"; }

  // The click counts once the checker's balloon is up; the shell reports it
  // (Wine sends no balloon callbacks). True once the installer was asked for.
  bool ClickBalloonUntilTheInstallerIsAsked(HWND tray) {
    return WaitUntil([&] {
      if (server_->Requests().size() < 2) PostTrayCallback(tray, NIN_BALLOONUSERCLICK);
      return server_->Requests().size() >= 2;
    });
  }

  // The running program's main window, opened as the tray icon's click does.
  HWND StartAndOpenMainWindow() {
    instance_ = &StartInstance();
    PostTrayCallback(TrayWindowOf(instance_->Id()), WM_LBUTTONUP);
    main_ = WaitForDialog(instance_->Id(), L"Tarnwick");
    EXPECT_NE(main_, nullptr) << "no main window";
    return main_;
  }

  // "Check for Update", and the message box it shows, or null when the check
  // ended without one. Once the server has the request and the window
  // answers, the download's dialog is up (or the download is over); once
  // that dialog is gone and the window answers again, the check is over or
  // its box is up.
  HWND CheckForUpdate() {
    const size_t before = server_->Requests().size();
    ::PostMessageW(main_, WM_COMMAND, MAKEWPARAM(IDM_CHECK_FOR_UPDATE, 0), 0);
    EXPECT_TRUE(server_->WaitForRequests(before + 1)) << "no version request";
    WaitForWindowIdle(main_);
    EXPECT_TRUE(WaitUntil([this] { return DownloadDialog() == nullptr; }, kDownloadTimeout));
    WaitForWindowIdle(main_);
    return OpenMessageBox();
  }

  // A dialog of the program other than the main window: the download's
  // (with its progress bar), or any other, such as a message box.
  [[nodiscard]] HWND FindProgramDialog(bool download) const {
    struct Search {
      DWORD processId;
      HWND main;
      bool download;
      HWND found;
    } search{instance_->Id(), main_, download, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
          auto& s = *reinterpret_cast<Search*>(context);
          wchar_t className[16] = {};
          ::GetClassNameW(window, className, 16);
          if (window == s.main || WindowProcessId(window) != s.processId || std::wstring(className) != L"#32770" ||
              (::GetDlgItem(window, IDC_DOWNLOAD_PROGRESS) != nullptr) != s.download) {
            return TRUE;
          }
          s.found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  [[nodiscard]] HWND DownloadDialog() const { return FindProgramDialog(true); }

  // A message box of the program, shown or about to be.
  [[nodiscard]] HWND OpenMessageBox() const {
    const HWND box = FindProgramDialog(false);
    // Once there, it is read only when it shows.
    return box != nullptr && WaitUntil([box] { return ::IsWindowVisible(box) != FALSE; }) ? box : nullptr;
  }
  // The next message box of the program, waited for.
  [[nodiscard]] HWND WaitForMessageBox(Timeout timeout = kDefaultTimeout) const {
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindProgramDialog(false)) != nullptr && ::IsWindowVisible(box); }, timeout);
    return box;
  }

  // The message of the box; the box is closed with `button`.
  std::string AnswerBox(HWND box, int button) {
    EXPECT_NE(box, nullptr) << "no message box";
    if (box == nullptr) return {};
    std::string text = Joined(StaticTextsOf(box));
    ClickButton(box, button);
    EXPECT_TRUE(WaitForWindowGone(box));
    return text;
  }

  std::unique_ptr<TrustedTestRoot> root_;
  std::unique_ptr<TrustedTestRoot> secondRoot_;
  std::unique_ptr<TrustedTestRoot> userRoot_;
  std::unique_ptr<UpdateServer> server_;
  TarnwickProcess* instance_ = nullptr;
  HWND main_ = nullptr;
};

// --- The checker thread and the balloon ----------------------------------------

using UpdateCheck = UpdateTest;

// Whether each window answers a message within 1 s, asked every 100 ms for
// `period`; the windows of a download that held the thread would not.
void ExpectAnswersWithinASecond(std::initializer_list<HWND> windows, std::chrono::milliseconds period) {
  const auto end = std::chrono::steady_clock::now() + period;
  int asked = 0;
  do {
    for (const HWND window : windows) {
      DWORD_PTR ignored = 0;
      ASSERT_NE(::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored), 0)
          << "a window held for a second, after " << asked << " answers";
      ++asked;
    }
    std::this_thread::sleep_for(100ms);
  } while (std::chrono::steady_clock::now() < end);
}

TEST_F(UpdateCheck, ANewerVersionFoundAtStartIsInstalledByTheBalloonsClick) {
  server_->Put(kVersionPath, VersionFile("1.2.2.5"));
  server_->PutFixture(kInstallerPath, "signed");
  // The CA's revocation list is asked for and never comes: as when the
  // machine is offline, the genuine update still installs, and the check
  // holds nothing for longer than its bound.
  server_->PutStall(TARNWICK_TEST_CRL_PATH);
  instance_ = &StartInstance();
  const HWND tray = TrayWindowOf(instance_->Id());
  ASSERT_TRUE(server_->WaitForRequests(1));
  EXPECT_EQ(server_->Requests()[0], "/versioninfo/tarnwick/");

  ASSERT_TRUE(ClickBalloonUntilTheInstallerIsAsked(tray)) << "the balloon's click downloads no installer";
  EXPECT_EQ(server_->Requests()[1], "/files/TarnwickSetup.exe");
  // While the CA's server keeps the program waiting, its windows answer.
  HWND check = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        check = DownloadDialog();
        return check != nullptr && ::IsWindowVisible(check) &&
               Joined(StaticTextsOf(check)).find("Verifying...") != std::string::npos;
      },
      kDownloadTimeout))
      << "no sign that the signer's revocation is being looked up";
  ExpectAnswersWithinASecond({tray, check}, 2s);

  // The installer closes the running program, installs silently and starts
  // the installed program.
  const std::wstring installed = ProgramFilesFolder() + L"\\tarnwick.exe";
  EXPECT_TRUE(instance_->WaitForExit(kDownloadTimeout)) << "the installer did not close the running program";
  EXPECT_TRUE(WaitUntil([&] { return FileExists(installed) && FileExists(ProgramFilesFolder() + L"\\uninstall.exe"); },
                        kDownloadTimeout))
      << "nothing installed under Program Files";
  EXPECT_EQ(ReadFileBytes(installed), ReadFileBytes(TarnwickExePath()));
  EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
  EXPECT_THAT(server_->CrlRequests(), Contains("/" TARNWICK_TEST_CRL_PATH)) << "the signer's CA was not asked";
  // The installer starts the program again through its logon task only:
  // never itself, as its own (perhaps another administrator's) account. Wine
  // registers no logon task, so the installer ends having said so.
  ExpectTheInstallersBoxSaysTheProgramWillNotStartAtLogon();
  EXPECT_TRUE(WaitUntil([] { return !InstallerRuns(); }, kDownloadTimeout)) << "the installer does not end";
  EXPECT_FALSE(InstalledProgramRuns()) << "the installer started the program itself";
  // Elevated, the installer was downloaded into a folder of its own that only
  // administrators can change, and stays there; the user's folder is unused.
  const std::vector<std::wstring> downloads = ProtectedDownloadFolders();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_TRUE(FileExists(downloads[0] + L"\\TarnwickSetup.exe")) << "the installer stays where it was downloaded";
  EXPECT_FALSE(FileExists(DownloadFolder()));

  // The way back after Exit: the Start menu entry for all users.
  EXPECT_TRUE(FileExists(StartMenuEntry()));

  // The uninstaller, as Apps & features starts it, closes the program (the
  // user started it again from the Start menu) and removes what the
  // installer made.
  TarnwickProcess startedAgain({L"--show"}, installed);
  ASSERT_TRUE(WaitUntil([] { return FindTrayWindow() != nullptr; })) << "the installed program does not start";
  EXPECT_EQ(RunRegisteredUninstall(L"QuietUninstallString"), std::optional<DWORD>(0));
  EXPECT_TRUE(startedAgain.WaitForExit()) << "the uninstaller did not close the program";
  EXPECT_EQ(FindTrayWindow(), nullptr);
  EXPECT_FALSE(FileExists(installed)) << "the uninstaller left the program behind";
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
  EXPECT_FALSE(FileExists(StartMenuEntry()));
}

TEST_F(UpdateCheck, CheckForUpdateAnswersNewerAndNotNewerAndNothingForARefusedAnswer) {
  server_->Put(kVersionPath, VersionFile("1.2.2.4"));
  StartAndOpenMainWindow();
  ASSERT_NE(main_, nullptr);
  ASSERT_TRUE(server_->WaitForRequests(1)) << "the checker thread asks at start";

  EXPECT_THAT(AnswerBox(CheckForUpdate(), IDOK), HasSubstr("No update available."));

  // An error page, a proxy's 502, a body cut short and a body over 64 KiB
  // are no answer, even when they read like a version file.
  server_->PutStatus(kVersionPath, 404, VersionFile("1.2.2.5"));
  EXPECT_EQ(CheckForUpdate(), nullptr) << "a 404 page counts as an answer";
  server_->PutStatus(kVersionPath, 502, VersionFile("1.2.2.5"));
  EXPECT_EQ(CheckForUpdate(), nullptr) << "a 502 counts as an answer";
  server_->PutCutShort(kVersionPath, VersionFile("1.2.2.5"));
  EXPECT_EQ(CheckForUpdate(), nullptr) << "a body cut short counts as an answer";
  std::string largest = VersionFile("1.2.2.5");
  largest.resize(64 * 1024, ' ');
  server_->Remove(kVersionPath);
  server_->Put(kVersionPath, largest + " ");
  EXPECT_EQ(CheckForUpdate(), nullptr) << "a body over 64 KiB counts as an answer";

  server_->Put(kVersionPath, largest);
  EXPECT_THAT(AnswerBox(CheckForUpdate(), IDNO), HasSubstr("A newer version is available. Update now?"));
  WaitForWindowIdle(main_);
  EXPECT_EQ(OpenMessageBox(), nullptr) << "No ends the flow";
  EXPECT_THAT(server_->Requests(), Not(Contains("/files/TarnwickSetup.exe")));

  // The beta channel asks its own directory.
  WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"BetaUpdates", 1);
  server_->Put("versioninfo/tarnwick/beta/index", VersionFile("1.2.2.4"));
  EXPECT_THAT(AnswerBox(CheckForUpdate(), IDOK), HasSubstr("No update available."));
  EXPECT_EQ(server_->Requests().back(), "/versioninfo/tarnwick/beta/");
}

TEST_F(UpdateCheck, AClosedProgramEndsWhileTheCheckerWaitsForTheServer) {
  server_->PutStall(kVersionPath);
  TarnwickProcess& instance = StartInstance();
  ASSERT_TRUE(server_->WaitForRequests(1)) << "no version request";

  const RunResult close = Run({L"--close"});
  EXPECT_TRUE(close.exited);
  // The download would wait up to 30 s for the rest of the body.
  EXPECT_TRUE(instance.WaitForExit(10s)) << "the program waits for the checker's download";
  EXPECT_EQ(instance.ExitCode(), std::optional<DWORD>(0));
}

// --- A server that trickles ----------------------------------------------------

using UpdateNetwork = UpdateTest;

TEST_F(UpdateNetwork, ATricklingServerHoldsNoWindowAndItsDownloadCanBeCancelledOrEndsByItself) {
  server_->PutTrickle(kVersionPath);
  StartAndOpenMainWindow();
  ASSERT_NE(main_, nullptr);
  const HWND tray = TrayWindowOf(instance_->Id());
  ASSERT_TRUE(server_->WaitForRequests(1)) << "the checker thread asks at start";

  ::PostMessageW(main_, WM_COMMAND, MAKEWPARAM(IDM_CHECK_FOR_UPDATE, 0), 0);
  ASSERT_TRUE(server_->WaitForRequests(2));
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (dialog = DownloadDialog()) != nullptr && ::IsWindowVisible(dialog); }))
      << "no sign that a download is under way";
  EXPECT_THAT(Joined(StaticTextsOf(dialog)), HasSubstr("Asking the update server for the latest version"));
  TakeScreenshot("update_download_dialog");
  ExpectAnswersWithinASecond({main_, tray, dialog}, 3s);

  // Cancel: the dialog goes, nothing is shown, the windows are the user's again.
  ClickButton(dialog, IDCANCEL);
  EXPECT_TRUE(WaitForWindowGone(dialog));
  WaitForWindowIdle(main_);
  EXPECT_EQ(OpenMessageBox(), nullptr);
  EXPECT_TRUE(::IsWindowEnabled(main_));

  // Left alone, a download far below the minimum pace is given up by itself
  // (after its first 10 s window), again without a word.
  ::PostMessageW(main_, WM_COMMAND, MAKEWPARAM(IDM_CHECK_FOR_UPDATE, 0), 0);
  ASSERT_TRUE(server_->WaitForRequests(3));
  ASSERT_TRUE(WaitUntil([&] { return (dialog = DownloadDialog()) != nullptr; }));
  EXPECT_TRUE(WaitForWindowGone(dialog, 40s)) << "a trickling download is never given up";
  WaitForWindowIdle(main_);
  EXPECT_EQ(OpenMessageBox(), nullptr);
}

TEST_F(UpdateNetwork, TheBalloonsClicksStartOneDownloadAndACloseRequestEndsTheProgramDuringIt) {
  server_->Put(kVersionPath, VersionFile("1.2.2.5"));
  server_->PutTrickle(kInstallerPath);
  instance_ = &StartInstance();
  const HWND tray = TrayWindowOf(instance_->Id());
  ASSERT_TRUE(server_->WaitForRequests(1));
  ASSERT_TRUE(ClickBalloonUntilTheInstallerIsAsked(tray)) << "the balloon's click downloads no installer";
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (dialog = DownloadDialog()) != nullptr && ::IsWindowVisible(dialog); }));
  EXPECT_THAT(Joined(StaticTextsOf(dialog)), HasSubstr("Downloading the update"));

  // The shell may report many clicks; the balloon was answered by the first.
  for (int click = 0; click < 30; ++click) PostTrayCallback(tray, NIN_BALLOONUSERCLICK);
  WaitForWindowIdle(tray);
  ExpectAnswersWithinASecond({tray, dialog}, 2s);
  const std::vector<std::string> requests = server_->Requests();
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "/files/TarnwickSetup.exe"), 1)
      << testing::PrintToString(requests);

  const RunResult close = Run({L"--close"});
  EXPECT_TRUE(close.exited);
  EXPECT_EQ(close.exitCode, 0u);
  EXPECT_TRUE(instance_->WaitForExit()) << "the download holds the program";
  EXPECT_EQ(instance_->ExitCode(), std::optional<DWORD>(0));
  EXPECT_FALSE(FileExists(ProgramFilesFolder() + L"\\tarnwick.exe"));
}

// --- Installers that must not run ------------------------------------------------

using UpdateInstallers = UpdateTest;

TEST_F(UpdateInstallers, EveryRefusedInstallerIsReportedAndNothingRuns) {
  server_->Put(kVersionPath, VersionFile("1.2.2.5"));
  server_->PutRevocationList();
  const BrowserStandIn browser;
  StartAndOpenMainWindow();
  ASSERT_NE(main_, nullptr);
  ASSERT_TRUE(server_->WaitForRequests(1));

  struct Case {
    const char* fixture;  // null: the server answers 404
    const char* reason;   // null: no signature warning, the download itself fails
    int answer = IDNO;    // to the warning's offer of the web page
  };
  constexpr const char* kNotTrusted = "The file is signed, but not trusted.";
  const Case cases[] = {
      {nullptr, nullptr},
      {"small", nullptr},
      {"unsigned", "The file is not signed."},
      {"tampered", "An error occurred verifying the file signature: ", IDYES},
      {"other", kNotTrusted},
      {"self-signed", kNotTrusted},
      // The pinned name with a second key, from the same CA and from another
      // root the machine trusts; the pinned key under a root only the user
      // trusts, or certified for server authentication only.
      {"same-name", kNotTrusted},
      {"other-root", kNotTrusted},
      {"user-root", kNotTrusted},
      {"server-only", kNotTrusted},
      // Genuine, but of an older release than the one announced: refused
      // without a signature warning.
      {"older", nullptr},
      // The pinned key and name, but the CA has revoked the certificate (its
      // key was stolen): refused without a warning about the file.
      {"revoked", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture != nullptr ? c.fixture : "404");
    ::DeleteFileW(InstallerDownloadPath().c_str());
    if (c.fixture != nullptr) {
      server_->Remove(kInstallerPath);
      server_->PutFixture(kInstallerPath, c.fixture);
    } else {
      // The page is the good installer: only the status refuses it.
      const auto page = ReadFileBytes(WindowsPathOf(TARNWICK_UPDATE_FIXTURES_DIR "/signed.exe"));
      server_->PutStatus(kInstallerPath, 404, page.value_or(""));
    }
    ASSERT_THAT(AnswerBox(CheckForUpdate(), IDYES), HasSubstr("A newer version is available."));
    HWND box = WaitForMessageBox(kDownloadTimeout);
    std::string text = Joined(StaticTextsOf(box));
    if (c.reason != nullptr) {
      EXPECT_EQ(::GetWindow(box, GW_OWNER), main_) << "the window whose command led to it owns the warning";
      EXPECT_THAT(text, HasSubstr("There was an error validating the digital signature of the update package."));
      EXPECT_THAT(text, HasSubstr(c.reason));
      EXPECT_THAT(text, HasSubstr("Would you like to visit Ombrix to manually download the installer?"));
      AnswerBox(box, c.answer);
      box = WaitForMessageBox();
      text = Joined(StaticTextsOf(box));
    }
    EXPECT_THAT(text, HasSubstr(kLaunchFailedText));
    AnswerBox(box, IDOK);
    EXPECT_THAT(ProtectedDownloadFolders(), testing::IsEmpty()) << "a refused download is not kept";
    EXPECT_FALSE(FileExists(InstallerDownloadPath()));
  }
  EXPECT_FALSE(FileExists(ProgramFilesFolder() + L"\\tarnwick.exe")) << "a refused installer ran";
  EXPECT_TRUE(instance_->IsRunning());
  EXPECT_THAT(server_->CrlRequests(), Contains("/" TARNWICK_TEST_CRL_PATH)) << "the signer's CA was not asked";
  // "Yes" opened the error page once, in the browser.
  EXPECT_TRUE(WaitUntil([&] { return browser.OpenedUrls().size() == 1; }));
  EXPECT_THAT(browser.OpenedUrls(),
              testing::ElementsAre("https://localhost:" + std::to_string(TARNWICK_UPDATE_TEST_PORT) +
                                   "/tarnwick/?prod=rie&update_error_sig"));
}

// --- What the user's ordinary programs could do meanwhile ------------------------------

// tests/e2e/temp_watcher.py: plants a DLL into every new folder of the user's
// temporary folder and, when asked, re-points the user's download folder.
class TempWatcher {
 public:
  // `swapDownloadFolder`: re-point the user's download folder;
  // `replaceCopies`: put the substitute program in place of whatever is
  // copied into a new folder of the temporary folder.
  explicit TempWatcher(bool swapDownloadFolder, bool replaceCopies = false)
      : control_(WindowsPathOf(std::string(TARNWICK_UPDATE_SERVER_ROOTS) + "/watcher-" +
                               std::to_string(::GetCurrentProcessId()))) {
    std::filesystem::remove_all(control_);
    std::filesystem::create_directories(control_ + L"\\first");
    std::filesystem::create_directories(control_ + L"\\substitute");
    EXPECT_TRUE(::CopyFileW(WindowsPathOf(TARNWICK_SUBSTITUTE_PROGRAM).c_str(),
                            (control_ + L"\\substitute\\TarnwickSetup.exe").c_str(), FALSE));
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring tempFolder(temp);
    if (tempFolder.back() == L'\\') tempFolder.pop_back();
    const std::wstring python = WindowsPathOf(TARNWICK_PYTHON3);
    std::wstring commandLine = L"\"" + python + L"\" " + Wide(TARNWICK_TEMP_WATCHER_SCRIPT) + L" --control " +
                               UnixPathOf(control_) + L" --watch " + UnixPathOf(tempFolder) + L" --plant " +
                               Wide(TARNWICK_PLANTED_DLL) + L" pdh.dll";
    if (replaceCopies) commandLine += L" --replace " + Wide(TARNWICK_SUBSTITUTE_PROGRAM);
    if (swapDownloadFolder) {
      ::RemoveDirectoryW(DownloadFolder().c_str());
      commandLine += L" --swap " + UnixPathOf(tempFolder) + L"/ombrix --first " + UnixPathOf(control_ + L"\\first") +
                     L" --substitute " + UnixPathOf(control_ + L"\\substitute");
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    EXPECT_TRUE(::CreateProcessW(python.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &started));
    unique_handle process(started.hProcess);
    unique_handle thread(started.hThread);
    EXPECT_TRUE(WaitUntil([this] { return FileExists(control_ + L"\\ready"); })) << "the watcher did not start";
  }
  ~TempWatcher() {
    WriteFileBytes(control_ + L"\\stop", "");
    EXPECT_TRUE(WaitUntil([this] { return !FileExists(control_ + L"\\ready"); })) << "the watcher did not stop";
    ::RemoveDirectoryW(DownloadFolder().c_str());  // the link, not what it points to
    std::error_code ignored;
    std::filesystem::remove_all(control_, ignored);
  }
  TempWatcher(const TempWatcher&) = delete;
  TempWatcher& operator=(const TempWatcher&) = delete;

  [[nodiscard]] std::string Actions() const { return ReadFileBytes(control_ + L"\\actions.log").value_or(""); }

 private:
  std::wstring control_;
};

// Wine's loader prefers a pdh.dll found beside a program, as Windows does for
// a DLL that is not a KnownDLL; every process started from here records it
// when the planted copy (or the substitute installer) runs.
class UpdateTrust : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    record_ = WindowsPathOf(std::string(TARNWICK_UPDATE_SERVER_ROOTS) + "/planted-" +
                            std::to_string(::GetCurrentProcessId()) + ".log");
    ::DeleteFileW(record_.c_str());
    ::SetEnvironmentVariableW(L"TARNWICK_PLANTED_RECORD", record_.c_str());
    wchar_t overrides[512] = {};
    ::GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 512);
    overrides_ = overrides;
    const std::wstring planted = overrides_.empty() ? L"pdh=n,b" : overrides_ + L";pdh=n,b";
    ::SetEnvironmentVariableW(L"WINEDLLOVERRIDES", planted.c_str());
  }
  void TearDown() override {
    ::SetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides_.empty() ? nullptr : overrides_.c_str());
    ::SetEnvironmentVariableW(L"TARNWICK_PLANTED_RECORD", nullptr);
    ::DeleteFileW(record_.c_str());
    UpdateTest::TearDown();
  }
  [[nodiscard]] std::string Recorded() const { return ReadFileBytes(record_).value_or(""); }

  std::wstring record_;
  std::wstring overrides_;
};

TEST_F(UpdateTrust, ASilentInstallRunsAndLoadsNothingFromTheTemporaryFolder) {
  const TempWatcher watcher(/*swapDownloadFolder=*/false);
  // The watcher's DLL is loaded by a program started from a folder it planted in.
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring probeFolder = std::wstring(temp) + L"planted-probe";
  ASSERT_TRUE(::CreateDirectoryW(probeFolder.c_str(), nullptr));
  ASSERT_TRUE(WaitUntil([&] { return FileExists(probeFolder + L"\\pdh.dll"); })) << watcher.Actions();
  ASSERT_TRUE(::CopyFileW(TarnwickExePath().c_str(), (probeFolder + L"\\tarnwick.exe").c_str(), FALSE));
  {
    TarnwickProcess probe({L"--close"}, probeFolder + L"\\tarnwick.exe");
    EXPECT_TRUE(probe.WaitForExit());
  }
  EXPECT_THAT(Recorded(), HasSubstr("planted-probe")) << "the planted DLL is not loaded: the test shows nothing";
  ::DeleteFileW(record_.c_str());
  std::filesystem::remove_all(probeFolder);

  // A running program, closed by the installer, and the logon tasks of an
  // earlier release (both names) that start the program it replaces.
  const std::wstring installed = ProgramFilesFolder() + L"\\tarnwick.exe";
  ASSERT_TRUE(CreateLogonTaskWithSchtasks(L"Tarnwick", installed));
  ASSERT_TRUE(CreateLogonTaskWithSchtasks(L"Tarn Wick", installed));
  instance_ = &StartInstance();
  // A fleet's silent install: whatever happens, nothing is shown (a box
  // would hold the installer until it is answered).
  TarnwickProcess installer({L"/S"}, WindowsPathOf(TARNWICK_UPDATE_FIXTURES_DIR "/signed.exe"));
  ASSERT_TRUE(installer.WaitForExit(kDownloadTimeout)) << "the silent installer waits for something";
  EXPECT_TRUE(ReadFileBytes(installed) == ReadFileBytes(TarnwickExePath())) << "not the program that was built";
  EXPECT_EQ(Recorded(), "") << "watcher: " << watcher.Actions();
  // Under Wine the program's folder belongs to the user, so "--install"
  // refuses it: the installer says the install failed, and starts nothing
  // (the logon task, which would, is missing). The earlier tasks would go on
  // starting the refused program with the highest rights: they are gone.
  EXPECT_EQ(installer.ExitCode(), std::optional<DWORD>(3));
  EXPECT_FALSE(InstalledProgramRuns()) << "the installer started the program itself";
  EXPECT_FALSE(FileExists(TaskFile(L"Tarnwick"))) << "the earlier task still starts the refused program";
  EXPECT_FALSE(FileExists(TaskFile(L"Tarn Wick"))) << "the task of the older name stays";

  // The way back after the tray menu's Exit, for every user, and what Apps &
  // features shows.
  EXPECT_EQ(ShortcutCommand(StartMenuEntry()), installed + L"|--show");
  const std::optional<DWORD> size = UninstallEntryNumber(L"EstimatedSize");
  ASSERT_TRUE(size.has_value());
  const auto programSize = ReadFileBytes(installed).value_or("").size();
  EXPECT_GE(*size, programSize / 1024) << "EstimatedSize is in KiB";
  EXPECT_LE(*size, 4 * (programSize / 1024 + 1));
  EXPECT_EQ(UninstallEntryNumber(L"NoModify"), std::optional<DWORD>(1));
  EXPECT_EQ(UninstallEntryNumber(L"NoRepair"), std::optional<DWORD>(1));
}

TEST_F(UpdateTrust, TheUninstallerRunsNothingThatTheUsersProgramsCouldPlantOrReplace) {
  TarnwickProcess installer({L"/S"}, WindowsPathOf(TARNWICK_UPDATE_FIXTURES_DIR "/signed.exe"));
  ASSERT_TRUE(installer.WaitForExit(kDownloadTimeout));
  const std::wstring installed = ProgramFilesFolder() + L"\\tarnwick.exe";
  ASSERT_TRUE(FileExists(installed));
  ASSERT_TRUE(CreateLogonTaskWithSchtasks(L"Tarnwick", installed));
  ASSERT_TRUE(CreateLogonTaskWithSchtasks(L"Tarn Wick", installed));
  WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"MethodCPUSets", 1);
  TarnwickProcess running({}, installed);
  ASSERT_TRUE(WaitUntil([] { return FindTrayWindow() != nullptr; })) << "the installed program does not start";

  // The user's ordinary programs replace whatever is copied into a new
  // folder of the temporary folder, and plant a DLL into every such folder;
  // the uninstall is started, as Apps & features may start it, from a
  // folder they planted into.
  const TempWatcher watcher(/*swapDownloadFolder=*/false, /*replaceCopies=*/true);
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring workingFolder = std::wstring(temp) + L"uninstall-started-here";
  ASSERT_TRUE(::CreateDirectoryW(workingFolder.c_str(), nullptr));
  ASSERT_TRUE(WaitUntil([&] { return FileExists(workingFolder + L"\\pdh.dll"); })) << watcher.Actions();

  // Its exit code is the uninstall's own: what it says is done when it ends.
  EXPECT_EQ(RunRegisteredUninstall(L"QuietUninstallString", workingFolder), std::optional<DWORD>(0))
      << "watcher: " << watcher.Actions();
  EXPECT_TRUE(running.WaitForExit()) << "the uninstaller did not close the program";
  EXPECT_FALSE(FileExists(installed)) << "the uninstaller left the program behind";
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
  EXPECT_FALSE(FileExists(StartMenuEntry()));
  EXPECT_FALSE(FileExists(TaskFile(L"Tarnwick")));
  EXPECT_FALSE(FileExists(TaskFile(L"Tarn Wick")));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kSettingsKey));
  // The uninstaller that ran in place goes now, or at the next restart.
  const std::wstring uninstaller = ProgramFilesFolder() + L"\\uninstall.exe";
  EXPECT_TRUE(!FileExists(uninstaller) || DeletedAtRestart(uninstaller)) << "the uninstaller stays for good";
  EXPECT_TRUE(!FileExists(ProgramFilesFolder()) || DeletedAtRestart(ProgramFilesFolder()))
      << "the program's folder stays for good";
  std::printf("after the uninstall: uninstall.exe %s, the folder %s\n",
              FileExists(uninstaller) ? "waits for the restart" : "is gone",
              FileExists(ProgramFilesFolder()) ? "waits for the restart" : "is gone");
  // Last: a program the watcher put in place of a copy would have run by now.
  EXPECT_EQ(Recorded(), "") << "watcher: " << watcher.Actions();
  std::filesystem::remove_all(workingFolder);
}

TEST_F(UpdateTrust, AnUpdateRunsNothingThatTheUsersProgramsCouldPlantOrRepoint) {
  const TempWatcher watcher(/*swapDownloadFolder=*/true);
  server_->Put(kVersionPath, VersionFile("1.2.2.5"));
  server_->PutFixture(kInstallerPath, "signed");
  instance_ = &StartInstance();
  const HWND tray = TrayWindowOf(instance_->Id());
  ASSERT_TRUE(server_->WaitForRequests(1));
  ASSERT_TRUE(ClickBalloonUntilTheInstallerIsAsked(tray));

  const std::wstring installed = ProgramFilesFolder() + L"\\tarnwick.exe";
  EXPECT_TRUE(instance_->WaitForExit(kDownloadTimeout)) << "the installer did not close the running program";
  ExpectTheInstallersBoxSaysTheProgramWillNotStartAtLogon();
  EXPECT_TRUE(WaitUntil([&] { return FileExists(installed) && !InstallerRuns(); }, kDownloadTimeout))
      << "the genuine update was not installed";
  EXPECT_TRUE(ReadFileBytes(installed) == ReadFileBytes(TarnwickExePath())) << "not the program that was built";
  EXPECT_EQ(Recorded(), "") << "watcher: " << watcher.Actions();
  EXPECT_FALSE(InstalledProgramRuns()) << "the installer started the program itself";
}

// --- The logon task's program -------------------------------------------------------

using UpdateInstall = TarnwickTest;

// Wine keeps no owner or access list of a file: every folder belongs to the
// user, whose ordinary programs could replace what it holds.
TEST_F(UpdateInstall, InstallOfAProgramThatItsUserCouldReplaceIsRefused) {
  const std::wstring folder =
      WindowsPathOf(std::string(TARNWICK_UPDATE_SERVER_ROOTS) + "/open-" + std::to_string(::GetCurrentProcessId()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::wstring program = folder + L"\\tarnwick.exe";
  ASSERT_TRUE(::CopyFileW(TarnwickExePath().c_str(), program.c_str(), FALSE));

  TarnwickProcess install({L"--install"}, program);
  EXPECT_TRUE(install.WaitForExit());
  const std::string error = install.StandardError();
  EXPECT_EQ(install.ExitCode(), std::optional<DWORD>(1));
  EXPECT_THAT(error, HasSubstr("not installing the logon task"));
  EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tarnwick::e2e
