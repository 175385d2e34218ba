#pragma once

#include <QColor>
#include <QPointer>

#include <memory>

#include "platform/ui/ViewController.hpp"

#include <QColorDialog>

namespace platform {

class ColorPickerViewController;

class ColorPickerViewControllerDelegate {
  public:
    virtual ~ColorPickerViewControllerDelegate() = default;
    // The user chose a colour (not sent for setSelectedColor).
    virtual void colorPickerViewControllerDidSelectColor(ColorPickerViewController& picker) { (void)picker; }
    // The picker was closed.
    virtual void colorPickerViewControllerDidFinish(ColorPickerViewController& picker) { (void)picker; }
};

// A colour picker screen: Qt's own colour dialog embedded as a plain widget,
// without its OK and Cancel buttons (the screen showing it has its own) and
// with an alpha channel. Main thread only; create with std::make_shared.
class ColorPickerViewController : public ViewController {
  public:
    ColorPickerViewController();
    ~ColorPickerViewController() override;

    std::shared_ptr<ColorPickerViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ColorPickerViewControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    QColor selectedColor() const { return selectedColor_; }
    // Shows `color` without telling the delegate.
    void setSelectedColor(const QColor& color);
    // The embedded dialog (null until the view is loaded).
    QColorDialog* colorDialog() const { return dialog_; }

    void loadView() override;
    void viewDidDisappear(bool animated) override;

  private:
    std::weak_ptr<ColorPickerViewControllerDelegate> delegate_;
    QColor selectedColor_ = Qt::white;
    QPointer<QColorDialog> dialog_;
    bool settingColor_ = false;
};

}  // namespace platform
