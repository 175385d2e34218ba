#pragma once

#include <QStringList>
#include <QWidgetAction>

#include <functional>
#include <string>

#include "platform/ui/SegmentedControl.hpp"

namespace platform {

// A toolbar item made of several segments side by side (the platform's item
// group with its segment titles), of which the select-one mode keeps exactly
// one selected. A click on another segment selects it and runs the action
// with the group as the sender; setting the selection in code runs nothing.
// The group's own label is shown under it in the icon-and-label mode. Main
// thread only.
class ToolbarItemGroup : public QWidgetAction {
    Q_OBJECT

  public:
    // The platform's raw values.
    enum class SelectionMode : int { selectOne = 0, selectAny = 1, momentary = 2 };

    ToolbarItemGroup(std::string itemIdentifier, const QStringList& titles, SelectionMode mode,
                     QObject* parent = nullptr);

    const std::string& itemIdentifier() const { return itemIdentifier_; }
    SelectionMode selectionMode() const { return mode_; }
    QStringList titles() const;
    // The group's label (also the action's text).
    QString label() const { return text(); }
    void setLabel(const QString& label) { setText(label); }

    // -1 when none is selected.
    int selectedIndex() const { return selectedIndex_; }
    void setSelectedIndex(int index);
    bool isSelected(int index) const { return index >= 0 && index == selectedIndex_; }

    // What a user's click on segment `index` does (also the control's hook).
    void userSelect(int index);
    // Runs after a user's selection, with this group.
    void setAction(std::function<void(ToolbarItemGroup& sender)> action) { action_ = std::move(action); }

  protected:
    QWidget* createWidget(QWidget* parent) override;

  private:
    void showSelection();

    std::string itemIdentifier_;
    QStringList titles_;
    SelectionMode mode_;
    int selectedIndex_ = -1;
    std::function<void(ToolbarItemGroup&)> action_;
};

}  // namespace platform
