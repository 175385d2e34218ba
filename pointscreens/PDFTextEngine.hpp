#pragma once

#include <QFont>
#include <QString>

#include <string>

#include "pointscreens/PDFLayout.hpp"

class QPaintDevice;
class QPainter;
class QTextLayout;

namespace tervolo::pointscreens {

// Sets the point-list PDF's texts with Qt's text engine: measures them for
// the layout and draws the placed texts, both through the same QTextLayout
// settings, so what is measured is what is drawn.
//
// The fonts are a fixed family, DejaVu Sans (Debian's fonts-dejavu-core),
// 20 pt bold for titles (the heaviest weight the family has) and 16 pt
// regular for text, unhinted, so pages break alike on every machine; scripts
// the family lacks (Chinese, Japanese, Korean) fall back through fontconfig to
// an installed font (fonts-wqy-microhei). Lines wrap at word boundaries, and
// inside a word only when the word alone is wider than the line, so no text is
// cut off; each text runs in the direction of its first strong character, so
// natural alignment puts right-to-left lines to the right. Line breaks in the
// text ("\n", "\r\n", "\r", U+2029) start new lines.
//
// Units: the device's; for the PDF writer at 72 dpi one unit is one point.
// Main thread only (Qt's fonts).
class PDFTextEngine : public PDFLayout::Measurer {
  public:
    static constexpr const char* kFontFamily = "DejaVu Sans";

    // `device` is where the texts will be drawn (its resolution sizes the
    // fonts); it must outlive the engine.
    explicit PDFTextEngine(QPaintDevice* device);

    PDFLayout::Measure measure(const std::string& text, PDFLayout::Style style, double wrapWidth) override;

    // Draws `placed` (its lines firstLine … firstLine + lineCount) in the
    // default (black) colour.
    void draw(QPainter& painter, const PDFLayout::PlacedText& placed) const;

    // The font of a style, sized for the engine's device.
    const QFont& font(PDFLayout::Style style) const;

    // The text as the engine sets it: UTF-8 read into UTF-16, line breaks
    // turned into line separators.
    static QString layoutText(const std::string& text);

  private:
    QPaintDevice* device_;
    QFont titleFont_;
    QFont textFont_;
};

}  // namespace tervolo::pointscreens
