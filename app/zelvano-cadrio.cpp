// zelvano-cadrio: the Cadrio drive's application: the tray icon and its
// panel, or with --headless the terminal front end over the same model.

#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "app/cli/cli_options.hpp"
#include "app/cli/headless.hpp"
#include "app/views/tray_application.hpp"

int main(int argc, char** argv) {
    using namespace cadrio::app::cli;
    const auto parsed = parseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        std::cerr << "zelvano-cadrio : " << *problem << '\n' << kUsage;
        return kExitUsage;
    }
    const CliOptions& options = std::get<CliOptions>(parsed);
    if (options.help) {
        std::cout << kUsage;
        return kExitQuit;
    }
    if (!options.headless) return cadrio::app::views::runTray(argc, argv);
    return runHeadless(options);
}
