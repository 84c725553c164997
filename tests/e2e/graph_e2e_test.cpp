// The utilization graph as a user sees it in the real program: one panel with
// a cell per logical processor of this machine, each named in its tooltip,
// and a processor kept busy by a child process shows as busy in its cell and
// in the status bar's P-core mean.
#include <gmock/gmock.h>

#include <string>

#include "res/resource.h"
#include "tests/child/child_processes.h"
#include "tests/e2e/driver/tarnwick_driver.h"
#include "tests/e2e/driver/window_controls.h"

namespace tarnwick::e2e {
namespace {

class GraphTest : public TarnwickTest {
 protected:
  void SetUp() override { DeleteRegistryTree(HKEY_CURRENT_USER, L"Software\\Tarnwick"); }
  void TearDown() override {
    TarnwickTest::TearDown();
    DeleteRegistryTree(HKEY_CURRENT_USER, L"Software\\Tarnwick");
    ::DeleteFileW(ListFilePath().c_str());
  }
  ChildProcesses children_{FindIdleChildProgram()};
};

TEST_F(GraphTest, EveryProcessorHasANamedCellAndABusyOneShowsItsLoad) {
  const DWORD processors = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  ASSERT_GE(processors, 2u) << "the test keeps processor 1 busy";
  TarnwickProcess& program = StartInstance();
  PostTrayCallback(FindTrayWindow(), WM_LBUTTONUP);
  const HWND main = WaitForDialog(program.Id(), L"Tarnwick");
  ASSERT_NE(main, nullptr);

  std::vector<GraphPanel> panels;
  ASSERT_TRUE(WaitUntil([&] {
    panels = GraphPanels(main);
    return panels.size() == 1 && ::IsWindowVisible(panels[0].box);
  })) << "one visible panel";
  EXPECT_EQ(panels[0].title, L"% CPU");
  ASSERT_EQ(panels[0].cells.size(), processors);
  for (size_t k = 0; k < processors; ++k) {
    EXPECT_EQ(ToolTipText(panels[0].box, panels[0].cells[k]), L"Node 0, Logical CPU " + std::to_wstring(k));
  }

  ASSERT_NE(children_.Start(L"spinner.exe", L"spin"), 0u) << children_.LastFailure();
  ASSERT_TRUE(::SetProcessAffinityMask(children_.Handle(0), 0x2));
  const HWND busyCell = panels[0].cells[1];
  const HWND statusBar = ::GetDlgItem(main, IDC_STATUS_BAR);
  int position = 0;
  std::wstring pMean;
  EXPECT_TRUE(WaitUntil(
      [&] {
        position = ProgressPosition(busyCell);
        pMean = StatusBarPartText(statusBar, 1);
        return position >= 80 && pMean != L"P-Core usage: 0.00%";
      },
      5s))
      << "processor 1 at " << position << ", status " << testing::PrintToString(pMean);
  TakeScreenshot(ArtifactName("main-window-graph"), main);
}

}  // namespace
}  // namespace tarnwick::e2e
