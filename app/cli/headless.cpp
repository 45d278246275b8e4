#include "app/cli/headless.hpp"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>

#include "app/cli/terminal_front_end.hpp"
#include "app/cli/terminal_input.hpp"
#include "app/model/app_dependencies.hpp"
#include "app/model/loop_executor.hpp"
#include "app/model/pool_executor.hpp"
#include "core/model/zelvano_cadrio.hpp"
#include "platform/desktop/termination_signals.hpp"

namespace cadrio::app::cli {
namespace {

// Bus calls, sign-in and the quota: a few at once is plenty for one user.
constexpr std::size_t kBackgroundThreads = 4;

void writeOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

int runHeadless(const CliOptions& options) {
    const log::Logger logger{std::string(ZelvanoCadrio::logSubsystem), std::string(ZelvanoCadrio::logCategoryApp)};
    desktop::TerminationSignals signals(logger);  // first, before any thread starts
    LoopExecutor executor(SystemClock::shared());
    std::optional<int> exitCode;
    auto quit = [&](int code) {
        if (!exitCode) exitCode = code;
        executor.stop();
    };
    signals.start([&](int) { executor.post([&] { quit(kExitQuit); }); });

    PoolExecutor background(kBackgroundThreads);
    std::shared_ptr<AppModel> model;
    try {
        model = AppModel::create(makeAppDependencies(executor, background, {.manageLoginItem = false}));
    } catch (const std::exception& error) {
        std::cerr << "zelvano-cadrio : " << error.what() << '\n';
        return kExitUnavailable;
    }

    std::unique_ptr<TerminalInput> input;
    TerminalFrontEnd::Io io{
        .printLine = [](const std::string& line) { writeOut(line + "\n"); },
        .prompt = [](const std::string& text) { writeOut(text); },
        .setEcho = [&](bool on) { if (input) input->setEcho(on); },
        .interactive = ::isatty(STDIN_FILENO) != 0,
    };
    auto frontEnd = std::make_unique<TerminalFrontEnd>(model, options, io, quit);
    input = std::make_unique<TerminalInput>(
        STDIN_FILENO,
        [&](std::string line) { executor.post([&, line = std::move(line)]() mutable { frontEnd->onLine(std::move(line)); }); },
        [&] { executor.post([&] { frontEnd->onEndOfInput(); }); });
    executor.post([&] { frontEnd->start(); });
    executor.run();

    // The reader goes first so that no line reaches a front end that is gone;
    // the model's destruction ends its live session.
    input.reset();
    frontEnd.reset();
    model.reset();
    return exitCode.value_or(kExitQuit);
}

}  // namespace cadrio::app::cli
