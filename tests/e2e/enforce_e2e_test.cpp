// The worker in the running program, as a user meets it: listed processes
// end up on the P-cores, the status counters tell the truth, a list edit
// takes effect, a damaged list file harms nothing.
#include "tests/child/child_processes.h"
#include "tests/e2e/driver/tarnwick_driver.h"
#include "topology/core_map.h"
#include "ui/messages.h"

#include <windows.h>
#include <tlhelp32.h>

#include <gmock/gmock.h>

#include <string>

namespace tarnwick::e2e {
namespace {

constexpr const wchar_t* kSettingsKey = L"Software\\Tarnwick";
constexpr DWORD kNoPassYet = 0xFFFFFFFF;  // over both counters: a pass replaces them

DWORD ProcessesInSnapshot() {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  DWORD count = 0;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) ++count;
  ::CloseHandle(snapshot);
  return count;
}

class EnforceTest : public TarnwickTest {
 protected:
  void SetUp() override {
    TarnwickTest::SetUp();
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
    DWORD_PTR own = 0;
    ::GetProcessAffinityMask(::GetCurrentProcess(), &own, &systemMask_);
    expectedMask_ = CoreMap().PerformanceCoreMask() & systemMask_;
  }
  void TearDown() override {
    TarnwickTest::TearDown();
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
    ::DeleteFileW(ListFilePath().c_str());
  }

  // A child named uniquely for this test, held on processor 0.
  size_t StartChildOnProcessorZero(const std::wstring& stem) {
    const std::wstring name = stem + L"_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    EXPECT_NE(children_.Start(name), 0u);
    const size_t index = children_.Count() - 1;
    EXPECT_TRUE(::SetProcessAffinityMask(children_.Handle(index), 1));
    names_.push_back(name);
    return index;
  }
  const std::wstring& NameOf(size_t index) const { return names_[index]; }

  // Waits until a pass of the worker has published both its counters.
  bool WaitForNextPass() {
    WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"LastScannedCount", kNoPassYet);
    WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"CurrentEnforcedCount", kNoPassYet);
    return WaitUntil([this] {
      const auto scanned = Counter(L"LastScannedCount");
      const auto matched = Counter(L"CurrentEnforcedCount");
      return scanned && *scanned != kNoPassYet && matched && *matched != kNoPassYet;
    });
  }
  std::optional<DWORD> Counter(const wchar_t* name) { return ReadRegistryDword(HKEY_CURRENT_USER, kSettingsKey, name); }

  ChildProcesses children_{FindIdleChildProgram()};
  std::vector<std::wstring> names_;
  DWORD_PTR systemMask_ = 0;
  uint64_t expectedMask_ = 0;
};

using EnforcePlacement = EnforceTest;

TEST_F(EnforcePlacement, ListedChildMovesToThePerformanceCoresWithinThreeSeconds) {
  const size_t child = StartChildOnProcessorZero(L"tw_e2e_listed");
  const DWORD hostId = FindHostProcessId(NameOf(child));
  ASSERT_NE(hostId, 0u) << "the host's view of the child";
  ASSERT_EQ(HostProcessStatus(hostId, "Cpus_allowed_list"), "0");
  WriteListFile({L"notepad.exe", NameOf(child)});
  WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"MethodCPUAffinity", 1);

  StartInstance();
  EXPECT_TRUE(WaitUntil([&] { return ProcessAffinity(children_.Handle(child)) == expectedMask_; }, 3s))
      << "affinity " << ProcessAffinity(children_.Handle(child)) << ", expected " << expectedMask_;
  EXPECT_EQ(HostProcessStatus(hostId, "Cpus_allowed_list"), HostProcessorList(expectedMask_));

  // The counters of a pass agree with a snapshot taken around it and with the list.
  ASSERT_TRUE(WaitForNextPass());
  const DWORD before = ProcessesInSnapshot();
  ASSERT_TRUE(WaitForNextPass());
  const DWORD after = ProcessesInSnapshot();
  const auto scanned = Counter(L"LastScannedCount");
  ASSERT_TRUE(scanned.has_value());
  EXPECT_GE(*scanned, std::min(before, after));
  EXPECT_LE(*scanned, std::max(before, after));
  EXPECT_EQ(Counter(L"CurrentEnforcedCount"), 1u);
  TakeScreenshot(ArtifactName("placed"));
}

TEST_F(EnforcePlacement, FreshAccountTurnsOnlyEfficiencyModeOff) {
  // No method switch stored: the affinity method is off, the match still counts.
  const size_t child = StartChildOnProcessorZero(L"tw_e2e_fresh");
  WriteListFile({L"*\\" + NameOf(child)});
  StartInstance();
  ASSERT_TRUE(WaitForNextPass());
  ASSERT_TRUE(WaitForNextPass());
  EXPECT_EQ(Counter(L"CurrentEnforcedCount"), 1u) << "matched through its image path";
  EXPECT_EQ(ProcessAffinity(children_.Handle(child)), 1u);
}

using EnforceListFile = EnforceTest;

TEST_F(EnforceListFile, RewrittenListTakesEffectAfterListChanged) {
  const size_t first = StartChildOnProcessorZero(L"tw_e2e_first");
  const size_t second = StartChildOnProcessorZero(L"tw_e2e_second");
  WriteListFile({NameOf(first)});
  WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"MethodCPUAffinity", 1);
  StartInstance();
  ASSERT_TRUE(WaitUntil([&] { return ProcessAffinity(children_.Handle(first)) == expectedMask_; }, 3s));
  ASSERT_TRUE(WaitForNextPass());
  EXPECT_EQ(ProcessAffinity(children_.Handle(second)), 1u) << "not listed yet";

  // The list now names only the second child; the first is put back on processor 0.
  WriteListFile({NameOf(second)});
  ASSERT_TRUE(::SetProcessAffinityMask(children_.Handle(first), 1));
  ::SendMessageW(FindTrayWindow(), WMU_LIST_CHANGED, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return ProcessAffinity(children_.Handle(second)) == expectedMask_; }, 3s));
  ASSERT_TRUE(WaitForNextPass());
  EXPECT_EQ(ProcessAffinity(children_.Handle(first)), 1u) << "a placement is never repeated for an unlisted process";
  EXPECT_EQ(Counter(L"CurrentEnforcedCount"), 1u);
  EXPECT_EQ(ReadListFile(), std::vector<std::wstring>{NameOf(second)}) << "the program never rewrites the list";
}

TEST_F(EnforceListFile, PatternWithManyStarsHoldsNothingUp) {
  // The shell's own matcher backtracks for minutes per name on this pattern.
  const size_t child = StartChildOnProcessorZero(L"tw_e2e_stars");
  WriteListFile({std::wstring(16, L'*') + L"z", NameOf(child)});
  WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"MethodCPUAffinity", 1);
  TarnwickProcess& instance = StartInstance();
  EXPECT_TRUE(WaitUntil([&] { return ProcessAffinity(children_.Handle(child)) == expectedMask_; }, 3s));
  ASSERT_TRUE(WaitForNextPass());
  EXPECT_EQ(Counter(L"CurrentEnforcedCount"), 1u);
  const RunResult close = Run({L"--close"});
  EXPECT_EQ(close.exitCode, 0u);
  EXPECT_TRUE(instance.WaitForExit(5s));
}

TEST_F(EnforceListFile, DamagedListFileMatchesNothingAndStaysUntouched) {
  const size_t child = StartChildOnProcessorZero(L"tw_e2e_damaged");
  // The child's name in 8-bit text that is not UTF-8 (a Latin-1 letter after
  // it): it pairs up into other units.
  std::string damaged;
  for (wchar_t c : NameOf(child)) damaged.push_back(static_cast<char>(c));
  damaged += "\r\n\xE9\x01";
  WriteFileBytes(ListFilePath(), damaged);
  WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"MethodCPUAffinity", 1);
  TarnwickProcess& instance = StartInstance();
  ASSERT_TRUE(WaitForNextPass());
  ASSERT_TRUE(WaitForNextPass());
  EXPECT_EQ(Counter(L"CurrentEnforcedCount"), 0u);
  EXPECT_GT(Counter(L"LastScannedCount").value_or(0), 0u);
  EXPECT_EQ(ProcessAffinity(children_.Handle(child)), 1u);
  EXPECT_EQ(ReadFileBytes(ListFilePath()), damaged);
  EXPECT_TRUE(instance.IsRunning());
}

}  // namespace
}  // namespace tarnwick::e2e
