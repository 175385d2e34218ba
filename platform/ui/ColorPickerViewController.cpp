#include "platform/ui/ColorPickerViewController.hpp"

#include <QColorDialog>
#include <QScrollArea>
#include <QVBoxLayout>

namespace platform {

ColorPickerViewController::ColorPickerViewController() = default;

ColorPickerViewController::~ColorPickerViewController() = default;

void ColorPickerViewController::setSelectedColor(const QColor& color) {
    selectedColor_ = color;
    if (!dialog_) return;
    settingColor_ = true;
    dialog_->setCurrentColor(color);
    settingColor_ = false;
}

void ColorPickerViewController::loadView() {
    auto* root = new QWidget();
    root->setObjectName(QStringLiteral("ColorPickerViewController"));
    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(0, 0, 0, 0);
    // In a window too small for the dialog's fields, they scroll rather than being cut off.
    auto* scroll = new QScrollArea(root);
    scroll->setObjectName(QStringLiteral("colorDialogScrollArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setBackgroundRole(QPalette::Window);
    dialog_ = new QColorDialog(scroll);
    dialog_->setObjectName(QStringLiteral("colorDialog"));
    dialog_->setOptions(QColorDialog::NoButtons | QColorDialog::ShowAlphaChannel |
                        QColorDialog::DontUseNativeDialog);
    // A widget inside the screen, not a window of its own.
    dialog_->setWindowFlags(Qt::Widget);
    dialog_->setSizeGripEnabled(false);
    dialog_->setCurrentColor(selectedColor_);
    scroll->setWidget(dialog_);
    column->addWidget(scroll);
    dialog_->show();
    QObject::connect(dialog_, &QColorDialog::currentColorChanged, root,
                     [this, alive = std::weak_ptr<ViewController>(weak_from_this())](const QColor& color) {
                         if (!alive.lock() || settingColor_) return;
                         selectedColor_ = color;
                         if (auto delegate = delegate_.lock())
                             delegate->colorPickerViewControllerDidSelectColor(*this);
                     });
    setView(root);
}

void ColorPickerViewController::viewDidDisappear(bool animated) {
    ViewController::viewDidDisappear(animated);
    if (auto delegate = delegate_.lock()) delegate->colorPickerViewControllerDidFinish(*this);
}

}  // namespace platform
