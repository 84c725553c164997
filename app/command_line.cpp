#include "app/command_line.h"

#include "platform/unique_handle.h"

#include <boost/program_options.hpp>
#include <shellapi.h>

#include <new>
#include <sstream>

namespace tarnwick {
namespace po = boost::program_options;
namespace {

po::options_description MakeOptionsDescription(bool& showMainWindow) {
  po::options_description options("Options");
  // One option a line, as --help lists them.
  // clang-format off
  options.add_options()
      ("help,h", "show help")
      ("close,c", "Close running instances.")
      ("install,i", "Run install tasks.")
      ("uninstall,u", "Run uninstall tasks.")
      ("show,w", po::bool_switch(&showMainWindow), "Open main window at startup.");
  // clang-format on
  return options;
}

Command ChooseCommand(const po::variables_map& variables) {
  if (variables.count("help")) return Command::Help;
  if (variables.count("install")) return Command::Install;
  if (variables.count("uninstall")) return Command::Uninstall;
  if (variables.count("close")) return Command::Close;
  return Command::Run;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments) {
  CommandLine result;
  try {
    const po::options_description options = MakeOptionsDescription(result.showMainWindow);
    po::variables_map variables;
    po::store(po::wcommand_line_parser(arguments).options(options).allow_unregistered().run(), variables);
    po::notify(variables);
    result.command = ChooseCommand(variables);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& problem) {
    // Parser errors, and conversion errors of text that is not valid UTF-16.
    result = CommandLine{Command::Rejected, false, problem.what()};
  }
  return result;
}

std::vector<std::wstring> ArgumentsOfCommandLine(const std::wstring& commandLine) {
  std::vector<std::wstring> arguments;
  // An empty text would be split as this program's own path.
  if (commandLine.empty()) return arguments;
  int count = 0;
  unique_hlocal split(::CommandLineToArgvW(commandLine.c_str(), &count));
  if (!split) return arguments;
  const auto* words = static_cast<const wchar_t* const*>(split.get());
  for (int index = 1; index < count; ++index) arguments.emplace_back(words[index]);
  return arguments;
}

std::string ExitCodesText() {
  return "Exit codes:\n"
         "  0  done; with --close, every running instance has ended\n"
         "  1  --help; --install or --uninstall failed; --close found no instance running\n"
         "  2  the command line could not be read\n"
         "  3  --close: an instance was still running after about 10 s\n"
         "  4  a running instance ended itself because an enforcement pass did not stop\n";
}

std::string OptionsDescriptionText() {
  bool unused = false;
  std::ostringstream text;
  text << MakeOptionsDescription(unused);
  return text.str();
}

}  // namespace tarnwick
