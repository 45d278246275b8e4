#include "app/cli/terminal_front_end.hpp"

#include <algorithm>
#include <cctype>
#include <utility>

namespace cadrio::app::cli {
namespace {

constexpr const char* kCommands =
    "Commandes : r actualiser, o dossier, d masquer le conflit, s se déconnecter, q quitter";

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

TerminalFrontEnd::TerminalFrontEnd(std::shared_ptr<AppModel> model, CliOptions options, Io io,
                                   std::function<void(int)> quit)
    : model_(std::move(model)),
      options_(std::move(options)),
      io_(std::move(io)),
      quit_(std::move(quit)),
      lines_(io_.printLine),
      passwordFromStdinPending_(options_.passwordFromStdin) {}

TerminalFrontEnd::~TerminalFrontEnd() {
    if (observer_ != 0) model_->unobserve(observer_);
}

void TerminalFrontEnd::start() {
    observer_ = model_->observe([this](AppModel::Field) { modelChanged(); });
    model_->whenRestored([this] {
        restored_ = true;
        modelChanged();
    });
}

void TerminalFrontEnd::modelChanged() {
    if (finished_ || !restored_) return;
    // A sign-out first stops the live session: its lines going blank on the
    // way out would only be noise.
    if (signingOut_ && model_->status().kind() != AppStatus::Kind::signedOut) return;
    lines_.update(*model_);
    if (handledStatus_ != model_->status()) {
        handledStatus_ = model_->status();
        statusChanged();
    } else if (verifySent_ && !model_->isVerifying()) {
        verifySent_ = false;
        if (model_->status().kind() == AppStatus::Kind::twoFactor) {
            if (model_->twoFactorError()) io_.printLine("Code refusé : " + *model_->twoFactorError());
            askForCode();
        }
    }
    drainInput();
}

void TerminalFrontEnd::statusChanged() {
    const AppStatus& status = model_->status();
    switch (status.kind()) {
    case AppStatus::Kind::signedOut:
        if (std::exchange(signingOut_, false)) io_.printLine("Déconnecté.");
        if (attemptedOnce_ && !io_.interactive) return finish(kExitQuit);
        return askForSignIn();
    case AppStatus::Kind::connecting:
        return;
    case AppStatus::Kind::twoFactor:
        return askForCode();
    case AppStatus::Kind::ready:
        awaiting_ = Awaiting::nothing;
        io_.printLine(kCommands);
        return;
    case AppStatus::Kind::failed:
        if (attemptedOnce_ && !io_.interactive) return finish(kExitSignInFailed);
        return askForSignIn();
    }
}

void TerminalFrontEnd::askForSignIn() {
    if (passwordFromStdinPending_) {
        email_ = *options_.email;
        awaiting_ = Awaiting::password;  // the first line of standard input, unprompted
        return;
    }
    if (options_.email && !attemptedOnce_) {
        email_ = *options_.email;
        io_.setEcho(false);
        io_.prompt("Mot de passe : ");
        awaiting_ = Awaiting::password;
        return;
    }
    const std::string& last = model_->lastEmail();
    io_.prompt(last.empty() ? "Adresse : " : "Adresse [" + last + "] : ");
    awaiting_ = Awaiting::email;
}

void TerminalFrontEnd::askForCode() {
    const auto& challenge = model_->status().challenge();
    if (!challenge) return;
    io_.prompt(challenge->acceptsAuthenticatorCode()
                   ? "Code de l'application d'authentification ou code de secours : "
                   : "Code de secours : ");
    awaiting_ = Awaiting::code;
}

void TerminalFrontEnd::onLine(std::string line) {
    if (finished_) return;
    // Lines typed ahead (or a password piped in before the launch restore
    // ended) wait for the question they answer.
    pending_.push_back(std::move(line));
    drainInput();
}

void TerminalFrontEnd::onEndOfInput() {
    inputEnded_ = true;
    drainInput();
}

bool TerminalFrontEnd::canTakeLine() const {
    return restored_ && (awaiting_ != Awaiting::nothing || model_->status().kind() == AppStatus::Kind::ready);
}

void TerminalFrontEnd::drainInput() {
    while (!finished_ && !pending_.empty() && canTakeLine()) {
        std::string line = std::move(pending_.front());
        pending_.pop_front();
        take(std::move(line));
    }
    if (!inputEnded_ || !pending_.empty() || endHandled_ || finished_) return;
    endHandled_ = true;
    if (io_.interactive) return finish(kExitQuit);
    if (awaiting_ == Awaiting::password && passwordFromStdinPending_) finish(kExitSignInFailed);
}

void TerminalFrontEnd::take(std::string line) {
    switch (awaiting_) {
    case Awaiting::email: {
        std::string email = trimmed(line);
        if (email.empty()) email = model_->lastEmail();
        if (email.empty()) return askForSignIn();
        email_ = std::move(email);
        io_.setEcho(false);
        io_.prompt("Mot de passe : ");
        awaiting_ = Awaiting::password;
        return;
    }
    case Awaiting::password:
        io_.setEcho(true);
        awaiting_ = Awaiting::nothing;
        passwordFromStdinPending_ = false;
        attemptedOnce_ = true;
        model_->signIn(email_, std::move(line));
        return;
    case Awaiting::code:
        code_ = trimmed(line);
        if (code_.empty()) return askForCode();
        io_.prompt("Se souvenir de cet ordinateur ? [o/N] : ");
        awaiting_ = Awaiting::remember;
        return;
    case Awaiting::remember: {
        const auto& challenge = model_->status().challenge();
        awaiting_ = Awaiting::nothing;
        if (!challenge) return;
        const std::string answer = trimmed(line);
        const bool remember = !answer.empty() && (answer[0] == 'o' || answer[0] == 'O');
        const bool totp = challenge->acceptsAuthenticatorCode() &&
                          (allDigits(code_) || !challenge->acceptsRecoveryCode());
        verifySent_ = true;
        model_->verifyTwoFactor(*challenge, code_, totp ? TwoFactorMethod::totp : TwoFactorMethod::recovery,
                                remember);
        return;
    }
    case Awaiting::nothing:
        if (model_->status().kind() == AppStatus::Kind::ready) command(trimmed(line));
        return;
    }
}

void TerminalFrontEnd::command(const std::string& line) {
    if (line.empty()) return;
    if (line == "r") {
        io_.printLine("Actualisation…");
        model_->refresh([this] {
            if (!finished_) io_.printLine("Actualisation terminée.");
        });
    } else if (line == "o") {
        model_->userVisibleFolder([this](std::filesystem::path folder) {
            if (!finished_) io_.printLine("Dossier : " + folder.string());
        });
    } else if (line == "d") {
        model_->dismissConflict();
    } else if (line == "s") {
        signingOut_ = true;
        model_->signOut();
    } else if (line == "q") {
        finish(kExitQuit);
    } else {
        io_.printLine(kCommands);
    }
}

void TerminalFrontEnd::finish(int exitCode) {
    if (finished_) return;
    finished_ = true;
    io_.setEcho(true);
    quit_(exitCode);
}

}  // namespace cadrio::app::cli
