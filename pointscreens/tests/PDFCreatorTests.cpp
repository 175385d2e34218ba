#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "PointScreensTestSupport.hpp"
#include "backend/BackendHosts.hpp"
#include "platform/ui/PrintInteractionController.hpp"
#include "points/QuovaMapPoint.hpp"
#include "pointscreens/PDFCreator.hpp"
#include "testsupport/TemporaryFolder.hpp"

using tervolo::pointscreens::PDFCreator;
using tervolo::pointscreens::PDFLayout;

namespace {

const std::string kLongSubtitle =
    "a note that goes on well past the width of one printed line, so the text engine has to wrap it "
    "at word boundaries onto further lines, and ends with the word LASTWORD";
const std::string kHebrew = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D";  // שלום עולם
const std::string kArabic =
    "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 "
    "\xD8\xA8\xD8\xA7\xD9\x84\xD8\xB9\xD8\xA7\xD9\x84\xD9\x85";                   // مرحبا بالعالم
const std::string kChinese = "\xE4\xB8\xAD\xE6\x96\x87\xE5\x9C\xB0\xE5\x9B\xBE";  // 中文地图
const std::string kJapanese = "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\xA7\x85\xE5\x89\x8D";  // 東京駅前

// A list of about three pages: long, CJK and right-to-left lines among plain ones.
PDFCreator threePageCreator() {
    PDFCreator creator;
    creator.setTitleLine("Locations from Tervolo");
    creator.setSubtitleLine("Sorted by title");
    PDFLayout::PointsDict dict;
    dict["B"] = {pointscreens_test::titledPoint("Bakery Lindqvist", "Storgatan 12"),
                 pointscreens_test::titledPoint("Boat yard", ""),
                 pointscreens_test::titledPoint("Bridge", kLongSubtitle)};
    dict["A"] = {pointscreens_test::titledPoint("Airport", "Terminal 2"),
                 pointscreens_test::titledPoint(std::nullopt, "no title here")};
    dict["Deleted Points"] = {pointscreens_test::titledPoint("Old camp", "gone")};
    dict["D"] = {pointscreens_test::titledPoint(kChinese, kJapanese), pointscreens_test::titledPoint(kHebrew),
                 pointscreens_test::titledPoint(kArabic)};
    for (int i = 0; i < 40; ++i) {
        dict["M"].push_back(pointscreens_test::titledPoint("Marker " + std::to_string(i),
                                                           "Meadow path " + std::to_string(i)));
    }
    creator.setPointsDict(std::move(dict));
    return creator;
}

QImage renderPage(const std::vector<uint8_t>& pdf, int page, double dpi = 72) {
    QByteArray bytes(reinterpret_cast<const char*>(pdf.data()), static_cast<qsizetype>(pdf.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&buffer);
    EXPECT_EQ(document.status(), QPdfDocument::Status::Ready);
    const QSize size = (document.pagePointSize(page) * dpi / 72).toSize();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QImage rendered = document.render(page, size);
    QPainter painter(&image);
    painter.drawImage(0, 0, rendered);
    painter.end();
    return image;
}

struct Ink {
    int left = -1, right = -1;  // columns, inclusive; -1 when none
    QImage crop;
};

// The ink (dark pixels) between rows top and bottom (points at 72 dpi).
Ink inkBetween(const QImage& page, double top, double bottom) {
    Ink ink;
    int firstRow = -1, lastRow = -1;
    for (int y = std::max(0, static_cast<int>(top));
         y < std::min(page.height(), static_cast<int>(bottom + 1)); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            if (qGray(page.pixel(x, y)) >= 160) continue;
            if (ink.left < 0 || x < ink.left) ink.left = x;
            ink.right = std::max(ink.right, x);
            if (firstRow < 0) firstRow = y;
            lastRow = y;
        }
    }
    if (ink.left >= 0)
        ink.crop = page.copy(ink.left, firstRow, ink.right - ink.left + 1, lastRow - firstRow + 1);
    return ink;
}

const PDFLayout::PlacedText* find(const std::vector<PDFLayout::Page>& pages, const std::string& prefix,
                                  size_t* pageIndex = nullptr) {
    for (size_t p = 0; p < pages.size(); ++p) {
        for (const auto& text : pages[p].texts) {
            if (text.text.rfind(prefix, 0) == 0) {
                if (pageIndex) *pageIndex = p;
                return &text;
            }
        }
    }
    return nullptr;
}

class PDFCreatorTest : public pointscreens_test::ApplicationTest {
  protected:
    void TearDown() override {
        tervolo::backend::BackendHosts::setProductWebBaseURLForTesting(std::nullopt);
        platform::PrintInteractionController::setOutputFileForTesting(std::nullopt);
        ApplicationTest::TearDown();
    }
    tervolo::testsupport::TemporaryFolder folder;
};

}  // namespace

TEST_F(PDFCreatorTest, DocumentInformationPageSizeAndPageCount) {
    struct Case {
        std::optional<std::string> web;
        std::string author;
    } cases[] = {
        {std::nullopt, tervolo::backend::BackendHosts::productWebBaseURL() + "/"},
        {"https://maps.example.org", "https://maps.example.org/"},
        // Parentheses and a backslash must come out escaped, not end the string.
        {"https://example.org/a(b)\\c", "https://example.org/a(b)\\c/"},
        {"https://b\xC3\xBC"
         "cher.example",
         "https://b\xC3\xBC"
         "cher.example/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.author);
        tervolo::backend::BackendHosts::setProductWebBaseURLForTesting(c.web);
        const PDFCreator creator = threePageCreator();
        const auto bytes = creator.createPDF();
        const std::string file = folder.file("info.pdf");
        pointscreens_test::writeFile(file, bytes);
        auto info = pointscreens_test::pdfinfo(file);
        EXPECT_EQ(info["Title"], "Locations from Tervolo");
        EXPECT_EQ(info["Creator"], "Tervolo for Linux");
        EXPECT_EQ(info["Author"], c.author);
        EXPECT_NE(info["Producer"], "");  // the writer's own entries stay
        // The writer keeps whole points: 595.44 comes out as 595.
        EXPECT_EQ(info["Page size"].rfind("595 x 792 pts", 0), 0u) << info["Page size"];
        const auto pages = creator.layoutPages();
        EXPECT_EQ(pages.size(), 3u);
        EXPECT_EQ(info["Pages"], std::to_string(pages.size()));
    }
}

TEST_F(PDFCreatorTest, EmptyListIsOnePageWithTheTwoLines) {
    PDFCreator creator;
    creator.setTitleLine("Locations from Tervolo");
    creator.setSubtitleLine("No points");
    const auto bytes = creator.createPDF();
    const std::string file = folder.file("empty.pdf");
    pointscreens_test::writeFile(file, bytes);
    EXPECT_EQ(pointscreens_test::pdfinfo(file)["Pages"], "1");
    const std::string text =
        pointscreens_test::runTool("pdftotext", {"-layout", QString::fromStdString(file), "-"});
    EXPECT_NE(text.find("Locations from Tervolo"), std::string::npos);
    EXPECT_NE(text.find("No points"), std::string::npos);
    // Nothing at all is still a readable one-page document.
    pointscreens_test::writeFile(file, PDFCreator().createPDF());
    EXPECT_EQ(pointscreens_test::pdfinfo(file)["Pages"], "1");
}

TEST_F(PDFCreatorTest, TextComesOutInSectionOrderAndNothingIsCut) {
    const auto bytes = threePageCreator().createPDF();
    const std::string file = folder.file("order.pdf");
    pointscreens_test::writeFile(file, bytes);
    const std::string text =
        pointscreens_test::runTool("pdftotext", {"-layout", QString::fromStdString(file), "-"});
    const std::vector<std::string> order = {"Locations from Tervolo",
                                            "Sorted by title",
                                            "Airport, Terminal 2",
                                            "(unknown), no title here",
                                            "Bakery Lindqvist, Storgatan 12",
                                            "Boat yard,",
                                            "Bridge, a note",
                                            "LASTWORD",
                                            kChinese,
                                            "Deleted Points",
                                            "Old camp, gone",
                                            "Marker 0,",
                                            "Marker 39, Meadow path 39"};
    size_t at = 0;
    for (const auto& expected : order) {
        SCOPED_TRACE(expected);
        const size_t found = text.find(expected, at);
        ASSERT_NE(found, std::string::npos);
        at = found + expected.size();
    }
}

TEST_F(PDFCreatorTest, TitleIsCentredAndBodyStartsAtTheMargin) {
    const PDFCreator creator = threePageCreator();
    const auto bytes = creator.createPDF();
    const auto pages = creator.layoutPages();
    const QImage page = renderPage(bytes, 0);
    const auto& title = pages[0].texts[0];
    const Ink titleInk = inkBetween(page, title.y, title.y + title.height);
    ASSERT_GE(titleInk.left, 0);
    EXPECT_NEAR((titleInk.left + titleInk.right + 1) / 2.0, 297.72, 2.0);
    const auto* airport = find(pages, "Airport");
    ASSERT_NE(airport, nullptr);
    const Ink body = inkBetween(page, airport->y, airport->y + airport->height);
    EXPECT_NEAR(body.left, 72, 2.0);
    // The wrapped note stays inside the text column.
    const auto* bridge = find(pages, "Bridge");
    ASSERT_NE(bridge, nullptr);
    EXPECT_GE(bridge->lineCount, 2u);
    const Ink note = inkBetween(page, bridge->y, bridge->y + bridge->height);
    EXPECT_GE(note.left, 70);
    EXPECT_LE(note.right, 72 + 451.44 + 1);
}

TEST_F(PDFCreatorTest, OverWideTitleAndLongWordStayOnThePage) {
    const std::string url =
        "https://www.example.org/trails/northern-ridge/segment-12/waypoints/"
        "0042-the-old-quarry-above-the-lake-ENDOFURL";
    PDFCreator creator;
    creator.setTitleLine(
        "Locations from Tervolo shared with the hiking club of the northern valley ENDOFTITLE");
    creator.setPointsDict({{"Q", {pointscreens_test::titledPoint("Quarry", url)}}});
    const auto bytes = creator.createPDF();
    const auto pages = creator.layoutPages();
    const QImage page = renderPage(bytes, 0);
    pointscreens_test::saveScreenshot(page, "pdf-wide-title");

    const auto& title = pages[0].texts[0];
    EXPECT_TRUE(title.wraps);
    EXPECT_GE(title.lineCount, 2u);
    const Ink titleInk = inkBetween(page, title.y, title.y + title.height);
    EXPECT_GE(titleInk.left, 72 - 1);
    EXPECT_LE(titleInk.right, 72 + 451.44 + 1);
    EXPECT_NEAR((titleInk.left + titleInk.right + 1) / 2.0, 297.72, 3.0);

    const auto* quarry = find(pages, "Quarry");
    ASSERT_NE(quarry, nullptr);
    EXPECT_GE(quarry->lineCount, 2u);  // the address alone is wider than the column
    const Ink line = inkBetween(page, quarry->y, quarry->y + quarry->height);
    EXPECT_LE(line.right, 72 + 451.44 + 1);

    const std::string file = folder.file("wide.pdf");
    pointscreens_test::writeFile(file, bytes);
    const std::string text = pointscreens_test::runTool("pdftotext", {QString::fromStdString(file), "-"});
    EXPECT_NE(text.find("ENDOFTITLE"), std::string::npos);
    EXPECT_NE(text.find("ENDOFURL"), std::string::npos);
}

TEST_F(PDFCreatorTest, RightToLeftLinesSitAtTheRightAndCJKIsDrawnAsGlyphs) {
    const PDFCreator creator = threePageCreator();
    const auto bytes = creator.createPDF();
    const auto pages = creator.layoutPages();
    const std::string file = folder.file("scripts.pdf");
    pointscreens_test::writeFile(file, bytes);

    for (const std::string& rtl : {kHebrew, kArabic}) {
        SCOPED_TRACE(rtl);
        size_t pageIndex = 0;
        const auto* line = find(pages, rtl, &pageIndex);
        ASSERT_NE(line, nullptr);
        const Ink ink =
            inkBetween(renderPage(bytes, static_cast<int>(pageIndex)), line->y, line->y + line->height);
        ASSERT_GE(ink.left, 0);
        EXPECT_NEAR(ink.right + 1, 72 + 451.44, 2.5);
        EXPECT_GT(ink.left, 300);
    }

    // The CJK line is set in a font that has the glyphs: the text reads back,
    // and two different strings do not draw the same (a row of empty boxes would).
    const std::string text = pointscreens_test::runTool("pdftotext", {QString::fromStdString(file), "-"});
    EXPECT_NE(text.find(kChinese), std::string::npos);
    EXPECT_NE(text.find(kJapanese), std::string::npos);
    EXPECT_NE(text.find(kHebrew.substr(0, 4)), std::string::npos);
    const std::string fonts = pointscreens_test::runTool("pdffonts", {QString::fromStdString(file)});
    EXPECT_NE(fonts.find("DejaVuSans-Bold"), std::string::npos) << fonts;
    EXPECT_NE(fonts.find("WenQuanYi"), std::string::npos) << fonts;

    PDFCreator pair;
    pair.setPointsDict(
        {{"C", {pointscreens_test::titledPoint(kChinese), pointscreens_test::titledPoint(kJapanese)}}});
    const auto pairBytes = pair.createPDF();
    const auto pairPages = pair.layoutPages();
    const QImage page = renderPage(pairBytes, 0);
    const auto& first = pairPages[0].texts[1];
    const auto& second = pairPages[0].texts[2];
    const Ink a = inkBetween(page, first.y, first.y + first.height);
    const Ink b = inkBetween(page, second.y, second.y + second.height);
    ASSERT_FALSE(a.crop.isNull());
    ASSERT_FALSE(b.crop.isNull());
    EXPECT_NE(a.crop, b.crop);
}

TEST_F(PDFCreatorTest, PrintedFileHasTheSamePageCount) {
    const auto bytes = threePageCreator().createPDF();
    const std::string printed = folder.file("printed.pdf");
    platform::PrintInteractionController::setOutputFileForTesting(printed);
    auto controller = platform::PrintInteractionController::make();
    controller->setPrintingItem(bytes);
    std::optional<bool> completed;
    controller->present(true, [&](bool done) { completed = done; });
    ASSERT_EQ(completed, std::optional<bool>(true));
    EXPECT_EQ(pointscreens_test::pdfinfo(printed)["Pages"], "3");
    // The printout shows the pages: the first has the title's ink where the PDF has it.
    QFile file(QString::fromStdString(printed));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    const QImage page = renderPage(std::vector<uint8_t>(data.begin(), data.end()), 0);
    const Ink title = inkBetween(page, 72, 100);
    ASSERT_GE(title.left, 0);
    EXPECT_NEAR((title.left + title.right + 1) / 2.0, 297.72, 3.0);
}

// Emoji come out as their colour pictures, on the page and in its preview,
// between the letters around them; the letters still read back as text.
TEST_F(PDFCreatorTest, EmojiAreDrawnInColourNotLeftBlank) {
    const std::string beer = "\xF0\x9F\x8D\xBA";         // 🍺
    const std::string beach = "\xF0\x9F\x8F\x96";        // 🏖
    const std::string wastebasket = "\xF0\x9F\x97\x91";  // 🗑
    PDFCreator creator;
    creator.setTitleLine("Locations from Tervolo");
    creator.setPointsDict({{"E",
                            {pointscreens_test::titledPoint("Pub " + beer + " Kallio", "Helsinki"),
                             pointscreens_test::titledPoint("Beach " + beach + " Hietaranta"),
                             pointscreens_test::titledPoint("Bin " + wastebasket + " corner")}}});
    const auto bytes = creator.createPDF();
    const auto pages = creator.layoutPages();
    const QImage page = renderPage(bytes, 0, 144);
    QDir().mkpath(QStringLiteral(TERVOLO_SCREENSHOT_DIR));
    page.save(QStringLiteral(TERVOLO_SCREENSHOT_DIR "/pdf-emoji.png"));
    for (const std::string& prefix : {std::string("Pub "), std::string("Beach "), std::string("Bin ")}) {
        SCOPED_TRACE(prefix);
        const auto* line = find(pages, prefix);
        ASSERT_NE(line, nullptr);
        // Coloured pixels (the emoji's) in the line's band; the letters are black.
        int coloured = 0;
        for (int y = int(line->y * 2); y < int((line->y + line->height) * 2) && y < page.height(); ++y) {
            for (int x = 0; x < page.width(); ++x) {
                const QColor c = page.pixelColor(x, y);
                if (c.hsvSaturation() > 90 && c.value() > 60) ++coloured;
            }
        }
        EXPECT_GT(coloured, 40) << "the emoji is drawn";
    }
    const std::string file = folder.file("emoji.pdf");
    pointscreens_test::writeFile(file, bytes);
    const std::string text = pointscreens_test::runTool("pdftotext", {QString::fromStdString(file), "-"});
    EXPECT_NE(text.find("Kallio"), std::string::npos) << text;
    EXPECT_NE(text.find("corner"), std::string::npos) << text;
}
