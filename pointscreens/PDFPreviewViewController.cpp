#include "pointscreens/PDFPreviewViewController.hpp"

#include <QAction>
#include <QBuffer>
#include <QPdfDocument>
#include <QPdfView>
#include <QVBoxLayout>

#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/PrintInteractionController.hpp"

namespace tervolo::pointscreens {

namespace {

constexpr const char* kPrintItemIdentifier = "print";

}  // namespace

PDFPreviewViewController::PDFPreviewViewController(std::optional<std::string> nibName,
                                                   const platform::Bundle* bundle) {
    // Whatever the presenter names, the screen is always "PDFPreviewView".
    (void)nibName;
    (void)bundle;
}

PDFPreviewViewController::~PDFPreviewViewController() {
    // The base class deletes the view after these members: take the document
    // out of it first, so the view never holds a deleted one.
    if (pdfView_) pdfView_->setDocument(nullptr);
}

std::function<void()> PDFPreviewViewController::guarded(void (PDFPreviewViewController::*action)()) {
    return [this, action, alive = std::weak_ptr<int>(lifetime_)] {
        if (alive.lock()) (this->*action)();
    };
}

QPdfDocument* PDFPreviewViewController::document() const {
    return pdfView_ ? pdfView_->document() : nullptr;
}

void PDFPreviewViewController::loadView() {
    auto* root = new QWidget();
    root->setObjectName(kViewName);
    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* pdfView = new QPdfView(root);
    pdfView->setObjectName("pdfView");
    pdfView->setPageMode(QPdfView::PageMode::MultiPage);
    pdfView->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    column->addWidget(pdfView, 1);

    auto* bar = new platform::Toolbar(root);
    bar->setObjectName("bottomBar");
    bar->setDisplayMode(platform::Toolbar::DisplayMode::labelOnly);
    bar->addFlexibleSpace();
    column->addWidget(bar);

    setView(root);
    pdfView_ = pdfView;
    bottomBar_ = bar;
    setPrintButton(std::make_shared<platform::BarButtonItem>(
        platform::Bundle::main().localizedString("Print"), platform::BarButtonItem::Style::plain, nullptr));
}

void PDFPreviewViewController::setPrintButton(std::shared_ptr<platform::BarButtonItem> button) {
    printButton_ = std::move(button);
    bindPrintButton();
}

void PDFPreviewViewController::bindPrintButton() {
    printButtonToken_.reset();
    if (!bottomBar_) return;
    if (!printAction_) {
        printAction_ = bottomBar_->addItem(kPrintItemIdentifier, QIcon(), QString(),
                                           guarded(&PDFPreviewViewController::triggerPrintButton));
    }
    if (printButton_) {
        printButtonToken_ = printButton_->observe([this] { syncPrintAction(); });
        printButton_->setView(bottomBar_->widgetForAction(printAction_));
    }
    syncPrintAction();
}

void PDFPreviewViewController::triggerPrintButton() {
    if (printButton_) printButton_->trigger();
}

void PDFPreviewViewController::syncPrintAction() {
    if (!printAction_) return;
    printAction_->setVisible(printButton_ != nullptr);
    if (!printButton_) return;
    printAction_->setText(QString::fromStdString(printButton_->title()));
    printAction_->setEnabled(printButton_->isEnabled());
}

void PDFPreviewViewController::viewWillAppear(bool animated) {
    (void)animated;
    const auto& bundle = platform::Bundle::main();
    if (documentData_) {
        if (pdfView_) {
            // Each document reads lazily from a buffer of its own bytes, so the
            // one shown until now keeps its bytes until it is replaced.
            auto buffer = std::make_unique<QBuffer>();
            buffer->setData(reinterpret_cast<const char*>(documentData_->data()),
                            static_cast<qsizetype>(documentData_->size()));
            buffer->open(QIODevice::ReadOnly);
            auto document = std::make_unique<QPdfDocument>();
            document->load(buffer.get());
            // Bytes that are no PDF leave the view without a document.
            pdfView_->setDocument(document->status() == QPdfDocument::Status::Ready ? document.get()
                                                                                    : nullptr);
            document_ = std::move(document);
            buffer_ = std::move(buffer);
        }
        if (pdfView_) pdfView_->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    }
    setTitle(bundle.localizedString("Print Preview"));
    navigationItem().setRightBarButtonItem(std::make_shared<platform::BarButtonItem>(
        bundle.localizedString("Done"), platform::BarButtonItem::Style::done,
        guarded(&PDFPreviewViewController::onDone)));
    if (printButton_) {
        printButton_->setTitle(bundle.localizedString("Print"));
        printButton_->setAction(guarded(&PDFPreviewViewController::onPrint));
    }
}

void PDFPreviewViewController::onDone() {
    if (auto* navigation = navigationController()) navigation->dismiss(true);
}

void PDFPreviewViewController::onPrint() {
    QLLogInfo("Print Button");
    auto controller = platform::PrintInteractionController::make();
    controller->setPrintingItem(documentData_);
    lastPrintInteraction_ = controller;
    controller->present(true, {}, viewIfLoaded());
}

}  // namespace tervolo::pointscreens
