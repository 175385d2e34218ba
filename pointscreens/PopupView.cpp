#include "pointscreens/PopupView.hpp"

#include <QEvent>
#include <QVBoxLayout>

#include <algorithm>

#include "widgets/popup/PopupViewControllerExtension.hpp"

namespace tervolo::pointscreens {

namespace {

class LayoutEvents : public QObject {
  public:
    LayoutEvents(QObject* parent, std::function<void()> laidOut)
        : QObject(parent), laidOut_(std::move(laidOut)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent() && event->type() == QEvent::Resize) laidOut_();
        return false;
    }

  private:
    std::function<void()> laidOut_;
};

}  // namespace

std::shared_ptr<PopupView::PopupViewController> PopupView::makeViewController() {
    return std::make_shared<PopupViewController>();
}

void PopupView::updateViewController(PopupViewController& controller) const {
    controller.setContentView(contentView);
    controller.setIsPresented(isPresented);
    controller.setStyle(style);
    controller.setOnDismiss(onDismiss);
    controller.updatePopup();
}

// --- hosting ------------------------------------------------------------------------

void PopupView::HostingController::loadView() {
    auto* root = new QWidget();
    root->setObjectName(QStringLiteral("PopupHostingView"));
    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(0, 0, 0, 0);
    setView(root);
    build();
}

void PopupView::HostingController::build() {
    QWidget* root = viewIfLoaded();
    if (!root) return;
    delete content_.data();
    content_ = rootView_ ? rootView_() : nullptr;
    if (content_) root->layout()->addWidget(content_);
}

void PopupView::HostingController::setRootView(ContentFactory rootView) {
    rootView_ = std::move(rootView);
    build();
}

QSizeF PopupView::HostingController::sizeThatFits(QSizeF bounds) const {
    QSize hint;
    if (content_) {
        hint = content_->sizeHint();
    } else if (rootView_) {
        // Measured before the view is loaded: a throw-away instance.
        std::unique_ptr<QWidget> probe(rootView_());
        if (probe) hint = probe->sizeHint();
    }
    if (!hint.isValid()) return QSizeF(0, 0);
    return QSizeF(std::min<double>(hint.width(), bounds.width()),
                  std::min<double>(hint.height(), bounds.height()));
}

// --- the bridge -----------------------------------------------------------------------

PopupView::PopupViewController::PopupViewController() = default;

PopupView::PopupViewController::~PopupViewController() {
    // Nothing may keep showing content whose owner is gone.
    if (!hostingController_) return;
    if (auto popup = widgets::popup::popupController(*hostingController_)) popup->dismiss();
}

void PopupView::PopupViewController::loadView() {
    ViewController::loadView();
    layoutEvents_ = new LayoutEvents(view(), [this] { viewDidLayoutSubviews(); });
    view()->installEventFilter(layoutEvents_);
}

QSizeF PopupView::PopupViewController::boundsSize() const {
    QWidget* root = viewIfLoaded();
    return root ? QSizeF(root->size()) : QSizeF(0, 0);
}

void PopupView::PopupViewController::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    if (didAppear_) return;
    didAppear_ = true;
    updatePopup();
}

void PopupView::PopupViewController::viewDidLayoutSubviews() {
    if (hostingController_ && isPresented_)
        widgets::popup::setContentSizeInPopup(*hostingController_,
                                              hostingController_->sizeThatFits(boundsSize()));
}

void PopupView::PopupViewController::updatePopup() {
    if (isPresented_) {
        if (!contentView_) return;
        // The first appearance runs this again.
        if (!didAppear_) return;
        if (!hostingController_) {
            auto hosting = std::make_shared<HostingController>(contentView_);
            widgets::popup::setContentSizeInPopup(*hosting, hosting->sizeThatFits(boundsSize()));
            hostingController_ = hosting;
            auto popup = widgets::popup::PopupController::make(hosting);
            popup->setStyle(style_);
            popup->setNavigationBarHidden(true);
            if (QWidget* card = popup->containerView()) {
                card->setAttribute(Qt::WA_TranslucentBackground, true);
                card->setAutoFillBackground(false);
            }
            hosting->view()->setAutoFillBackground(false);
            popup->present(*this);
            return;
        }
        if (auto popup = widgets::popup::popupController(*hostingController_)) popup->setStyle(style_);
        hostingController_->setRootView(contentView_);
        widgets::popup::setContentSizeInPopup(*hostingController_,
                                              hostingController_->sizeThatFits(boundsSize()));
        return;
    }
    if (!hostingController_) return;
    dismiss(true, [onDismiss = onDismiss_] {
        if (onDismiss) onDismiss();
    });
    hostingController_.reset();
}

}  // namespace tervolo::pointscreens
