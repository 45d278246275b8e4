// cadrio-devserver --port N [--seed NAME] [--data-dir DIR]
//
// Serves the drive API, storage, sign-in, event stream and admin API on
// 127.0.0.1. Prints "listening on http://127.0.0.1:PORT" once connections
// are accepted; stops cleanly on SIGINT or SIGTERM.

#include "devserver/dev_server.hpp"
#include "devserver/seeds.hpp"

#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

namespace {

struct Arguments {
    int port = -1;
    std::optional<std::string> seed;
    std::optional<std::string> dataDir;
};

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "cadrio-devserver: " << problem << "\n"
              << "usage: cadrio-devserver --port N [--seed NAME] [--data-dir DIR]\n"
              << "  --port N        port on 127.0.0.1 (0 picks a free one)\n"
              << "  --seed NAME     start from a named state: demo, empty\n"
              << "  --data-dir DIR  keep metadata and contents in DIR across restarts\n";
    std::exit(2);
}

Arguments parse(int argc, char** argv) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") usage("help");
        if (i + 1 >= argc) usage("missing value after " + option);
        const std::string value = argv[++i];
        if (option == "--port") {
            char* end = nullptr;
            errno = 0;
            const long port = std::strtol(value.c_str(), &end, 10);
            if (errno != 0 || end == value.c_str() || *end != '\0' || port < 0 || port > 65535) {
                usage("invalid port: " + value);
            }
            arguments.port = static_cast<int>(port);
        } else if (option == "--seed") {
            if (!cadrio::devserver::isSeedName(value)) usage("unknown seed: " + value);
            arguments.seed = value;
        } else if (option == "--data-dir") {
            arguments.dataDir = value;
        } else {
            usage("unknown option: " + option);
        }
    }
    if (arguments.port < 0) usage("--port is required");
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    const auto arguments = parse(argc, argv);

    // The signals are taken synchronously by this thread; every server
    // thread inherits the mask, so none of them is interrupted.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        cadrio::devserver::DevServerOptions options;
        if (arguments.dataDir) options.dataDir = *arguments.dataDir;
        cadrio::devserver::DevServer server(options);
        if (arguments.seed) {
            if (arguments.dataDir && server.hasAccounts()) {
                std::cerr << "cadrio-devserver: " << *arguments.dataDir
                          << " holds a saved state; --seed ignored (POST /_admin/seed replaces it)\n";
            } else {
                server.seed(*arguments.seed);
            }
        }
        const int port = server.start(arguments.port);
        std::cout << "listening on http://127.0.0.1:" << port << std::endl;

        int received = 0;
        sigwait(&stopSignals, &received);
        server.stop();
    } catch (const std::exception& error) {
        std::cerr << "cadrio-devserver: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
