#pragma once

#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/Toolbar.hpp"
#include "platform/ui/ViewController.hpp"

class QBuffer;
class QPdfDocument;
class QPdfView;

namespace platform {
class Bundle;
class PrintInteractionController;
}  // namespace platform

namespace tervolo::pointscreens {

// The print preview of the point list: the PDF bytes in a PDF view that fits
// the page width, a bottom toolbar with "Print" that hands the bytes to the
// print panel, and "Done" in the navigation bar, which dismisses the screen's
// navigation controller. The presenter sets documentData, wraps the screen in
// a navigation controller and presents that full screen.
//
// The view ("PDFPreviewView") is built in code: the PDF view filling the
// screen above the toolbar. Main thread only.
class PDFPreviewViewController : public platform::ViewController {
  public:
    static constexpr const char* kViewName = "PDFPreviewView";

    // The interface name and bundle are ignored: the screen always builds
    // "PDFPreviewView".
    explicit PDFPreviewViewController(std::optional<std::string> nibName = std::nullopt,
                                      const platform::Bundle* bundle = nullptr);
    ~PDFPreviewViewController() override;

    // The PDF bytes to show and print; set before the screen appears.
    const std::optional<std::vector<uint8_t>>& documentData() const { return documentData_; }
    void setDocumentData(std::optional<std::vector<uint8_t>> data) { documentData_ = std::move(data); }

    // The screen's parts; null (or empty) until the view is loaded.
    QPdfView* pdfView() const { return pdfView_.data(); }
    void setPdfView(QPdfView* view) { pdfView_ = view; }
    platform::Toolbar* bottomBar() const { return bottomBar_.data(); }
    void setBottomBar(platform::Toolbar* bar) { bottomBar_ = bar; }
    const std::shared_ptr<platform::BarButtonItem>& printButton() const { return printButton_; }
    void setPrintButton(std::shared_ptr<platform::BarButtonItem> button);

    // The document shown now; null without data or when the bytes are no PDF.
    QPdfDocument* document() const;

    void loadView() override;
    // Loads documentData into the PDF view (fitting the width), sets the
    // title "Print Preview", a new "Done" button and the print button's title
    // and action.
    void viewWillAppear(bool animated) override;

    // The Done button: dismisses the navigation controller (none: nothing).
    void onDone();
    // The print button: logs "Print Button" and presents a new print panel
    // with documentData (no item without data).
    void onPrint();
    // The print panel onPrint() presented last (tests look at it).
    std::shared_ptr<platform::PrintInteractionController> lastPrintInteraction() const {
        return lastPrintInteraction_.lock();
    }

  private:
    void bindPrintButton();
    void syncPrintAction();
    void triggerPrintButton();
    // `action` run on this controller while it exists: bar buttons and
    // toolbar actions may outlive the screen that made them.
    std::function<void()> guarded(void (PDFPreviewViewController::*action)());

    std::optional<std::vector<uint8_t>> documentData_;
    QPointer<QPdfView> pdfView_;
    QPointer<platform::Toolbar> bottomBar_;
    std::shared_ptr<platform::BarButtonItem> printButton_;
    std::unique_ptr<platform::NavigationObservers::Token> printButtonToken_;
    QPointer<QAction> printAction_;
    // The loaded document reads its bytes lazily from this buffer.
    std::unique_ptr<QBuffer> buffer_;
    std::unique_ptr<QPdfDocument> document_;
    std::weak_ptr<platform::PrintInteractionController> lastPrintInteraction_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tervolo::pointscreens
