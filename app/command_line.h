// The command line: which one-shot task to perform, if any.
#pragma once

#include <string>
#include <vector>

namespace tarnwick {

// In order of precedence when several are given.
enum class Command { Help, Install, Uninstall, Close, Run, Rejected };

struct CommandLine {
  Command command = Command::Run;
  bool showMainWindow = false;  // "--show": open the main window at start-up
  std::string problem;          // why the command line was rejected
};

// Parses the arguments (program name excluded). Long options may be
// abbreviated, short ones grouped; unknown options and bare words, such as
// the "-tray" of the logon task, are ignored. A value given to a switch or an
// ambiguous abbreviation gives Command::Rejected with the problem named.
[[nodiscard]] CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments);

// The arguments of a whole command line as Windows passes it to a program
// (its name first), split as the runtime splits this program's own, without
// the program name: what ParseCommandLine reads for another process.
[[nodiscard]] std::vector<std::wstring> ArgumentsOfCommandLine(const std::wstring& commandLine);

// The "Options" description as the options library prints it.
[[nodiscard]] std::string OptionsDescriptionText();

// Exit codes besides 0 (done) and 1 (a one-shot task failed, or "--close"
// found no instance).
inline constexpr int kHelpExitCode = 1;
inline constexpr int kRejectedExitCode = 2;
// "--close": an instance was still running when the wait ended.
inline constexpr int kCloseTimedOutExitCode = 3;
// A running instance ended itself because an enforcement pass did not stop.
inline constexpr int kStuckPassExitCode = 4;

// The exit codes as the help text lists them after the options.
[[nodiscard]] std::string ExitCodesText();

}  // namespace tarnwick
