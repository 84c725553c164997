// The main window as a user meets it: opened from the tray icon, the list
// edited with Add, a double-click, Remove and Clear All, the menus, the
// dialogs, the status bar and the count label, and how closing it treats the
// worker. The menu's check marks live in the program's own memory, out of
// reach of another process under Wine; the in-process window test covers them.
#include <gmock/gmock.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "res/resource.h"
#include "tests/child/child_processes.h"
#include "tests/e2e/driver/tarnwick_driver.h"
#include "update/version.h"
#include "tests/e2e/driver/window_controls.h"
#include "ui/list_box_text.h"
#include "ui/messages.h"

namespace tarnwick::e2e {
namespace {

using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr const wchar_t* kSettingsKey = L"Software\\Tarnwick";
// The program matches itself, which gives the worker a process to count.
constexpr const wchar_t* kOwnImage = L"tarnwick.exe";

// The bytes the list file holds for `entries`: UTF-16 little endian, CR LF after each.
std::string ListFileBytes(const std::vector<std::wstring>& entries) {
  std::string bytes;
  for (const std::wstring& entry : entries) {
    for (const wchar_t unit : entry + L"\r\n") {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
  }
  return bytes;
}

bool SameTime(const std::optional<FILETIME>& a, const std::optional<FILETIME>& b) {
  return a && b && a->dwLowDateTime == b->dwLowDateTime && a->dwHighDateTime == b->dwHighDateTime;
}

std::optional<DWORD> Counter(const wchar_t* name) { return ReadRegistryDword(HKEY_CURRENT_USER, kSettingsKey, name); }

class MainWindowTest : public TarnwickTest {
 protected:
  void SetUp() override { ForgetUserState(); }
  void TearDown() override {
    TarnwickTest::TearDown();
    ForgetUserState();
  }

  static void ForgetUserState() {
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kSettingsKey);
    ::DeleteFileW(ListFilePath().c_str());
  }

  // Starts the program and opens its main window with a click on the icon.
  HWND StartAndOpen() {
    instance_ = &StartInstance();
    return OpenFromTray();
  }

  HWND OpenFromTray() {
    PostTrayCallback(FindTrayWindow(), WM_LBUTTONUP);
    const HWND main = WaitForDialog(instance_->Id(), L"Tarnwick");
    EXPECT_NE(main, nullptr) << "a click on the icon opens no main window";
    return main;
  }

  HWND WaitForAddDialog() {
    const HWND dialog = WaitForDialog(instance_->Id(), L"Add New Entry");
    EXPECT_NE(dialog, nullptr) << "no Add New Entry dialog";
    return dialog;
  }

  // Types `text` into the open Add New Entry dialog and presses `button`.
  void Answer(HWND dialog, const std::wstring& text, int button = IDOK) {
    ASSERT_NE(dialog, nullptr);
    TypeText(dialog, IDC_ENTRY_EDIT, text);
    ClickButton(dialog, button);
    ASSERT_TRUE(WaitForWindowGone(dialog));
  }

  void Add(HWND main, const std::wstring& text) {
    ClickButton(main, IDC_ADD);
    Answer(WaitForAddDialog(), text);
  }

  void DismissDuplicateMessage(HWND main) {
    const HWND box = WaitForDialog(instance_->Id(), L"Tarnwick", main);
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_THAT(StaticTextsOf(box), Contains(L"ERROR: Item already in list"));
    ClickButton(box, IDOK);
    ASSERT_TRUE(WaitForWindowGone(box));
  }

  // The list box once no dialog of the program is in the way any more.
  std::vector<std::wstring> Listed(HWND main) {
    WaitForWindowIdle(main);
    return ReadListBoxEntries(::GetDlgItem(main, IDC_PROCESS_LIST));
  }

  bool WaitForListed(HWND main, const std::vector<std::wstring>& expected) {
    return WaitUntil([&] { return ReadListBoxEntries(::GetDlgItem(main, IDC_PROCESS_LIST)) == expected; });
  }

  bool WaitForListFile(const std::vector<std::wstring>& expected) {
    return WaitUntil([&] { return ReadFileBytes(ListFilePath()) == ListFileBytes(expected); });
  }

  // Closes the main window and waits until the tray window has finished with
  // it, including a restart of the worker that follows "OK".
  void CloseAndSettle(HWND main, UINT message, WPARAM wParam) {
    ::PostMessageW(main, message, wParam, 0);
    ASSERT_TRUE(WaitForWindowGone(main));
    WaitForWindowIdle(FindTrayWindow());
  }

  // The worker still runs when it writes its counter again.
  void ExpectWorkerStillRunning() {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"LastScannedCount");
    EXPECT_TRUE(WaitUntil([] { return Counter(L"LastScannedCount").has_value(); })) << "the worker stopped";
  }

  TarnwickProcess* instance_ = nullptr;
};

// --- Editing the list -------------------------------------------------------

using UiListEditing = MainWindowTest;

TEST_F(UiListEditing, AddRefusesAListedTextWhateverItsCaseAndSavesTheListBoxAsShown) {
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);

  Add(main, L"notepad.exe");
  EXPECT_THAT(Listed(main), ElementsAre(L"notepad.exe"));
  EXPECT_TRUE(WaitForListFile({L"notepad.exe"}));

  ClickButton(main, IDC_ADD);
  const HWND dialog = WaitForAddDialog();
  ASSERT_NE(dialog, nullptr);
  TypeText(dialog, IDC_ENTRY_EDIT, L"C:\\Tools\\*.exe");
  TakeScreenshot(ArtifactName("add-dialog"), dialog);
  Answer(dialog, L"C:\\Tools\\*.exe");

  Add(main, L"NOTEPAD.EXE");
  DismissDuplicateMessage(main);

  const std::vector<std::wstring> listed = Listed(main);
  EXPECT_THAT(listed, ElementsAre(L"C:\\Tools\\*.exe", L"notepad.exe"));
  EXPECT_EQ(ReadFileBytes(ListFilePath()), ListFileBytes(listed)) << "the file holds exactly the list box";
  TakeScreenshot(ArtifactName("main-window"), main);
}

TEST_F(UiListEditing, ADoubleClickEditThatChangesNothingPutsTheEntryBackAndLeavesTheFile) {
  WriteListFile({L"notepad.exe", L"calc.exe"});
  const std::optional<FILETIME> written = ListFileLastWrite();
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  const HWND list = ::GetDlgItem(main, IDC_PROCESS_LIST);
  ASSERT_TRUE(WaitForListed(main, {L"calc.exe", L"notepad.exe"})) << "the list box sorts";

  // Cancel.
  DoubleClickListEntry(list, 1);
  HWND dialog = WaitForAddDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, IDC_ENTRY_EDIT)), L"notepad.exe");
  EXPECT_THAT(ReadListBoxEntries(list), ElementsAre(L"calc.exe", L"notepad.exe")) << "the entry stays while edited";
  Answer(dialog, L"changed.exe", IDCANCEL);
  EXPECT_THAT(Listed(main), ElementsAre(L"calc.exe", L"notepad.exe"));

  // Confirmed as a text already listed: the message, then the entry is back.
  DoubleClickListEntry(list, 1);
  Answer(WaitForAddDialog(), L"CALC.EXE");
  DismissDuplicateMessage(main);
  EXPECT_THAT(Listed(main), ElementsAre(L"calc.exe", L"notepad.exe"));

  // Confirmed empty.
  DoubleClickListEntry(list, 0);
  Answer(WaitForAddDialog(), L"");
  EXPECT_THAT(Listed(main), ElementsAre(L"calc.exe", L"notepad.exe"));

  EXPECT_TRUE(SameTime(ListFileLastWrite(), written)) << "the file was rewritten";
  EXPECT_EQ(ReadFileBytes(ListFilePath()), ListFileBytes({L"notepad.exe", L"calc.exe"}));
}

TEST_F(UiListEditing, RemoveAndClearAllRewriteTheFileAndRestartTheWorker) {
  // A listed child that runs throughout: the restarted worker stops matching it.
  ChildProcesses children(FindIdleChildProgram());
  const std::wstring child = L"listed_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
  ASSERT_NE(children.Start(child), 0u) << children.LastFailure();
  WriteListFile({L"zzz.exe", child});
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  const HWND list = ::GetDlgItem(main, IDC_PROCESS_LIST);
  ASSERT_TRUE(WaitForListed(main, {child, L"zzz.exe"}));
  ASSERT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 1u; })) << "the worker matches the child";

  // Remove with a selection: the restarted worker no longer matches.
  ::SendMessageW(list, LB_SETCURSEL, 0, 0);
  ClickButton(main, IDC_REMOVE);
  EXPECT_TRUE(WaitForListed(main, {L"zzz.exe"}));
  EXPECT_TRUE(WaitForListFile({L"zzz.exe"}));
  EXPECT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 0u; })) << "no worker restart after Remove";

  // Remove without a selection still saves the list (as the file holds it
  // now, another program's change included) and restarts the worker.
  ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  WriteListFile({L"zzz.exe", L"changed behind the window's back"});
  FILETIME clicked = Now();
  ClickButton(main, IDC_REMOVE);
  EXPECT_TRUE(WaitForListFile({L"changed behind the window's back", L"zzz.exe"}));
  EXPECT_TRUE(WaitForListed(main, {L"changed behind the window's back", L"zzz.exe"}));
  EXPECT_TRUE(WaitUntil([&] { return ThreadStartedAfter(instance_->Id(), clicked); })) << "no worker restart";

  // Clear All, once the child is listed again.
  Add(main, child);
  ASSERT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 1u; })) << "no worker restart after Add";
  ClickButton(main, IDC_CLEAR_ALL);
  EXPECT_TRUE(WaitForListed(main, {}));
  EXPECT_TRUE(WaitUntil([] { return ReadFileBytes(ListFilePath()) == std::string(); })) << "an empty file";
  EXPECT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 0u; })) << "no worker restart after Clear All";
}

TEST_F(UiListEditing, APlainAddAfterACancelledEditStartsEmpty) {
  WriteListFile({L"calc.exe"});
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitForListed(main, {L"calc.exe"}));
  DoubleClickListEntry(::GetDlgItem(main, IDC_PROCESS_LIST), 0);
  Answer(WaitForAddDialog(), L"typed but cancelled.exe", IDCANCEL);

  ClickButton(main, IDC_ADD);
  const HWND dialog = WaitForAddDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, IDC_ENTRY_EDIT)), L"") << "the cancelled edit's text came back";
  Answer(dialog, L"", IDCANCEL);
  EXPECT_THAT(Listed(main), ElementsAre(L"calc.exe"));
}

// --- The list file ----------------------------------------------------------

class UiListFile : public MainWindowTest {
 protected:
  // Waits for the error box over the main window and returns its message
  // after dismissing it; empty when none showed.
  std::wstring DismissErrorBox(HWND main) {
    const HWND box = WaitForDialog(instance_->Id(), L"Tarnwick", main);
    if (box == nullptr) {
      ADD_FAILURE() << "no error box";
      return {};
    }
    std::wstring message;
    for (const std::wstring& text : StaticTextsOf(box)) message += text;
    ClickButton(box, IDOK);
    EXPECT_TRUE(WaitForWindowGone(box));
    return message;
  }

  // Opens the main window from the icon, with a box over it: the main window
  // is the one of the two captioned "Tarnwick" that has the list.
  HWND OpenWithABoxOver() {
    PostTrayCallback(FindTrayWindow(), WM_LBUTTONUP);
    HWND main = nullptr;
    const bool both = WaitUntil([&] {
      const HWND first = WaitForDialog(instance_->Id(), L"Tarnwick", nullptr, 0ms);
      const HWND second = first ? WaitForDialog(instance_->Id(), L"Tarnwick", first, 0ms) : nullptr;
      for (const HWND found : {first, second}) {
        if (found != nullptr && ::GetDlgItem(found, IDC_PROCESS_LIST) != nullptr) main = found;
      }
      return main != nullptr && second != nullptr;
    });
    EXPECT_TRUE(both) << "no main window with a box over it";
    return both ? main : nullptr;
  }

  static std::vector<std::wstring> FolderNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (::FindNextFileW(find, &found));
    ::FindClose(find);
    return names;
  }

  static bool Chattr(const wchar_t* change, const std::wstring& path) {
    const std::wstring unixPath = UnixPathOf(path);
    return !unixPath.empty() && RunUnixProgram("/usr/bin/chattr", {change, unixPath});
  }
};

TEST_F(UiListFile, AFailedSaveNamesTheFileAndTheReasonAndTheListBoxShowsWhatTheFileHolds) {
  WriteListFile({L"kept.exe"});
  HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitForListed(main, {L"kept.exe"}));
  const std::wstring list = ListFilePath();
  const std::wstring folder = list.substr(0, list.rfind(L'\\'));
  const std::string kept = ListFileBytes({L"kept.exe"});
  auto opensForWriting = [&] {
    unique_hfile file(::CreateFileW(list.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(file);
  };

  unique_hfile locker;
  struct Failure {
    const char* what;
    std::function<void()> make;
    std::function<void()> checkAndUndo;  // the file as it was, then the failure undone
    const wchar_t* reason = nullptr;     // the system's words, where the save itself decides
    // The save's own read finds the file refused: it is left alone and said
    // so as at the opening, and the window shows the file again once reopened.
    bool refusedAtRead = false;
  };
  const Failure failures[] = {
      // First: a failed save leaves its temporary file's name change behind,
      // which the folder watch reports up to half a second later; a report
      // read while the file is locked would show the refusal before Add.
      {"a list held open by another program without sharing",
       [&] {
         locker.reset(::CreateFileW(list.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
         ASSERT_TRUE(locker);
       },
       [&] {
         locker.reset();
         EXPECT_EQ(ReadFileBytes(list), kept);
       },
       L"could not be read", true},
      {"read-only list", [&] { ASSERT_TRUE(::SetFileAttributesW(list.c_str(), FILE_ATTRIBUTE_READONLY)); },
       [&] {
         EXPECT_NE(::GetFileAttributesW(list.c_str()) & FILE_ATTRIBUTE_READONLY, 0u) << "the attribute was cleared";
         EXPECT_EQ(ReadFileBytes(list), kept);
         ::SetFileAttributesW(list.c_str(), FILE_ATTRIBUTE_NORMAL);
       },
       L"read only"},
      {"immutable list (chattr +i)",
       [&] {
         ASSERT_TRUE(Chattr(L"+i", list));
         ASSERT_TRUE(WaitUntil([&] { return !opensForWriting(); }));
       },
       [&] {
         EXPECT_EQ(ReadFileBytes(list), kept);
         Chattr(L"-i", list);
         EXPECT_TRUE(WaitUntil(opensForWriting));
       }},
  };
  std::vector<std::wstring> typed;
  for (const Failure& failure : failures) {
    SCOPED_TRACE(failure.what);
    failure.make();
    if (HasFatalFailure()) return;
    typed.push_back(L"typed-" + std::to_wstring(typed.size()) + L".exe");
    Add(main, typed.back());
    const std::wstring message = DismissErrorBox(main);
    EXPECT_NE(message.find(list), std::wstring::npos) << "the box names the file: " << testing::PrintToString(message);
    EXPECT_GT(message.size(), message.find(list) + list.size() + 4) << "and the system's reason";
    if (failure.reason != nullptr) {
      EXPECT_NE(message.find(failure.reason), std::wstring::npos) << testing::PrintToString(message);
    }
    if (failure.refusedAtRead) {
      EXPECT_THAT(Listed(main), IsEmpty());
      failure.checkAndUndo();
      CloseAndSettle(main, WM_CLOSE, 0);
      main = OpenFromTray();
      ASSERT_NE(main, nullptr);
      EXPECT_TRUE(WaitForListed(main, {L"kept.exe"}));
      continue;
    }
    // The list box, the file and the worker agree on what the file holds.
    EXPECT_EQ(Listed(main), std::vector<std::wstring>{L"kept.exe"}) << "the list box shows what the file holds";
    failure.checkAndUndo();
  }
  // The next save that works writes from there.
  Add(main, L"last.exe");
  EXPECT_EQ(Listed(main), (std::vector<std::wstring>{L"kept.exe", L"last.exe"}));
  EXPECT_TRUE(WaitForListFile({L"kept.exe", L"last.exe"}));
}

TEST_F(UiListFile, AFullDiskIsReportedAndTheListStaysWhole) {
  const std::wstring list = ListFilePath();
  const std::wstring folder = UnixPathOf(list.substr(0, list.rfind(L'\\')));
  ASSERT_FALSE(folder.empty());
  WriteListFile({});  // creates the folder
  ::DeleteFileW(list.c_str());
  // Wine gives no handle to wait on for a Linux program: the folder's size tells.
  const std::wstring windowsFolder = list.substr(0, list.rfind(L'\\') + 1);
  auto mounted = [&] {
    ULARGE_INTEGER available{}, total{}, free{};
    return ::GetDiskFreeSpaceExW(windowsFolder.c_str(), &available, &total, &free) && total.QuadPart <= 65536;
  };
  // A file system of one page, filled by the list itself. The test runner
  // unmounts it if the test cannot.
  RunUnixProgram("/bin/mount", {L"-t", L"tmpfs", L"-o", L"size=4k", L"tarnwick-full", folder});
  if (!WaitUntil(mounted)) {
    RunUnixProgram("/bin/umount", {L"-l", folder});
    GTEST_SKIP() << "no small file system can be mounted here";
  }
  const std::vector<std::wstring> kept = {std::wstring(1000, L'k'), L"kept.exe"};
  WriteListFile(kept);

  const HWND main = StartAndOpen();
  if (main != nullptr) {
    Add(main, L"typed.exe");
    const std::wstring message = DismissErrorBox(main);
    EXPECT_NE(message.find(list), std::wstring::npos) << testing::PrintToString(message);
    EXPECT_THAT(Listed(main), testing::UnorderedElementsAreArray(kept)) << "the list box shows what the file holds";
    EXPECT_EQ(ReadFileBytes(list), ListFileBytes(kept)) << "the list is whole";
  }
  instance_->End();
  // Lazily: Wine's server may still hold the folder open.
  RunUnixProgram("/bin/umount", {L"-l", folder});
  EXPECT_TRUE(WaitUntil([&] { return !mounted(); }));
}

TEST_F(UiListFile, AUtf8ListFromANotepadLikeEditorIsReadAndSavedAsUtf16) {
  // Notepad's default: UTF-8 with a byte-order mark, and no line end after the last line.
  const std::wstring list = ListFilePath();
  WriteListFile({});
  WriteFileBytes(list,
                 "\xEF\xBB\xBF"
                 "caf\xC3\xA9.exe\r\n" +
                     std::string("tarnwick.exe"));
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(WaitForListed(main, {L"caf\x00E9.exe", kOwnImage}));
  EXPECT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 1u; })) << "the worker reads it too";
  Add(main, L"new.exe");
  EXPECT_TRUE(WaitForListFile({L"caf\x00E9.exe", L"new.exe", kOwnImage}));
}

TEST_F(UiListFile, AListFileOver16MiBIsNeitherUsedNorOverwritten) {
  WriteListFile({kOwnImage});
  std::string huge = *ReadFileBytes(ListFilePath());
  huge.resize(16 * 1024 * 1024 + 2, 'x');
  WriteFileBytes(ListFilePath(), huge);
  instance_ = &StartInstance();
  ASSERT_TRUE(WaitUntil([] { return Counter(L"LastScannedCount").has_value(); })) << "no worker";
  EXPECT_EQ(Counter(L"CurrentEnforcedCount"), 0u) << "the worker matches nothing";

  const HWND main = OpenWithABoxOver();
  ASSERT_NE(main, nullptr);
  const std::wstring message = DismissErrorBox(main);
  EXPECT_NE(message.find(ListFilePath()), std::wstring::npos) << testing::PrintToString(message);
  EXPECT_NE(message.find(L"too large to open"), std::wstring::npos) << testing::PrintToString(message);
  EXPECT_THAT(Listed(main), IsEmpty());
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, IDC_ADD)));
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, IDC_CLEAR_ALL)));
  // Even a command sent past the disabled buttons does not replace the file.
  ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_CLEAR_ALL, BN_CLICKED), 0);
  DismissErrorBox(main);
  EXPECT_EQ(ReadFileBytes(ListFilePath())->size(), huge.size());
}

TEST_F(UiListFile, AListFileThatCannotBeReadIsNotOverwritten) {
  WriteListFile({L"kept.exe"});
  instance_ = &StartInstance();
  // Another program holds the file open and shares nothing.
  unique_hfile locked(::CreateFileW(ListFilePath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(locked);
  HWND main = OpenWithABoxOver();
  ASSERT_NE(main, nullptr);
  const std::wstring message = DismissErrorBox(main);
  EXPECT_NE(message.find(ListFilePath()), std::wstring::npos) << testing::PrintToString(message);
  EXPECT_NE(message.find(L"could not be read"), std::wstring::npos) << testing::PrintToString(message);
  EXPECT_THAT(Listed(main), IsEmpty());
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, IDC_ADD)));
  ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_CLEAR_ALL, BN_CLICKED), 0);
  DismissErrorBox(main);
  locked.reset();
  EXPECT_EQ(ReadFileBytes(ListFilePath()), ListFileBytes({L"kept.exe"})) << "the list was replaced";

  // Once the file can be read, the next opening shows it and edits it.
  CloseAndSettle(main, WM_CLOSE, 0);
  main = OpenFromTray();
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(WaitForListed(main, {L"kept.exe"}));
  Add(main, L"new.exe");
  EXPECT_TRUE(WaitForListFile({L"kept.exe", L"new.exe"}));
}

// --- The list file while the window is open ------------------------------------

// Runs "cmd /c <command>" (or "cmd /u /c": its output in UTF-16) in this
// prefix, as a user's script would, and waits for it.
bool RunCmd(const std::wstring& command, bool unicode = false) {
  std::wstring line = std::wstring(L"cmd.exe ") + (unicode ? L"/u " : L"") + L"/c " + command;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &started)) {
    return false;
  }
  unique_handle process(started.hProcess);
  unique_handle thread(started.hThread);
  return ::WaitForSingleObject(process.get(), 20000) == WAIT_OBJECT_0;
}

// "echo <text>>> list": the system's 8-bit text and CR LF, appended.
bool EchoIntoList(const std::wstring& text, bool unicode = false) {
  return RunCmd(L"echo " + text + L">> \"" + ListFilePath() + L"\"", unicode);
}

class UiListChanges : public UiListFile {
 protected:
  // Puts `bytes` in place of the list in one step, as an editor saves.
  static void ReplaceListFile(const std::string& bytes) {
    const std::wstring written = ListFilePath() + L".written-by-test";
    WriteFileBytes(written, bytes);
    ASSERT_TRUE(::MoveFileExW(written.c_str(), ListFilePath().c_str(), MOVEFILE_REPLACE_EXISTING));
  }

  // No box shows once everything sent so far has been handled.
  void ExpectNoBoxOver(HWND main) {
    WaitForWindowIdle(FindTrayWindow());
    WaitForWindowIdle(main);
    EXPECT_EQ(WaitForDialog(instance_->Id(), L"Tarnwick", main, 0ms), nullptr) << "told twice";
  }
};

TEST_F(UiListChanges, AnotherProgramsChangeShowsRestartsTheWorkerAndTheNextEditKeepsIt) {
  WriteListFile({L"alpha.exe"});
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitForListed(main, {L"alpha.exe"}));
  ASSERT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 0u; }));

  // A script appends a line to the file the program wrote.
  ASSERT_TRUE(EchoIntoList(kOwnImage));
  EXPECT_TRUE(WaitForListed(main, {L"alpha.exe", kOwnImage})) << "the box does not show the change";
  EXPECT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 1u; })) << "the worker did not restart";

  Add(main, L"beta.exe");
  EXPECT_TRUE(WaitForListFile({L"alpha.exe", L"beta.exe", kOwnImage})) << "the appended line was lost";
  EXPECT_THAT(Listed(main), ElementsAre(L"alpha.exe", L"beta.exe", kOwnImage));
}

TEST_F(UiListChanges, AFileMadeTooLargeOrUndecodableMeanwhileIsToldOnceAndNeverOverwritten) {
  WriteListFile({L"alpha.exe"});
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitForListed(main, {L"alpha.exe"}));

  std::string huge = ListFileBytes({L"alpha.exe"});
  huge.resize(16 * 1024 * 1024 + 2, 'x');
  const std::string mixed = ListFileBytes({L"a.exe"}) + "b.exe\r\n" + ListFileBytes({L"c.exe"});
  struct Refused {
    const char* what;
    std::string bytes;
    const wchar_t* said;
  };
  const Refused refused[] = {
      {"over 16 MiB", huge, L"too large to open"},
      {"two encodings", mixed, L"line 2 is not in the encoding"},
  };
  for (const Refused& file : refused) {
    SCOPED_TRACE(file.what);
    ReplaceListFile(file.bytes);
    const std::wstring message = DismissErrorBox(main);
    EXPECT_NE(message.find(file.said), std::wstring::npos) << testing::PrintToString(message);
    ExpectNoBoxOver(main);
    EXPECT_THAT(Listed(main), IsEmpty());
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, IDC_ADD)));
    // An edit that reaches the window all the same is refused and said so.
    ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_CLEAR_ALL, BN_CLICKED), 0);
    DismissErrorBox(main);
    ExpectNoBoxOver(main);
    EXPECT_EQ(ReadFileBytes(ListFilePath()), file.bytes) << "the refused file was overwritten";
  }

  // A list again: shown, and edited.
  ReplaceListFile(ListFileBytes({L"gamma.exe"}));
  EXPECT_TRUE(WaitForListed(main, {L"gamma.exe"}));
  EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(::GetDlgItem(main, IDC_ADD)) != FALSE; }));
  Add(main, L"delta.exe");
  EXPECT_TRUE(WaitForListFile({L"delta.exe", L"gamma.exe"}));
}

TEST_F(UiListChanges, AnEntryUnderEditStaysListedWhileTheProcessesWindowAdds) {
  WriteListFile({L"calc.exe", L"zzz.exe"});
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  const HWND list = ::GetDlgItem(main, IDC_PROCESS_LIST);
  ASSERT_TRUE(WaitForListed(main, {L"calc.exe", L"zzz.exe"}));
  DoubleClickListEntry(list, 0);
  const HWND dialog = WaitForAddDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_THAT(ReadListBoxEntries(list), ElementsAre(L"calc.exe", L"zzz.exe")) << "the entry left the list";

  // Running processes is no modal window: its Add Name saves meanwhile.
  ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDM_RUNNING_PROCESSES, 0), 0);
  const HWND processes = WaitForDialog(instance_->Id(), L"Running Processes");
  ASSERT_NE(processes, nullptr);
  const HWND view = ::GetDlgItem(processes, IDC_PROCESS_VIEW);
  int ownRow = -1;
  ASSERT_TRUE(WaitUntil([&] {
    const auto rows = ListViewRows(view, 7);
    for (size_t row = 0; row < rows.size(); ++row) {
      if (rows[row][0] == kOwnImage) ownRow = static_cast<int>(row);
    }
    return ownRow >= 0;
  }));
  SelectListViewRows(view, {ownRow});
  ::PostMessageW(processes, WM_COMMAND, MAKEWPARAM(IDC_ADD_NAME, BN_CLICKED), 0);
  EXPECT_TRUE(WaitForListFile({L"calc.exe", kOwnImage, L"zzz.exe"})) << "the entry under edit was dropped";
  EXPECT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 1u; }));

  Answer(dialog, L"changed.exe", IDCANCEL);
  EXPECT_THAT(Listed(main), ElementsAre(L"calc.exe", kOwnImage, L"zzz.exe"));
  EXPECT_TRUE(WaitForListFile({L"calc.exe", kOwnImage, L"zzz.exe"}));

  // OK with another text replaces it, in the box and the file.
  DoubleClickListEntry(list, 0);
  Answer(WaitForAddDialog(), L"calc2.exe");
  EXPECT_TRUE(WaitForListFile({L"calc2.exe", kOwnImage, L"zzz.exe"}));
  EXPECT_THAT(Listed(main), ElementsAre(L"calc2.exe", kOwnImage, L"zzz.exe"));
}

// --- Entries as the user and other tools write them -------------------------------

using UiListEntries = UiListChanges;

TEST_F(UiListEntries, EntriesAroundTheDialogsLimitComeBackWholeOrAreNotOpened) {
  struct Entry {
    size_t length;
    bool editable;
  };
  const Entry sizes[] = {{1022, true}, {1023, true}, {1024, false}, {1025, false}, {5000, false}};
  std::vector<std::wstring> entries;
  // A first letter of its own for each, so that the sorted box keeps this order.
  for (const Entry& size : sizes) {
    entries.push_back(std::wstring(1, static_cast<wchar_t>(L'a' + entries.size())) +
                      std::wstring(size.length - 5, L'x') + L".exe");
  }
  WriteListFile(entries);
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  const HWND list = ::GetDlgItem(main, IDC_PROCESS_LIST);
  ASSERT_TRUE(WaitForListed(main, entries));
  for (size_t index = 0; index < entries.size(); ++index) {
    SCOPED_TRACE(testing::Message() << sizes[index].length << " characters");
    const std::string before = *ReadFileBytes(ListFilePath());
    DoubleClickListEntry(list, static_cast<int>(index));
    if (!sizes[index].editable) {
      const std::wstring message = DismissErrorBox(main);
      EXPECT_NE(message.find(std::to_wstring(sizes[index].length) + L" characters"), std::wstring::npos)
          << testing::PrintToString(message);
      EXPECT_EQ(WaitForDialog(instance_->Id(), L"Add New Entry", nullptr, 0ms), nullptr);
      EXPECT_EQ(ReadFileBytes(ListFilePath()), before);
      continue;
    }
    // An unchanged OK gives the entry back as it was: nothing to save.
    HWND dialog = WaitForAddDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, IDC_ENTRY_EDIT)), entries[index]);
    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitForWindowGone(dialog));
    EXPECT_EQ(Listed(main), entries);
    EXPECT_EQ(ReadFileBytes(ListFilePath()), before) << "an unchanged entry was rewritten";
    // A changed one goes in whole.
    DoubleClickListEntry(list, static_cast<int>(index));
    entries[index].back() = L'X';
    Answer(WaitForAddDialog(), entries[index]);
    EXPECT_TRUE(WaitForListFile(entries));
  }
}

TEST_F(UiListEntries, LinesThatScriptsAppendAreReadAsTheyWereWritten) {
  instance_ = &StartInstance();
  const std::wstring list = ListFilePath();
  struct Made {
    const char* what;
    std::function<void()> make;
    std::vector<std::wstring> expected;
  };
  const Made files[] = {
      {"the program's UTF-16, then an echo of even length",
       [&] {
         WriteListFile({L"a.exe", L"b.exe"});
         ASSERT_TRUE(EchoIntoList(L"fooo.exe"));
       },
       {L"a.exe", L"b.exe", L"fooo.exe"}},
      {"the program's UTF-16, then an echo of odd length",
       [&] {
         WriteListFile({L"a.exe", L"b.exe"});
         ASSERT_TRUE(EchoIntoList(L"foo.exe"));
       },
       {L"a.exe", L"b.exe", L"foo.exe"}},
      {"cmd's own 8-bit lines, then cmd /u",
       [&] {
         ASSERT_TRUE(RunCmd(L"echo a.exe> \"" + list + L"\""));
         ASSERT_TRUE(EchoIntoList(L"b.exe"));
         ASSERT_TRUE(EchoIntoList(L"c.exe", true));
       },
       {L"a.exe", L"b.exe", L"c.exe"}},
  };
  for (const Made& file : files) {
    SCOPED_TRACE(file.what);
    file.make();
    if (HasFatalFailure()) return;
    const HWND main = OpenFromTray();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(WaitForListed(main, file.expected)) << testing::PrintToString(ReadFileBytes(list));
    Add(main, L"new.exe");
    std::vector<std::wstring> saved = file.expected;
    saved.push_back(L"new.exe");
    EXPECT_TRUE(WaitForListFile(saved)) << testing::PrintToString(ReadFileBytes(list));
    CloseAndSettle(main, WM_CLOSE, 0);
  }

  // Three parts: no single seam. Refused, with the line, and left alone.
  WriteListFile({L"a.exe", L"b.exe"});
  ASSERT_TRUE(EchoIntoList(L"fooo.exe"));
  const std::string threeParts = *ReadFileBytes(list) + ListFileBytes({L"c.exe"});
  WriteFileBytes(list, threeParts);
  const HWND main = OpenWithABoxOver();
  ASSERT_NE(main, nullptr);
  const std::wstring message = DismissErrorBox(main);
  EXPECT_NE(message.find(L"line 3 is not"), std::wstring::npos) << testing::PrintToString(message);
  EXPECT_THAT(Listed(main), IsEmpty());
  EXPECT_EQ(ReadFileBytes(list), threeParts);
}

// Runs a shell command line of the Linux side and waits for it.
bool RunShell(const std::wstring& script) { return RunUnixProgram("/bin/sh", {L"-c", script}); }

TEST_F(UiListEntries, AListThatIsALinkStaysALinkAndTheFileItLeadsToIsWritten) {
  const std::wstring list = ListFilePath();
  const std::wstring config = list.substr(0, list.rfind(L'\\'));
  const std::wstring synced = config.substr(0, config.rfind(L'\\')) + L"\\synced";
  ::CreateDirectoryW(synced.c_str(), nullptr);
  const std::wstring target = synced + L"\\my list.txt";
  WriteFileBytes(target, ListFileBytes({L"alpha.exe"}));
  ::DeleteFileW(list.c_str());
  const std::wstring unixList = UnixPathOf(list);
  const std::wstring unixTarget = UnixPathOf(target);
  ASSERT_FALSE(unixList.empty());
  ASSERT_TRUE(RunUnixProgram("/bin/ln", {L"-s", unixTarget, unixList}));
  ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(list) == ListFileBytes({L"alpha.exe"}); }));

  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitForListed(main, {L"alpha.exe"}));
  Add(main, L"beta.exe");
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFileBytes(target) == ListFileBytes({L"alpha.exe", L"beta.exe"});
  })) << "the file the link leads to was not written";
  const std::wstring marker = synced + L"\\still-a-link";
  RunShell(L"test -L '" + unixList + L"' && touch '" + UnixPathOf(marker) + L"'");
  EXPECT_TRUE(WaitUntil([&] { return FileExists(marker); })) << "the link was replaced by a file";
  // The file changed through the link shows, too.
  WriteFileBytes(target, ListFileBytes({L"alpha.exe", L"beta.exe", L"gamma.exe"}));
  EXPECT_TRUE(WaitForListed(main, {L"alpha.exe", L"beta.exe", L"gamma.exe"}));
  Add(main, L"delta.exe");
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFileBytes(target) == ListFileBytes({L"alpha.exe", L"beta.exe", L"delta.exe", L"gamma.exe"});
  }));
  EXPECT_THAT(FolderNames(synced), testing::UnorderedElementsAre(L".", L"..", L"my list.txt", L"still-a-link"));
  ::DeleteFileW(list.c_str());
  ::DeleteFileW(marker.c_str());
  ::DeleteFileW(target.c_str());
  ::RemoveDirectoryW(synced.c_str());
}

// --- The worker and the status ------------------------------------------------

using UiWorkerStatus = MainWindowTest;

TEST_F(UiWorkerStatus, StatusBarAndCountLabelShowTheWorkersCountersWithinThreeSeconds) {
  WriteListFile({kOwnImage});
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  const HWND statusBar = ::GetDlgItem(main, IDC_STATUS_BAR);
  std::wstring shown;
  const bool agrees = WaitUntil(
      [&] {
        const std::optional<DWORD> matched = Counter(L"CurrentEnforcedCount");
        const std::optional<DWORD> scanned = Counter(L"LastScannedCount");
        if (!matched || !scanned) return false;
        const std::wstring counts = std::to_wstring(*matched) + L" of " + std::to_wstring(*scanned);
        shown = StatusBarPartText(statusBar, 0) + L" | " + StatusBarPartText(statusBar, 3) + L" | " +
                WindowTextOf(::GetDlgItem(main, IDC_COUNT_LABEL));
        return *matched == 1 && shown == L"MONITORING | Matched processes: " + counts + L" | " + counts;
      },
      3s);
  EXPECT_TRUE(agrees) << "shown: " << testing::PrintToString(shown);
  // The P-cores' mean follows this machine's load; Wine reports no E-cores.
  const std::wregex usage(LR"(P-Core usage: (0|[1-9]\d?|100)\.\d\d%)");
  EXPECT_TRUE(std::regex_match(StatusBarPartText(statusBar, 1), usage))
      << testing::PrintToString(StatusBarPartText(statusBar, 1));
  EXPECT_EQ(StatusBarPartText(statusBar, 2), L"E-Core usage: 0.00%");
  TakeScreenshot(ArtifactName("main-window"), main);
}

TEST_F(UiWorkerStatus, OkRestartsTheWorkerWithTheSavedListAndClosingLeavesItRunning) {
  HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitUntil([] { return Counter(L"LastScannedCount").has_value(); })) << "no worker";

  FILETIME closed = Now();
  CloseAndSettle(main, WM_SYSCOMMAND, SC_CLOSE);
  EXPECT_FALSE(ThreadStartedAfter(instance_->Id(), closed)) << "the close box restarted the worker";
  ExpectWorkerStillRunning();

  main = OpenFromTray();
  ASSERT_NE(main, nullptr);
  closed = Now();
  CloseAndSettle(main, WM_COMMAND, IDM_MINIMIZE_TO_TRAY);
  EXPECT_FALSE(ThreadStartedAfter(instance_->Id(), closed)) << "Minimize To Tray restarted the worker";
  ExpectWorkerStillRunning();

  // The list file changes while the window is open; OK restarts the worker with it.
  main = OpenFromTray();
  ASSERT_NE(main, nullptr);
  WriteListFile({kOwnImage});
  EXPECT_EQ(Counter(L"CurrentEnforcedCount"), 0u);
  closed = Now();
  ::PostMessageW(::GetDlgItem(main, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitForWindowGone(main));
  EXPECT_TRUE(WaitUntil([&] { return ThreadStartedAfter(instance_->Id(), closed); })) << "no worker restart";
  EXPECT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 1u; }));
  EXPECT_TRUE(instance_->IsRunning());
}

TEST_F(UiWorkerStatus, TheProgramEndsCleanlyWhileTheWindowIsOpen) {
  HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  const RunResult close = Run({L"--close"});
  EXPECT_EQ(close.exitCode, 0u);
  ASSERT_TRUE(instance_->WaitForExit(10s));
  EXPECT_EQ(instance_->ExitCode(), 0u);

  main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  PostTrayCallback(FindTrayWindow(), WM_RBUTTONUP);
  const HWND menu = WaitForPopupMenu(instance_->Id());
  ASSERT_NE(menu, nullptr) << "the icon's menu does not open beside the main window";
  ChooseMenuItem(menu, L'x');
  ASSERT_TRUE(instance_->WaitForExit());
  EXPECT_EQ(instance_->ExitCode(), 0u);
}

// --- Menus and dialogs --------------------------------------------------------

using UiMenusAndDialogs = MainWindowTest;

TEST_F(UiMenusAndDialogs, MethodItemsAndIncludeBetasFlipTheirRegistryValues) {
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  struct Item {
    UINT command;
    const wchar_t* value;
    bool defaultOn;
  };
  const Item items[] = {
      {IDM_EFFICIENCY_MODE_OFF, L"MethodEfficiencyMode", true},
      {IDM_CPU_AFFINITIES, L"MethodCPUAffinity", false},
      {IDM_CPU_SETS, L"MethodCPUSets", false},
      {IDM_INCLUDE_BETAS, L"BetaUpdates", false},
  };
  for (const Item& item : items) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(item.value)));
    ::SendMessageW(main, WM_COMMAND, item.command, 0);
    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, kSettingsKey, item.value), item.defaultOn ? 0u : 1u);
    ::SendMessageW(main, WM_COMMAND, item.command, 0);
    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, kSettingsKey, item.value), item.defaultOn ? 1u : 0u);
  }
}

TEST_F(UiMenusAndDialogs, ASecondStartOpensTheWindowOrBringsItForwardAndExitsWithZero) {
  instance_ = &StartInstance();
  // The running instance opens its window inside the second start's request,
  // so that start is answered, and exits, once the window has closed.
  TarnwickProcess& opening = Start();
  const HWND main = WaitForDialog(instance_->Id(), L"Tarnwick");
  ASSERT_NE(main, nullptr) << "the hand-over opens the main window";
  EXPECT_TRUE(opening.IsRunning()) << "answered before the window closed";
  EXPECT_EQ(WindowTextOf(::GetDlgItem(main, IDC_VERSION)), L"v" + std::wstring(CurrentVersionText));

  ::PostMessageW(main, WM_COMMAND, IDM_ABOUT, 0);
  const HWND about = WaitForDialog(instance_->Id(), L"About Tarnwick");
  ASSERT_NE(about, nullptr);
  const std::wstring text = WindowTextOf(::GetDlgItem(about, IDC_ABOUT_TEXT));
  EXPECT_EQ(text.substr(0, text.find(L'\n')), L"Tarnwick v" + std::wstring(CurrentVersionText));
  EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 4) << "five lines";
  TakeScreenshot(ArtifactName("about-dialog"), about);
  ClickButton(about, IDOK);
  ASSERT_TRUE(WaitForWindowGone(about));

  const RunResult second = Run({});
  EXPECT_TRUE(second.exited);
  EXPECT_EQ(second.exitCode, 0u);
  EXPECT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == main; })) << "not brought forward";
  EXPECT_EQ(WaitForDialog(instance_->Id(), L"Tarnwick", main, 0ms), nullptr) << "a second main window";

  ::PostMessageW(main, WM_CLOSE, 0, 0);
  ASSERT_TRUE(opening.WaitForExit()) << "the first hand-over still waits after the window closed";
  EXPECT_EQ(opening.ExitCode(), 0u);
}

}  // namespace
}  // namespace tarnwick::e2e
