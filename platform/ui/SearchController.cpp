#include "platform/ui/SearchController.hpp"

#include <QAction>
#include <QEvent>
#include <QIcon>
#include <QLineEdit>
#include <QObject>
#include <QPixmap>

#include "platform/ui/ImageView.hpp"
#include "platform/ui/ReadablePlaceholder.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {
namespace {

// Activates the search when the user puts the focus into the field.
class FocusWatcher : public QObject {
  public:
    FocusWatcher(QObject* parent, std::function<void()> onFocus)
        : QObject(parent), onFocus_(std::move(onFocus)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) onFocus_();
        return false;
    }

  private:
    std::function<void()> onFocus_;
};

}  // namespace

SearchController::SearchController() : context_(std::make_unique<QObject>()) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    auto* field = new QLineEdit();
    field->setObjectName("searchBar");
    keepPlaceholderReadable(*field);
    // A clear action of our own rather than QLineEdit's clear button, whose fade animation Qt leaves
    // alive when the field goes before it ends.
    const QColor tint = field->palette().color(QPalette::PlaceholderText);
    QPixmap pixmap =
        QPixmap::fromImage(NamedImage::named(QStringLiteral("xmark.circle")).render(QSize(32, 32), tint));
    pixmap.setDevicePixelRatio(2.0);
    QAction* clear = field->addAction(QIcon(pixmap), QLineEdit::TrailingPosition);
    clear->setObjectName("clearSearchText");
    clear->setVisible(false);
    clearAction_ = clear;
    QObject::connect(field, &QLineEdit::textChanged, clear,
                     [clear](const QString& text) { clear->setVisible(!text.isEmpty()); });
    QObject::connect(clear, &QAction::triggered, context_.get(), [this, field] {
        field->clear();
        textEdited();
    });
    searchBar_ = field;
    QObject::connect(field, &QLineEdit::textEdited, context_.get(), [this] { textEdited(); });
    QObject::connect(field, &QLineEdit::returnPressed, context_.get(), [field] { field->clearFocus(); });
    field->installEventFilter(new FocusWatcher(context_.get(), [this] {
        if (!active_) setActive(true);
    }));
}

SearchController::~SearchController() {
    context_.reset();
    // A field still shown by a bar belongs to the bar's widgets until it lets it go.
    if (searchBar_ && searchBar_->parentWidget() == nullptr)
        delete searchBar_.data();
    else if (searchBar_)
        searchBar_->deleteLater();
}

std::string SearchController::text() const {
    return searchBar_ ? searchBar_->text().toStdString() : std::string();
}

void SearchController::setText(const std::string& text) {
    if (!searchBar_) return;
    const bool blocked = searchBar_->blockSignals(true);
    searchBar_->setText(QString::fromStdString(text));
    searchBar_->blockSignals(blocked);
    clearAction_->setVisible(!text.empty());
}

std::string SearchController::placeholder() const {
    return searchBar_ ? searchBar_->placeholderText().toStdString() : std::string();
}

void SearchController::setPlaceholder(const std::string& placeholder) {
    if (searchBar_) searchBar_->setPlaceholderText(QString::fromStdString(placeholder));
}

void SearchController::setActive(bool active) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (active == active_) return;
    active_ = active;
    if (!active) return;
    if (auto delegate = delegate_.lock()) delegate->didPresentSearchController(*this);
    if (auto updater = updater_.lock()) updater->updateSearchResults(*this);
}

void SearchController::becomeFirstResponder() {
    if (searchBar_) searchBar_->setFocus(Qt::OtherFocusReason);
}

void SearchController::textEdited() {
    if (auto updater = updater_.lock()) updater->updateSearchResults(*this);
}

}  // namespace platform
