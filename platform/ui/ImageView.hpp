#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

class QSvgRenderer;

namespace platform {

// A named image from the program's Qt resources: ":/images/<name>.svg", then ".png", then the name as
// given (with its extension). SVGs stay vectors until drawn, so they are sharp at any size; their
// natural size is the SVG's own. An image that is not found is null. Main thread only.
class NamedImage {
  public:
    static NamedImage named(const QString& name);
    static NamedImage fromImage(const QImage& image);

    bool isNull() const { return !svg_ && bitmap_.isNull(); }
    bool isVector() const { return svg_ != nullptr; }
    QSize size() const;
    // Drawn at `size` pixels; a template (symbol) image takes `tint` where it is opaque.
    QImage render(QSize size, const QColor& tint = QColor()) const;

  private:
    std::shared_ptr<QSvgRenderer> svg_;
    QImage bitmap_;
};

// Shows an image the way the platform's image view does, by content mode. Main thread only.
class ImageView : public QWidget {
    Q_OBJECT

  public:
    enum class ContentMode { ScaleToFill, ScaleAspectFit, ScaleAspectFill, Center };

    explicit ImageView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    // Looks the name up as NamedImage does; false (and no image) when there is none.
    bool setImageNamed(const QString& name);
    const NamedImage& image() const { return image_; }
    ContentMode contentMode() const { return mode_; }
    void setContentMode(ContentMode mode);
    // Paints template images (symbols) in this colour; invalid: as drawn.
    void setTintColor(const QColor& color);
    // The rectangle the image is drawn into for the current size and mode.
    QRectF imageRect() const;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    NamedImage image_;
    ContentMode mode_ = ContentMode::ScaleToFill;
    QColor tint_;
};

}  // namespace platform
