#include "platform/ui/PrintInteractionController.hpp"

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfDocumentRenderOptions>
#include <QPrintDialog>
#include <QPrinter>

#include <algorithm>
#include <mutex>

#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

std::mutex hookMutex;
std::optional<std::string> outputFileForTesting;

// Rows rendered at once: at 1200 dpi a US-width band is about 10 MB.
constexpr int kBandRows = 256;

// Prints every page of `pdf` on `printer`; false when there is nothing to print.
bool printDocument(const std::vector<uint8_t>& pdf, QPrinter& printer) {
    QByteArray bytes(reinterpret_cast<const char*>(pdf.data()), static_cast<qsizetype>(pdf.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&buffer);
    if (document.status() != QPdfDocument::Status::Ready || document.pageCount() <= 0) return false;
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty() &&
        printer.printRange() == QPrinter::AllPages && printer.copyCount() == 1) {
        // Printed to a PDF file, the document itself is the print: its text stays text (found,
        // selected, read aloud), where a picture of each page would keep none of it.
        QFile file(printer.outputFileName());
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
    }

    QPainter painter;
    if (!painter.begin(&printer)) return false;
    const double dotsPerPoint = printer.resolution() / 72.0;
    const QSizeF printable = printer.pageLayout().paintRectPixels(printer.resolution()).size();
    for (int page = 0; page < document.pageCount(); ++page) {
        if (page > 0) printer.newPage();
        QSizeF size = document.pagePointSize(page) * dotsPerPoint;
        if (size.width() > printable.width() || size.height() > printable.height()) {
            size.scale(printable, Qt::KeepAspectRatio);
        }
        const QSize pixels = size.toSize();
        if (pixels.isEmpty()) continue;
        for (int top = 0; top < pixels.height(); top += kBandRows) {
            const int rows = std::min(kBandRows, pixels.height() - top);
            QPdfDocumentRenderOptions options;
            options.setScaledSize(pixels);
            options.setScaledClipRect(QRect(0, top, pixels.width(), rows));
            const QImage band = document.render(page, QSize(pixels.width(), rows), options);
            painter.drawImage(QPointF(0, top), band);
        }
    }
    painter.end();
    return true;
}

}  // namespace

std::shared_ptr<PrintInteractionController> PrintInteractionController::make() {
    return std::shared_ptr<PrintInteractionController>(new PrintInteractionController());
}

PrintInteractionController::~PrintInteractionController() {
    if (dialog_) delete dialog_.data();
}

void PrintInteractionController::setOutputFileForTesting(std::optional<std::string> path) {
    std::lock_guard lock(hookMutex);
    outputFileForTesting = std::move(path);
}

void PrintInteractionController::present(bool animated, CompletionHandler completion, QWidget* parent) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    (void)animated;  // the desktop's dialog appears without an animation
    if (dialog_ || keepAlive_) return;
    completion_ = std::move(completion);
    printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);

    std::optional<std::string> hook;
    {
        std::lock_guard lock(hookMutex);
        hook = outputFileForTesting;
    }
    if (hook) {
        printer_->setOutputFormat(QPrinter::PdfFormat);
        printer_->setOutputFileName(QString::fromStdString(*hook));
        finish(printingItem_ && printDocument(*printingItem_, *printer_));
        return;
    }

    QWidget* window = parent != nullptr ? parent->window() : QApplication::activeWindow();
    auto* dialog = new QPrintDialog(printer_.get(), window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog_ = dialog;
    keepAlive_ = shared_from_this();
    QObject::connect(dialog, &QDialog::finished, dialog, [this](int result) {
        // The dialog deletes itself after this; `this` lives until finish().
        dialog_ = nullptr;
        finish(result == QDialog::Accepted && printingItem_ && printDocument(*printingItem_, *printer_));
    });
    // A dialog deleted without finishing (its window closed under it) cancels.
    QObject::connect(dialog, &QObject::destroyed, [weak = weak_from_this()] {
        if (auto self = weak.lock(); self && self->keepAlive_) {
            self->dialog_ = nullptr;
            self->finish(false);
        }
    });
    dialog->open();
}

void PrintInteractionController::finish(bool completed) {
    auto keep = std::move(keepAlive_);  // released when this call returns
    auto completion = std::move(completion_);
    if (completion) completion(completed);
}

}  // namespace platform
