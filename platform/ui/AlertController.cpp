#include "platform/ui/AlertController.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "platform/ui/Contrast.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/PresentationKeyView.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

constexpr int kAlertWidth = 300;
constexpr int kMaximumAlertWidth = 560;
constexpr int kWindowMargin = 20;  // kept free beside the card, as the presentation keeps it
constexpr int kMessageLines = 8;   // a longer message widens the card rather than growing it further
constexpr int kSheetWidth = 280;
constexpr int kCardMargin = 16;
constexpr int kButtonSpacing = 6;
const QColor kActionColor(0, 122, 255);
const QColor kDestructiveColor(255, 59, 48);

}  // namespace

void AlertAction::setEnabled(bool enabled) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    enabled_ = enabled;
    if (button_ != nullptr) button_->setEnabled(enabled);
}

void setKeyboardType(QLineEdit& field, KeyboardType type) {
    Qt::InputMethodHints hints = Qt::ImhNone;
    switch (type) {
        case KeyboardType::defaultValue:
        case KeyboardType::asciiCapable:
        case KeyboardType::namePhonePad:
            break;
        case KeyboardType::numbersAndPunctuation:
            hints = Qt::ImhPreferNumbers;
            break;
        case KeyboardType::URL:
            hints = Qt::ImhUrlCharactersOnly;
            break;
        case KeyboardType::numberPad:
            hints = Qt::ImhDigitsOnly;
            break;
        case KeyboardType::phonePad:
            hints = Qt::ImhDialableCharactersOnly;
            break;
        case KeyboardType::emailAddress:
            hints = Qt::ImhEmailCharactersOnly;
            break;
        case KeyboardType::decimalPad:
            hints = Qt::ImhFormattedNumbersOnly;
            break;
    }
    field.setInputMethodHints(hints);
    field.setProperty("platform.keyboardType", static_cast<int>(type));
}

KeyboardType keyboardType(const QLineEdit& field) {
    const QVariant value = field.property("platform.keyboardType");
    return value.isValid() ? static_cast<KeyboardType>(value.toInt()) : KeyboardType::defaultValue;
}

AlertController::AlertController(std::string title, std::string message, Style preferredStyle)
    : style_(preferredStyle), message_(std::move(message)) {
    setTitle(std::move(title));
    if (style_ == Style::actionSheet) {
        setModalPresentationStyle(ModalPresentationStyle::popover);
        // A click outside or Escape closes the sheet as its cancel action would.
        popoverPresentationController()->shouldDismissPopover = [this] {
            if (chosen_) return true;
            if (auto cancel = cancelAction()) {
                chooseAction(cancel->title());
                return false;  // chooseAction dismisses
            }
            chosen_ = true;
            return true;
        };
    } else {
        setModalPresentationStyle(ModalPresentationStyle::formSheet);
    }
}

void AlertController::loadView() {
    auto* root = new PresentationKeyView();
    root->setObjectName(style_ == Style::alert ? "alert" : "actionSheet");
    root->onEscape = [this] { pressEscape(); };
    root->onReturn = [this] { pressReturn(); };
    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(kCardMargin, kCardMargin, kCardMargin, 12);
    column->setSpacing(8);
    // Every part is made inside the card: a parentless label made visible is a window of its own
    // for a moment, and showing and hiding it leaves the main window without the keyboard.
    auto* titleLabel = new QLabel(QString::fromStdString(title()), root);
    titleLabel->setObjectName("alertTitle");
    titleLabel->setWordWrap(true);
    titleLabel->setAlignment(Qt::AlignCenter);
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
    titleLabel->setVisible(!title().empty());
    column->addWidget(titleLabel);
    messageLabel_ = new QLabel(QString::fromStdString(message_), root);
    messageLabel_->setObjectName("alertMessage");
    messageLabel_->setWordWrap(true);
    messageLabel_->setAlignment(Qt::AlignCenter);
    messageLabel_->setVisible(!message_.empty());
    column->addWidget(messageLabel_);
    fieldsBox_ = new QWidget(root);
    auto* fields = new QVBoxLayout(fieldsBox_);
    fields->setContentsMargins(0, 4, 0, 4);
    fields->setSpacing(6);
    fieldsBox_->hide();
    column->addWidget(fieldsBox_);
    buttonsBox_ = new QWidget(root);
    column->addWidget(buttonsBox_);
    root->setFixedWidth(style_ == Style::alert ? kAlertWidth : kSheetWidth);
    setView(root);
}

void AlertController::viewDidLoad() {
    rebuildButtons();
}

void AlertController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    // Now the card knows the window it shows in: a window narrower than the width measured before
    // takes a narrower card, laid out again.
    if (QWidget* root = viewIfLoaded(); root != nullptr && fittedWidth() != root->width()) rebuildButtons();
}

QFont AlertController::buttonFont(const std::shared_ptr<AlertAction>& action) const {
    QFont font = buttonsBox_ != nullptr ? buttonsBox_->font() : QFont();
    font.setBold(action == preferred_ || (action->style() == AlertAction::Style::cancel && !preferred_));
    return font;
}

int AlertController::fittedWidth() const {
    const int base = style_ == Style::alert ? kAlertWidth : kSheetWidth;
    QWidget* root = viewIfLoaded();
    if (style_ != Style::alert || root == nullptr) return base;
    int limit = kMaximumAlertWidth;
    if (const QWidget* window = root->window(); window != nullptr && window != root) {
        limit = std::min(limit, window->width() - 2 * kWindowMargin - 2);
    } else if (const QScreen* screen = root->screen()) {
        limit = std::min(limit, screen->availableGeometry().width() - 2 * kWindowMargin - 2);
    }
    limit = std::max(limit, base);
    const int sides = 2 * kCardMargin;
    int wanted = base;
    // Every button title whole on its button (stacked buttons take the card's inner width).
    for (const auto& action : actions_) {
        QPushButton probe(QString::fromStdString(action->title()));
        probe.setFont(buttonFont(action));
        wanted = std::max(wanted, probe.sizeHint().width() + sides);
    }
    // Every word of the title and the message on one line (a long name, a web address).
    const auto widestWord = [](const QLabel* label) {
        if (label == nullptr) return 0;
        const QFontMetrics metrics(label->font());
        int widest = 0;
        for (const QString& word :
             label->text().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
            widest = std::max(widest, metrics.horizontalAdvance(word));
        return widest;
    };
    const auto* titleLabel = root->findChild<QLabel*>(QStringLiteral("alertTitle"));
    wanted = std::max({wanted, widestWord(titleLabel) + sides + 2, widestWord(messageLabel_) + sides + 2});
    // A long message: wider until it takes at most kMessageLines lines.
    if (messageLabel_ != nullptr && !message_.empty()) {
        const QFontMetrics metrics(messageLabel_->font());
        const auto lines = [&](int width) {
            const QRect bounds = metrics.boundingRect(QRect(0, 0, width - sides, 1 << 20), Qt::TextWordWrap,
                                                      messageLabel_->text());
            return bounds.height() / std::max(1, metrics.lineSpacing());
        };
        while (wanted < limit && lines(wanted) > kMessageLines) wanted = std::min(limit, wanted + 20);
    }
    return std::min(wanted, limit);
}

void AlertController::setMessage(std::string message) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    message_ = std::move(message);
    if (messageLabel_ != nullptr) {
        messageLabel_->setText(QString::fromStdString(message_));
        messageLabel_->setVisible(!message_.empty());
    }
}

void AlertController::addAction(std::shared_ptr<AlertAction> action) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (!action) return;
    actions_.push_back(std::move(action));
    if (isViewLoaded()) rebuildButtons();
}

void AlertController::setPreferredAction(std::shared_ptr<AlertAction> action) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    preferred_ = std::move(action);
    if (isViewLoaded()) rebuildButtons();
}

void AlertController::addTextField(std::function<void(QLineEdit&)> configure) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (style_ != Style::alert) return;  // the platform allows text fields on alerts only
    view();
    auto* field = new QLineEdit(fieldsBox_);
    field->setObjectName(QString("alertTextField%1").arg(fields_.size()));
    fieldsBox_->layout()->addWidget(field);
    fieldsBox_->show();
    fields_.push_back(field);
    if (configure) configure(*field);
    if (fields_.size() == 1) field->setFocus();
    rebuildButtons();
}

std::vector<QLineEdit*> AlertController::textFields() {
    view();
    return fields_;
}

std::shared_ptr<AlertAction> AlertController::cancelAction() const {
    for (const auto& action : actions_) {
        if (action->style() == AlertAction::Style::cancel) return action;
    }
    return nullptr;
}

void AlertController::rebuildButtons() {
    if (buttonsBox_ == nullptr) return;
    for (const auto& action : actions_) action->button_ = nullptr;
    if (QWidget* root = viewIfLoaded()) root->setFocusProxy(nullptr);  // the old buttons go
    delete buttonsBox_->layout();
    for (QWidget* old : buttonsBox_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        old->hide();
        old->deleteLater();  // a rebuild may come from a click on one of them
    }
    // The card grows for a title, word or message that needs more room, within its window.
    const int cardWidth = fittedWidth();
    if (QWidget* root = viewIfLoaded(); root != nullptr && root->width() != cardWidth)
        root->setFixedWidth(cardWidth);
    // Two buttons of an alert sit side by side when each title fits in half the row; longer titles
    // are stacked, so no title is cut.
    const int rowWidth = cardWidth - 2 * kCardMargin;
    const bool sideBySide =
        style_ == Style::alert && actions_.size() == 2 &&
        std::all_of(actions_.begin(), actions_.end(), [&](const std::shared_ptr<AlertAction>& action) {
            QPushButton probe(QString::fromStdString(action->title()));
            probe.setFont(buttonFont(action));
            return probe.sizeHint().width() <= (rowWidth - kButtonSpacing) / 2;
        });
    std::vector<std::shared_ptr<AlertAction>> ordered = actions_;
    auto cancel = cancelAction();
    if (cancel) {
        ordered.erase(std::find(ordered.begin(), ordered.end(), cancel));
        if (sideBySide) {
            ordered.insert(ordered.begin(), cancel);
        } else {
            ordered.push_back(cancel);
        }
    }
    QBoxLayout* layout = sideBySide ? static_cast<QBoxLayout*>(new QHBoxLayout(buttonsBox_))
                                    : static_cast<QBoxLayout*>(new QVBoxLayout(buttonsBox_));
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(kButtonSpacing);
    std::weak_ptr<ViewController> weakSelf = weak_from_this();
    for (const auto& action : ordered) {
        auto* button = new QPushButton(QString::fromStdString(action->title()), buttonsBox_);
        button->setObjectName(QString::fromStdString("alertAction:" + action->title()));
        button->setMinimumHeight(32);
        button->setEnabled(action->isEnabled());
        button->setAutoDefault(false);
        button->setFont(buttonFont(action));
        QPalette palette = button->palette();
        // The tint, moved just far enough from the button's face (towards black on a light face,
        // towards white on a dark one) for the title to read on it in any palette.
        const QColor color = legibleBackground(
            action->style() == AlertAction::Style::destructive ? kDestructiveColor : kActionColor,
            palette.color(QPalette::Button));
        palette.setColor(QPalette::Active, QPalette::ButtonText, color);
        palette.setColor(QPalette::Inactive, QPalette::ButtonText, color);
        button->setPalette(palette);
        std::weak_ptr<AlertAction> weakAction = action;
        QObject::connect(button, &QPushButton::clicked, button, [this, weakSelf, weakAction] {
            auto self = weakSelf.lock();
            auto chosen = weakAction.lock();
            if (self && chosen) choose(chosen);
        });
        action->button_ = button;
        layout->addWidget(button);
    }
    // The keyboard starts on the button Return would press (or the one Escape would), so the
    // focused button and the keys agree; a text field, when there is one, takes it instead.
    if (QWidget* root = viewIfLoaded(); root != nullptr && fields_.empty()) {
        std::shared_ptr<AlertAction> first = keyboardAction();
        if (!first) first = cancel;
        if (!first && !ordered.empty()) first = ordered.front();
        if (first && first->button_ != nullptr) root->setFocusProxy(first->button_);
    }
    // The card's height follows the content at the card's width: wrapped texts take the lines they
    // need there, not the lines of their own preferred width.
    if (QWidget* root = viewIfLoaded()) {
        // Every part just added or shown (a text field, new buttons) counts: the layout measured
        // while they were missing is dropped first, or the card keeps the old, shorter height and
        // squeezes the field to a sliver and cuts the buttons and the message's last line.
        for (QWidget* part : {static_cast<QWidget*>(fieldsBox_), static_cast<QWidget*>(buttonsBox_), root}) {
            if (part != nullptr && part->layout() != nullptr) {
                part->layout()->invalidate();
                part->layout()->activate();
            }
        }
        root->adjustSize();
        const int height =
            root->hasHeightForWidth() ? root->heightForWidth(root->width()) : root->sizeHint().height();
        setPreferredContentSize(QSizeF(root->width(), std::max(height, root->minimumSizeHint().height())));
    }
}

bool AlertController::chooseAction(const std::string& title) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    for (const auto& action : actions_) {
        if (action->title() == title && action->isEnabled()) {
            if (chosen_) return false;
            choose(action);
            return true;
        }
    }
    return false;
}

void AlertController::choose(const std::shared_ptr<AlertAction>& action) {
    if (chosen_ || !action->isEnabled()) return;
    chosen_ = true;
    for (const auto& a : actions_) {
        if (a->button_ != nullptr) a->button_->setEnabled(false);
    }
    // The platform closes the alert first and runs the handler after; the
    // handler may present the next alert from the same presenter.
    auto handler = action->handler_;
    if (presentingViewController()) {
        dismiss(true, [handler] {
            if (handler) handler();
        });
    } else if (handler) {
        handler();
    }
}

void AlertController::typeText(size_t textFieldIndex, const std::string& text) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    auto fields = textFields();
    if (textFieldIndex >= fields.size()) return;
    QLineEdit* field = fields[textFieldIndex];
    field->setFocus();
    field->selectAll();
    field->insert(QString::fromStdString(text));  // as typing: textEdited is emitted
}

std::shared_ptr<AlertAction> AlertController::keyboardAction() const {
    if (preferred_) return preferred_;
    return actions_.size() == 1 ? actions_.front() : nullptr;
}

bool AlertController::pressReturn() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (chosen_) return false;
    if (auto action = keyboardAction(); action && action->isEnabled()) {
        choose(action);
        return true;
    }
    // No action of its own for Return: the focused button is pressed.
    QWidget* focus = QApplication::focusWidget();
    for (const auto& action : actions_) {
        if (action->button_ != nullptr && action->button_ == focus && action->isEnabled()) {
            choose(action);
            return true;
        }
    }
    return false;
}

bool AlertController::pressEscape() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (chosen_) return false;
    if (auto cancel = cancelAction()) {
        choose(cancel);
        return true;
    }
    // An alert with one action has nothing else to close with.
    if (style_ == Style::alert && actions_.size() == 1 && actions_.front()->isEnabled()) {
        choose(actions_.front());
        return true;
    }
    if (style_ == Style::actionSheet && presentingViewController()) {
        chosen_ = true;
        dismiss(true);
        return true;
    }
    return false;
}

}  // namespace platform
