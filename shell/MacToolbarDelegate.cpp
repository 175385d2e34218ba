#include "shell/MacToolbarDelegate.hpp"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QWidgetAction>

#include <cstdio>

#include "logging/QLLog.hpp"
#include "logging/QLLogging.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/ReadablePlaceholder.hpp"
#include "platform/ui/ToolbarItemGroup.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"
#include "shell/AppKitBridgeBinding.hpp"

namespace tervolo::shell {

namespace {

// The shipped application's bundle identifier: the item identifiers are
// fixed texts, whatever the information dictionary says at run time.
constexpr const char* kBundleIdentifier = "org.tervolo.TervoloNG";
constexpr const char* kLogFile = "MacToolbarDelegate";

void log(logging::QLLogFlag flag, const char* function, std::string text, uint64_t line) {
    logging::logMessageCore([&text] { return std::move(text); }, logging::QLLogLevel::all, flag, 0, kLogFile,
                            function, line, {}, logging::asyncLoggingEnabled(),
                            logging::QLLog::sharedInstance());
}

// The "map" symbol in the toolbar's text colour, sharp at 1× and 2×.
QIcon mapSymbol(const QColor& tint) {
    const platform::NamedImage image = platform::NamedImage::named(QStringLiteral("map"));
    QIcon icon;
    if (image.isNull()) return icon;
    for (int scale : {1, 2}) {
        QPixmap pixmap = QPixmap::fromImage(image.render(QSize(24, 24) * scale, tint));
        pixmap.setDevicePixelRatio(scale);
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

MacToolbarDelegate::MacToolbarDelegate() = default;

const std::string& MacToolbarDelegate::mapStyleToolbarItemIdentifier() {
    static const std::string identifier = std::string(kBundleIdentifier) + ".mapStyle";
    return identifier;
}

const std::string& MacToolbarDelegate::searchBarToolbarItemIdentifier() {
    static const std::string identifier = std::string(kBundleIdentifier) + ".searchBar";
    return identifier;
}

const std::string& MacToolbarDelegate::zoomLevelToolbarItemIdentifier() {
    static const std::string identifier = std::string(kBundleIdentifier) + ".zoomLevel";
    return identifier;
}

const QStringList& MacToolbarDelegate::zoomLevelTitles() {
    static const QStringList titles = {QStringLiteral("   1x   "), QStringLiteral("   2x   "),
                                       QStringLiteral("   4x   ")};
    return titles;
}

std::vector<std::string> MacToolbarDelegate::toolbarDefaultItemIdentifiers(platform::Toolbar& toolbar) {
    toolbar.setCenteredItemIdentifier(searchBarToolbarItemIdentifier());
    return {platform::Toolbar::kFlexibleSpaceIdentifier, mapStyleToolbarItemIdentifier()};
}

std::vector<std::string> MacToolbarDelegate::toolbarAllowedItemIdentifiers(platform::Toolbar& toolbar) {
    toolbar.setCenteredItemIdentifier(searchBarToolbarItemIdentifier());
    return {platform::Toolbar::kFlexibleSpaceIdentifier, mapStyleToolbarItemIdentifier()};
}

QAction* MacToolbarDelegate::toolbar(platform::Toolbar& toolbar, const std::string& identifier,
                                     bool willBeInsertedIntoToolbar) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    (void)willBeInsertedIntoToolbar;
    if (identifier == mapStyleToolbarItemIdentifier()) {
        auto* item = new QAction(mapSymbol(toolbar.palette().color(QPalette::ButtonText)),
                                 QStringLiteral("Select Map Style"));
        item->setObjectName(QString::fromStdString(identifier));
        QPointer<QAction> sender(item);
        connect(item, &QAction::triggered, this, [this, sender] { mapStyleButton(sender.data()); });
        return item;
    }
    if (identifier == searchBarToolbarItemIdentifier()) {
        bridge::AppKitBridgeProtocol* bridge = appKitBridge();
        if (bridge == nullptr) return nullptr;
        QAction* item =
            bridge->searchFieldToolbarItem(QString::fromStdString(identifier), this, "searchBarEvent");
        connectSearchField(item);
        return item;
    }
    if (identifier == zoomLevelToolbarItemIdentifier()) {
        auto* group = new platform::ToolbarItemGroup("zoomLevel", zoomLevelTitles(),
                                                     platform::ToolbarItemGroup::SelectionMode::selectOne);
        group->setLabel(QStringLiteral("Zoom Level"));
        group->setAction([this](platform::ToolbarItemGroup& sender) { toolbarSelectionChanged(&sender); });
        if (auto screen = mainVC()) {
            const int64_t shift = screen->retinaShiftLevel();
            group->setSelectedIndex(shift == 4 ? 2 : shift == 2 ? 1 : 0);
        }
        return group;
    }
    return nullptr;
}

void MacToolbarDelegate::connectSearchField(QAction* item) {
    // The plug-in's field only reports to the plug-in; what the user types
    // there is a search all the same. Its text and its list keys go to the
    // map screen's search, so there is one search and one result list.
    auto* widgetItem = qobject_cast<QWidgetAction*>(item);
    auto* field = widgetItem != nullptr ? qobject_cast<QLineEdit*>(widgetItem->defaultWidget()) : nullptr;
    if (field == nullptr) return;
    // The plug-in's field takes the theme's placeholder colour, too faint on a dark toolbar.
    platform::keepPlaceholderReadable(*field);
    connect(field, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (auto screen = mainVC()) screen->toolbarSearchTextEdited(text);
    });
    field->installEventFilter(this);
}

bool MacToolbarDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
    if (qobject_cast<QLineEdit*>(watched) == nullptr) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            break;
        default:
            return false;
    }
    auto screen = mainVC();
    if (!screen) return false;
    if (event->type() == QEvent::ShortcutOverride) {
        if (key->key() != Qt::Key_Escape) return false;
        event->accept();
        return true;
    }
    return screen->toolbarSearchKeyPressed(key->key());
}

void MacToolbarDelegate::mapStyleButton(QObject* sender) {
    const std::string described =
        sender == nullptr ? "nil" : "Optional(" + senderDebugDescription(sender) + ")";
    log(logging::QLLogFlag::debug, "mapStyleButton(sender:)", "mapStyleButton from " + described, __LINE__);
    auto* item = qobject_cast<QAction*>(sender);
    if (item == nullptr) return;
    if (MapScreenActions* screen = firstWindowMapScreen()) screen->showMapStyleActionSheetFrom(item);
}

void MacToolbarDelegate::searchBarEvent(QObject* sender) {
    log(logging::QLLogFlag::debug, "searchBarEvent(sender:)",
        "MacToolbarDelegate.searchBarEvent from " + senderDebugDescription(sender), __LINE__);
}

void MacToolbarDelegate::toolbarSelectionChanged(QObject* sender) {
    log(logging::QLLogFlag::debug, "toolbarSelectionChanged(sender:)",
        "toolbarSelectionChanged from " + senderDebugDescription(sender), __LINE__);
    if (auto* group = qobject_cast<platform::ToolbarItemGroup*>(sender)) {
        log(logging::QLLogFlag::info, "toolbarSelectionChanged(sender:)",
            "selected item: " + std::to_string(group->selectedIndex()), __LINE__);
    }
}

std::string senderDebugDescription(const QObject* sender) {
    if (sender == nullptr) return "nil";
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(sender));
    std::string text = std::string("<") + sender->metaObject()->className() + ": " + address;
    const std::string identifier = sender->objectName().toStdString();
    if (!identifier.empty()) text += "; identifier = " + identifier;
    return text + ">";
}

}  // namespace tervolo::shell
