#include "location/ui/PinInside.hpp"

#include <QEvent>
#include <QVBoxLayout>
#include <QWidget>

namespace tervolo::location {

namespace {

// Keeps the pinned view on the container's bounds when the container has a
// layout of its own (which must not be replaced).
class EdgePin : public QObject {
  public:
    EdgePin(QWidget* view, QWidget* container) : QObject(view), view_(view) {
        container->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest) {
            view_->setGeometry(static_cast<QWidget*>(watched)->rect());
        }
        return false;
    }

  private:
    QWidget* view_;
};

}  // namespace

void pinInside(QWidget* view, QWidget* container) {
    if (view == nullptr || container == nullptr) return;
    view->setGeometry(container->geometry());
    view->setParent(container);
    if (container->layout() == nullptr) {
        auto* edges = new QVBoxLayout(container);
        edges->setContentsMargins(0, 0, 0, 0);
        edges->setSpacing(0);
        edges->addWidget(view);
    } else {
        new EdgePin(view, container);
        view->setGeometry(container->rect());
        view->raise();
    }
    view->show();
}

}  // namespace tervolo::location
