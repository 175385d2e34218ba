#pragma once

#include <QSlider>

namespace platform {

// A horizontal slider over a continuous range of doubles (QSlider underneath with kResolution steps
// across the range). valueChanged is emitted for the user's moves only: while dragging when
// continuous (the default), else once on release; never for setValue. Main thread only.
class Slider : public QSlider {
    Q_OBJECT

  public:
    static constexpr int kResolution = 10000;

    explicit Slider(QWidget* parent = nullptr);

    double value() const;
    void setValue(double value);  // clamped to the range
    double minimumValue() const { return minimum_; }
    double maximumValue() const { return maximum_; }
    // An empty or reversed range becomes the single value `minimum`.
    void setRange(double minimum, double maximum);
    bool isContinuous() const { return continuous_; }
    void setContinuous(bool continuous) { continuous_ = continuous; }

  signals:
    void valueChanged(double value);

  private:
    int toSteps(double value) const;

    double minimum_ = 0;
    double maximum_ = 1;
    bool continuous_ = true;
};

}  // namespace platform
