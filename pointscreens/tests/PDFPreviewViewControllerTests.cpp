#include <gtest/gtest.h>

#include <QAction>
#include <QBuffer>
#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QPainter>
#include <QPalette>
#include <QPdfDocument>
#include <QPdfView>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "PointScreensTestSupport.hpp"
#include "logging/QLLogFlag.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/PrintInteractionController.hpp"
#include "points/QuovaMapPoint.hpp"
#include "pointscreens/PDFCreator.hpp"
#include "pointscreens/PDFPreviewViewController.hpp"
#include "testsupport/Eventually.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/logging/LogRecorder.hpp"

using platform::BarButtonItem;
using platform::MainWindow;
using platform::NavigationController;
using platform::ViewController;
using tervolo::pointscreens::PDFCreator;
using tervolo::pointscreens::PDFLayout;
using tervolo::pointscreens::PDFPreviewViewController;

namespace {

std::shared_ptr<tervolo::points::QuovaMapPoint> namedPoint(std::string title,
                                                           std::optional<std::string> subtitle) {
    auto p = tervolo::points::QuovaMapPoint::make(title);
    p->setSubtitle(std::move(subtitle));
    return p;
}

// Three pages: plain lines, a long wrapped note, Chinese, Japanese, Hebrew and Arabic lines.
std::vector<uint8_t> threePageDocument() {
    PDFCreator creator;
    creator.setTitleLine("Locations from Tervolo");
    creator.setSubtitleLine("Sorted by title \xE2\x80\x94 42 locations");
    PDFLayout::PointsDict dict;
    dict["A"] = {namedPoint("Airport", "Terminal 2, departures level"), namedPoint("Anchorage", "")};
    dict["B"] = {
        namedPoint("Bridge",
                   "A long note about the bridge: closed for repairs from May to September, the ferry "
                   "runs every half hour instead and the footpath along the river stays open all year")};
    dict["\xE4\xB8\xAD"] = {namedPoint("\xE4\xB8\xAD\xE6\x96\x87\xE5\x9C\xB0\xE5\x9B\xBE",
                                       "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\xA7\x85\xE5\x89\x8D")};
    dict["\xD7\xA9"] = {namedPoint("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D",
                                   "\xD7\xAA\xD7\x9C \xD7\x90\xD7\x91\xD7\x99\xD7\x91")};
    dict["\xD9\x85"] = {namedPoint(
        "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 \xD8\xA8\xD8\xA7\xD9\x84\xD8\xB9\xD8\xA7\xD9\x84\xD9\x85",
        std::nullopt)};
    for (int i = 0; i < 40; ++i) {
        dict["M"].push_back(namedPoint("Marker " + std::to_string(i), "Meadow path " + std::to_string(i)));
    }
    creator.setPointsDict(std::move(dict));
    return creator.createPDF();
}

// What shows the PDF: the root of a window that presents the preview in a
// navigation controller, as the point table does.
class Host : public ViewController {};

class PDFPreviewTest : public pointscreens_test::ApplicationTest {
  protected:
    void TearDown() override {
        platform::PrintInteractionController::setOutputFileForTesting(std::nullopt);
        // Widgets go before the application does.
        window_.reset();
        host_.reset();
        ApplicationTest::TearDown();
    }

    // Presents a preview of `data` full screen in a navigation controller.
    std::shared_ptr<PDFPreviewViewController> present(std::optional<std::vector<uint8_t>> data) {
        window_ = std::make_unique<MainWindow>();
        window_->resize(820, 700);
        host_ = std::make_shared<Host>();
        window_->setRootViewController(host_);
        window_->show();
        auto preview = std::make_shared<PDFPreviewViewController>("SomeOtherNib");
        preview->setDocumentData(std::move(data));
        auto navigation = std::make_shared<NavigationController>(preview);
        navigation->setModalPresentationStyle(platform::ModalPresentationStyle::fullScreen);
        host_->present(navigation, true);
        return preview;
    }

    // Lets the PDF view's renderer finish until its pages show ink: a dark
    // pixel with white paper close on both sides (a dark window background
    // beside a blank page has paper on one side only).
    static bool waitForPages(QWidget& view) {
        return tervolo::testsupport::eventually([&] {
            QCoreApplication::processEvents();
            const QImage image = view.grab().toImage();
            const auto paper = [&](int x, int y) {
                return x >= 0 && x < image.width() && qGray(image.pixel(x, y)) > 240;
            };
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (qGray(image.pixel(x, y)) >= 60) continue;
                    bool left = false, right = false;
                    for (int d = 1; d <= 4; ++d) {
                        left = left || paper(x - d, y);
                        right = right || paper(x + d, y);
                    }
                    if (left && right) return true;
                }
            }
            return false;
        });
    }

    platform::ImmediateAnimationsScope immediate_;
    tervolo::testsupport::TemporaryFolder folder_;
    std::unique_ptr<MainWindow> window_;
    std::shared_ptr<Host> host_;
};

}  // namespace

TEST_F(PDFPreviewTest, BuildsPDFPreviewViewWhateverTheInterfaceName) {
    for (const auto& name :
         {std::optional<std::string>(), std::optional<std::string>("PointTableViewController"),
          std::optional<std::string>("PDFPreviewView")}) {
        PDFPreviewViewController preview(name);
        EXPECT_EQ(preview.view()->objectName(), "PDFPreviewView");
        ASSERT_NE(preview.pdfView(), nullptr);
        ASSERT_NE(preview.bottomBar(), nullptr);
        ASSERT_NE(preview.printButton(), nullptr);
        EXPECT_EQ(preview.pdfView()->zoomMode(), QPdfView::ZoomMode::FitToWidth);
        EXPECT_EQ(preview.documentData(), std::nullopt);
    }
}

TEST_F(PDFPreviewTest, AppearingShowsTheDocumentTitleDoneAndPrint) {
    const auto bytes = threePageDocument();
    auto preview = present(bytes);
    ASSERT_TRUE(preview->isVisible());
    ASSERT_NE(preview->document(), nullptr);
    EXPECT_EQ(preview->document()->status(), QPdfDocument::Status::Ready);
    EXPECT_EQ(preview->document()->pageCount(), 3);
    EXPECT_EQ(preview->pdfView()->zoomMode(), QPdfView::ZoomMode::FitToWidth);
    EXPECT_EQ(preview->title(), "Print Preview");
    EXPECT_EQ(preview->navigationController()->navigationBar().displayedTitle(), "Print Preview");
    const auto done = preview->navigationItem().rightBarButtonItem();
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->title(), "Done");
    EXPECT_EQ(done->style(), BarButtonItem::Style::done);
    EXPECT_EQ(preview->printButton()->title(), "Print");
    QAction* print = preview->bottomBar()->item("print");
    ASSERT_NE(print, nullptr);
    EXPECT_EQ(print->text(), "Print");
    EXPECT_TRUE(print->isVisible());
    // The toolbar sits below the PDF view, across the screen.
    EXPECT_GE(preview->bottomBar()->geometry().top(), preview->pdfView()->geometry().bottom());
    EXPECT_EQ(preview->bottomBar()->width(), preview->view()->width());
}

TEST_F(PDFPreviewTest, DocumentOnlyForBytesThatAreAPDF) {
    struct Case {
        const char* name;
        std::optional<std::vector<uint8_t>> data;
        bool shows;
    } cases[] = {
        {"no data", std::nullopt, false},
        {"not a PDF", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}, false},
        {"empty bytes", std::vector<uint8_t>{}, false},
        {"a PDF", threePageDocument(), true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        PDFPreviewViewController preview;
        preview.setDocumentData(c.data);
        preview.view();
        preview.viewWillAppear(false);
        EXPECT_EQ(preview.document() != nullptr, c.shows);
        EXPECT_EQ(preview.title(), "Print Preview");
    }
}

TEST_F(PDFPreviewTest, EachAppearanceShowsTheDataSetLast) {
    PDFPreviewViewController preview;
    preview.view();
    preview.setDocumentData(threePageDocument());
    preview.viewWillAppear(false);
    ASSERT_NE(preview.document(), nullptr);
    EXPECT_EQ(preview.document()->pageCount(), 3);
    preview.setDocumentData(PDFCreator().createPDF());
    preview.viewWillAppear(false);
    ASSERT_NE(preview.document(), nullptr);
    EXPECT_EQ(preview.document()->pageCount(), 1);
    const QImage page = preview.document()->render(0, QSize(120, 160));
    EXPECT_FALSE(page.isNull());
}

TEST_F(PDFPreviewTest, DoneDismissesTheNavigationController) {
    auto preview = present(threePageDocument());
    ASSERT_NE(host_->presentedViewController(), nullptr);
    preview->navigationItem().rightBarButtonItem()->trigger();
    EXPECT_EQ(host_->presentedViewController(), nullptr);
    EXPECT_TRUE(preview->isDisappeared());

    // Without a navigation controller there is nothing to dismiss.
    PDFPreviewViewController alone;
    alone.view();
    alone.viewWillAppear(false);
    alone.onDone();
    EXPECT_FALSE(alone.isVisible());
}

TEST_F(PDFPreviewTest, ButtonsThatOutliveTheScreenDoNothing) {
    tervolo::testsupport::SharedLogRecording log;
    std::shared_ptr<BarButtonItem> done, print;
    {
        PDFPreviewViewController preview;
        preview.setDocumentData(threePageDocument());
        preview.view();
        preview.viewWillAppear(false);
        done = preview.navigationItem().rightBarButtonItem();
        print = preview.printButton();
    }
    done->trigger();
    print->trigger();
    const auto infos = log.texts(tervolo::logging::QLLogFlag::info);
    EXPECT_EQ(std::find(infos.begin(), infos.end(), "Print Button"), infos.end());
}

TEST_F(PDFPreviewTest, PrintLogsAndPrintsTheDocument) {
    tervolo::testsupport::SharedLogRecording log;
    const auto bytes = threePageDocument();
    auto preview = present(bytes);
    const std::string printed = folder_.file("printed.pdf");
    platform::PrintInteractionController::setOutputFileForTesting(printed);
    preview->bottomBar()->item("print")->trigger();
    const auto infos = log.texts(tervolo::logging::QLLogFlag::info);
    EXPECT_NE(std::find(infos.begin(), infos.end(), "Print Button"), infos.end());
    EXPECT_EQ(pointscreens_test::pdfinfo(printed)["Pages"], "3");
    EXPECT_TRUE(preview->isVisible());  // printing does not close the preview
}

TEST_F(PDFPreviewTest, PrintWithoutDataStillOpensThePanelAndPrintsNothing) {
    tervolo::testsupport::SharedLogRecording log;
    auto preview = present(std::nullopt);
    EXPECT_EQ(preview->document(), nullptr);
    const std::string printed = folder_.file("nothing.pdf");
    platform::PrintInteractionController::setOutputFileForTesting(printed);
    preview->printButton()->trigger();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(printed)));
    const auto infos = log.texts(tervolo::logging::QLLogFlag::info);
    EXPECT_NE(std::find(infos.begin(), infos.end(), "Print Button"), infos.end());

    // The real panel: a print dialog opens over the window, and closing it
    // releases the print controller.
    platform::PrintInteractionController::setOutputFileForTesting(std::nullopt);
    preview->onPrint();
    auto controller = preview->lastPrintInteraction();
    ASSERT_NE(controller, nullptr);
    ASSERT_NE(controller->dialog(), nullptr);
    EXPECT_TRUE(controller->dialog()->isVisible());
    EXPECT_EQ(controller->dialog()->window()->parentWidget(), window_.get());
    std::optional<bool> completed;
    // A second present while open does nothing.
    controller->present(true, [&](bool done) { completed = done; });
    EXPECT_EQ(completed, std::nullopt);
    QWidget* dialog = controller->dialog();
    controller.reset();
    qobject_cast<QDialog*>(dialog)->reject();
    EXPECT_EQ(preview->lastPrintInteraction(), nullptr);
}

TEST_F(PDFPreviewTest, Screenshots) {
    const auto bytes = threePageDocument();
    QDir().mkpath(QStringLiteral(TERVOLO_SCREENSHOT_DIR));
    pointscreens_test::writeFile(TERVOLO_SCREENSHOT_DIR "/three-pages.pdf", bytes);

    // Each page at 144 dpi, as it prints.
    {
        QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QPdfDocument document;
        document.load(&buffer);
        ASSERT_EQ(document.pageCount(), 3);
        for (int page = 0; page < document.pageCount(); ++page) {
            const QSize size = (document.pagePointSize(page) * 2).toSize();
            QImage image(size, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.drawImage(0, 0, document.render(page, size));
            painter.end();
            pointscreens_test::saveScreenshot(image, QStringLiteral("pdf-page-%1").arg(page + 1));
        }
    }

    const QPalette original = QApplication::palette();
    struct Look {
        const char* name;
        bool dark;
        double ratio;
    } looks[] = {{"preview-light", false, 1}, {"preview-dark", true, 1}, {"preview-light@2x", false, 2}};
    for (const auto& look : looks) {
        SCOPED_TRACE(look.name);
        if (look.dark) {
            QPalette dark = original;
            dark.setColor(QPalette::Window, QColor(40, 40, 42));
            dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
            dark.setColor(QPalette::Base, QColor(30, 30, 32));
            dark.setColor(QPalette::Button, QColor(50, 50, 52));
            dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
            dark.setColor(QPalette::Dark, QColor(20, 20, 20));
            QApplication::setPalette(dark);
        } else {
            QApplication::setPalette(original);
        }
        auto preview = present(bytes);
        ASSERT_TRUE(waitForPages(*preview->pdfView()));
        QImage image(window_->size() * look.ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(look.ratio);
        image.fill(Qt::transparent);
        window_->render(&image);
        pointscreens_test::saveScreenshot(image, QString::fromLatin1(look.name));
        window_.reset();
    }
    QApplication::setPalette(original);
}
