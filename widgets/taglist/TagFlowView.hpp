#pragma once

#include <QColor>
#include <QFont>
#include <QSizeF>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

#include "widgets/taglist/TagView.hpp"

namespace tervolo::widgets::taglist {

class TagFlowView;

// Hears taps on a list's chips and on their close buttons. Main thread.
class TagFlowViewDelegate {
  public:
    virtual ~TagFlowViewDelegate() = default;
    // `title` is the chip's title, "" when it has none.
    virtual void tagPressed(const QString& title, TagView* tagView, TagFlowView* sender) {
        (void)title;
        (void)tagView;
        (void)sender;
    }
    // The list removes nothing itself: removing the chip is the delegate's business.
    virtual void tagRemoveButtonPressed(const QString& title, TagView* tagView, TagFlowView* sender) {
        (void)title;
        (void)tagView;
        (void)sender;
    }
};

// Short titles as chips in wrapping rows, left to right (right to left under
// a right-to-left layout), under an alignment rule. The list owns its chips,
// gives every new chip its styling and relays styling changes to all chips;
// its intrinsic height is the height of its rows. A long press on a chip
// selects that chip alone. Main thread only; lengths in points.
//
// Every chip sits on a background view that carries its shadow, inside a row
// view: list → row → background → chip. Row and chip frames are kept as values
// (rowFrames(), tagFrames()) so layout can be checked without pixels.
class TagFlowView : public QWidget {
    Q_OBJECT

  public:
    enum class Alignment : int { left = 0, center = 1, right = 2, leading = 3, trailing = 4 };
    // 0…4; nothing for any other raw value.
    static std::optional<Alignment> alignmentFromRawValue(int rawValue);

    explicit TagFlowView(QWidget* parent = nullptr);
    ~TagFlowView() override;

    // Styling relayed to every chip (those marked "relayout" lay out again).
    QColor textColor() const { return textColor_; }
    void setTextColor(const QColor& color);
    QColor selectedTextColor() const { return selectedTextColor_; }
    void setSelectedTextColor(const QColor& color);
    LineBreakMode tagLineBreakMode() const { return tagLineBreakMode_; }
    void setTagLineBreakMode(LineBreakMode mode);
    QColor tagBackgroundColor() const { return tagBackgroundColor_; }
    void setTagBackgroundColor(const QColor& color);
    std::optional<QColor> tagHighlightedBackgroundColor() const { return tagHighlightedBackgroundColor_; }
    void setTagHighlightedBackgroundColor(std::optional<QColor> color);
    std::optional<QColor> tagSelectedBackgroundColor() const { return tagSelectedBackgroundColor_; }
    void setTagSelectedBackgroundColor(std::optional<QColor> color);
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width);
    std::optional<QColor> borderColor() const { return borderColor_; }
    void setBorderColor(std::optional<QColor> color);
    std::optional<QColor> selectedBorderColor() const { return selectedBorderColor_; }
    void setSelectedBorderColor(std::optional<QColor> color);
    double paddingY() const { return paddingY_; }
    void setPaddingY(double padding);  // relayout
    double paddingX() const { return paddingX_; }
    void setPaddingX(double padding);  // relayout
    double marginY() const { return marginY_; }
    void setMarginY(double margin);  // relayout
    double marginX() const { return marginX_; }
    void setMarginX(double margin);  // relayout
    double minWidth() const { return minWidth_; }
    void setMinWidth(double width);  // relayout
    Alignment alignment() const { return alignment_; }
    void setAlignment(Alignment alignment);  // relayout
    QColor shadowColor() const { return shadowColor_; }
    void setShadowColor(const QColor& color);  // relayout
    double shadowRadius() const { return shadowRadius_; }
    void setShadowRadius(double radius);  // relayout
    QSizeF shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(QSizeF offset);  // relayout
    float shadowOpacity() const { return shadowOpacity_; }
    void setShadowOpacity(float opacity);  // relayout
    bool enableRemoveButton() const { return enableRemoveButton_; }
    void setEnableRemoveButton(bool enable);  // relayout
    double removeButtonIconSize() const { return removeButtonIconSize_; }
    void setRemoveButtonIconSize(double size);  // relayout
    double removeIconLineWidth() const { return removeIconLineWidth_; }
    void setRemoveIconLineWidth(double width);  // relayout
    QColor removeIconLineColor() const { return removeIconLineColor_; }
    void setRemoveIconLineColor(const QColor& color);  // relayout
    QFont textFont() const { return textFont_; }
    void setTextFont(const QFont& font);  // relayout

    void setDelegate(std::weak_ptr<TagFlowViewDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<TagFlowViewDelegate> delegate() const { return delegate_.lock(); }

    // The chips in display order.
    const std::vector<TagView*>& tagViews() const { return tagViews_; }

    TagView* addTag(const QString& title);
    // Returns every chip of the list, not only the new ones.
    std::vector<TagView*> addTags(const std::vector<QString>& titles);
    TagView* addTagView(TagView* tagView);
    std::vector<TagView*> addTagViews(const std::vector<TagView*>& tagViews);
    // An index beyond the ends is clamped to 0…count.
    TagView* insertTag(const QString& title, int index);
    TagView* insertTagView(TagView* tagView, int index);
    // An index outside 0…count − 1 changes nothing. No layout follows.
    void setTitle(const QString& title, int index);
    // Every chip with that title, the last first.
    void removeTag(const QString& title);
    void removeTagView(TagView* tagView);
    void removeAllTags();

    std::vector<TagView*> selectedTags() const;
    std::vector<TagView*> allTags() const { return tagViews_; }
    std::vector<QString> allTagTitles() const;

    // Lays the chips out in rows (called by every change that needs it).
    void rearrangeViews();
    // Height of the rows; width of the list.
    QSizeF intrinsicContentSize() const;
    QSize sizeHint() const override;
    int rows() const { return rows_; }
    double tagViewHeight() const { return tagViewHeight_; }
    // The frames of the last layout, in the list's coordinates.
    std::vector<QRectF> rowFrames() const;
    std::vector<QRectF> tagFrames() const;

    // The actions of a chip's and a close button's click.
    void tagPressed(TagView* tagView);
    void removeButtonPressed(CloseButton* closeButton);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    // The chips' shadows, under the rows: a child widget cannot paint outside
    // its own bounds, where a shadow falls.
    void paintEvent(QPaintEvent* event) override;

  private:
    TagView* createNewTagView(const QString& title);
    void connectTagView(TagView* tagView);
    // Puts the chip on a new background view at `index` of both lists.
    void attach(TagView* tagView, size_t index);
    template <class Apply>
    void relay(Apply apply);

    QColor textColor_ = Qt::white;
    QColor selectedTextColor_ = Qt::white;
    LineBreakMode tagLineBreakMode_ = LineBreakMode::byTruncatingMiddle;
    QColor tagBackgroundColor_ = Qt::gray;
    std::optional<QColor> tagHighlightedBackgroundColor_;
    std::optional<QColor> tagSelectedBackgroundColor_;
    double cornerRadius_ = 0;
    double borderWidth_ = 0;
    std::optional<QColor> borderColor_;
    std::optional<QColor> selectedBorderColor_;
    double paddingY_ = 2;
    double paddingX_ = 5;
    double marginY_ = 2;
    double marginX_ = 5;
    double minWidth_ = 0;
    Alignment alignment_ = Alignment::leading;
    QColor shadowColor_ = Qt::white;
    double shadowRadius_ = 0;
    QSizeF shadowOffset_{0, 0};
    float shadowOpacity_ = 0;
    bool enableRemoveButton_ = false;
    double removeButtonIconSize_ = 12;
    double removeIconLineWidth_ = 1;
    QColor removeIconLineColor_ = QColor::fromRgbF(1, 1, 1, 0.54f);
    QFont textFont_;
    std::weak_ptr<TagFlowViewDelegate> delegate_;

    std::vector<TagView*> tagViews_;
    // The background view of the chip at the same index; it carries the chip's shadow.
    std::vector<QWidget*> tagBackgroundViews_;
    std::vector<QWidget*> rowViews_;
    // Frames of the last layout in the list's coordinates.
    std::vector<QRectF> rowFrames_;
    std::vector<QRectF> tagFrames_;
    std::vector<QRectF> shadowFrames_;
    double tagViewHeight_ = 0;
    int rows_ = 0;
};

}  // namespace tervolo::widgets::taglist
