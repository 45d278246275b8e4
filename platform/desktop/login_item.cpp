#include "platform/desktop/login_item.hpp"

#include <cerrno>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "core/support/atomic_file.hpp"
#include "platform/desktop/config_home.hpp"

namespace cadrio::desktop {
namespace {

namespace fs = std::filesystem;

// An entry this size is not a launcher any more; it counts as present.
constexpr std::size_t kMaxEntryBytes = 1 << 20;

bool hasControlCharacter(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    }
    return false;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool equalsIgnoringCase(std::string_view text, std::string_view lowercase) {
    if (text.size() != lowercase.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != lowercase[i]) return false;
    }
    return true;
}

/// Whether the [Desktop Entry] group switches the entry off; any line it
/// cannot make sense of is passed over.
bool switchedOff(std::string_view contents) {
    bool inMainGroup = false;
    bool hidden = false;
    bool autostartDisabled = false;
    while (!contents.empty()) {
        const auto end = contents.find('\n');
        const std::string_view line = trimmed(contents.substr(0, end));
        contents = end == std::string_view::npos ? std::string_view{} : contents.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string_view::npos) continue;
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (key == "Hidden") {
            hidden = equalsIgnoringCase(value, "true");
        } else if (key == "X-GNOME-Autostart-enabled") {
            autostartDisabled = equalsIgnoringCase(value, "false");
        }
    }
    return hidden || autostartDisabled;
}

bool needsQuoting(std::string_view argument) {
    return argument.empty() || argument.find_first_of(" \t\"'\\><~|&;$*?#()`") != std::string_view::npos;
}

std::string quotedArgument(std::string_view argument) {
    if (!needsQuoting(argument)) return std::string(argument);
    std::string out = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

}  // namespace

AutostartLoginItem::AutostartLoginItem(fs::path entry, std::string command)
    : entry_(std::move(entry)), command_(std::move(command)) {
    if (hasControlCharacter(command_)) throw std::invalid_argument("login item command holds a control character");
}

std::string AutostartLoginItem::execLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const auto& argument : arguments) {
        if (hasControlCharacter(argument)) throw std::invalid_argument("argument holds a control character");
        if (!line.empty()) line += ' ';
        line += quotedArgument(argument);
    }
    // Two levels: field codes take '%', and the value's own escapes take '\'.
    std::string escaped;
    for (const char c : line) {
        if (c == '%') escaped += '%';
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

fs::path AutostartLoginItem::standardLocation() { return configHome() / "autostart" / "zelvano-cadrio.desktop"; }

LoginItemStatus AutostartLoginItem::status() const {
    std::string contents;
    try {
        contents = readWholeFile(entry_, kMaxEntryBytes);
    } catch (const std::system_error& e) {
        if (e.code() == std::errc::no_such_file_or_directory || e.code() == std::errc::not_a_directory) {
            return LoginItemStatus::notRegistered;
        }
        return LoginItemStatus::enabled;  // there, even if we cannot read why it might be off
    }
    return switchedOff(contents) ? LoginItemStatus::notRegistered : LoginItemStatus::enabled;
}

void AutostartLoginItem::registerItem() {
    const std::string contents = "[Desktop Entry]\n"
                                 "Type=Application\n"
                                 "Name=Zelvano Cadrio\n"
                                 "Comment=Le Cadrio comme un dossier\n"
                                 "Exec=" + command_ + "\n"
                                 "X-GNOME-Autostart-enabled=true\n";
    fs::create_directories(entry_.parent_path());
    writeFileAtomically(entry_, contents, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                              fs::perms::others_read);
}

void AutostartLoginItem::unregisterItem() { fs::remove(entry_); }

}  // namespace cadrio::desktop
