#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QMarginsF>

#include <functional>
#include <optional>

#include "widgets/taglist/CloseButton.hpp"

namespace platform {
class LongPressGestureRecognizer;
}

namespace tervolo::widgets::taglist {

// How a chip's title is cut when it does not fit (the platform's raw values;
// only the truncating ones change what is drawn).
enum class LineBreakMode : int {
    byWordWrapping = 0,
    byCharWrapping = 1,
    byClipping = 2,
    byTruncatingHead = 3,
    byTruncatingTail = 4,
    byTruncatingMiddle = 5,
};

// One tag chip: a title on a coloured, optionally rounded and bordered
// background, in three states (normal, highlighted while pressed, selected),
// with an optional close button at its right end and hooks for tap and long
// press. Main thread only; lengths in points.
//
// A new chip carries its initial values without applying them: until its
// setters run (the tag list runs all of them when it makes a chip) it has no
// background, no border, no title insets and no font of its own.
class TagView : public QAbstractButton {
    Q_OBJECT

  public:
    explicit TagView(const QString& title, QWidget* parent = nullptr);

    QString title() const { return text(); }
    void setTitle(const QString& title);

    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width);
    std::optional<QColor> borderColor() const { return borderColor_; }
    void setBorderColor(std::optional<QColor> color);
    QColor textColor() const { return textColor_; }
    void setTextColor(const QColor& color);
    QColor selectedTextColor() const { return selectedTextColor_; }
    void setSelectedTextColor(const QColor& color);
    LineBreakMode titleLineBreakMode() const { return titleLineBreakMode_; }
    void setTitleLineBreakMode(LineBreakMode mode);
    double paddingY() const { return paddingY_; }
    void setPaddingY(double padding);
    double paddingX() const { return paddingX_; }
    void setPaddingX(double padding);
    QColor tagBackgroundColor() const { return tagBackgroundColor_; }
    void setTagBackgroundColor(const QColor& color);
    std::optional<QColor> highlightedBackgroundColor() const { return highlightedBackgroundColor_; }
    void setHighlightedBackgroundColor(std::optional<QColor> color);
    std::optional<QColor> selectedBorderColor() const { return selectedBorderColor_; }
    void setSelectedBorderColor(std::optional<QColor> color);
    std::optional<QColor> selectedBackgroundColor() const { return selectedBackgroundColor_; }
    void setSelectedBackgroundColor(std::optional<QColor> color);
    QFont textFont() const { return textFont_; }
    void setTextFont(const QFont& font);
    bool enableRemoveButton() const { return enableRemoveButton_; }
    void setEnableRemoveButton(bool enable);
    double removeButtonIconSize() const { return removeButtonIconSize_; }
    void setRemoveButtonIconSize(double size);
    double removeIconLineWidth() const { return removeIconLineWidth_; }
    void setRemoveIconLineWidth(double width);
    QColor removeIconLineColor() const { return removeIconLineColor_; }
    void setRemoveIconLineColor(const QColor& color);

    CloseButton* removeButton() const { return removeButton_; }

    std::function<void(TagView*)> onTap;
    std::function<void(TagView*)> onLongPress;

    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);
    bool isSelected() const { return selected_; }
    void setSelected(bool selected);

    // The chip's natural size: the title's width (textSize in textFont) and
    // 2 × paddingX, never less than its height (font size + 2 × paddingY), plus
    // the close button's room when it is shown.
    QSizeF intrinsicContentSize() const;
    QSize sizeHint() const override;

    // What the chip shows now (for tests and painting).
    std::optional<QColor> backgroundColor() const { return backgroundColor_; }
    std::optional<QColor> layerBorderColor() const { return layerBorderColor_; }
    QColor titleColor() const { return titleColor_; }
    // The colour the title is drawn in: titleColor() where it reads on the chip's colour (4.5:1),
    // otherwise black or white, whichever reads better there. A tag colour is the user's choice, from
    // pale yellow to deep blue, and a fixed white label vanishes on the pale ones.
    QColor drawnTitleColor() const;
    // The close button's cross likewise, at the 3:1 an icon needs.
    QColor drawnRemoveIconColor() const;
    QMarginsF titleInsets() const { return titleInsets_; }
    bool clipsToBounds() const { return cornerRadius_ > 0; }

    // Called by the long-press recogniser on every state change.
    void longPress();
    // Places the close button at the right end (only while it is shown). Runs
    // on every resize; the tag list calls it after placing a hidden chip,
    // whose resize events Qt defers until it is shown.
    void layoutSubviews();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void setupView();
    void reloadStyles();
    void updateRightInsets();

    double cornerRadius_ = 0;
    double borderWidth_ = 0;
    std::optional<QColor> borderColor_;
    QColor textColor_ = Qt::white;
    QColor selectedTextColor_ = Qt::white;
    LineBreakMode titleLineBreakMode_ = LineBreakMode::byTruncatingMiddle;
    double paddingY_ = 2;
    double paddingX_ = 5;
    QColor tagBackgroundColor_ = Qt::gray;
    std::optional<QColor> highlightedBackgroundColor_;
    std::optional<QColor> selectedBorderColor_;
    std::optional<QColor> selectedBackgroundColor_;
    QFont textFont_;
    bool enableRemoveButton_ = false;
    double removeButtonIconSize_ = 12;
    double removeIconLineWidth_ = 3;
    QColor removeIconLineColor_ = QColor::fromRgbF(1, 1, 1, 0.54f);
    CloseButton* removeButton_ = nullptr;

    bool highlighted_ = false;
    bool selected_ = false;
    // What the button shows; unset until the setters run.
    std::optional<QColor> backgroundColor_;
    std::optional<QColor> layerBorderColor_;
    double layerBorderWidth_ = 0;
    QColor titleColor_;
    QMarginsF titleInsets_;
    QFont labelFont_;
    // The measured size, kept until the title, font, padding or close button
    // changes: a list lays its chips out again on every change of its own.
    mutable std::optional<QSizeF> intrinsicSize_;
};

}  // namespace tervolo::widgets::taglist
