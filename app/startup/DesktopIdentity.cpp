#include "app/startup/DesktopIdentity.hpp"

#include <QGuiApplication>
#include <QIcon>
#include <QString>

#include "platform/foundation/Bundle.hpp"

namespace tervolo::app {

std::string desktopFileName() {
    return platform::Bundle::main().infoString("CFBundleIdentifier").value_or("org.tervolo.TervoloNG");
}

void applyDesktopIdentity() {
    const std::string name = desktopFileName();
    QGuiApplication::setDesktopFileName(QString::fromStdString(name));
    if (const auto icon = platform::Bundle::main().pathForResource("icons/" + name, "svg")) {
        QGuiApplication::setWindowIcon(QIcon(QString::fromStdString(*icon)));
    }
}

}  // namespace tervolo::app
