#include "bridge/AppKitBridge.hpp"

#include <unistd.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QWidgetAction>

#include <string>

#include "bridge/QuovaNSSearchField.hpp"

namespace tervolo::bridge {

namespace {

// The platform console: one write of the line with its newline, so lines
// from the program and the plug-in never interleave. The plug-in has none of
// the program's writers.
void consoleLine(const char* text) {
    std::string line(text);
    line.push_back('\n');
    size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + written, line.size() - written);
        if (n <= 0) return;
        written += static_cast<size_t>(n);
    }
}

}  // namespace

void AppKitBridge::styleMainWindow() {
    consoleLine("styleMainWindow()");
}

void AppKitBridge::sayHello() {
    consoleLine("sayHello()");
    QMessageBox box;
    box.setIcon(QMessageBox::Information);
    box.setText(QStringLiteral("Hello from AppKit!"));
    box.setInformativeText(QStringLiteral("It Works!"));
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}

QAction* AppKitBridge::searchFieldToolbarItem(const QString& identifier, QObject* target,
                                              const char* action) {
    consoleLine("searchFieldToolbarItem(for:with:action:)");
    auto* field = new QuovaNSSearchField();
    field->setSearchDelegate(this);
    field->setFinalTarget(target);
    field->setFinalAction(action != nullptr ? QByteArray(action) : QByteArray());
    field->setTarget(this, "searchBarEvent");
    field->setSendsWholeSearchString(true);
    field->setSendsSearchStringImmediately(true);
    auto* item = new QWidgetAction(nullptr);
    item->setObjectName(identifier);
    item->setText(QObject::tr("Search"));
    item->setDefaultWidget(field);
    return item;
}

void AppKitBridge::searchBarEvent(QObject* sender) {
    (void)sender;
    consoleLine("AppKitBridge.searchBarEvent(sender:)");
}

void AppKitBridge::searchFieldDidStartSearching(QObject* sender) {
    (void)sender;
    consoleLine("searchFieldDidStartSearching(_:)");
}

void AppKitBridge::searchFieldDidEndSearching(QObject* sender) {
    (void)sender;
    consoleLine("searchFieldDidEndSearching(_:)");
}

}  // namespace tervolo::bridge
