#pragma once

#include <QFont>
#include <QLabel>

namespace platform {

// `font` with its size multiplied by `factor` (point or pixel size, whichever the font uses).
QFont scaledFont(const QFont& font, double factor);
// Sets the label's text colour (alpha included) through its palette.
void setTextColor(QLabel* label, const QColor& color);

// A one-line label with the platform label's fitting rules: with adjustsFontSizeToFitWidth the font
// shrinks (down to minimumScaleFactor of its size) until the text fits the width; what still does
// not fit is elided as lineBreakMode says (at the end by default, or in the middle). With
// allowsDefaultTighteningForTruncation the letters first move closer together (by up to a tenth of
// the font's height each) before the text is elided. sizeToFit sizes it to its text. Measures with
// textSize. Main thread only.
class Label : public QLabel {
    Q_OBJECT

  public:
    explicit Label(const QString& text = {}, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return fullText_; }
    void setFont(const QFont& font);
    QFont font() const { return font_; }
    bool adjustsFontSizeToFitWidth() const { return adjusts_; }
    void setAdjustsFontSizeToFitWidth(bool adjusts);
    double minimumScaleFactor() const { return minimumScale_; }
    void setMinimumScaleFactor(double factor);
    Qt::TextElideMode lineBreakMode() const { return elide_; }
    void setLineBreakMode(Qt::TextElideMode mode);
    bool allowsDefaultTighteningForTruncation() const { return tightens_; }
    void setAllowsDefaultTighteningForTruncation(bool allows);
    void sizeToFit();

    // What is shown: the scale applied to the font, the letter spacing taken off by tightening
    // (pixels, 0 or negative) and the possibly elided text.
    double appliedScale() const { return appliedScale_; }
    double appliedLetterSpacing() const { return appliedSpacing_; }
    QString shownText() const { return QLabel::text(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void fit();

    QString fullText_;
    QFont font_;
    bool adjusts_ = false;
    double minimumScale_ = 0;
    Qt::TextElideMode elide_ = Qt::ElideRight;
    bool tightens_ = false;
    double appliedScale_ = 1;
    double appliedSpacing_ = 0;
};

}  // namespace platform
