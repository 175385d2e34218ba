#include "widgets/taglist/TagFlowView.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <algorithm>
#include <cmath>

#include "platform/foundation/OSLog.hpp"
#include "platform/ui/DrawingShadow.hpp"

namespace tervolo::widgets::taglist {

namespace {

QFont defaultTextFont() {
    QFont font;
    font.setPointSizeF(12);
    return font;
}

QRect pixelRect(double x, double y, double width, double height) {
    return QRect(static_cast<int>(std::round(x)), static_cast<int>(std::round(y)),
                 static_cast<int>(std::round(width)), static_cast<int>(std::round(height)));
}

// Indices out of range are a caller's mistake: say so where a developer looks,
// and carry on.
void reportIndex(const char* operation, int index, size_t count) {
    static const auto log = platform::OSLog::make("org.tervolo.TervoloNG", "taglist");
    log->write(platform::OSLogType::Debug, std::string("TagFlowView.") + operation + ": index " +
                                               std::to_string(index) + " outside 0…" + std::to_string(count));
}

}  // namespace

std::optional<TagFlowView::Alignment> TagFlowView::alignmentFromRawValue(int rawValue) {
    if (rawValue < 0 || rawValue > 4) return std::nullopt;
    return static_cast<Alignment>(rawValue);
}

TagFlowView::TagFlowView(QWidget* parent) : QWidget(parent), textFont_(defaultTextFont()) {}

TagFlowView::~TagFlowView() = default;

template <class Apply>
void TagFlowView::relay(Apply apply) {
    for (TagView* tag : tagViews_) apply(*tag);
}

void TagFlowView::setTextColor(const QColor& color) {
    textColor_ = color;
    relay([&](TagView& tag) { tag.setTextColor(color); });
}
void TagFlowView::setSelectedTextColor(const QColor& color) {
    selectedTextColor_ = color;
    relay([&](TagView& tag) { tag.setSelectedTextColor(color); });
}
void TagFlowView::setTagLineBreakMode(LineBreakMode mode) {
    tagLineBreakMode_ = mode;
    relay([&](TagView& tag) { tag.setTitleLineBreakMode(mode); });
}
void TagFlowView::setTagBackgroundColor(const QColor& color) {
    tagBackgroundColor_ = color;
    relay([&](TagView& tag) { tag.setTagBackgroundColor(color); });
}
void TagFlowView::setTagHighlightedBackgroundColor(std::optional<QColor> color) {
    tagHighlightedBackgroundColor_ = color;
    relay([&](TagView& tag) { tag.setHighlightedBackgroundColor(color); });
}
void TagFlowView::setTagSelectedBackgroundColor(std::optional<QColor> color) {
    tagSelectedBackgroundColor_ = color;
    relay([&](TagView& tag) { tag.setSelectedBackgroundColor(color); });
}
void TagFlowView::setCornerRadius(double radius) {
    cornerRadius_ = radius;
    relay([&](TagView& tag) { tag.setCornerRadius(radius); });
}
void TagFlowView::setBorderWidth(double width) {
    borderWidth_ = width;
    relay([&](TagView& tag) { tag.setBorderWidth(width); });
}
void TagFlowView::setBorderColor(std::optional<QColor> color) {
    borderColor_ = color;
    relay([&](TagView& tag) { tag.setBorderColor(color); });
}
void TagFlowView::setSelectedBorderColor(std::optional<QColor> color) {
    selectedBorderColor_ = color;
    relay([&](TagView& tag) { tag.setSelectedBorderColor(color); });
}
void TagFlowView::setPaddingY(double padding) {
    paddingY_ = padding;
    relay([&](TagView& tag) { tag.setPaddingY(padding); });
    rearrangeViews();
}
void TagFlowView::setPaddingX(double padding) {
    paddingX_ = padding;
    relay([&](TagView& tag) { tag.setPaddingX(padding); });
    rearrangeViews();
}
void TagFlowView::setMarginY(double margin) {
    marginY_ = margin;
    rearrangeViews();
}
void TagFlowView::setMarginX(double margin) {
    marginX_ = margin;
    rearrangeViews();
}
void TagFlowView::setMinWidth(double width) {
    minWidth_ = width;
    rearrangeViews();
}
void TagFlowView::setAlignment(Alignment alignment) {
    alignment_ = alignment;
    rearrangeViews();
}
void TagFlowView::setShadowColor(const QColor& color) {
    shadowColor_ = color;
    rearrangeViews();
}
void TagFlowView::setShadowRadius(double radius) {
    shadowRadius_ = radius;
    rearrangeViews();
}
void TagFlowView::setShadowOffset(QSizeF offset) {
    shadowOffset_ = offset;
    rearrangeViews();
}
void TagFlowView::setShadowOpacity(float opacity) {
    shadowOpacity_ = opacity;
    rearrangeViews();
}
void TagFlowView::setEnableRemoveButton(bool enable) {
    enableRemoveButton_ = enable;
    relay([&](TagView& tag) { tag.setEnableRemoveButton(enable); });
    rearrangeViews();
}
void TagFlowView::setRemoveButtonIconSize(double size) {
    removeButtonIconSize_ = size;
    relay([&](TagView& tag) { tag.setRemoveButtonIconSize(size); });
    rearrangeViews();
}
void TagFlowView::setRemoveIconLineWidth(double width) {
    removeIconLineWidth_ = width;
    relay([&](TagView& tag) { tag.setRemoveIconLineWidth(width); });
    rearrangeViews();
}
void TagFlowView::setRemoveIconLineColor(const QColor& color) {
    removeIconLineColor_ = color;
    relay([&](TagView& tag) { tag.setRemoveIconLineColor(color); });
    rearrangeViews();
}
void TagFlowView::setTextFont(const QFont& font) {
    textFont_ = font;
    relay([&](TagView& tag) { tag.setTextFont(font); });
    rearrangeViews();
}

TagView* TagFlowView::createNewTagView(const QString& title) {
    auto* tag = new TagView(title);
    tag->setTextColor(textColor_);
    tag->setSelectedTextColor(selectedTextColor_);
    tag->setTagBackgroundColor(tagBackgroundColor_);
    tag->setHighlightedBackgroundColor(tagHighlightedBackgroundColor_);
    tag->setSelectedBackgroundColor(tagSelectedBackgroundColor_);
    tag->setTitleLineBreakMode(tagLineBreakMode_);
    tag->setCornerRadius(cornerRadius_);
    tag->setBorderWidth(borderWidth_);
    tag->setBorderColor(borderColor_);
    tag->setSelectedBorderColor(selectedBorderColor_);
    tag->setPaddingX(paddingX_);
    tag->setPaddingY(paddingY_);
    tag->setTextFont(textFont_);
    tag->setRemoveIconLineWidth(removeIconLineWidth_);
    tag->setRemoveButtonIconSize(removeButtonIconSize_);
    tag->setEnableRemoveButton(enableRemoveButton_);
    tag->setRemoveIconLineColor(removeIconLineColor_);
    connectTagView(tag);
    // The handler holds the list without owning it: the list outlives its chips.
    QPointer<TagFlowView> list(this);
    tag->onLongPress = [list](TagView* pressed) {
        if (!list) return;
        for (TagView* each : list->tagViews_) each->setSelected(each == pressed);
    };
    return tag;
}

void TagFlowView::connectTagView(TagView* tag) {
    connect(tag, &QAbstractButton::clicked, this, [this, tag] { tagPressed(tag); });
    CloseButton* close = tag->removeButton();
    connect(close, &QAbstractButton::clicked, this, [this, close] { removeButtonPressed(close); });
}

TagView* TagFlowView::addTag(const QString& title) {
    TagView* tag = addTagView(createNewTagView(title));
    rearrangeViews();
    return tag;
}

std::vector<TagView*> TagFlowView::addTags(const std::vector<QString>& titles) {
    std::vector<TagView*> made;
    made.reserve(titles.size());
    for (const auto& title : titles) made.push_back(createNewTagView(title));
    return addTagViews(made);
}

void TagFlowView::attach(TagView* tagView, size_t index) {
    auto* background = new QWidget(this);
    background->resize(tagView->size());
    tagView->setParent(background);
    tagView->show();
    const auto offset = static_cast<std::ptrdiff_t>(index);
    tagViews_.insert(tagViews_.begin() + offset, tagView);
    tagBackgroundViews_.insert(tagBackgroundViews_.begin() + offset, background);
}

TagView* TagFlowView::addTagView(TagView* tagView) {
    attach(tagView, tagViews_.size());
    rearrangeViews();
    return tagView;
}

std::vector<TagView*> TagFlowView::addTagViews(const std::vector<TagView*>& tagViews) {
    for (TagView* tagView : tagViews) attach(tagView, tagViews_.size());
    rearrangeViews();
    return tagViews_;
}

TagView* TagFlowView::insertTag(const QString& title, int index) {
    return insertTagView(createNewTagView(title), index);
}

TagView* TagFlowView::insertTagView(TagView* tagView, int index) {
    const int count = static_cast<int>(tagViews_.size());
    if (index < 0 || index > count) {
        reportIndex("insertTagView", index, tagViews_.size());
        index = std::clamp(index, 0, count);
    }
    attach(tagView, static_cast<size_t>(index));
    rearrangeViews();
    return tagView;
}

void TagFlowView::setTitle(const QString& title, int index) {
    if (index < 0 || index >= static_cast<int>(tagViews_.size())) {
        reportIndex("setTitle", index, tagViews_.size() == 0 ? 0 : tagViews_.size() - 1);
        return;
    }
    tagViews_[static_cast<size_t>(index)]->setTitle(title);
}

void TagFlowView::removeTag(const QString& title) {
    std::vector<TagView*> matching;
    for (auto it = tagViews_.rbegin(); it != tagViews_.rend(); ++it) {
        if (!(*it)->title().isEmpty() && (*it)->title() == title) matching.push_back(*it);
    }
    for (TagView* tag : matching) removeTagView(tag);
}

void TagFlowView::removeTagView(TagView* tagView) {
    const auto it = std::find(tagViews_.begin(), tagViews_.end(), tagView);
    if (it == tagViews_.end()) {
        // Not ours: only taken out of wherever it was.
        if (tagView != nullptr) tagView->setParent(nullptr);
        rearrangeViews();
        return;
    }
    const auto index = static_cast<size_t>(it - tagViews_.begin());
    QWidget* background = tagBackgroundViews_[index];
    tagViews_.erase(it);
    tagBackgroundViews_.erase(tagBackgroundViews_.begin() + static_cast<std::ptrdiff_t>(index));
    // The chip goes with its background view: the list held the only reference.
    background->hide();
    background->deleteLater();
    tagView->hide();
    rearrangeViews();
}

void TagFlowView::removeAllTags() {
    for (QWidget* background : tagBackgroundViews_) {
        background->hide();
        background->deleteLater();
    }
    tagViews_.clear();
    tagBackgroundViews_.clear();
    rearrangeViews();
}

std::vector<TagView*> TagFlowView::selectedTags() const {
    std::vector<TagView*> selected;
    for (TagView* tag : tagViews_) {
        if (tag->isSelected()) selected.push_back(tag);
    }
    return selected;
}

std::vector<QString> TagFlowView::allTagTitles() const {
    std::vector<QString> titles;
    for (TagView* tag : tagViews_) {
        if (!tag->title().isEmpty()) titles.push_back(tag->title());
    }
    return titles;
}

void TagFlowView::tagPressed(TagView* tagView) {
    if (tagView->onTap) tagView->onTap(tagView);
    if (auto delegate = delegate_.lock()) delegate->tagPressed(tagView->title(), tagView, this);
}

void TagFlowView::removeButtonPressed(CloseButton* closeButton) {
    TagView* tagView = closeButton->tagView();
    if (tagView == nullptr) return;
    if (auto delegate = delegate_.lock()) delegate->tagRemoveButtonPressed(tagView->title(), tagView, this);
}

void TagFlowView::rearrangeViews() {
    // Background views return to the list while the rows are built anew.
    for (QWidget* background : tagBackgroundViews_) background->setParent(this);
    for (QWidget* row : rowViews_) delete row;
    rowViews_.clear();
    rowFrames_.clear();
    tagFrames_.assign(tagViews_.size(), QRectF());
    shadowFrames_.assign(tagViews_.size(), QRectF());

    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    Alignment resolved = alignment_;
    if (resolved == Alignment::leading) resolved = rightToLeft ? Alignment::right : Alignment::left;
    if (resolved == Alignment::trailing) resolved = rightToLeft ? Alignment::left : Alignment::right;
    const double listWidth = width();

    int currentRow = 0;
    QWidget* rowView = nullptr;
    int rowTagCount = 0;
    double rowWidth = 0;
    double rowX = 0;
    double rowY = 0;
    double rowHeight = 0;
    // Chips of the current row: index, x in the row, chip width, background width.
    struct Placed {
        size_t index;
        double x;
        double chipWidth;
        double backgroundWidth;
    };
    std::vector<Placed> rowTags;

    // Places the finished row: its frame, and each chip at its x (mirrored
    // under right to left, within the row's content so no chip sticks out
    // past the trailing margin).
    auto finishRow = [&] {
        if (rowView == nullptr) return;
        rowView->setGeometry(pixelRect(rowX, rowY, rowWidth, rowHeight));
        rowFrames_.emplace_back(rowX, rowY, rowWidth, rowHeight);
        const double contentWidth = rowWidth - marginX_;
        for (const auto& placed : rowTags) {
            const double x = rightToLeft ? contentWidth - placed.x - placed.backgroundWidth : placed.x;
            QWidget* background = tagBackgroundViews_[placed.index];
            TagView* tag = tagViews_[placed.index];
            const double shown = std::max(placed.backgroundWidth, placed.chipWidth);
            background->setGeometry(pixelRect(x, 0, shown, tagViewHeight_));
            tag->setGeometry(pixelRect(0, 0, placed.chipWidth, tag->height()));
            tag->layoutSubviews();
            tagFrames_[placed.index] = QRectF(rowX + x, rowY, placed.chipWidth, tag->height());
            shadowFrames_[placed.index] = QRectF(rowX + x, rowY, placed.backgroundWidth, tag->height());
        }
        rowTags.clear();
    };

    for (size_t i = 0; i < tagViews_.size(); ++i) {
        TagView* tag = tagViews_[i];
        const QSizeF natural = tag->intrinsicContentSize();
        double chipWidth = natural.width();
        const double chipHeight = natural.height();
        tag->resize(static_cast<int>(std::round(chipWidth)), static_cast<int>(std::round(chipHeight)));
        tagViewHeight_ = chipHeight;

        // A chip that makes the row exactly as wide as the list stays on it.
        if (rowTagCount == 0 || rowWidth + chipWidth > listWidth) {
            finishRow();
            currentRow += 1;
            rowView = new QWidget(this);
            rowViews_.push_back(rowView);
            rowY = (currentRow - 1) * (tagViewHeight_ + marginY_);
            rowHeight = 0;
            chipWidth = std::min(chipWidth, listWidth);
            rowTagCount = 0;
            rowWidth = 0;
        }
        // The background takes the chip's size before minWidth widens the chip.
        const double backgroundWidth = chipWidth;
        chipWidth = std::max(minWidth_, chipWidth);
        tagBackgroundViews_[i]->setParent(rowView);
        tagBackgroundViews_[i]->show();
        rowTags.push_back({i, rowWidth, chipWidth, backgroundWidth});

        rowTagCount += 1;
        rowWidth += chipWidth + marginX_;
        switch (resolved) {
            case Alignment::center:
                rowX = (listWidth - (rowWidth - marginX_)) * 0.5;
                break;
            case Alignment::right:
                rowX = listWidth - (rowWidth - marginX_);
                break;
            default:
                rowX = 0;
                break;
        }
        rowHeight = std::max(tagViewHeight_, rowHeight);
    }
    finishRow();
    for (QWidget* row : rowViews_) row->show();
    rows_ = currentRow;
    updateGeometry();
    update();
}

QSizeF TagFlowView::intrinsicContentSize() const {
    double height = rows_ * (tagViewHeight_ + marginY_);
    if (rows_ >= 1) height -= marginY_;
    return {static_cast<double>(width()), height};
}

QSize TagFlowView::sizeHint() const {
    const QSizeF size = intrinsicContentSize();
    return {static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height()))};
}

std::vector<QRectF> TagFlowView::rowFrames() const {
    return rowFrames_;
}
std::vector<QRectF> TagFlowView::tagFrames() const {
    return tagFrames_;
}

void TagFlowView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    rearrangeViews();
}

void TagFlowView::paintEvent(QPaintEvent*) {
    if (shadowOpacity_ <= 0) return;
    QPainter painter(this);
    platform::Shadow shadow;
    shadow.color = shadowColor_;
    shadow.offset = QPointF(shadowOffset_.width(), shadowOffset_.height());
    shadow.opacity = shadowOpacity_;
    shadow.radius = shadowRadius_;
    for (const QRectF& frame : shadowFrames_) {
        QPainterPath path;
        path.addRoundedRect(frame, cornerRadius_, cornerRadius_);
        platform::drawShadow(
            painter, frame.adjusted(-1, -1, 1, 1), [&](QPainter& p) { p.fillPath(path, Qt::black); }, shadow);
    }
}

}  // namespace tervolo::widgets::taglist
