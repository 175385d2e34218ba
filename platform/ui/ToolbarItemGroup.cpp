#include "platform/ui/ToolbarItemGroup.hpp"

#include <QLabel>
#include <QVBoxLayout>

#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

// The controls a group shows in its toolbars follow the group's selection.
constexpr const char* kControlName = "toolbarItemGroupControl";

}  // namespace

ToolbarItemGroup::ToolbarItemGroup(std::string itemIdentifier, const QStringList& titles, SelectionMode mode,
                                   QObject* parent)
    : QWidgetAction(parent), itemIdentifier_(std::move(itemIdentifier)), titles_(titles), mode_(mode) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    setObjectName(QString::fromStdString(itemIdentifier_));
}

QStringList ToolbarItemGroup::titles() const {
    return titles_;
}

void ToolbarItemGroup::setSelectedIndex(int index) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    selectedIndex_ = index >= 0 && index < titles_.size() ? index : -1;
    showSelection();
}

void ToolbarItemGroup::userSelect(int index) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (index < 0 || index >= titles_.size()) return;
    selectedIndex_ = index;
    showSelection();
    if (action_) action_(*this);
}

void ToolbarItemGroup::showSelection() {
    // A momentary group's segments only flash while pressed: none stays lit.
    const int shown = mode_ == SelectionMode::momentary ? -1 : selectedIndex_;
    for (QWidget* widget : createdWidgets()) {
        if (auto* control = widget->findChild<SegmentedControl*>(kControlName)) {
            control->setSelectedSegmentIndex(shown);
        }
    }
}

QWidget* ToolbarItemGroup::createWidget(QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    auto* control = new SegmentedControl(titles_, box);
    control->setObjectName(kControlName);
    control->setSelectedSegmentIndex(mode_ == SelectionMode::momentary ? -1 : selectedIndex_);
    connect(control, &SegmentedControl::valueChanged, this, [this](int index) { userSelect(index); });
    column->addWidget(control);
    // The label sits under the segments, as a button's label sits under its icon.
    auto* label = new QLabel(text(), box);
    label->setObjectName("toolbarItemGroupLabel");
    label->setAlignment(Qt::AlignHCenter);
    QFont small = label->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    label->setFont(small);
    connect(this, &QAction::changed, label, [this, label] { label->setText(text()); });
    column->addWidget(label);
    return box;
}

}  // namespace platform
