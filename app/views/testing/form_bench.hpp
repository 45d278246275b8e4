#pragma once

// The bench of the sign-in screens' tests: the model's bench (manual
// executor, virtual clock, scripted drive), a view environment that records
// what the views asked of the application, keyboard input as a user gives
// it, and the PNG of a screen's state. Header-only; test binary only.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <nlohmann/json.hpp>

#include "app/model/testing/model_fixture.hpp"
#include "app/views/view_environment.hpp"

namespace cadrio::app::views::testing {

struct FormBench {
    app::testing::ModelFixture model;
    std::vector<std::string> openedUrls;
    int quits = 0;
    ViewEnvironment environment{
        .executor = model.executor,
        .quit = [this] { ++quits; },
        .openUrl = [this](const std::string& url) { openedUrls.push_back(url); },
        .openFolder = [] {},
        .openSettings = [] {},
        .securityPageURL = "https://comptes.cadrio.test/security",
        .shortVersion = "0.1.0",
        .fullVersion = "0.1.0 (1)",
    };

    FormBench() {
        model.launch();
        model.executor.runReady();
    }

    /// The bodies of the requests sent to `path` so far.
    std::vector<nlohmann::json> sent(const std::string& path) const {
        std::vector<nlohmann::json> bodies;
        for (const auto& request : model.transport->api.requests()) {
            if (request.url.ends_with(path)) bodies.push_back(nlohmann::json::parse(request.body));
        }
        return bodies;
    }
};

/// One key press and release per character, the executor run after each
/// (what a user's typing gives the event loop time to do).
inline void typeText(QWidget& field, const QString& text, FormBench& bench) {
    for (const QChar c : text) {
        const auto key = c == u' ' ? Qt::Key_Space : static_cast<Qt::Key>(c.toUpper().unicode());
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(&field, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(&field, &release);
        bench.model.executor.runReady();
    }
}

inline void pressReturn(QWidget& field) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&field, &press);
}

inline void paste(QLineEdit& field, const QString& text) {
    QApplication::clipboard()->setText(text);
    field.paste();
}

/// The panel's frame, 320 points wide with its padding, holding one view.
/// Declared after the bench, so the view is gone before the model.
class Panel : public QWidget {
public:
    Panel() {
        setFixedWidth(320);
        layout_ = new QVBoxLayout(this);
        layout_->setContentsMargins(12, 12, 12, 12);
    }

    /// The view, made with `arguments` and this panel as its parent, shown.
    template <class View, class... Arguments>
    View& show(Arguments&&... arguments) {
        auto* view = new View(std::forward<Arguments>(arguments)..., this);
        layout_->addWidget(view);
        QWidget::show();
        activateWindow();
        QApplication::processEvents();
        return *view;
    }

private:
    QVBoxLayout* layout_;
};

/// Writes "<name>.png" of the window holding `view` into the tests'
/// artifacts folder.
inline void savePng(QWidget& view, const std::string& name) {
    const std::filesystem::path folder = CADRIO_TEST_ARTIFACTS;
    std::filesystem::create_directories(folder);
    QWidget& window = *view.window();
    window.adjustSize();
    window.grab().save(QString::fromStdString((folder / (name + ".png")).string()));
}

}  // namespace cadrio::app::views::testing
