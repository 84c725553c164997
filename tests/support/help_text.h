// What "--help" prints on standard error: the options, an empty line and the
// exit codes. The unit tests of the command line and the end-to-end tests of
// the program both hold the program to it.
#pragma once

namespace tarnwick {

inline constexpr const char* kHelpOptionsText =
    "Options:\n"
    "  -h [ --help ]         show help\n"
    "  -c [ --close ]        Close running instances.\n"
    "  -i [ --install ]      Run install tasks.\n"
    "  -u [ --uninstall ]    Run uninstall tasks.\n"
    "  -w [ --show ]         Open main window at startup.\n";

inline constexpr const char* kHelpExitCodesText =
    "Exit codes:\n"
    "  0  done; with --close, every running instance has ended\n"
    "  1  --help; --install or --uninstall failed; --close found no instance running\n"
    "  2  the command line could not be read\n"
    "  3  --close: an instance was still running after about 10 s\n"
    "  4  a running instance ended itself because an enforcement pass did not stop\n";

}  // namespace tarnwick
