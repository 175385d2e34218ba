#include "platform/ui/Toolbar.hpp"

#include <QActionEvent>
#include <QHBoxLayout>
#include <QToolButton>
#include <QWidget>

#include <algorithm>

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

std::string Toolbar::identifierOf(const QAction* item) {
    if (item == nullptr) return {};
    return item->property(kIdentifierProperty).toString().toStdString();
}

void Toolbar::setDelegate(std::weak_ptr<ToolbarDelegate> delegate) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    delegate_ = std::move(delegate);
    reloadItems();
    reloadOnShow_ = !isVisible() && !delegate_.expired();
}

void Toolbar::actionEvent(QActionEvent* event) {
    QToolBar::actionEvent(event);
    if (event->type() != QEvent::ActionAdded) return;
    if (auto* button = qobject_cast<QToolButton*>(widgetForAction(event->action())))
        button->setFocusPolicy(Qt::TabFocus);
    // Tab goes along the bar as it reads, whatever order the items were made in (the centred
    // item is placed last).
    QWidget* previous = nullptr;
    for (QAction* action : actions()) {
        QWidget* widget = widgetForAction(action);
        if (widget == nullptr) continue;
        if (previous != nullptr) QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

void Toolbar::showEvent(QShowEvent* event) {
    QToolBar::showEvent(event);
    if (reloadOnShow_) {
        reloadOnShow_ = false;
        reloadItems();
    }
}

void Toolbar::reloadItems() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    auto delegate = delegate_.lock();
    if (!delegate) return;
    removeAllItems();
    // The list calls come first: a delegate may set the centred item in them.
    const std::vector<std::string> defaults = delegate->toolbarDefaultItemIdentifiers(*this);
    allowed_ = delegate->toolbarAllowedItemIdentifiers(*this);
    const std::string centred = centeredItemIdentifier_;
    for (const std::string& identifier : defaults) {
        if (identifier == kFlexibleSpaceIdentifier) {
            addFlexibleSpace();
            continue;
        }
        if (std::find(allowed_.begin(), allowed_.end(), identifier) == allowed_.end()) continue;
        if (identifier == centred) continue;  // placed below, in the middle
        if (QAction* made = delegate->toolbar(*this, identifier, true)) addItem(identifier, made);
    }
    if (!centred.empty()) {
        if (QAction* made = delegate->toolbar(*this, centred, true)) placeCenteredItem(made, centred);
    }
}

void Toolbar::placeCenteredItem(QAction* made, const std::string& identifier) {
    if (made->parent() == nullptr) made->setParent(this);
    made->setProperty(kIdentifierProperty, QString::fromStdString(identifier));
    const QList<QAction*> current = actions();
    auto firstSpace = std::find_if(current.begin(), current.end(), [](const QAction* action) {
        return identifierOf(action) == kFlexibleSpaceIdentifier;
    });
    if (firstSpace == current.end()) {
        addFlexibleSpace();
        addAction(made);
        addFlexibleSpace();
        return;
    }
    QAction* before = (firstSpace + 1) == current.end() ? nullptr : *(firstSpace + 1);
    insertAction(before, made);
    auto* spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    QAction* space = insertWidget(before, spacer);
    space->setProperty(kIdentifierProperty, QString(kFlexibleSpaceIdentifier));
}

void Toolbar::removeAllItems() {
    const QList<QAction*> current = actions();
    for (QAction* action : current) {
        removeAction(action);
        // Items the toolbar took (its own spaces and slot, the delegate's
        // items) go with it; actions owned elsewhere stay with their owner.
        if (action->parent() == this) delete action;
    }
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
