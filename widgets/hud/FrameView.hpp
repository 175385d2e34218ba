#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace tervolo::widgets::hud {

// The HUD's panel: a rounded (radius 9), light grey, translucent square over a blurred picture of
// what lies below, holding exactly one content view at its top-left corner and taking that view's
// size. The content is shown at 0.85 opacity. The styling (fill, corners) is applied on the main
// queue after construction, at the next turn of the event loop, before the panel is first painted.
//
// Desktop windows cannot blur what lies below a child widget, so the blur is approximated: the
// container hands the panel a blurred picture of the target view taken just before it reveals the
// panel (captureBackdrop), which it paints under its fill; the picture stays as it was while the panel
// shows. Without an effect the panel paints its fill alone. The platform's tilt-with-the-device
// motion effects have no desktop counterpart and are left out. Main thread only; points.
class FrameView : public QWidget {
    Q_OBJECT

  public:
    // The platform's blur styles (raw values kept).
    enum class BlurStyle { ExtraLight = 0, Light = 1, Dark = 2 };

    explicit FrameView(QWidget* parent = nullptr);

    // The one content view. Setting it takes ownership, releases the previous content, and sizes the
    // panel to the new content (its origin stays where it was).
    QWidget* content() const { return content_; }
    void setContent(QWidget* content);

    std::optional<BlurStyle> effect() const { return effect_; }
    void setEffect(std::optional<BlurStyle> effect);

    // The styling, once applied (before that: no fill, square corners).
    bool isStyled() const { return styled_; }
    QColor backgroundColor() const { return background_; }
    double cornerRadius() const { return cornerRadius_; }

    // Takes a blurred picture of what of `below` lies under the panel where it is now (the panel's own
    // ancestors and the panel itself must not be on it, so call it while the HUD is hidden); `offset`
    // is where the panel's parent lies in `below`. Null `below` drops the picture.
    void captureBackdrop(QWidget* below, QPoint offset);
    bool hasBackdrop() const { return !backdrop_.isNull(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void applyStyle();

    QPointer<QWidget> content_;
    std::optional<BlurStyle> effect_ = BlurStyle::Light;
    bool styled_ = false;
    QColor background_ = Qt::transparent;
    double cornerRadius_ = 0;
    QImage backdrop_;        // blurred, at 1/kBackdropScale of the grabbed region's size
    QPoint backdropOrigin_;  // the grabbed region's top-left corner in `below`
    QPoint backdropOffset_;
};

}  // namespace tervolo::widgets::hud
