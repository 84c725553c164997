#include "app/command_line.h"
#include "tests/support/help_text.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

struct DispatchCase {
  std::vector<std::wstring> arguments;
  Command command;
  bool showMainWindow;
};

class CommandLineDispatch : public testing::TestWithParam<DispatchCase> {};

TEST_P(CommandLineDispatch, ChoosesTheCommand) {
  const DispatchCase& expected = GetParam();
  const CommandLine parsed = ParseCommandLine(expected.arguments);
  EXPECT_EQ(parsed.command, expected.command) << parsed.problem;
  EXPECT_EQ(parsed.showMainWindow, expected.showMainWindow);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineDispatch,
    testing::Values(DispatchCase{{}, Command::Run, false},
                    DispatchCase{{L"--help", L"--install"}, Command::Help, false},
                    DispatchCase{{L"--close", L"--uninstall", L"--install"}, Command::Install, false},
                    DispatchCase{{L"--close", L"-u"}, Command::Uninstall, false},
                    DispatchCase{{L"-c"}, Command::Close, false}, DispatchCase{{L"--inst"}, Command::Install, false},
                    DispatchCase{{L"--unin"}, Command::Uninstall, false}, DispatchCase{{L"-hw"}, Command::Help, true},
                    DispatchCase{{L"--show"}, Command::Run, true}, DispatchCase{{L"-w", L"-tray"}, Command::Run, true},
                    DispatchCase{{L"-tray"}, Command::Run, false}, DispatchCase{{L"--foo"}, Command::Run, false},
                    DispatchCase{{L"--foo=bar", L"bare", L"words"}, Command::Run, false}));

TEST(CommandLine, ValueGivenToASwitchIsRejectedWithTheOptionNamed) {
  for (const wchar_t* argument : {L"--show=1", L"--help=yes", L"--close=now"}) {
    const CommandLine parsed = ParseCommandLine({argument});
    EXPECT_EQ(parsed.command, Command::Rejected) << testing::PrintToString(std::wstring(argument));
    EXPECT_NE(parsed.problem.find(std::string(argument + 2, argument + 6)), std::string::npos) << parsed.problem;
    EXPECT_EQ(parsed.problem.find('\n'), std::string::npos) << "one line";
  }
}

// Text that is not valid UTF-16 (a lone surrogate) is a word like any other:
// as an unknown option or a bare word it is ignored, beside a known option it
// leaves that option standing, and inside a group of short options, which the
// parser must convert to read, it rejects the command line.
TEST(CommandLine, TextThatIsNotValidUtf16IsIgnoredAsAnUnknownWordAndRejectedInAGroup) {
  const struct {
    std::vector<std::wstring> arguments;
    Command command;
    bool showMainWindow;
  } cases[] = {
      {{std::wstring(L"--\xD800show"), std::wstring(L"\xDC00")}, Command::Run, false},
      {{std::wstring(L"--sh\xD800ow")}, Command::Run, false},
      {{L"--show", std::wstring(L"\xDC00")}, Command::Run, true},
      {{std::wstring(L"-w\xD800")}, Command::Rejected, false},
  };
  for (const auto& c : cases) {
    const CommandLine parsed = ParseCommandLine(c.arguments);
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    EXPECT_EQ(parsed.command, c.command) << parsed.problem;
    EXPECT_EQ(parsed.showMainWindow, c.showMainWindow);
    EXPECT_EQ(parsed.problem.empty(), c.command != Command::Rejected) << parsed.problem;
  }
}

TEST(CommandLine, OptionsDescriptionAndExitCodesAreTheHelpText) {
  EXPECT_EQ(OptionsDescriptionText(), kHelpOptionsText);
  EXPECT_EQ(ExitCodesText(), kHelpExitCodesText);
}

}  // namespace
}  // namespace tarnwick
