// The layout "UserLocationSettingsView" of the user-location settings screen,
// built in code: what the screen's fields and connections need.
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "location/ui/LocationSymbols.hpp"
#include "location/ui/UserLocationSettingsViewController.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/TextView.hpp"
#include "platform/ui/Toolbar.hpp"

namespace tervolo::location {

namespace {

// Points around the coordinate row's contents, and the pin image's edge.
constexpr int kRowMargin = 12;
constexpr int kPinIconSide = 22;

// A round clear button ("×") at half opacity, hidden until its area is edited.
QPushButton* makeClearButton(QWidget* parent, const char* name) {
    auto* button = new QPushButton(QStringLiteral("\u00D7"), parent);
    button->setObjectName(name);
    const int side = button->fontMetrics().height() + 6;
    button->setFixedSize(side, side);
    // A pill: the corners are rounded by half the height.
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; border-radius: %1px; "
                                         "background: palette(mid); color: palette(base); }")
                              .arg(side / 2));
    auto* opacity = new QGraphicsOpacityEffect(button);
    opacity->setOpacity(0.5);
    button->setGraphicsEffect(opacity);
    button->hide();
    return button;
}

// A row holding a text area with its clear button at the right.
QWidget* makeTextRow(QWidget* parent, platform::TextView* area, QPushButton* clear, const char* name) {
    auto* row = new QWidget(parent);
    row->setObjectName(name);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area, 1);
    layout->addWidget(clear, 0, Qt::AlignVCenter);
    return row;
}

}  // namespace

QIcon UserLocationSettingsViewController::redPinIcon() {
    initLocationSymbols();
    const auto image = platform::NamedImage::named(QStringLiteral("red_pin.png"));
    QIcon icon;
    if (image.isNull()) return icon;
    for (const int ratio : {1, 2}) {
        QImage drawn = image.render(QSize(kPinIconSide, kPinIconSide) * ratio);
        drawn.setDevicePixelRatio(ratio);
        icon.addPixmap(QPixmap::fromImage(drawn));
    }
    return icon;
}

void UserLocationSettingsViewController::loadView() {
    const auto& bundle = platform::Bundle::main();
    auto* root = new QWidget();
    root->setObjectName(kViewName);
    root->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Title and subtitle areas: the map screen shows the title in the bar, so
    // both are collapsed while the screen shows (setHeightConstraint).
    titleView_ = new platform::TextView(root);
    titleView_->setObjectName("titleView");
    titleView_->setFrameShape(QFrame::NoFrame);
    clearTitleButton_ = makeClearButton(root, "clearTitleButton");
    subtitleView_ = new platform::TextView(root);
    subtitleView_->setObjectName("subtitleView");
    subtitleView_->setFrameShape(QFrame::NoFrame);
    clearSubtitleButton_ = makeClearButton(root, "clearSubtitleButton");
    column->addWidget(makeTextRow(root, titleView_, clearTitleButton_, "titleRow"));
    column->addWidget(makeTextRow(root, subtitleView_, clearSubtitleButton_, "subtitleRow"));
    titleHeight_ = std::make_shared<platform::LayoutConstraint>(QStringLiteral("titleHeight"), 0);
    subtitleHeight_ = std::make_shared<platform::LayoutConstraint>(QStringLiteral("subtitleHeight"), 0);

    // The coordinate text (clicks cycle its format) and the copy button.
    auto* coordinateRow = new QWidget(root);
    coordinateRow->setObjectName("coordinateRow");
    auto* rowLayout = new QHBoxLayout(coordinateRow);
    rowLayout->setContentsMargins(kRowMargin + 4, kRowMargin, kRowMargin + 4, kRowMargin);
    rowLayout->setSpacing(kRowMargin);
    coordinateLabel_ = new platform::Label(QString(), coordinateRow);
    coordinateLabel_->setObjectName("coordinateLabel");
    coordinateLabel_->setFont(platform::scaledFont(coordinateRow->font(), 1.25));
    // Long formats (MGRS, degrees-minutes-seconds) shrink before they are cut.
    coordinateLabel_->setAdjustsFontSizeToFitWidth(true);
    coordinateLabel_->setMinimumScaleFactor(0.6);
    coordinateLabel_->setCursor(Qt::PointingHandCursor);
    coordinateLabel_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    copyCoordinatesButton_ = new QPushButton(coordinateRow);
    copyCoordinatesButton_->setObjectName("copyCoordinatesButton");
    rowLayout->addWidget(coordinateLabel_, 1);
    rowLayout->addWidget(copyCoordinatesButton_, 0);
    column->addWidget(coordinateRow);

    // The small map: interactive only once it shows a position.
    map_ = new platform::MKMapView(root);
    map_->setObjectName("map");
    map_->setAttribute(Qt::WA_TransparentForMouseEvents, true);
    column->addWidget(map_, 1);

    // The bottom toolbar: share, bubble style, radius.
    toolbar_ = new platform::Toolbar(root);
    toolbar_->setObjectName("toolbar");
    toolbar_->setDisplayMode(platform::Toolbar::DisplayMode::labelOnly);
    column->addWidget(toolbar_);

    setView(root);

    const auto self = weakSelf();
    if (const auto strong = self.lock()) {
        titleView_->setDelegate(std::static_pointer_cast<platform::TextViewDelegate>(strong));
        subtitleView_->setDelegate(std::static_pointer_cast<platform::TextViewDelegate>(strong));
        map_->setDelegate(std::static_pointer_cast<platform::MKMapViewDelegate>(strong));
    }
    titleHeight_->setOnChange(guarded([](auto& screen) { screen.layoutParts(); }));
    subtitleHeight_->setOnChange(guarded([](auto& screen) { screen.layoutParts(); }));
    QObject::connect(copyCoordinatesButton_, &QPushButton::clicked, root, guarded([](auto& screen) {
                         screen.copyCoordinatesButton(screen.copyCoordinatesButton_);
                     }));
    QObject::connect(clearTitleButton_, &QPushButton::clicked, root,
                     guarded([](auto& screen) { screen.clearTitleButton(screen.clearTitleButton_); }));
    QObject::connect(clearSubtitleButton_, &QPushButton::clicked, root,
                     guarded([](auto& screen) { screen.clearSubtitleButton(screen.clearSubtitleButton_); }));

    // Each toolbar item sends its bar button item; the toolbar's button
    // follows the item's title and enabled state.
    using Item = platform::BarButtonItem;
    using Handler = void (UserLocationSettingsViewController::*)(const std::shared_ptr<Item>&);
    const auto addItem = [&](const char* identifier, const std::string& title, Handler handler) {
        auto item = std::make_shared<Item>(title, Item::Style::plain, nullptr);
        item->setAction([weak = self, weakItem = std::weak_ptr<Item>(item), handler] {
            const auto screen = weak.lock();
            const auto sender = weakItem.lock();
            if (screen && sender) ((*screen).*handler)(sender);
        });
        QAction* action = toolbar_->addItem(identifier, QIcon(), QString::fromStdString(title),
                                            [weakItem = std::weak_ptr<Item>(item)] {
                                                if (const auto sender = weakItem.lock()) sender->trigger();
                                            });
        const auto sync = [action, weakItem = std::weak_ptr<Item>(item)] {
            const auto sender = weakItem.lock();
            if (!sender) return;
            action->setText(QString::fromStdString(sender->title()));
            action->setEnabled(sender->isEnabled());
        };
        barItemTokens_.push_back(item->observe(sync));
        item->setView(toolbar_->widgetForAction(action));
        return item;
    };
    toolbarShareButton_ =
        addItem("share", bundle.localizedString("Share"), &UserLocationSettingsViewController::shareFromBar);
    toolbar_->addFlexibleSpace();
    bubbleStyleButton_ = addItem("bubbleStyle", bundle.localizedString("Bubble Style"),
                                 &UserLocationSettingsViewController::bubbleLayoutButton);
    toolbar_->addFlexibleSpace();
    radiusBarButton_ = addItem("radius", bundle.localizedString("Circle Radius"),
                               &UserLocationSettingsViewController::radiusButton);

    layoutParts();
}

void UserLocationSettingsViewController::layoutParts() {
    const struct {
        platform::TextView* area;
        const std::shared_ptr<platform::LayoutConstraint>& height;
    } areas[] = {{titleView_, titleHeight_}, {subtitleView_, subtitleHeight_}};
    for (const auto& [area, height] : areas) {
        if (!area || !height) continue;
        const int points = static_cast<int>(std::ceil(std::max(0.0, height->valueOr(0))));
        // A collapsed area takes no room at all (its row goes with it).
        area->parentWidget()->setVisible(points > 0);
        area->setFixedHeight(points);
    }
}

}  // namespace tervolo::location
