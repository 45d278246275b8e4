#include "platform/host/pluginkit_command.hpp"

#include <exception>
#include <optional>

namespace cadrio::host {
namespace {

constexpr const char* kUsage = "usage: cadrio-pluginkit -m [-i identifier] | -e use|ignore -i identifier\n";

struct Command {
    bool match = false;
    std::optional<std::string> election;  // "use" or "ignore"
    std::optional<std::string> identifier;
};

/// The command, or nullopt for a usage error.
std::optional<Command> parse(const std::vector<std::string>& arguments) {
    Command command;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "-m" && !command.match) {
            command.match = true;
        } else if (argument == "-e" && hasValue && !command.election) {
            command.election = arguments[++i];
        } else if (argument == "-i" && hasValue && !command.identifier) {
            command.identifier = arguments[++i];
        } else {
            return std::nullopt;
        }
    }
    if (command.match == command.election.has_value()) return std::nullopt;
    if (command.election) {
        if (*command.election != "use" && *command.election != "ignore") return std::nullopt;
        if (!command.identifier || command.identifier->empty()) return std::nullopt;
    }
    return command;
}

int list(const Command& command, const PluginRegistry& registry, std::ostream& out) {
    for (const PluginManifest& plugin : registry.plugins()) {
        if (command.identifier && plugin.identifier != *command.identifier) continue;
        out << (registry.isElected(plugin.identifier) ? '+' : '-') << "    " << plugin.identifier << '('
            << plugin.version << ")\n";
    }
    return 0;
}

int elect(const Command& command, PluginRegistry& registry, std::ostream& err) {
    try {
        if (registry.setElected(*command.identifier, *command.election == "use")) return 0;
        err << "cadrio-pluginkit: no plug-in named " << *command.identifier << "\n";
    } catch (const std::exception& e) {
        err << "cadrio-pluginkit: cannot record the election: " << e.what() << "\n";
    }
    return 1;
}

}  // namespace

int runPluginKit(const std::vector<std::string>& arguments, PluginRegistry& registry, std::ostream& out,
                 std::ostream& err) {
    const std::optional<Command> command = parse(arguments);
    if (!command) {
        err << kUsage;
        return kExitUsage;
    }
    return command->match ? list(*command, registry, out) : elect(*command, registry, err);
}

}  // namespace cadrio::host
