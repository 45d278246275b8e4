#pragma once

// The status panel's test bench: the model's fixture, a view environment on
// its manual executor whose actions count their calls, and the PNG of a
// widget written to the test-artifacts folder. Header-only; never linked
// into the programs.

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QWidget>

#include "app/model/testing/model_fixture.hpp"
#include "app/views/view_environment.hpp"

namespace cadrio::app::views::testing {

struct PanelBench : app::testing::ModelFixture {
    std::map<std::string, int> calls;  // "quit", "openFolder", "openSettings", "openUrl"
    std::vector<std::string> openedUrls;
    ViewEnvironment environment{
        .executor = executor,
        .quit = [this] { ++calls["quit"]; },
        .openUrl = [this](const std::string& url) { openedUrls.push_back(url); },
        .openFolder = [this] { ++calls["openFolder"]; },
        .openSettings = [this] { ++calls["openSettings"]; },
        .securityPageURL = "https://account.cadrio.test/security",
        .shortVersion = "0.1.0",
        .fullVersion = "0.1.0 (1)",
    };

};

/// The descendant of `root` with that object name; throws when none.
template <class T = QWidget>
T& child(const QWidget& root, const char* name) {
    T* found = root.findChild<T*>(name);
    if (!found) throw std::logic_error(std::string("no widget named ") + name);
    return *found;
}

inline void click(const QWidget& root, const char* name) { child<QAbstractButton>(root, name).click(); }

/// Lays `widget` out at the panel's width and writes it as "<name>.png".
inline void writeArtifact(QWidget& widget, const std::string& name) {
    const std::filesystem::path folder = CADRIO_TEST_ARTIFACTS;
    std::filesystem::create_directories(folder);
    widget.adjustSize();
    QApplication::processEvents();
    widget.grab().save(QString::fromStdString((folder / (name + ".png")).string()));
}

}  // namespace cadrio::app::views::testing
