#include "platform/ui/ImageView.hpp"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

// Resources of a static library must be pulled in by name; outside any namespace, as the macro needs.
static void initPlatformSymbols() {
    static const bool done = [] {
        Q_INIT_RESOURCE(PlatformSymbols);
        return true;
    }();
    (void)done;
}

namespace platform {

NamedImage NamedImage::named(const QString& name) {
    initPlatformSymbols();
    NamedImage found;
    const QString base = QStringLiteral(":/images/") + name;
    for (const QString& path : {base + QStringLiteral(".svg"), base + QStringLiteral(".png"), base}) {
        if (!QFile::exists(path)) continue;
        if (path.endsWith(QStringLiteral(".svg"))) {
            auto renderer = std::make_shared<QSvgRenderer>(path);
            if (!renderer->isValid()) continue;
            found.svg_ = std::move(renderer);
            return found;
        }
        QImage bitmap(path);
        if (bitmap.isNull()) continue;
        found.bitmap_ = bitmap;
        return found;
    }
    return found;
}

NamedImage NamedImage::fromImage(const QImage& image) {
    NamedImage made;
    made.bitmap_ = image;
    return made;
}

QSize NamedImage::size() const {
    if (svg_) return svg_->defaultSize();
    return bitmap_.size();
}

QImage NamedImage::render(QSize size, const QColor& tint) const {
    if (isNull() || size.isEmpty()) return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        if (svg_) {
            svg_->render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
        } else {
            painter.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), bitmap_);
        }
        if (tint.isValid()) {
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(image.rect(), tint);
        }
    }
    return image;
}

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void ImageView::setImage(const QImage& image) {
    image_ = NamedImage::fromImage(image);
    updateGeometry();
    update();
}

bool ImageView::setImageNamed(const QString& name) {
    image_ = NamedImage::named(name);
    updateGeometry();
    update();
    return !image_.isNull();
}

void ImageView::setContentMode(ContentMode mode) {
    mode_ = mode;
    update();
}

void ImageView::setTintColor(const QColor& color) {
    tint_ = color;
    update();
}

QSize ImageView::sizeHint() const {
    return image_.isNull() ? QSize(0, 0) : image_.size();
}

QRectF ImageView::imageRect() const {
    const QSizeF natural = image_.size();
    const QRectF bounds = rect();
    if (natural.isEmpty()) return {};
    QSizeF drawn = natural;
    switch (mode_) {
        case ContentMode::ScaleToFill:
            return bounds;
        case ContentMode::ScaleAspectFit:
            drawn = natural.scaled(bounds.size(), Qt::KeepAspectRatio);
            break;
        case ContentMode::ScaleAspectFill:
            drawn = natural.scaled(bounds.size(), Qt::KeepAspectRatioByExpanding);
            break;
        case ContentMode::Center:
            break;
    }
    return QRectF(bounds.center() - QPointF(drawn.width() / 2, drawn.height() / 2), drawn);
}

void ImageView::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    const QRectF target = imageRect();
    QPainter painter(this);
    // The ratio of what is painted on (the screen, or an image of twice the size when the widget is
    // rendered for a sharp copy), so vector images are drawn at its full resolution.
    const double ratio = painter.device()->devicePixelRatioF();
    const QSize pixels(std::max(1, static_cast<int>(std::ceil(target.width() * ratio))),
                       std::max(1, static_cast<int>(std::ceil(target.height() * ratio))));
    painter.setClipRect(rect());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image_.render(pixels, tint_));
}

}  // namespace platform
