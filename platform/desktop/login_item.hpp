#pragma once

// Opening the application at login, as an XDG autostart entry:
// $XDG_CONFIG_HOME/autostart/zelvano-cadrio.desktop. Enabled means the
// entry exists and is not switched off by "Hidden=true" or
// "X-GNOME-Autostart-enabled=false" (a desktop's own settings may write
// either). Linux never asks the user to approve a login item, so the
// requires-approval state is never reported by this backing.
//
// Threads: any; the file is the only state.

#include <filesystem>
#include <string>
#include <vector>

namespace cadrio::desktop {

enum class LoginItemStatus { notRegistered, enabled, requiresApproval };

class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual LoginItemStatus status() const = 0;
    /// Throws std::system_error (or std::filesystem::filesystem_error).
    virtual void registerItem() = 0;
    virtual void unregisterItem() = 0;
};

class AutostartLoginItem final : public LoginItem {
public:
    /// `entry`: where the desktop entry lives; `command`: its Exec line as
    /// execLine() makes it. Throws std::invalid_argument for a command
    /// holding a line break or another control character.
    AutostartLoginItem(std::filesystem::path entry, std::string command);

    /// The Exec value that runs `arguments` (the program's absolute path
    /// first) as they are: each quoted when it needs to be, '%' doubled,
    /// backslashes escaped as desktop entries escape them. Throws
    /// std::invalid_argument for an argument holding a control character.
    static std::string execLine(const std::vector<std::string>& arguments);

    /// $XDG_CONFIG_HOME/autostart/zelvano-cadrio.desktop. Throws std::runtime_error
    /// when no home folder can be found.
    static std::filesystem::path standardLocation();

    LoginItemStatus status() const override;
    /// Writes the entry atomically, replacing one switched off.
    void registerItem() override;
    /// Removes the entry; none is fine.
    void unregisterItem() override;

private:
    const std::filesystem::path entry_;
    const std::string command_;
};

}  // namespace cadrio::desktop
