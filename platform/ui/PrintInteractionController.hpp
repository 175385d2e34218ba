#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QPrinter;

namespace platform {

// The print panel (the platform's print interaction controller): the
// desktop's print dialog on a fresh printer with no job settings (job name,
// output, orientation and duplex are the printer's defaults), printing the PDF
// bytes of the printing item. Each page is rendered by Qt's PDF engine at the
// printer's resolution (in bands, so a 1200 dpi page never needs one huge
// image) and placed at its own size from the printable area's top-left
// corner, scaled down only when it is larger than that area. Printed whole to
// a PDF file (the dialog's file printer), the bytes are written as they are,
// so the file keeps the document's text.
//
// Non-modal: present() returns at once; the controller keeps itself alive
// while its dialog is open. Without a printing item, or with bytes that are no
// PDF, the dialog still appears and nothing is printed.
// Main thread only; held by std::shared_ptr (make()).
class PrintInteractionController : public std::enable_shared_from_this<PrintInteractionController> {
  public:
    // True when pages went to the printer; false when the dialog was
    // cancelled or there was nothing to print.
    using CompletionHandler = std::function<void(bool completed)>;

    static std::shared_ptr<PrintInteractionController> make();
    ~PrintInteractionController();
    PrintInteractionController(const PrintInteractionController&) = delete;
    PrintInteractionController& operator=(const PrintInteractionController&) = delete;

    // The PDF document to print.
    const std::optional<std::vector<uint8_t>>& printingItem() const { return printingItem_; }
    void setPrintingItem(std::optional<std::vector<uint8_t>> item) { printingItem_ = std::move(item); }

    // Shows the print dialog over `parent`'s window (the active window when
    // null). A second call while the dialog is open does nothing. The
    // completion runs once: when the dialog is accepted and printed,
    // cancelled, or deleted with its window.
    void present(bool animated, CompletionHandler completion = {}, QWidget* parent = nullptr);
    // The dialog while it is open.
    QWidget* dialog() const { return dialog_.data(); }

    // Test hook: while set, present() shows no dialog and prints at once into
    // this PDF file, as if the user had chosen it in the dialog.
    static void setOutputFileForTesting(std::optional<std::string> path);

  private:
    PrintInteractionController() = default;
    void finish(bool completed);

    std::optional<std::vector<uint8_t>> printingItem_;
    CompletionHandler completion_;
    std::unique_ptr<QPrinter> printer_;
    QPointer<QWidget> dialog_;
    std::shared_ptr<PrintInteractionController> keepAlive_;
};

}  // namespace platform
