#include "platform/ui/PresentationOverlay.hpp"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/ui/FirstFocus.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

// The platform's form-sheet size when the controller asks for none.
constexpr QSize kDefaultFormSheetSize(540, 620);
constexpr QSize kDefaultPopoverSize(320, 240);
constexpr int kWindowMargin = 20;  // points kept free around a card
constexpr int kAnchorGap = 6;      // between a popover and its anchor
constexpr int kCardCornerRadius = 10;
constexpr int kCardInset = 1;  // the card's border, around the presented view
// The shade over what lies behind a form sheet. On a light palette a third of black shows it
// plainly; under a dark palette the content behind (rows, fields) is dark already and is darkened
// about twice as far before the step shows (1.7:1 instead of 1.37:1 on a dark theme's rows), while
// the light map still shows through.
const QColor kDimming(0, 0, 0, 90);
const QColor kDarkDimming(0, 0, 0, 170);

QColor dimmingFor(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128 ? kDarkDimming : kDimming;
}

void paintCard(QWidget& widget) {
    QPainter painter(&widget);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(widget.rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCardCornerRadius,
                        kCardCornerRadius);
    painter.fillPath(path, widget.palette().window());
    painter.setPen(QPen(QColor(128, 128, 128, 140), 1));  // seen on light and dark windows
    painter.drawPath(path);
}

// A soft shadow under a card's rectangle, drawn by what lies beneath the card. Not a graphics
// effect on the card: an effect draws the card and all it holds as one picture, drawn again
// whole for every change inside it (a live map on the card included).
void paintShadow(QPainter& painter, QRect card) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    constexpr int kLayers = 12;
    for (int i = kLayers; i >= 1; --i) {
        QPainterPath path;
        path.addRoundedRect(QRectF(card.adjusted(-i, -i + 4, i, i + 4)), kCardCornerRadius + i,
                            kCardCornerRadius + i);
        painter.fillPath(path, QColor(0, 0, 0, 9));
    }
    painter.restore();
}

// A rounded panel holding the presented view (form sheets and popovers).
class PresentationCard : public QWidget {
  public:
    explicit PresentationCard(QWidget* parent) : QWidget(parent) { setObjectName("presentationCard"); }

  protected:
    void paintEvent(QPaintEvent*) override { paintCard(*this); }
};

QSize sizeOf(QSizeF preferred, QSize fallback) {
    if (preferred.width() > 0 && preferred.height() > 0) return preferred.toSize();
    return fallback;
}

QRect mappedRect(const QWidget* from, QRectF rect, const QWidget* to) {
    if (from == nullptr || to == nullptr) return {};
    const QRect r = rect.isEmpty() ? from->rect() : rect.toAlignedRect();
    if (to->isAncestorOf(from)) return QRect(from->mapTo(to, r.topLeft()), r.size());
    return QRect(to->mapFromGlobal(from->mapToGlobal(r.topLeft())), r.size());
}

}  // namespace

PresentationOverlay::PresentationOverlay(QWidget* host, ViewController& presented, ViewController& context)
    : QWidget(host),
      host_(host),
      presented_(presented.weak_from_this()),
      context_(context.weak_from_this()),
      style_(presented.modalPresentationStyle()) {
    setObjectName("presentationOverlay");
    switch (style_) {
        case ModalPresentationStyle::fullScreen:
            setAutoFillBackground(true);
            container_ = this;
            break;
        case ModalPresentationStyle::formSheet:
            container_ = new PresentationCard(this);
            break;
        case ModalPresentationStyle::popover:
            // The overlay is the panel; it does not cover the window, so
            // passthrough views and the rest stay reachable.
            // No shadow effect (see paintShadow): the panel's border sets it off the window.
            container_ = this;
            qApp->installEventFilter(this);
            break;
        case ModalPresentationStyle::custom:
        case ModalPresentationStyle::overCurrentContext:
            container_ = this;
            break;
    }
    if (container_ != this || style_ == ModalPresentationStyle::popover) {
        auto* layout = new QGridLayout(container_);
        const int inset = style_ == ModalPresentationStyle::custom ? 0 : kCardInset;
        layout->setContentsMargins(inset, inset, inset, inset);
    }
    // Where the keys were before the presented screen moved them (its viewWillAppear may already
    // have, before takeFocus): where they go back to when it closes.
    if (QWidget* focus = QApplication::focusWidget();
        focus != nullptr && host != nullptr && focus->window() == host->window())
        previousFocus_ = focus;
    if (host_) host_->installEventFilter(this);
    contextView_ = context.viewIfLoaded();
    if (contextView_ && contextView_ != host_) contextView_->installEventFilter(this);
    relayout();
}

PresentationOverlay::~PresentationOverlay() {
    detach();
}

void PresentationOverlay::embed(QWidget* view, bool fill) {
    view_ = view;
    if (fill) {
        if (container_->layout() == nullptr) {
            auto* layout = new QGridLayout(container_);
            layout->setContentsMargins(0, 0, 0, 0);
        }
        container_->layout()->addWidget(view);
    } else {
        view->setParent(container_);
    }
    view->show();
}

void PresentationOverlay::detach() {
    if (!view_) return;
    QWidget* view = view_.data();
    view_ = nullptr;
    const bool hadFocus = view->isAncestorOf(QApplication::focusWidget()) || view->hasFocus();
    if (view->parentWidget() != nullptr && view->parentWidget()->layout() != nullptr) {
        view->parentWidget()->layout()->removeWidget(view);
    }
    view->hide();
    view->setParent(nullptr);
    // With the focus gone along with the view (or nowhere), the keys go back to where they went
    // before, else to the screen presented from: without that they reach nothing until a click.
    if (hadFocus || QApplication::focusWidget() == nullptr) restoreFocus();
}

void PresentationOverlay::restoreFocus() {
    if (previousFocus_ && previousFocus_->isVisible() && previousFocus_->isEnabled() &&
        previousFocus_->window() == window()) {
        previousFocus_->setFocus(Qt::OtherFocusReason);
        return;
    }
    auto context = context_.lock();
    QWidget* contextView = context ? context->viewIfLoaded() : nullptr;
    if (contextView == nullptr || !contextView->isVisible()) return;
    // The screen's own choice (a focus proxy), else its first widget that takes the focus.
    if (contextView->focusProxy() != nullptr) {
        contextView->setFocus(Qt::OtherFocusReason);
        return;
    }
    for (QWidget* w = contextView->nextInFocusChain(); w != nullptr && w != contextView;
         w = w->nextInFocusChain()) {
        if (!contextView->isAncestorOf(w)) continue;
        if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) && !skipsFirstFocus(*w)) {
            w->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

void PresentationOverlay::keyPressEvent(QKeyEvent* event) {
    // An Escape that nothing inside the presented screen took closes it, when it is the top one
    // (what it presents closes first). Alerts and sheets take their Escape themselves.
    if (event->key() == Qt::Key_Escape) {
        auto presented = presented_.lock();
        if (presented && !presented->presented_ && !presented->isBeingPresented() &&
            !presented->isBeingDismissed() && presented->presentingViewController()) {
            presented->dismiss(true);
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void PresentationOverlay::takeFocus() {
    if (!view_) return;
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && (focus == view_ || view_->isAncestorOf(focus))) return;
    if (!previousFocus_) previousFocus_ = focus;
    // The view's own choice (a focus proxy: an alert's default button), else its first widget that
    // takes the focus, else the view itself.
    QWidget* target = view_.data();
    for (QWidget* proxy = view_->focusProxy(); proxy != nullptr; proxy = proxy->focusProxy()) {
        if (view_->isAncestorOf(proxy) && proxy->isVisibleTo(view_) && proxy->isEnabled()) {
            view_->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    for (QWidget* w = view_->nextInFocusChain(); w != nullptr && w != view_.data();
         w = w->nextInFocusChain()) {
        if (!view_->isAncestorOf(w)) break;
        if (w->isVisibleTo(view_) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) &&
            !skipsFirstFocus(*w)) {
            target = w;
            break;
        }
    }
    target->setFocus(Qt::OtherFocusReason);
}

bool PresentationOverlay::focusNextPrevChild(bool next) {
    // Tab and Shift+Tab go round the presented screen's controls: what lies under it is out of
    // reach of the mouse, so it is out of reach of the keys too.
    std::vector<QWidget*> stops;
    for (QWidget* w = nextInFocusChain(); w != nullptr && w != this; w = w->nextInFocusChain()) {
        if (isAncestorOf(w) && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) &&
            w->focusProxy() == nullptr)
            stops.push_back(w);
    }
    if (stops.empty()) return true;
    QWidget* focus = QApplication::focusWidget();
    const auto at = std::find(stops.begin(), stops.end(), focus);
    QWidget* target = nullptr;
    if (at == stops.end()) {
        target = next ? stops.front() : stops.back();
    } else if (next) {
        target = std::next(at) == stops.end() ? stops.front() : *std::next(at);
    } else {
        target = at == stops.begin() ? stops.back() : *std::prev(at);
    }
    target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

QWidget* PresentationOverlay::hostFor(ViewController& controller) {
    QWidget* top = controller.view()->window();
    if (auto* window = qobject_cast<MainWindow*>(top)) return window->contentView();
    return top;
}

QRect PresentationOverlay::popoverGeometry(QSize size) const {
    const QRect bounds =
        host_->rect().adjusted(kWindowMargin / 2, kWindowMargin / 2, -kWindowMargin / 2, -kWindowMargin / 2);
    size = size.boundedTo(bounds.size());
    QRect anchor;
    const QWidget* anchorWidget = nullptr;
    if (auto presented = presented_.lock()) {
        if (auto* popover = presented->popoverPresentationController()) {
            if (auto item = popover->barButtonItem(); item && item->view() != nullptr) {
                anchorWidget = item->view();
                anchor = mappedRect(item->view(), {}, host_);
            } else if (popover->sourceView() != nullptr) {
                anchorWidget = popover->sourceView();
                anchor = mappedRect(popover->sourceView(), popover->sourceRect(), host_);
            }
        }
    }
    if (anchor.isNull()) {
        QRect centred(QPoint(0, 0), size);
        centred.moveCenter(bounds.center());
        return centred;
    }
    // Kept inside the window.
    const auto inside = [&](QPoint topLeft) {
        QRect panel(topLeft, size);
        panel.moveLeft(std::clamp(panel.left(), bounds.left(),
                                  std::max(bounds.left(), bounds.right() - size.width() + 1)));
        panel.moveTop(std::clamp(panel.top(), bounds.top(),
                                 std::max(bounds.top(), bounds.bottom() - size.height() + 1)));
        return panel;
    };
    // The anchor's neighbours (the other buttons of its column or bar) stay free where a place allows:
    // a panel above a button at the window's edge, pushed sideways to stay inside, would lie over the
    // buttons above it.
    std::vector<QRect> neighbours;
    if (anchorWidget != nullptr && anchorWidget->parentWidget() != nullptr) {
        for (const QObject* child : anchorWidget->parentWidget()->children()) {
            const auto* sibling = qobject_cast<const QWidget*>(child);
            if (sibling == nullptr || sibling == anchorWidget || !sibling->isVisible()) continue;
            neighbours.push_back(mappedRect(sibling, {}, host_));
        }
    }
    const auto coversNeighbour = [&](const QRect& panel) {
        return std::any_of(neighbours.begin(), neighbours.end(),
                           [&](const QRect& r) { return panel.intersects(r); });
    };
    const int x = anchor.center().x() - size.width() / 2;
    const int y = anchor.center().y() - size.height() / 2;
    struct Place {
        bool fits;
        QPoint topLeft;
    };
    // Below, above, right of and left of the anchor, in this order of preference.
    const Place places[] = {
        {anchor.bottom() + kAnchorGap + size.height() <= bounds.bottom(), {x, anchor.bottom() + kAnchorGap}},
        {anchor.top() - kAnchorGap - size.height() >= bounds.top(),
         {x, anchor.top() - kAnchorGap - size.height()}},
        {anchor.right() + kAnchorGap + size.width() <= bounds.right(), {anchor.right() + kAnchorGap, y}},
        {anchor.left() - kAnchorGap - size.width() >= bounds.left(),
         {anchor.left() - kAnchorGap - size.width(), y}},
    };
    for (const Place& place : places) {
        if (place.fits && !coversNeighbour(inside(place.topLeft))) return inside(place.topLeft);
    }
    for (const Place& place : places) {
        if (place.fits) return inside(place.topLeft);
    }
    return inside(places[3].topLeft);
}

namespace {

// A controller sized as a share of its presenter's view, and its children sized the same way (the
// screen inside a navigation controller), take that share of `presenterSize`.
void applySizeShare(ViewController& controller, QSizeF presenterSize) {
    const QSizeF share = controller.preferredContentSizeShare();
    if (!share.isEmpty() && !presenterSize.isEmpty()) {
        controller.setPreferredContentSize(
            QSizeF(presenterSize.width() * share.width(), presenterSize.height() * share.height()));
    }
    for (const auto& child : controller.children()) {
        if (child) applySizeShare(*child, presenterSize);
    }
}

}  // namespace

void PresentationOverlay::relayout() {
    if (!host_ || relayingOut_) return;
    relayingOut_ = true;
    auto presented = presented_.lock();
    if (presented) {
        auto context = context_.lock();
        const QWidget* contextView = context ? context->viewIfLoaded() : nullptr;
        applySizeShare(*presented, contextView ? QSizeF(contextView->size()) : QSizeF(host_->size()));
    }
    const QSizeF preferred = presented ? presented->preferredContentSize() : QSizeF();
    switch (style_) {
        case ModalPresentationStyle::fullScreen:
        case ModalPresentationStyle::custom:
            setGeometry(host_->rect());
            break;
        case ModalPresentationStyle::formSheet: {
            setGeometry(host_->rect());
            const QSize limit = host_->size() - QSize(2 * kWindowMargin, 2 * kWindowMargin);
            // The preferred size is the content's; the card's border goes around it.
            const QSize wanted =
                sizeOf(preferred, kDefaultFormSheetSize) + QSize(2 * kCardInset, 2 * kCardInset);
            QRect card(QPoint(0, 0), wanted.boundedTo(limit.expandedTo({1, 1})));
            card.moveCenter(rect().center());
            container_->setGeometry(card);
            break;
        }
        case ModalPresentationStyle::overCurrentContext: {
            auto context = context_.lock();
            QWidget* contextView = context ? context->viewIfLoaded() : nullptr;
            setGeometry(contextView ? mappedRect(contextView, {}, host_) : host_->rect());
            break;
        }
        case ModalPresentationStyle::popover: {
            QSize fallback = kDefaultPopoverSize;
            if (view_)
                fallback =
                    view_->sizeHint().expandedTo(QSize(120, 44)) + QSize(2 * kCardInset, 2 * kCardInset);
            const QSize border(2 * kCardInset, 2 * kCardInset);
            setGeometry(
                popoverGeometry(preferred.isEmpty() ? fallback : sizeOf(preferred, fallback) + border));
            break;
        }
    }
    raise();
    relayingOut_ = false;
}

bool PresentationOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == host_.data() && event->type() == QEvent::Resize) {
        relayout();
        return false;
    }
    // The presenter's view takes its new size after the host's (its layout runs after the host's
    // filters): a sheet sized by it follows it then.
    if (watched == contextView_.data() && event->type() == QEvent::Resize) {
        relayout();
        return false;
    }
    if (style_ != ModalPresentationStyle::popover || !isVisible()) return false;
    if (event->type() == QEvent::MouseButtonPress) {
        auto* target = qobject_cast<QWidget*>(watched);
        if (target == nullptr || target->window() != window()) return false;
        // Qt hands a press that the widget under the pointer ignores (a label, an empty area) on to
        // its parents, up to the window: the widget watched here may be an ancestor far outside the
        // panel, so where the press lands decides, not who receives it.
        const QPoint global = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        if (target == this || isAncestorOf(target) || isInsidePresentation(global)) return false;
        if (auto presented = presented_.lock()) {
            if (auto* popover = presented->popoverPresentationController()) {
                for (const auto& pass : popover->passthroughViews()) {
                    if (pass && (pass == target || pass->isAncestorOf(target))) return false;
                }
            }
        }
        dismissPopoverByUser();
        return true;
    }
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        auto* target = qobject_cast<QWidget*>(watched);
        if (target != nullptr && (target == this || isAncestorOf(target))) {
            dismissPopoverByUser();
            return true;
        }
    }
    return false;
}

bool PresentationOverlay::isInsidePresentation(QPoint global) const {
    auto covers = [global](const QWidget* widget) {
        return widget != nullptr && widget->isVisible() &&
               widget->rect().contains(widget->mapFromGlobal(global));
    };
    if (covers(this)) return true;
    // What the presented screen presents in turn (its alerts, screens, popups) belongs to it: a
    // click there is no click outside.
    if (auto presented = presented_.lock()) {
        for (auto above = presented->presented_; above; above = above->presented_) {
            if (covers(above->presentationOverlay_.data())) return true;
        }
    }
    return false;
}

void PresentationOverlay::dismissPopoverByUser() {
    auto presented = presented_.lock();
    if (!presented || presented->isBeingDismissed() || !presented->presentingViewController()) return;
    auto* popover = presented->popoverPresentationController();
    if (popover != nullptr && popover->shouldDismissPopover && !popover->shouldDismissPopover()) return;
    std::function<void()> told = popover != nullptr ? popover->didDismissPopover : nullptr;
    presented->dismiss(false, std::move(told));
}

void PresentationOverlay::paintEvent(QPaintEvent*) {
    if (style_ == ModalPresentationStyle::formSheet) {
        QPainter painter(this);
        painter.fillRect(rect(), dimmingFor(palette()));
        paintShadow(painter, container_->geometry());
    } else if (style_ == ModalPresentationStyle::popover) {
        paintCard(*this);
    }
}

}  // namespace platform
