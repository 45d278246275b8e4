#include "app/views/extension_approval_card.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/views/style.hpp"
#include "app/views/symbol_label.hpp"

namespace cadrio::app::views {
namespace {

QWidget* symbolLine(const QString& symbolName, QLabel* text, QWidget* parent) {
    auto* line = new QWidget(parent);
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(makeSymbolLabel(symbolName, 13, std::nullopt, line), 0, Qt::AlignTop);
    text->setParent(line);
    text->setWordWrap(true);
    row->addWidget(text, 1);
    return line;
}

}  // namespace

ExtensionApprovalCard::ExtensionApprovalCard(std::function<void()> openSettings, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 10, 12, 10);
    column->setSpacing(6);
    QLabel* heading = makeLabel("Une dernière étape", TextRole::callout, this);
    heading->setFont(views::font(TextRole::callout, true));
    column->addWidget(symbolLine("switch.2", heading, this));
    QLabel* explanation = makeLabel(
        "Zelvano Cadrio doit être autorisé pour afficher le Cadrio dans vos fichiers. Dans les Réglages, activez "
        "ces deux interrupteurs :",
        TextRole::caption, this);
    explanation->setWordWrap(true);
    column->addWidget(explanation);
    column->addWidget(makeLabel("Dans Zelvano Cadrio → Réglages", TextRole::caption2, this, true));
    for (const char* line : {"Afficher le Cadrio dans vos fichiers : Zelvano Cadrio",
                             "Extensions → Fournisseurs de fichiers : Zelvano Cadrio"}) {
        column->addWidget(symbolLine("checkmark.circle", makeLabel(line, TextRole::caption, this), this));
    }
    auto* button = new QPushButton("Ouvrir les Réglages", this);
    button->setObjectName("openSettingsButton");
    connect(button, &QPushButton::clicked, this, [openSettings = std::move(openSettings)] {
        if (openSettings) openSettings();
    });
    column->addWidget(button, 0, Qt::AlignLeft);
}

void ExtensionApprovalCard::paintEvent(QPaintEvent*) {
    paintTintedBackground(*this, palette().color(QPalette::WindowText), 0.05, 0, 10);
}

}  // namespace cadrio::app::views
