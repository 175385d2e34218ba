#include "platform/ui/NavigationBar.hpp"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

#include <algorithm>

#include "platform/ui/Contrast.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

constexpr int kSideMargin = 8;
constexpr double kTitlePointSize = 13.0;
constexpr double kLargeTitlePointSize = 20.0;

// Widgets the bar shows but does not own (title views, custom views): taken
// out of the bar before its own widgets are deleted.
constexpr const char* kForeignProperty = "platform.navigationBar.foreign";

// A bar button that Return and Enter press when it has the focus, as Space does: on a screen
// walked with Tab, Done and Back must answer the key that confirms.
class BarToolButton final : public QToolButton {
  public:
    using QToolButton::QToolButton;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
            (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (!event->isAutoRepeat()) click();
            event->accept();
            return;
        }
        QToolButton::keyPressEvent(event);
    }
};

void markForeign(QWidget* widget) {
    widget->setProperty(kForeignProperty, true);
}

void releaseForeign(QWidget* root) {
    for (QWidget* child : root->findChildren<QWidget*>()) {
        if (child->property(kForeignProperty).toBool()) {
            child->setProperty(kForeignProperty, QVariant());
            child->hide();
            child->setParent(nullptr);
        }
    }
}

}  // namespace

NavigationBar::AppearanceProxy& NavigationBar::appearance() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    static AppearanceProxy proxy;  // main thread only, plain values: nothing to tear down at exit
    return proxy;
}

NavigationBar::NavigationBar(QWidget* parent) : QWidget(parent) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    setObjectName("navigationBar");
    setFixedHeight(kDefaultHeight);
    const AppearanceProxy& proxy = appearance();
    if (proxy.barTintColor) barTintColor_ = proxy.barTintColor;
    if (proxy.titleTextAttributes) titleTextAttributes_ = *proxy.titleTextAttributes;
    if (proxy.translucent) translucent_ = *proxy.translucent;
    layout_ = new QGridLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    rebuild();
}

NavigationBar::~NavigationBar() {
    if (content_ != nullptr) releaseForeign(content_);
}

void NavigationBar::setItems(std::vector<std::shared_ptr<NavigationItem>> items) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    items_ = std::move(items);
    tokens_.clear();
    // The top item and the back item decide what shows; their buttons too.
    auto watch = [this](const std::shared_ptr<NavigationItem>& item) {
        if (!item) return;
        tokens_.push_back(item->observe([this] { scheduleRebuild(); }));
        for (const auto* list : {&item->leftBarButtonItems(), &item->rightBarButtonItems()}) {
            for (const auto& button : *list)
                tokens_.push_back(button->observe([this] { scheduleRebuild(); }));
        }
        if (auto back = item->backBarButtonItem())
            tokens_.push_back(back->observe([this] { scheduleRebuild(); }));
    };
    watch(topItem());
    watch(backItem());
    rebuild();
}

void NavigationBar::scheduleRebuild() {
    // A change of an item's button list brings new buttons to watch.
    setItems(items_);
}

void NavigationBar::setTintColor(QColor color) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    tintColor_ = color;
    rebuild();
    observers_.notify();
}

void NavigationBar::setBarTintColor(std::optional<QColor> color) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    barTintColor_ = color;
    rebuild();  // the title's and buttons' colours follow the background
    observers_.notify();
}

QColor NavigationBar::paintedBackground() const {
    QColor background = palette().window().color();
    background = background.lightness() > 128 ? background.darker(104) : background.lighter(115);
    if (standardAppearance_.backgroundColor) background = *standardAppearance_.backgroundColor;
    if (barTintColor_) background = *barTintColor_;
    return background;
}

QColor NavigationBar::readable(const QColor& color, double minimum) const {
    // A screen may pair a bar colour and a title colour from different sources (a bar tint set for
    // the whole program, a title colour from the palette): whatever they are, the text must read.
    return legibleForeground(color, paintedBackground(), minimum);
}

void NavigationBar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !rebuilding_) rebuild();
}

void NavigationBar::setTitleTextAttributes(TitleTextAttributes attributes) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    titleTextAttributes_ = std::move(attributes);
    rebuild();
    observers_.notify();
}

void NavigationBar::setPrefersLargeTitles(bool prefers) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    prefersLargeTitles_ = prefers;
    rebuild();
    observers_.notify();
}

void NavigationBar::setTranslucent(bool translucent) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    // The bar always paints an opaque background here (no blur below it), so
    // the value is kept for the screens that read it.
    translucent_ = translucent;
    observers_.notify();
}

void NavigationBar::setStandardAppearance(Appearance appearance) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    standardAppearance_ = std::move(appearance);
    rebuild();
    observers_.notify();
}

void NavigationBar::setScrollEdgeAppearance(Appearance appearance) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    scrollEdgeAppearance_ = std::move(appearance);
    observers_.notify();
}

QString NavigationBar::displayedTitle() const {
    return titleLabel_ != nullptr ? titleLabel_->text() : QString();
}

QString NavigationBar::backButtonTitle() const {
    if (auto* button = qobject_cast<QToolButton*>(backButton_)) return button->text();
    return {};
}

QFont NavigationBar::titleFont() const {
    const bool large = prefersLargeTitles_ && topItem() &&
                       topItem()->largeTitleDisplayMode() != NavigationItem::LargeTitleDisplayMode::never;
    const TitleTextAttributes& attributes =
        large ? standardAppearance_.largeTitleTextAttributes : standardAppearance_.titleTextAttributes;
    if (attributes.font) return *attributes.font;
    if (titleTextAttributes_.font) return *titleTextAttributes_.font;
    QFont font = this->font();
    font.setPointSizeF(large ? kLargeTitlePointSize : kTitlePointSize);
    font.setBold(true);
    return font;
}

QWidget* NavigationBar::makeButton(const std::shared_ptr<BarButtonItem>& item, const QString& objectName) {
    if (QWidget* custom = item->customView()) {
        markForeign(custom);
        item->setView(custom);
        custom->show();
        return custom;
    }
    auto* button = new BarToolButton();
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setText(QString::fromStdString(item->title()));
    if (!item->accessibilityLabel().empty())
        button->setAccessibleName(QString::fromStdString(item->accessibilityLabel()));
    if (!item->image().isNull()) {
        button->setIcon(item->image());
        button->setToolButtonStyle(item->title().empty() ? Qt::ToolButtonIconOnly
                                                         : Qt::ToolButtonTextBesideIcon);
    }
    QFont font = button->font();
    font.setBold(item->style() == BarButtonItem::Style::done);
    button->setFont(font);
    QPalette palette = button->palette();
    palette.setColor(QPalette::Active, QPalette::ButtonText, readable(tintColor_));
    palette.setColor(QPalette::Inactive, QPalette::ButtonText, readable(tintColor_));
    button->setPalette(palette);
    button->setEnabled(item->isEnabled());
    std::weak_ptr<BarButtonItem> weak = item;
    connect(button, &QToolButton::clicked, button, [weak] {
        if (auto strong = weak.lock()) strong->trigger();
    });
    item->setView(button);
    return button;
}

void NavigationBar::rebuild() {
    if (rebuilding_) return;
    rebuilding_ = true;
    if (content_ != nullptr) {
        releaseForeign(content_);
        layout_->removeWidget(content_);
        // Later: a rebuild may come from a click on one of these buttons.
        content_->hide();
        content_->deleteLater();
    }
    content_ = new QWidget(this);
    titleLabel_ = nullptr;
    backButton_ = nullptr;
    layout_->addWidget(content_, 0, 0);

    auto* grid = new QGridLayout(content_);
    grid->setContentsMargins(kSideMargin, 0, kSideMargin, 0);
    grid->setHorizontalSpacing(8);
    auto* left = new QHBoxLayout();
    left->setSpacing(4);
    auto* right = new QHBoxLayout();
    right->setSpacing(4);
    auto top = topItem();

    if (top) {
        if (top->leftBarButtonItems().empty() && !top->hidesBackButton()) {
            if (auto back = backItem()) {
                std::string title =
                    back->backBarButtonItem() ? back->backBarButtonItem()->title() : back->title();
                if (title.empty()) title = "Back";
                auto* button = new BarToolButton();
                button->setObjectName("backButton");
                button->setAutoRaise(true);
                button->setText(QString::fromUtf8("\u2039 ") + QString::fromStdString(title));
                QPalette palette = button->palette();
                palette.setColor(QPalette::Active, QPalette::ButtonText, readable(tintColor_));
                palette.setColor(QPalette::Inactive, QPalette::ButtonText, readable(tintColor_));
                button->setPalette(palette);
                connect(button, &QToolButton::clicked, this, [this] {
                    if (backAction_) backAction_();
                });
                left->addWidget(button);
                backButton_ = button;
            }
        }
        int index = 0;
        for (const auto& item : top->leftBarButtonItems()) {
            left->addWidget(makeButton(item, QString("leftBarButton%1").arg(index++)));
        }
        // The first right item is the outermost.
        index = 0;
        std::vector<QWidget*> rightWidgets;
        for (const auto& item : top->rightBarButtonItems()) {
            rightWidgets.push_back(makeButton(item, QString("rightBarButton%1").arg(index++)));
        }
        for (auto it = rightWidgets.rbegin(); it != rightWidgets.rend(); ++it) right->addWidget(*it);
    }
    left->addStretch(1);
    right->insertStretch(0, 1);

    QWidget* middle = nullptr;
    if (top && top->titleView() != nullptr) {
        middle = top->titleView();
        markForeign(middle);
        middle->show();
    } else {
        titleLabel_ = new QLabel(top ? QString::fromStdString(top->title()) : QString());
        titleLabel_->setObjectName("titleLabel");
        titleLabel_->setFont(titleFont());
        titleLabel_->setAlignment(Qt::AlignCenter);
        std::optional<QColor> color = standardAppearance_.titleTextAttributes.foregroundColor;
        if (!color) color = titleTextAttributes_.foregroundColor;
        if (!color) color = palette().color(QPalette::WindowText);
        QPalette palette = titleLabel_->palette();
        palette.setColor(QPalette::WindowText, readable(*color));
        titleLabel_->setPalette(palette);
        middle = titleLabel_;
    }
    grid->addLayout(left, 0, 0);
    grid->addWidget(middle, 0, 1, Qt::AlignCenter);
    grid->addLayout(right, 0, 2);
    // Equal side columns keep the title in the bar's centre.
    const int side = std::max(left->sizeHint().width(), right->sizeHint().width());
    grid->setColumnMinimumWidth(0, side);
    grid->setColumnMinimumWidth(2, side);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    int height = kDefaultHeight;
    if (top && top->searchController() && top->searchController()->searchBar()) {
        QLineEdit* field = top->searchController()->searchBar();
        markForeign(field);
        grid->setRowMinimumHeight(0, kDefaultHeight);
        grid->addWidget(field, 1, 0, 1, 3);
        field->show();
        height += field->sizeHint().height() + kSideMargin;
    }
    setFixedHeight(height);
    content_->show();
    update();
    rebuilding_ = false;
}

void NavigationBar::setTopCornerRadius(double radius) {
    if (topCornerRadius_ == radius) return;
    topCornerRadius_ = radius;
    update();
}

void NavigationBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor background = paintedBackground();
    if (topCornerRadius_ > 0) {
        // Rounded on top, square below (where the card's content follows).
        const double r = std::min(topCornerRadius_, std::min(width(), height()) / 2.0);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), r, r);
        shape.addRect(QRectF(0, r, width(), height() - r));
        shape.setFillRule(Qt::WindingFill);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.fillPath(shape.simplified(), background);
        painter.setRenderHint(QPainter::Antialiasing, false);
    } else {
        painter.fillRect(rect(), background);
    }
    painter.setPen(QColor(0, 0, 0, 45));
    painter.drawLine(0, height() - 1, width(), height() - 1);
}

}  // namespace platform
