#include "app/views/tray_application.hpp"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "app/model/app_dependencies.hpp"
#include "app/model/desktop_alerts.hpp"
#include "app/model/pool_executor.hpp"
#include "app/updates/updater.hpp"
#include "app/views/menu_content.hpp"
#include "app/views/qt_executor.hpp"
#include "app/views/settings_window.hpp"
#include "app/views/symbols.hpp"
#include "app/views/tray_shell.hpp"
#include "app/views/view_environment.hpp"
#include "core/http/curl_transport.hpp"
#include "core/model/zelvano_cadrio.hpp"
#include "platform/desktop/desktop_notifications.hpp"
#include "platform/desktop/termination_signals.hpp"

namespace cadrio::app::views {
namespace {

// Bus calls, sign-in and the quota: a few at once is plenty for one user.
constexpr std::size_t kBackgroundThreads = 4;
// The terminal front end's code for "the host or the secret store could
// not be reached at start".
constexpr int kExitUnavailable = 3;

void openUrl(const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }

/// Null when the build has no feed or its address cannot be used safely
/// (said in the log): the panel then shows no update controls.
std::shared_ptr<Updater> makeUpdater(SerialExecutor& executor, Executor& background, const log::Logger& logger) {
    try {
        return Updater::create({
            .executor = executor,
            .background = background,
            .transport = std::make_shared<CurlTransport>(),
            .feedURL = Updater::feedURLFromEnvironment(),
            .currentVersion = CADRIO_VERSION,
            .openUrl = openUrl,
        });
    } catch (const std::invalid_argument& error) {
        logger.error("Mises à jour désactivées : {}", std::string(error.what()));
        return nullptr;
    }
}

void present(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace

int runTray(int argc, char** argv) {
    const log::Logger logger{std::string(ZelvanoCadrio::logSubsystem), std::string(ZelvanoCadrio::logCategoryApp)};
    desktop::TerminationSignals signals(logger);  // before Qt starts its threads, which inherit the mask
    QApplication application(argc, argv);
    QApplication::setApplicationName("zelvano-cadrio");
    QApplication::setApplicationDisplayName("Zelvano Cadrio");
    QApplication::setApplicationVersion(CADRIO_VERSION);
    QApplication::setDesktopFileName("zelvano-cadrio");
    QApplication::setWindowIcon(applicationIcon());

    QtExecutor executor(SystemClock::shared());
    signals.start([&executor](int) { executor.post([] { QCoreApplication::quit(); }); });
    std::shared_ptr<AppModel> model;
    std::shared_ptr<DomainControlling> domains;
    // Declared after the model's executor and before the model: its jobs
    // are drained before the model and the executor go.
    PoolExecutor background(kBackgroundThreads);
    try {
        AppModel::Dependencies dependencies = makeAppDependencies(executor, background, {.manageLoginItem = true});
        domains = dependencies.domains;
        model = AppModel::create(std::move(dependencies));
    } catch (const std::exception& error) {
        std::cerr << "zelvano-cadrio : " << error.what() << '\n';
        QMessageBox::critical(nullptr, "Zelvano Cadrio", QString::fromUtf8(error.what()));
        return kExitUnavailable;
    }

    std::shared_ptr<Updater> updater = makeUpdater(executor, background, logger);
    std::shared_ptr<DesktopAlerts> alerts = DesktopAlerts::create(
        *model, executor, *domains, std::make_shared<desktop::DesktopNotifications>(logger));
    std::unique_ptr<SettingsWindow> settings;
    ViewEnvironment environment{
        .executor = executor,
        .quit = [] { QCoreApplication::quit(); },
        .openUrl = openUrl,
        .openFolder =
            [&model] {
                model->userVisibleFolder([](const std::filesystem::path& folder) {
                    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
                });
            },
        .openSettings =
            [&] {
                if (!settings) settings = std::make_unique<SettingsWindow>(*model, domains, executor, background);
                present(*settings);
            },
        .securityPageURL = CADRIO_ACCOUNT_SECURITY_URL,
        .shortVersion = CADRIO_VERSION,
        .fullVersion = std::string(CADRIO_VERSION) + " (" + CADRIO_BUILD_NUMBER + ")",
        .updater = updater.get(),
    };
    auto shell = std::make_unique<TrayShell>(new MenuContent(*model, environment), SystemClock::shared(),
                                             [] { QCoreApplication::quit(); });
    const int code = QApplication::exec();

    // The views go before the model they observe; the model before the
    // background executor is drained, so nothing of it runs again.
    shell.reset();
    settings.reset();
    alerts.reset();
    updater.reset();
    model.reset();
    return code;
}

}  // namespace cadrio::app::views
