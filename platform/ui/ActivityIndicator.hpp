#pragma once

#include <QColor>
#include <QWidget>

namespace platform {

// The spinning wheel of twelve spokes that shows work under way. It turns in twelve steps a second
// through an Animator keyed animation ("rotation"), so tests drive it on virtual time. With
// hidesWhenStopped (the default) it is hidden while stopped and shown by startAnimating. Main thread
// only.
class ActivityIndicator : public QWidget {
    Q_OBJECT

  public:
    enum class Style { Medium, Large };  // 20 and 37 pixels across

    explicit ActivityIndicator(Style style = Style::Medium, QWidget* parent = nullptr);
    ~ActivityIndicator() override;

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool hides);
    QColor color() const { return color_; }
    void setColor(const QColor& color);
    // The step on screen, 0…11 (tests).
    int step() const { return step_; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Style style_;
    QColor color_ = QColor(0x8e, 0x8e, 0x93);
    bool animating_ = false;
    bool hidesWhenStopped_ = true;
    int step_ = 0;
};

}  // namespace platform
