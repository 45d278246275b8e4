#include "platform/host/daemon_options.hpp"

#include <system_error>

namespace cadrio::host {
namespace {

/// Splits "--name=value"; `value` is empty when there is no '='.
std::pair<std::string, std::optional<std::string>> split(const std::string& argument) {
    const auto equals = argument.find('=');
    if (equals == std::string::npos || argument.rfind("--", 0) != 0) return {argument, std::nullopt};
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

}  // namespace

std::variant<DaemonOptions, std::string> parseDaemonOptions(const std::vector<std::string>& arguments) {
    DaemonOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        auto [name, value] = split(arguments[i]);
        const bool takesValue = name == "--mount-root" || name == "--plugin-path";
        if (takesValue && !value) {
            if (i + 1 == arguments.size()) return name + " needs a value";
            value = arguments[++i];
        }
        if (!takesValue && value) return name + " takes no value";
        if (name == "--foreground") {
            options.foreground = true;
        } else if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--mount-root") {
            if (value->empty()) return "--mount-root needs a folder";
            std::error_code error;
            std::filesystem::path root = std::filesystem::absolute(*value, error);
            if (error) return "--mount-root: " + error.message();
            options.mountRoot = root.lexically_normal();
            if (options.mountRoot->has_filename() == false) options.mountRoot = options.mountRoot->parent_path();
        } else if (name == "--plugin-path") {
            options.pluginPath = *value;
        } else {
            return "unknown option " + name;
        }
    }
    return options;
}

}  // namespace cadrio::host
