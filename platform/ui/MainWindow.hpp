#pragma once

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <vector>

#include "platform/ui/ViewController.hpp"

namespace platform {

class Toolbar;

// A top-level window hosting one root view controller. The root's view fills
// the window's content area, and presentations of the root's chain are shown
// over that area. Showing the window makes the root (and what it presents)
// appear; hiding, minimising or closing it makes them disappear. When the
// window is deleted or its root replaced, what the root presents is dismissed
// and the controllers keep their views. A size change
// reaches the root's viewWillTransition before the root view is laid out at
// the new size. A change of the application's palette between light and dark
// reaches traitCollectionDidChange. Main thread only; sizes in points.
class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    std::shared_ptr<ViewController> rootViewController() const { return root_; }
    // The old root, if any, disappears (when shown), what it presents is
    // dismissed, and it leaves the window.
    void setRootViewController(std::shared_ptr<ViewController> controller);

    // The area the root's view and presentations fill (below the toolbar).
    QWidget* contentView() const { return content_; }

    // The window's toolbar, made on first use ("main", icon and label).
    Toolbar& toolbar();
    bool hasToolbar() const { return toolbar_ != nullptr; }

    // Every main window that exists, oldest first.
    static std::vector<MainWindow*> windows();
    // The main window showing `widget`, if any.
    static MainWindow* windowOf(const QWidget* widget);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void layoutRoot();
    void releaseViews(ViewController& root);

    std::shared_ptr<ViewController> root_;
    QWidget* content_ = nullptr;
    Toolbar* toolbar_ = nullptr;
};

// The trait collection the desktop shows now (dark when the application
// palette's window colour is dark).
TraitCollection currentTraitCollection();

}  // namespace platform
