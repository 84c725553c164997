// The diagnostics seam and the program's event provider.
#include "platform/diagnostics.h"
#include "platform/etw_diagnostics.h"

#include "tests/fakes/recording_diagnostics.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/scratch_registry.h"

namespace tarnwick {
namespace {

using ::testing::ElementsAre;

// A part that counts how often it is formatted.
struct CountedPart {
  int* formatted;
};
void AppendDiagnosticPart(std::wstring& text, const CountedPart& part) {
  ++*part.formatted;
  text += L"counted";
}

TEST(Diagnostics, PartsAreJoinedWithErrorsAsWindowsShowsThem) {
  RecordingDiagnostics sink;
  ReportDiagnostic(DiagnosticLevel::Warning, L"placement refused: ", std::wstring(L"game.exe"), L" (pid ", DWORD{1234},
                   L") CPU affinity: ", Win32Error{ERROR_ACCESS_DENIED});
  ReportDiagnostic(DiagnosticLevel::Error, L"install refused: ", StatusError{E_ACCESSDENIED}, L" ",
                   StatusError{HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE)});
  const auto events = sink.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].level, DiagnosticLevel::Warning);
  EXPECT_EQ(events[0].text, L"placement refused: game.exe (pid 1234) CPU affinity: error 5");
  EXPECT_EQ(events[1].level, DiagnosticLevel::Error);
  EXPECT_EQ(events[1].text, L"install refused: error 0x80070005 error 0x80070426");
}

TEST(Diagnostics, NothingIsFormattedOrSentWhileNoOneListens) {
  int formatted = 0;
  {
    RecordingDiagnostics sink;
    sink.SetListening(false);
    ReportDiagnostic(DiagnosticLevel::Error, L"worker not started: ", CountedPart{&formatted});
    EXPECT_EQ(formatted, 0);
    EXPECT_EQ(sink.Questions(), 1);
    EXPECT_EQ(sink.Unasked(), 0u);
    sink.SetListening(true);
    ReportDiagnostic(DiagnosticLevel::Error, L"worker not started: ", CountedPart{&formatted});
    EXPECT_EQ(formatted, 1);
    EXPECT_THAT(sink.Texts(), ElementsAre(L"worker not started: counted"));
  }
  // No sink installed any more: nobody listens, nothing is formatted.
  EXPECT_FALSE(DiagnosticsListening(DiagnosticLevel::Error));
  ReportDiagnostic(DiagnosticLevel::Error, CountedPart{&formatted});
  EXPECT_EQ(formatted, 1);
}

// Under Wine EventRegister succeeds with a placeholder handle, no session
// ever enables the provider and EventWriteString is a stub. On Windows no
// session records "Tarnwick" while the tests run unless someone started one.
TEST(EtwDiagnostics, RegistersTheProviderAndSendsNothingWhileNoSessionRecordsIt) {
  EtwDiagnostics provider;
  EXPECT_TRUE(provider.Registered());
  if (testing_support::RunningUnderWine()) {
    EXPECT_FALSE(provider.Listening(DiagnosticLevel::Error));
    EXPECT_FALSE(provider.Listening(DiagnosticLevel::Warning));
  }
  const InstalledDiagnostics installed(provider);
  int formatted = 0;
  ReportDiagnostic(DiagnosticLevel::Error, CountedPart{&formatted});
  if (testing_support::RunningUnderWine()) {
    EXPECT_EQ(formatted, 0);
  }
  // A write without a listener is dropped by the system, never an error of ours.
  provider.Write(DiagnosticLevel::Error, L"written while no one listens");
}

}  // namespace
}  // namespace tarnwick
