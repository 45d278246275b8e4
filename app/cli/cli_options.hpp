#pragma once

// The command line of zelvano-cadrio:
//
//   zelvano-cadrio [--headless [--email ADDRESS [--password-stdin]]] [--help]
//
// --headless runs the terminal front end instead of the tray. --email skips
// the address prompt; --password-stdin reads the password from the first
// line of standard input instead of asking for it (the terminal echo is
// never involved), which needs --email. "--option VALUE" and
// "--option=VALUE" are both accepted.

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace cadrio::app::cli {

struct CliOptions {
    bool headless = false;
    bool help = false;
    std::optional<std::string> email;
    bool passwordFromStdin = false;

    bool operator==(const CliOptions&) const = default;
};

/// Exit codes of the program, as --help lists them.
enum ExitCode : int {
    kExitQuit = 0,           // the user quit (q, Ctrl-C, SIGTERM, end of input)
    kExitSignInFailed = 1,   // sign-in failed where it cannot be asked again
    kExitUsage = 2,          // bad command line
    kExitUnavailable = 3,    // the host or the secret store could not be reached at start
};

extern const char* const kUsage;

/// The options, or the text of a usage error. `arguments` excludes the
/// program name.
std::variant<CliOptions, std::string> parseCliOptions(const std::vector<std::string>& arguments);

}  // namespace cadrio::app::cli
