#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

namespace tervolo::widgets::hud {

// A label of up to numberOfLines lines (0: as many as the height takes) with the platform label's
// fitting rules, for the HUD's subtitle and text panels: words wrap at the width, a line feed always breaks;
// with adjustsFontSizeToFitWidth the font shrinks (down to minimumScaleFactor of its size; 0 means the full
// size is already the smallest, as on the platform) until the text fits the lines and the height; what still
// does not fit is cut, the last line ending in "…". The lines are centred vertically and aligned horizontally
// by `alignment`. Measures with Qt's text layout, like platform::textSize. Main thread only.
class MultilineLabel : public QWidget {
    Q_OBJECT

  public:
    explicit MultilineLabel(QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    QFont font() const { return font_; }
    void setFont(const QFont& font);
    QColor textColor() const { return color_; }
    void setTextColor(const QColor& color);
    Qt::Alignment alignment() const { return alignment_; }
    void setAlignment(Qt::Alignment alignment);
    // The lines `text` wraps into at `width` as this label wraps it (at word boundaries, inside a
    // word only when the word alone is wider; a line feed always breaks).
    static int lineCount(const QFont& font, const QString& text, double width);
    int numberOfLines() const { return lines_; }
    void setNumberOfLines(int lines);
    bool adjustsFontSizeToFitWidth() const { return adjusts_; }
    void setAdjustsFontSizeToFitWidth(bool adjusts);
    double minimumScaleFactor() const { return minimumScale_; }
    void setMinimumScaleFactor(double factor);

    // Whether the text fits `width` × `height` (contents, without the label's margins) at the full
    // font size within numberOfLines.
    bool fitsAtFullSize(double width, double height) const;

    // Shows the lines on a plate: a rounded rect around them in the palette's window colour, a little
    // translucent, with the text in its window text colour (textColor is then not used), so a line
    // over a map reads in a light and a dark palette alike. Off by default. The plate reaches
    // kPlatePadding beyond the text sideways and 1 point up and down, within the label: a label that
    // shows one gives its contents that much margin.
    static constexpr int kPlatePadding = 4;
    bool showsPlate() const { return plate_; }
    void setShowsPlate(bool shows);
    // Where the plate is drawn, in the label's coordinates; empty without a plate or text.
    QRectF plateRect() const;

    // What is shown: the scale applied to the font and the lines drawn.
    double appliedScale() const { return appliedScale_; }
    QFont shownFont() const { return shownFont_; }
    QStringList shownLines() const { return shown_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void fit();
    // The shown lines' boxes as paintEvent draws them.
    std::vector<QRectF> lineRects() const;

    QString text_;
    QFont font_;
    QColor color_ = Qt::black;
    Qt::Alignment alignment_ = Qt::AlignHCenter;
    bool plate_ = false;
    int lines_ = 1;
    bool adjusts_ = false;
    double minimumScale_ = 0;
    double appliedScale_ = 1;
    QFont shownFont_;
    QStringList shown_;
};

}  // namespace tervolo::widgets::hud
