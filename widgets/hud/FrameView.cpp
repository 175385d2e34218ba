#include "widgets/hud/FrameView.hpp"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/ui/AnimationWidget.hpp"

namespace tervolo::widgets::hud {

namespace {

// The backdrop is blurred at a quarter of its size: cheap, and the blur hides the loss.
constexpr int kBackdropScale = 4;
constexpr int kBlurRadius = 3;  // in backdrop pixels, per pass
constexpr double kContentAlpha = 0.85;

// One pass of a running-sum box blur of width 2r+1 over every channel of a premultiplied image.
void boxBlur(QImage& image, int r, bool horizontal) {
    const int w = image.width(), h = image.height();
    const int lines = horizontal ? h : w;
    const int length = horizontal ? w : h;
    std::vector<QRgb> source(static_cast<size_t>(length));
    for (int line = 0; line < lines; ++line) {
        auto at = [&](int i) -> QRgb& {
            return reinterpret_cast<QRgb*>(image.scanLine(horizontal ? line : i))[horizontal ? i : line];
        };
        for (int i = 0; i < length; ++i) source[static_cast<size_t>(i)] = at(i);
        int sum[4] = {0, 0, 0, 0};
        auto add = [&](int i, int sign) {
            const QRgb p = source[static_cast<size_t>(std::clamp(i, 0, length - 1))];
            sum[0] += sign * qRed(p);
            sum[1] += sign * qGreen(p);
            sum[2] += sign * qBlue(p);
            sum[3] += sign * qAlpha(p);
        };
        for (int i = -r; i <= r; ++i) add(i, 1);
        const int width = 2 * r + 1;
        for (int i = 0; i < length; ++i) {
            at(i) = qRgba(sum[0] / width, sum[1] / width, sum[2] / width, sum[3] / width);
            add(i + r + 1, 1);
            add(i - r, -1);
        }
    }
}

// The tint each blur style lays over the blurred picture.
QColor tintOf(FrameView::BlurStyle style) {
    switch (style) {
        case FrameView::BlurStyle::ExtraLight:
            return QColor::fromRgbF(0.97f, 0.97f, 0.97f, 0.8f);
        case FrameView::BlurStyle::Dark:
            return QColor::fromRgbF(0.11f, 0.11f, 0.11f, 0.73f);
        case FrameView::BlurStyle::Light:
            break;
    }
    return QColor::fromRgbF(1, 1, 1, 0.3f);
}

}  // namespace

FrameView::FrameView(QWidget* parent) : QWidget(parent), content_(new QWidget(this)) {
    setAttribute(Qt::WA_TranslucentBackground);
    content_->resize(0, 0);
    QPointer<FrameView> self(this);
    platform::DispatchQueue::main()->async([self] {
        if (self) self->applyStyle();
    });
}

void FrameView::applyStyle() {
    background_ = QColor::fromRgbF(0.8f, 0.8f, 0.8f, 0.36f);
    cornerRadius_ = 9;
    styled_ = true;
    update();
}

void FrameView::setContent(QWidget* content) {
    if (!content || content == content_) return;
    if (QWidget* old = content_) {
        // Released like any content replaced: later, so a content whose own signal asked for the
        // replacement is not deleted under that signal.
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }
    content_ = content;
    content->setParent(this);
    platform::setAlpha(content, kContentAlpha);
    if (content->size().isEmpty() && content->sizeHint().isValid()) content->resize(content->sizeHint());
    content->move(0, 0);
    content->show();
    platform::setFrame(this, QRect(platform::frame(this).topLeft(), content->size()));
}

void FrameView::setEffect(std::optional<BlurStyle> effect) {
    effect_ = effect;
    update();
}

void FrameView::captureBackdrop(QWidget* below, QPoint offset) {
    backdrop_ = QImage();
    backdropOffset_ = offset;
    if (!below) return;
    // Only what lies under the panel, and a margin the blur draws from: a whole map window costs more
    // to draw than the rest of the showing.
    const int margin = 2 * kBlurRadius * kBackdropScale * 2;
    const QRect region = QRect(offset + platform::frame(this).topLeft(), platform::frame(this).size())
                             .adjusted(-margin, -margin, margin, margin)
                             .intersected(below->rect());
    if (region.isEmpty()) return;
    const QImage grabbed = below->grab(region).toImage();
    if (grabbed.isNull()) return;
    // Logical size: a high-density grab has more pixels than points.
    const QSize small = (region.size() / kBackdropScale).expandedTo(QSize(1, 1));
    QImage blurred = grabbed.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                         .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int pass = 0; pass < 2; ++pass) {
        boxBlur(blurred, kBlurRadius, true);
        boxBlur(blurred, kBlurRadius, false);
    }
    backdrop_ = blurred;
    backdropOrigin_ = region.topLeft();
}

void FrameView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
    painter.setClipPath(shape);
    if (effect_) {
        if (!backdrop_.isNull()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            // Where the panel lies in the picture (it stays put while the panel shows).
            const QPointF here(backdropOffset_ + pos() - backdropOrigin_);
            const QRectF source(here / kBackdropScale, QSizeF(size()) / kBackdropScale);
            painter.drawImage(QRectF(rect()), backdrop_, source);
        }
        painter.fillRect(rect(), tintOf(*effect_));
    }
    if (background_.alpha() > 0) painter.fillRect(rect(), background_);
}

}  // namespace tervolo::widgets::hud
