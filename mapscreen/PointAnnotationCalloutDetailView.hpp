#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <memory>

#include "platform/ui/LayoutConstraint.hpp"

namespace tervolo::mapscreen {

// A plain view holding the outlets of a point callout's detail: its title and
// subtitle labels and the subtitle's height constraint. The layout that uses
// it connects the outlets; the view itself makes and lays out nothing, and
// all three are empty until then. Main thread only.
class PointAnnotationCalloutDetailView : public QWidget {
    Q_OBJECT

  public:
    explicit PointAnnotationCalloutDetailView(QWidget* parent = nullptr);

    QLabel* title() const { return title_; }
    void setTitle(QLabel* label) { title_ = label; }
    QLabel* subtitle() const { return subtitle_; }
    void setSubtitle(QLabel* label) { subtitle_ = label; }
    const std::shared_ptr<platform::LayoutConstraint>& subtitleHeight() const { return subtitleHeight_; }
    void setSubtitleHeight(std::shared_ptr<platform::LayoutConstraint> constraint) {
        subtitleHeight_ = std::move(constraint);
    }

  private:
    // Weak, as outlets are: the labels belong to the widget tree that holds them.
    QPointer<QLabel> title_;
    QPointer<QLabel> subtitle_;
    std::shared_ptr<platform::LayoutConstraint> subtitleHeight_;
};

}  // namespace tervolo::mapscreen
