#pragma once

// The terminal front end: the sign-in conversation (address, password
// without echo, then the authenticator or recovery code and whether to
// remember this computer), the status lines, and single-letter commands
// once signed in: r refresh, o print the folder, d dismiss the conflict,
// s sign out, q quit.
//
// Threads: every member on the model's executor; input lines and the end
// of input are posted there by the owner.

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/cli_options.hpp"
#include "app/cli/status_lines.hpp"
#include "app/model/app_model.hpp"

namespace cadrio::app::cli {

class TerminalFrontEnd {
public:
    struct Io {
        /// Writes a whole line.
        std::function<void(const std::string&)> printLine;
        /// Writes a prompt, without a line end.
        std::function<void(const std::string&)> prompt;
        std::function<void(bool on)> setEcho;
        /// Standard input is a terminal (Ctrl-D then quits; a pipe that ends
        /// leaves the session running).
        bool interactive = true;
    };

    /// `quit` is called once, with the exit code.
    TerminalFrontEnd(std::shared_ptr<AppModel> model, CliOptions options, Io io,
                     std::function<void(int exitCode)> quit);
    ~TerminalFrontEnd();

    void start();
    void onLine(std::string line);
    void onEndOfInput();

private:
    enum class Awaiting { nothing, email, password, code, remember };

    void modelChanged();
    void statusChanged();
    void askForSignIn();
    void askForCode();
    void take(std::string line);
    bool canTakeLine() const;
    void drainInput();
    void command(const std::string& line);
    void finish(int exitCode);

    std::shared_ptr<AppModel> model_;
    const CliOptions options_;
    Io io_;
    std::function<void(int)> quit_;
    StatusLines lines_;
    AppModel::ObserverId observer_ = 0;
    Awaiting awaiting_ = Awaiting::nothing;
    std::optional<AppStatus> handledStatus_;
    std::string email_;
    std::string code_;
    bool passwordFromStdinPending_;
    bool attemptedOnce_ = false;
    bool restored_ = false;
    bool verifySent_ = false;
    bool signingOut_ = false;
    std::deque<std::string> pending_;
    bool inputEnded_ = false;
    bool endHandled_ = false;
    bool finished_ = false;
};

}  // namespace cadrio::app::cli
