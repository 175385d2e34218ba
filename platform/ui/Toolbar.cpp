#include "platform/ui/Toolbar.hpp"

#include <QHBoxLayout>
#include <QWidget>

#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

constexpr const char* kIdentifierProperty = "platform.toolbarIdentifier";

}  // namespace

Toolbar::Toolbar(QWidget* parent) : QToolBar(QStringLiteral("main"), parent) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    setObjectName("main");
    setMovable(false);
    setFloatable(false);
    setDisplayMode(DisplayMode::iconAndLabel);
}

void Toolbar::setDisplayMode(DisplayMode mode) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    displayMode_ = mode;
    switch (mode) {
        case DisplayMode::iconAndLabel:
            setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
            break;
        case DisplayMode::iconOnly:
            setToolButtonStyle(Qt::ToolButtonIconOnly);
            break;
        case DisplayMode::labelOnly:
            setToolButtonStyle(Qt::ToolButtonTextOnly);
            break;
    }
}

QAction* Toolbar::addItem(const std::string& identifier, const QIcon& icon, const QString& label,
                          std::function<void()> action) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (QAction* existing = item(identifier)) return existing;
    auto* qaction = new QAction(icon, label, this);
    if (action) connect(qaction, &QAction::triggered, qaction, [action = std::move(action)] { action(); });
    return addItem(identifier, qaction);
}

QAction* Toolbar::addItem(const std::string& identifier, QAction* action) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (QAction* existing = item(identifier)) return existing;
    if (action->parent() == nullptr) action->setParent(this);
    action->setProperty(kIdentifierProperty, QString::fromStdString(identifier));
    addAction(action);
    return action;
}

void Toolbar::addFlexibleSpace() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    auto* spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    QAction* action = addWidget(spacer);
    action->setProperty(kIdentifierProperty, QString(kFlexibleSpaceIdentifier));
}

void Toolbar::addSearchFieldSlot() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (slot_ != nullptr) return;
    slot_ = new QWidget(this);
    slot_->setObjectName("searchFieldSlot");
    auto* layout = new QHBoxLayout(slot_);
    layout->setContentsMargins(0, 0, 0, 0);
    QAction* action = addWidget(slot_);
    action->setProperty(kIdentifierProperty, QString(kSearchFieldIdentifier));
}

void Toolbar::setSearchFieldWidget(QWidget* widget) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    addSearchFieldSlot();
    if (searchField_ != nullptr) delete searchField_;
    searchField_ = widget;
    if (widget != nullptr) slot_->layout()->addWidget(widget);
}

QAction* Toolbar::item(const std::string& identifier) const {
    const QString wanted = QString::fromStdString(identifier);
    for (QAction* action : actions()) {
        if (action->property(kIdentifierProperty).toString() == wanted) return action;
    }
    return nullptr;
}

std::vector<std::string> Toolbar::itemIdentifiers() const {
    std::vector<std::string> identifiers;
    for (QAction* action : actions()) {
        const QVariant value = action->property(kIdentifierProperty);
        if (value.isValid()) identifiers.push_back(value.toString().toStdString());
    }
    return identifiers;
}

}  // namespace platform
