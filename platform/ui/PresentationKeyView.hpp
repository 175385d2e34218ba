#pragma once

#include <QKeyEvent>
#include <QWidget>

#include <functional>

namespace platform {

// The root widget of a presented sheet (alerts, the share sheet): Escape and
// Return reach the sheet's controller from any child that lets them through
// (a text field does). Main thread only.
class PresentationKeyView : public QWidget {
  public:
    std::function<void()> onEscape;
    std::function<void()> onReturn;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool escape = event->key() == Qt::Key_Escape;
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if ((escape && onEscape) || (enter && onReturn)) {
            (escape ? onEscape : onReturn)();
            event->accept();
            return;
        }
        QWidget::keyPressEvent(event);
    }
};

}  // namespace platform
