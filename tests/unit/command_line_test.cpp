#include "app/command_line.h"

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

TEST(CommandLine, TextThatIsNotValidUtf16NeitherCrashesNorRuns) {
  const CommandLine parsed = ParseCommandLine({std::wstring(L"--\xD800show"), std::wstring(L"\xDC00")});
  EXPECT_TRUE(parsed.command == Command::Run || parsed.command == Command::Rejected);
}

TEST(CommandLine, OptionsDescriptionIsTheHelpText) {
  EXPECT_EQ(OptionsDescriptionText(),
            "Options:\n"
            "  -h [ --help ]         show help\n"
            "  -c [ --close ]        Close running instances.\n"
            "  -i [ --install ]      Run install tasks.\n"
            "  -u [ --uninstall ]    Run uninstall tasks.\n"
            "  -w [ --show ]         Open main window at startup.\n");
}

}  // namespace
}  // namespace tarnwick
