// zelvano-cadrio: the Cadrio drive's application. The tray comes with its
// views; until then the terminal front end is the way in.

#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "app/cli/cli_options.hpp"
#include "app/cli/headless.hpp"

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
    if (!options.headless) {
        std::cerr << "zelvano-cadrio : l'icône de barre d'état n'est pas encore disponible ; lancez zelvano-cadrio --headless.\n";
        return kExitUsage;
    }
    return runHeadless(options);
}
