#pragma once

#include <QColor>
#include <QWidget>

namespace platform {

// An on/off switch: a rounded track with a knob that slides (0.25 s through the Animator) when it
// changes. valueChanged is emitted when the user flips it (click, Space), never for setOn. Main
// thread only.
class Switch : public QWidget {
    Q_OBJECT

  public:
    explicit Switch(QWidget* parent = nullptr);
    ~Switch() override;

    bool isOn() const { return on_; }
    void setOn(bool on, bool animated = false);
    QColor onTintColor() const { return onTint_; }
    void setOnTintColor(const QColor& color);
    // Where the knob is drawn, 0 (off) … 1 (on) (tests).
    double knobPosition() const { return knob_; }

    QSize sizeHint() const override { return QSize(51, 31); }

  signals:
    void valueChanged(bool on);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void userToggle();

    bool on_ = false;
    double knob_ = 0;
    QColor onTint_ = QColor(0x34, 0xc7, 0x59);
};

}  // namespace platform
