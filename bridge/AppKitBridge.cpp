#include "bridge/AppKitBridge.hpp"

#include <QAbstractButton>
#include <QMessageBox>
#include <QWidgetAction>

#include "bridge/QuovaNSSearchField.hpp"

namespace tervolo::bridge {

void AppKitBridge::report(const char* text) {
    emit logLine(QString::fromUtf8(text));
}

void AppKitBridge::styleMainWindow() {
    report("styleMainWindow()");
}

void AppKitBridge::sayHello() {
    report("sayHello()");
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
    report("searchFieldToolbarItem(for:with:action:)");
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
    report("AppKitBridge.searchBarEvent(sender:)");
}

void AppKitBridge::searchFieldDidStartSearching(QObject* sender) {
    (void)sender;
    report("searchFieldDidStartSearching(_:)");
}

void AppKitBridge::searchFieldDidEndSearching(QObject* sender) {
    (void)sender;
    report("searchFieldDidEndSearching(_:)");
}

}  // namespace tervolo::bridge
