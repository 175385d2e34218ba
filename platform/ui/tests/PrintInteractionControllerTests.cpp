#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QDialog>
#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>

#include <optional>
#include <string>
#include <vector>

#include "WidgetKitTestSupport.hpp"
#include "platform/ui/PrintInteractionController.hpp"
#include "testsupport/TemporaryFolder.hpp"

using platform::PrintInteractionController;

namespace {

// A PDF of `pages` pages of `size`, each with a black bar across its top.
std::vector<uint8_t> pdf(int pages, QPageSize size) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        writer.setPageSize(size);
        QPainter painter(&writer);
        for (int page = 0; page < pages; ++page) {
            if (page > 0) writer.newPage();
            painter.fillRect(QRectF(20, 20, 200, 30), Qt::black);
        }
    }
    return {bytes.begin(), bytes.end()};
}

std::string pdfinfoPages(const std::string& file) {
    QProcess process;
    process.start("pdfinfo", {QString::fromStdString(file)});
    process.waitForFinished(60000);
    const std::string output = process.readAllStandardOutput().toStdString();
    const size_t at = output.find("Pages:");
    if (at == std::string::npos) return {};
    const size_t value = output.find_first_not_of(' ', at + 6);
    return output.substr(value, output.find('\n', value) - value);
}

class PrintInteractionControllerTest : public widgetkit_test::WidgetTest {
  protected:
    void TearDown() override {
        PrintInteractionController::setOutputFileForTesting(std::nullopt);
        WidgetTest::TearDown();
    }
    tervolo::testsupport::TemporaryFolder folder_;
};

}  // namespace

TEST_F(PrintInteractionControllerTest, PrintsEveryPageOfTheItemOrNothing) {
    struct Case {
        const char* name;
        std::optional<std::vector<uint8_t>> item;
        bool completed;
        std::string pages;  // of the printed file; empty: no file
    } cases[] = {
        {"no item", std::nullopt, false, ""},
        {"not a PDF", std::vector<uint8_t>{'%', 'P', 'D', 'F', '-', 'x'}, false, ""},
        {"two letter pages", pdf(2, QPageSize(QPageSize::Letter)), true, "2"},
        // Larger than any default paper: to a PDF file the document goes as it is, still one page.
        {"one A2 page", pdf(1, QPageSize(QPageSize::A2)), true, "1"},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = folder_.file("out" + std::to_string(index++) + ".pdf");
        PrintInteractionController::setOutputFileForTesting(file);
        auto controller = PrintInteractionController::make();
        controller->setPrintingItem(c.item);
        std::optional<bool> completed;
        controller->present(true, [&](bool done) { completed = done; });
        EXPECT_EQ(completed, std::optional<bool>(c.completed));
        EXPECT_EQ(controller->dialog(), nullptr);
        if (c.pages.empty()) {
            EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file)));
        } else {
            EXPECT_EQ(pdfinfoPages(file), c.pages);
        }
    }
}

TEST_F(PrintInteractionControllerTest, DialogKeepsTheControllerAliveUntilItCloses) {
    QWidget window;
    window.resize(400, 300);
    window.show();
    std::optional<bool> completed;
    std::weak_ptr<PrintInteractionController> weak;
    QWidget* dialog = nullptr;
    {
        auto controller = PrintInteractionController::make();
        controller->setPrintingItem(pdf(1, QPageSize(QPageSize::A4)));
        controller->present(
            true, [&](bool done) { completed = done; }, &window);
        dialog = controller->dialog();
        weak = controller;
    }
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->parentWidget(), &window);
    EXPECT_FALSE(weak.expired());
    qobject_cast<QDialog*>(dialog)->reject();
    EXPECT_EQ(completed, std::optional<bool>(false));
    EXPECT_TRUE(weak.expired());
}

TEST_F(PrintInteractionControllerTest, WindowClosedUnderTheDialogCancels) {
    auto window = std::make_unique<QWidget>();
    window->show();
    int calls = 0;
    std::optional<bool> completed;
    std::weak_ptr<PrintInteractionController> weak;
    {
        auto controller = PrintInteractionController::make();
        controller->present(
            true,
            [&](bool done) {
                ++calls;
                completed = done;
            },
            window.get());
        weak = controller;
    }
    ASSERT_FALSE(weak.expired());
    window.reset();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(completed, std::optional<bool>(false));
    EXPECT_TRUE(weak.expired());
}
