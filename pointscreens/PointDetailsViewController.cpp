#include "pointscreens/PointDetailsViewController.hpp"

#include <QEvent>
#include <QFontMetricsF>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QIcon>
#include <QPixmap>
#include <QSpacerItem>
#include <QTextDocument>
#include <QTextOption>
#include <QVBoxLayout>

#include <cmath>

#include "geodesy/QuovaCoordinateFormat.hpp"
#include "logging/QLLogging.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/MKOverlayRenderer.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/Unicode.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PointDetailsContent.hpp"

// The logos of the data sources, compiled into this library.
static void initPointScreensImages() {
    static const bool done = [] {
        Q_INIT_RESOURCE(PointScreensImages);
        return true;
    }();
    (void)done;
}

namespace tervolo::pointscreens {

using platform::localizedString;

namespace {

// The platform's system red (#FF3B30): the chips' default and the circle's fill.
const QColor kSystemRed(255, 59, 48);

QColor toQColor(const platform::Color& color) {
    const auto rgba = color.convertedToSRGB().components();
    return QColor::fromRgbF(static_cast<float>(std::clamp(rgba.red, 0.0, 1.0)),
                            static_cast<float>(std::clamp(rgba.green, 0.0, 1.0)),
                            static_cast<float>(std::clamp(rgba.blue, 0.0, 1.0)),
                            static_cast<float>(std::clamp(rgba.alpha, 0.0, 1.0)));
}

QIcon symbol(const QString& name, const QColor& tint) {
    // Drawn at twice the size so it stays sharp at a device pixel ratio of 2.
    QPixmap pixmap = QPixmap::fromImage(platform::NamedImage::named(name).render(QSize(48, 48), tint));
    pixmap.setDevicePixelRatio(2);
    return QIcon(pixmap);
}

std::string where(const char* function, const char* file, int line) {
    return std::string(function) + " in " + file + ":" + std::to_string(line);
}

QPushButton* makeClearButton(QWidget* parent, const char* name) {
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    const int side = static_cast<int>(PointDetailsViewController::kClearButtonSide);
    button->setFixedSize(side, side);
    button->setFlat(true);
    button->setIcon(symbol(QStringLiteral("xmark.circle"), parent->palette().color(QPalette::Text)));
    button->setIconSize(QSize(side, side));
    button->setFocusPolicy(Qt::NoFocus);
    // Round and half transparent: the button sits on the text it clears.
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; border-radius: %1px; }").arg(side / 2));
    auto* fade = new QGraphicsOpacityEffect(button);
    fade->setOpacity(0.5);
    button->setGraphicsEffect(fade);
    button->hide();
    return button;
}

}  // namespace

// Forwards the root view's resizes to the screen.
class PointDetailsViewController::ViewEvents : public QObject {
  public:
    ViewEvents(PointDetailsViewController* screen, QObject* parent) : QObject(parent), screen_(screen) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent()) {
            screen_->handleViewEvent(event);
        } else if (event->type() == QEvent::Resize && screen_->tagFlowView_) {
            // The chips flow into more or fewer rows at a new width. Filters
            // run before the list's own resize handling: flow them now, then
            // take the list's new height.
            screen_->tagFlowView_->rearrangeViews();
            screen_->applyConstraints();
        }
        return false;
    }

  private:
    PointDetailsViewController* screen_;
};

PointDetailsViewController::PointDetailsViewController(std::optional<std::string> nibName,
                                                       const platform::Bundle* bundle) {
    // Whatever the creator names, the screen always builds its own view.
    (void)nibName;
    (void)bundle;
    tagTableViewHeight_ = constraints_.add(QStringLiteral("tagTableViewHeight"), 0);
    titleHeight_ = constraints_.add(QStringLiteral("titleHeight"), 36);
    subtitleHeight_ = constraints_.add(QStringLiteral("subtitleHeight"), 36);
    pointInfoTextViewHeight_ = constraints_.add(QStringLiteral("pointInfoTextViewHeight"), 36);
    logoViewWidth_ = constraints_.add(QStringLiteral("logoViewWidth"), 24);
    tagListContainerHeight_ = constraints_.add(QStringLiteral("tagListContainerHeight"), 0, false);
    clearTitleButtonTopDistance_ = constraints_.add(QStringLiteral("clearTitleButtonTopDistance"), 8);
    clearSubtitleButtonTopDistance_ = constraints_.add(QStringLiteral("clearSubtitleButtonTopDistance"), 8);
    constraints_.setOnChange([this] { applyConstraints(); });
}

PointDetailsViewController::~PointDetailsViewController() {
    if (tagTableHeightTimer_) tagTableHeightTimer_->invalidate();
    if (tagTableReloadTimer_) tagTableReloadTimer_->invalidate();
    // The base class deletes the view after this object is gone: the view's
    // last events must not reach it.
    delete events_.data();
}

std::shared_ptr<PointDetailsViewController> PointDetailsViewController::presentForPoint(
    platform::ViewController& presenter, std::shared_ptr<points::QuovaMapPoint> point,
    std::weak_ptr<mapscreen::MainMapPort> mainVC) {
    auto screen = std::make_shared<PointDetailsViewController>(std::string(kViewName));
    screen->setPoint(std::move(point));
    screen->setMainVC(std::move(mainVC));
    auto navigation = std::make_shared<platform::NavigationController>(screen);
    if (presenter.traitCollection().userInterfaceIdiom ==
        platform::TraitCollection::UserInterfaceIdiom::phone) {
        navigation->setModalPresentationStyle(platform::ModalPresentationStyle::fullScreen);
    } else {
        navigation->setModalPresentationStyle(platform::ModalPresentationStyle::formSheet);
        const QSize size = presenter.view()->size();
        screen->setPreferredContentSize(QSizeF(size.width() / 2.0, size.height() * 2.0 / 3.0));
    }
    presenter.present(navigation, true);
    return screen;
}

std::function<void()> PointDetailsViewController::guarded(void (PointDetailsViewController::*action)()) {
    return [this, action, alive = std::weak_ptr<int>(lifetime_)] {
        if (alive.lock()) (this->*action)();
    };
}

// --- the view ---------------------------------------------------------------

void PointDetailsViewController::loadView() {
    auto* root = new QWidget();
    root->setObjectName(kViewName);
    buildView(root);
    setView(root);
    events_ = new ViewEvents(this, root);
    root->installEventFilter(events_);
    if (tagFlowView_) tagFlowView_->installEventFilter(events_);
}

void PointDetailsViewController::buildView(QWidget* root) {
    auto* column = new QVBoxLayout(root);
    const int margin = static_cast<int>(kMargin);
    column->setContentsMargins(margin, margin, margin, 0);
    column->setSpacing(6);

    // Title and subtitle: the text view sized to its text, the clear button
    // beside it, centred on the text by its top distance.
    const auto textRow = [&](const char* rowName, const char* viewName, const char* buttonName,
                             QPointer<platform::TextView>& view, QPointer<QPushButton>& button) {
        auto* row = new QWidget(root);
        row->setObjectName(rowName);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(0);
        view = new platform::TextView(row);
        view->setObjectName(viewName);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setFrameShape(QFrame::NoFrame);
        // Opening the screen must not start editing: a click (or the
        // keyboard user's own choice) begins it, not the first focus.
        view->setFocusPolicy(Qt::ClickFocus);
        line->addWidget(view, 1, Qt::AlignTop);
        auto* side = new QVBoxLayout();
        side->setContentsMargins(0, 0, 0, 0);
        side->setSpacing(0);
        side->addSpacerItem(
            new QSpacerItem(static_cast<int>(kClearButtonSide), 8, QSizePolicy::Fixed, QSizePolicy::Fixed));
        button = makeClearButton(row, buttonName);
        // Keeps the column's width while the button is hidden.
        auto policy = button->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        button->setSizePolicy(policy);
        side->addWidget(button);
        side->addStretch(1);
        line->addLayout(side);
        column->addWidget(row);
        return row;
    };
    titleRow_ = textRow("titleRow", "titleView", "clearTitleButton", titleView_, clearTitleButton_);
    QFont titleFont = titleView_->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.35);
    titleFont.setBold(true);
    titleView_->setFont(titleFont);
    subtitleRow_ =
        textRow("subtitleRow", "subtitleView", "clearSubtitleButton", subtitleView_, clearSubtitleButton_);
    QObject::connect(clearTitleButton_, &QPushButton::clicked, root,
                     guarded(&PointDetailsViewController::clearTitleButtonPressed));
    QObject::connect(clearSubtitleButton_, &QPushButton::clicked, root,
                     guarded(&PointDetailsViewController::clearSubtitleButtonPressed));

    // The coordinate and its copy button.
    auto* coordinateRow = new QHBoxLayout();
    coordinateLabel_ = new QLabel(root);
    coordinateLabel_->setObjectName("coordinateLabel");
    coordinateLabel_->setTextInteractionFlags(Qt::NoTextInteraction);
    coordinateLabel_->setCursor(Qt::PointingHandCursor);
    coordinateLabel_->setWordWrap(true);
    coordinateRow->addWidget(coordinateLabel_, 1);
    copyCoordinatesButton_ = new QPushButton(root);
    copyCoordinatesButton_->setObjectName("copyCoordinatesButton");
    copyCoordinatesButton_->setFlat(true);
    coordinateRow->addWidget(copyCoordinatesButton_);
    column->addLayout(coordinateRow);

    // The chips, or the hint while there are none, and the add button.
    auto* tagRow = new QHBoxLayout();
    tagListContainer_ = new QWidget(root);
    tagListContainer_->setObjectName("tagListContainer");
    auto* tagBox = new QVBoxLayout(tagListContainer_);
    tagBox->setContentsMargins(0, 0, 0, 0);
    tagFlowView_ = new widgets::taglist::TagFlowView(tagListContainer_);
    tagFlowView_->setObjectName("tagFlowView");
    // Each chip carries its remove button: taking a tag off the point is done on the chip.
    tagFlowView_->setEnableRemoveButton(true);
    tagBox->addWidget(tagFlowView_);
    tagRow->addWidget(tagListContainer_, 1);
    addTagInfoLabel_ = new QLabel(root);
    addTagInfoLabel_->setObjectName("addTagInfoLabel");
    addTagInfoLabel_->setWordWrap(true);
    tagRow->addWidget(addTagInfoLabel_, 1);
    addTagButton_ = new QPushButton(QStringLiteral("+"), root);
    addTagButton_->setObjectName("addTagButton");
    addTagButton_->setFixedWidth(addTagButton_->sizeHint().height() + 8);
    addTagButton_->setToolTip(QString::fromStdString(localizedString("Add Tag")));
    tagRow->addWidget(addTagButton_, 0, Qt::AlignTop);
    column->addLayout(tagRow);
    QObject::connect(addTagButton_, &QPushButton::clicked, root,
                     guarded(&PointDetailsViewController::addTagButtonPressed));

    // The tag editor: the name field with its save and cancel buttons, then
    // the table of stored tags.
    editTagStackView_ = new QWidget(root);
    editTagStackView_->setObjectName("editTagStackView");
    auto* editRow = new QHBoxLayout(editTagStackView_);
    editRow->setContentsMargins(0, 0, 0, 0);
    editTagContainerView_ = new QWidget(editTagStackView_);
    editTagContainerView_->setObjectName("editTagContainerView");
    auto* fieldBox = new QHBoxLayout(editTagContainerView_);
    fieldBox->setContentsMargins(0, 0, 0, 0);
    editTagTextField_ = new platform::TextField(editTagContainerView_);
    editTagTextField_->setObjectName("editTagTextField");
    editTagTextField_->setClearButtonShown(true);
    editTagTextField_->setPlaceholderText(QString::fromStdString(localizedString("Tag name")));
    fieldBox->addWidget(editTagTextField_);
    editRow->addWidget(editTagContainerView_, 1);
    saveNewTagButton_ = new QPushButton(editTagStackView_);
    saveNewTagButton_->setObjectName("saveNewTagButton");
    cancelEditTagButton_ = new QPushButton(editTagStackView_);
    cancelEditTagButton_->setObjectName("cancelEditTagButton");
    for (QPushButton* button : {saveNewTagButton_.data(), cancelEditTagButton_.data()}) {
        button->setFlat(true);
        button->setIconSize(QSize(24, 24));
        editRow->addWidget(button);
    }
    column->addWidget(editTagStackView_);
    QObject::connect(saveNewTagButton_, &QPushButton::clicked, root,
                     guarded(&PointDetailsViewController::saveNewTagButtonPressed));
    QObject::connect(cancelEditTagButton_, &QPushButton::clicked, root,
                     guarded(&PointDetailsViewController::cancelEditTagButtonPressed));
    tagTableView_ = new platform::TableView(root);
    tagTableView_->setObjectName("tagTableView");
    column->addWidget(tagTableView_);
    setUpTagTable();

    // Where the point was found.
    sourceInfoView_ = new QWidget(root);
    sourceInfoView_->setObjectName("sourceInfoView");
    auto* sourceRow = new QHBoxLayout(sourceInfoView_);
    sourceRow->setContentsMargins(0, 0, 0, 0);
    linkLabel_ = new QLabel(sourceInfoView_);
    linkLabel_->setObjectName("linkLabel");
    sourceRow->addWidget(linkLabel_);
    logoView_ = new platform::ImageView(sourceInfoView_);
    logoView_->setObjectName("logoView");
    logoView_->setFixedHeight(24);
    sourceRow->addWidget(logoView_);
    seePageButton_ = new QuovaButtonWithURL(sourceInfoView_);
    seePageButton_->setObjectName("seePageButton");
    seePageButton_->setFlat(true);
    sourceRow->addWidget(seePageButton_);
    sourceRow->addStretch(1);
    sourceInfoView_->hide();
    column->addWidget(sourceInfoView_);

    // The small map and the status line: one above the other, or side by
    // side while the view is wider than high.
    bottomStackWidget_ = new QWidget(root);
    bottomStackWidget_->setObjectName("bottomStackView");
    bottomStackView_ = new QBoxLayout(QBoxLayout::TopToBottom, bottomStackWidget_);
    bottomStackView_->setContentsMargins(0, 0, 0, 0);
    bottomStackView_->setSpacing(0);
    map_ = new platform::MKMapView(bottomStackWidget_);
    map_->setObjectName("map");
    map_->setMinimumHeight(120);
    bottomStackView_->addWidget(map_, 1);
    pointInfoTextView_ = new platform::TextView(bottomStackWidget_);
    pointInfoTextView_->setObjectName("pointInfoTextView");
    pointInfoTextView_->setReadOnly(true);
    pointInfoTextView_->setFrameShape(QFrame::NoFrame);
    pointInfoTextView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pointInfoTextView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QFont small = pointInfoTextView_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    pointInfoTextView_->setFont(small);
    bottomStackView_->addWidget(pointInfoTextView_, 0, Qt::AlignTop);
    column->addWidget(bottomStackWidget_, 1);

    // The radius and directions choices.
    bottomBar_ = new platform::Toolbar(root);
    bottomBar_->setObjectName("bottomBar");
    bottomBar_->setDisplayMode(platform::Toolbar::DisplayMode::labelOnly);
    radiusButton_ = std::make_shared<platform::BarButtonItem>(std::string(),
                                                              platform::BarButtonItem::Style::plain, nullptr);
    directionsButton_ = std::make_shared<platform::BarButtonItem>(
        std::string(), platform::BarButtonItem::Style::plain, nullptr);
    shareButton_ = std::make_shared<platform::BarButtonItem>(std::string(),
                                                             platform::BarButtonItem::Style::plain, nullptr);
    trashButton_ = std::make_shared<platform::BarButtonItem>(std::string(),
                                                             platform::BarButtonItem::Style::plain, nullptr);
    bottomBar_->addFlexibleSpace();
    for (const auto& [identifier, item] :
         {std::pair{"radius", radiusButton_}, std::pair{"directions", directionsButton_},
          std::pair{"share", shareButton_}, std::pair{"trash", trashButton_}}) {
        QAction* action =
            bottomBar_->addItem(identifier, QIcon(), QString(), [item = item] { item->trigger(); });
        barTokens_.push_back(item->observe([action, item = item.get()] {
            action->setText(QString::fromStdString(item->title()));
            action->setEnabled(item->isEnabled());
        }));
        item->setView(bottomBar_->widgetForAction(action));
    }
    column->addWidget(bottomBar_);
}

void PointDetailsViewController::applyConstraints() {
    if (titleView_) titleView_->setFixedHeight(static_cast<int>(std::ceil(titleHeight_->constant())));
    if (subtitleView_)
        subtitleView_->setFixedHeight(static_cast<int>(std::ceil(subtitleHeight_->constant())));
    if (pointInfoTextView_) {
        pointInfoTextView_->setFixedHeight(static_cast<int>(std::ceil(pointInfoTextViewHeight_->constant())));
    }
    const auto placeClearButton = [](QPushButton* button, double top) {
        if (!button || !button->parentWidget()) return;
        auto* row = static_cast<QHBoxLayout*>(button->parentWidget()->layout());
        auto* side = row ? static_cast<QVBoxLayout*>(row->itemAt(1)->layout()) : nullptr;
        if (!side) return;
        side->itemAt(0)->spacerItem()->changeSize(static_cast<int>(kClearButtonSide),
                                                  std::max(0, static_cast<int>(std::lround(top))),
                                                  QSizePolicy::Fixed, QSizePolicy::Fixed);
        side->invalidate();
    };
    placeClearButton(clearTitleButton_, clearTitleButtonTopDistance_->constant());
    placeClearButton(clearSubtitleButton_, clearSubtitleButtonTopDistance_->constant());
    if (logoView_) logoView_->setFixedWidth(static_cast<int>(std::ceil(logoViewWidth_->valueOr(24))));
    if (tagTableView_)
        tagTableView_->setFixedHeight(static_cast<int>(std::ceil(tagTableViewHeight_->constant())));
    if (tagListContainer_ && tagFlowView_) {
        if (tagListContainerHeight_->isActive()) {
            tagListContainer_->setFixedHeight(static_cast<int>(tagListContainerHeight_->constant()));
        } else {
            const int chips = static_cast<int>(std::ceil(tagFlowView_->intrinsicContentSize().height()));
            tagFlowView_->setFixedHeight(chips);
            tagListContainer_->setFixedHeight(chips);
        }
    }
    if (auto* root = viewIfLoaded()) {
        if (root->layout()) root->layout()->invalidate();
        root->update();
    }
}

void PointDetailsViewController::followTextDirection(platform::TextView* textView,
                                                     const std::optional<QString>& newText) {
    if (!textView) return;
    // The text starts on the side its own script reads from: a Hebrew or
    // Arabic title stands at the right whatever the window's direction.
    QTextOption option = textView->document()->defaultTextOption();
    const QString text = newText ? *newText : textView->text();
    const Qt::LayoutDirection direction = text.isEmpty()
                                              ? textView->layoutDirection()
                                              : (text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    const Qt::Alignment alignment =
        Qt::AlignAbsolute | (direction == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft);
    if (option.textDirection() == direction && option.alignment() == alignment) return;
    option.setTextDirection(direction);
    option.setAlignment(alignment);
    textView->document()->setDefaultTextOption(option);
}

// --- lifecycle --------------------------------------------------------------

void PointDetailsViewController::viewDidLoad() {
    hideTagEditor();
    if (addTagInfoLabel_) {
        addTagInfoLabel_->setText(
            QString::fromStdString(localizedString("Add tags to change pin color & group pins")));
    }
    // Plain text backgrounds from the palette: white in a light theme, and a
    // dark theme still reads.
    for (platform::TextView* textView : {titleView_.data(), subtitleView_.data()}) {
        if (!textView) continue;
        QPalette palette = textView->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Base));
        textView->setPalette(palette);
    }
    const QColor symbolTint = view()->palette().color(QPalette::Text);
    if (cancelEditTagButton_) {
        cancelEditTagButton_->setText(QString());
        cancelEditTagButton_->setIcon(symbol(QStringLiteral("xmark.circle"), symbolTint));
    }
    if (saveNewTagButton_) {
        saveNewTagButton_->setText(QString());
        saveNewTagButton_->setIcon(symbol(QStringLiteral("checkmark.circle"), symbolTint));
    }
    if (radiusButton_) radiusButton_->setTitle(localizedString("Radius"));
    if (directionsButton_) directionsButton_->setTitle(localizedString("Directions"));
    connectActions();

    coordinateFormat_ = coordinateFormatFromDefaults(platform::UserDefaults::standard(), coordinateFormat_);

    if (auto* navigation = navigationController()) {
        platform::NavigationBar::Appearance appearance;
        appearance.backgroundColor = view()->palette().color(QPalette::Base);
        navigation->navigationBar().setStandardAppearance(appearance);
        navigation->navigationBar().setScrollEdgeAppearance(appearance);
    }
    navigationItem().setRightBarButtonItem(std::make_shared<platform::BarButtonItem>(
        localizedString("Done"), platform::BarButtonItem::Style::done,
        guarded(&PointDetailsViewController::dismissView)));
    setTitle(localizedString("Point Details"));

    loadMap();

    if (coordinateLabel_) {
        updateCoordinateLabel();
        coordinateTapRecognizer_ = new platform::TapGestureRecognizer(
            [this, alive = std::weak_ptr<int>(lifetime_)](platform::GestureRecognizer&) {
                if (alive.lock()) coordinateLabelTapped();
            });
        platform::addGestureRecognizer(coordinateLabel_, coordinateTapRecognizer_);
        if (copyCoordinatesButton_) {
            copyCoordinatesButton_->setText(QString::fromStdString(localizedString("Copy ...")));
        }
    }

    const auto delegate = std::dynamic_pointer_cast<PointDetailsViewController>(shared_from_this());
    for (platform::TextView* textView :
         {titleView_.data(), subtitleView_.data(), pointInfoTextView_.data()}) {
        if (textView) textView->setDelegate(std::weak_ptr<platform::TextViewDelegate>(delegate));
    }
    if (editTagTextField_)
        editTagTextField_->setDelegate(std::weak_ptr<platform::TextFieldDelegate>(delegate));
    if (tagFlowView_)
        tagFlowView_->setDelegate(std::weak_ptr<widgets::taglist::TagFlowViewDelegate>(delegate));
    // Each view's direction before its text: a new direction lays the whole text out again.
    if (titleView_) {
        const QString title = QString::fromStdString(point_ ? point_->title().value_or("") : "");
        followTextDirection(titleView_, title);
        titleView_->setText(title);
        titleView_->setReturnKeyType(platform::ReturnKeyType::Done);
    }
    if (subtitleView_) {
        const QString subtitle = QString::fromStdString(point_ ? point_->subtitle().value_or("") : "");
        followTextDirection(subtitleView_, subtitle);
        subtitleView_->setText(subtitle);
        subtitleView_->setReturnKeyType(platform::ReturnKeyType::Done);
    }

    loadChips();
    loadSourceRow();

    if (logoView_ && !logoView_->image().isNull()) {
        const QSize natural = logoView_->image().size();
        if (natural.height() > 0) {
            logoViewWidth_->setConstant(static_cast<double>(natural.width()) / natural.height() *
                                        logoView_->height());
        }
    }

    if (pointInfoTextView_ && point_) {
        pointInfoTextView_->setText(
            QString::fromStdString(statusLineText(point_->createdAt(), point_->lastSavedAt())));
        setHeightConstraint(pointInfoTextView_);
    }
    applyConstraints();
}

void PointDetailsViewController::loadMap() {
    if (!point_ || !map_) return;
    map_->setDelegate(std::weak_ptr<platform::MKMapViewDelegate>(
        std::dynamic_pointer_cast<PointDetailsViewController>(shared_from_this())));
    const auto coordinate = point_->coordinate();
    if (platform::CLLocationCoordinate2DIsValid(coordinate)) {
        map_->setVisibleMapRect(mapRectForRegion(coordinate, 5000), false);
    }
    const std::string title = point_->title().value_or("");
    map_->addAnnotation(std::make_shared<platform::MKPointAnnotation>(coordinate, title));
    map_->setEnabled(true);
    // A radius that cannot be drawn (not finite) is left as it is: nothing
    // drawn, nothing applied, so a save keeps it.
    if (point_->alarmCircleDiameter() && std::isfinite(*point_->alarmCircleDiameter())) {
        updateRadius(point_->alarmCircleDiameter());
    }
}

void PointDetailsViewController::loadChips() {
    if (!point_ || !tagFlowView_) return;
    QFont chipFont = tagFlowView_->font();
    chipFont.setPointSizeF(chipFont.pointSizeF() * 18.0 / 13.0);
    tagFlowView_->setTextFont(chipFont);
    tagFlowView_->setAlignment(widgets::taglist::TagFlowView::Alignment::left);
    tagFlowView_->setTagBackgroundColor(kSystemRed);
    tagFlowView_->setTagSelectedBackgroundColor(kSystemRed);
    tagFlowView_->setTagHighlightedBackgroundColor(kSystemRed);
    tagFlowView_->setCornerRadius(6);
    tagFlowView_->setPaddingX(8);
    // The chip list sizes a chip from its font's point size; the text needs
    // the font's line height, so the padding makes up the difference.
    const QFontMetricsF metrics(chipFont);
    tagFlowView_->setPaddingY(std::ceil((metrics.height() - chipFont.pointSizeF()) / 2) + 3);
    tagFlowView_->setMarginX(6);
    tagFlowView_->setMarginY(6);
    const auto& identifiers = point_->tags();
    if (!identifiers || identifiers->empty()) {
        showNoTagsState();
        return;
    }
    showChipArea();
    const auto& stored = points::QuovaPointTagStore::shared().tags();
    const PointTagChips chips = chipsForTagIdentifiers(
        *identifiers, stored ? *stored : std::vector<std::shared_ptr<points::QuovaPointTag>>{});
    for (const TagChip& chip : chips.chips) addChip(chip.title, chip.identifier, chip.color);
    unresolvedTagIdentifiers_ = chips.unresolved;
}

void PointDetailsViewController::loadSourceRow() {
    if (!point_ || !point_->dataSourceName()) {
        if (sourceInfoView_) sourceInfoView_->hide();
        return;
    }
    const SourceRow row = sourceRowForPoint(*point_);
    if (sourceInfoView_) sourceInfoView_->setVisible(!row.hidden);
    if (row.hidden) return;
    initPointScreensImages();
    if (logoView_) logoView_->setImageNamed(row.logoImageName);
    if (linkLabel_) linkLabel_->setText(QString::fromStdString(row.linkLabel));
    if (seePageButton_) {
        seePageButton_->setVisible(row.address.has_value());
        seePageButton_->setUrlToOpen(row.address);
        if (row.address) seePageButton_->setText(QString::fromStdString(row.seePageTitle));
    }
}

void PointDetailsViewController::viewWillAppear(bool animated) {
    (void)animated;
    QLLogInfo(where(__func__, __FILE__, __LINE__));
    setHeightConstraint(titleView_);
    setHeightConstraint(subtitleView_);
    setHeightConstraint(pointInfoTextView_);
}

void PointDetailsViewController::traitCollectionDidChange(const platform::TraitCollection& previous) {
    (void)previous;
    QLLogInfo(where(__func__, __FILE__, __LINE__));
    viewDidResize();
}

bool PointDetailsViewController::handleViewEvent(QEvent* event) {
    if (event->type() == QEvent::Resize) viewDidResize();
    return false;
}

void PointDetailsViewController::viewDidResize() {
    QWidget* root = viewIfLoaded();
    if (!root) return;
    if (bottomStackView_ && pointInfoTextView_) {
        const bool sideBySide = root->width() > root->height();
        bottomStackView_->setDirection(sideBySide ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
        // Side by side the two share the width equally; above each other the
        // map takes what the status line leaves.
        bottomStackView_->setStretchFactor(pointInfoTextView_, sideBySide ? 1 : 0);
    }
    setHeightConstraint(titleView_);
    setHeightConstraint(subtitleView_);
    setHeightConstraint(pointInfoTextView_);
    if (tagTableHeightTimer_) tagTableHeightTimer_->invalidate();
    tagTableHeightTimer_ = platform::Timer::scheduled(
        0.1, false, [this, alive = std::weak_ptr<int>(lifetime_)](platform::Timer&) {
            if (alive.lock()) updateTagTableHeight();
        });
}

// --- coordinate label ---------------------------------------------------------

void PointDetailsViewController::updateCoordinateLabel() {
    if (!coordinateLabel_) return;
    coordinateLabel_->setText(QString::fromStdString(coordinateLabelText(point_.get(), coordinateFormat_)));
}

void PointDetailsViewController::coordinateLabelTapped() {
    QLLogInfo(where(__func__, __FILE__, __LINE__));
    coordinateFormat_ = nextCoordinateFormat(coordinateFormat_);
    updateCoordinateLabel();
    platform::UserDefaults::standard().set(geodesy::kCoordinateFormatDefaultsKey,
                                           platform::PropertyValue(coordinateFormat_));
}

// --- states -------------------------------------------------------------------

void PointDetailsViewController::markPointAsEdited() {
    navigationItem().setLeftBarButtonItem(std::make_shared<platform::BarButtonItem>(
        localizedString("Cancel"), platform::BarButtonItem::Style::done,
        guarded(&PointDetailsViewController::cancelView)));
    if (auto right = navigationItem().rightBarButtonItem()) right->setTitle(localizedString("Save"));
    setTitle(localizedString("Edit Point Details"));
}

void PointDetailsViewController::showNoTagsState() {
    if (tagFlowView_) tagFlowView_->hide();
    if (tagListContainer_) tagListContainer_->hide();
    tagListContainerHeight_->setConstant(0);
    tagListContainerHeight_->setActive(true);
    if (editTagStackView_ && addTagInfoLabel_) addTagInfoLabel_->setVisible(editTagStackView_->isHidden());
}

void PointDetailsViewController::showChipArea() {
    if (tagListContainer_) tagListContainer_->show();
    if (tagFlowView_) tagFlowView_->show();
    if (addTagInfoLabel_) addTagInfoLabel_->hide();
    tagListContainerHeight_->setActive(false);
}

void PointDetailsViewController::addChip(const std::string& title, const std::string& identifier,
                                         const std::optional<platform::Color>& color) {
    auto* chip = tagFlowView_->addTag(QString::fromStdString(title));
    if (!chip) return;
    // The chip keeps its tag's identifier: the save goes by it, never by the
    // title, which another tag may share in another letter case.
    chip->setProperty(kTagIdentifierProperty, QString::fromStdString(identifier));
    if (color) {
        const QColor shade = toQColor(*color);
        chip->setTagBackgroundColor(shade);
        chip->setHighlightedBackgroundColor(shade);
        chip->setSelectedBackgroundColor(shade);
    }
    applyConstraints();
}

std::vector<std::string> PointDetailsViewController::chipIdentifiers() const {
    std::vector<std::string> identifiers;
    if (!tagFlowView_) return identifiers;
    const auto& stored = points::QuovaPointTagStore::shared().tags();
    for (auto* chip : tagFlowView_->allTags()) {
        const QVariant identifier = chip->property(kTagIdentifierProperty);
        if (identifier.isValid() && !identifier.toString().isEmpty()) {
            identifiers.push_back(identifier.toString().toStdString());
            continue;
        }
        // A chip made elsewhere without an identifier: its title names the tag.
        const std::string title =
            platform::text::nfc(platform::text::lowercased(chip->title().toStdString()));
        if (!stored) continue;
        for (const auto& tag : *stored) {
            if (tag && platform::text::nfc(platform::text::lowercased(tag->title())) == title) {
                identifiers.push_back(tag->uuid());
                break;
            }
        }
    }
    return identifiers;
}

// --- the small map -------------------------------------------------------------

void PointDetailsViewController::updateRadius(std::optional<double> radius) {
    if (!point_ || !radius) return;
    const double r = *radius;
    if (point_->alarmCircleDiameter() != radius) {
        pointHasBeenEdited_ = true;
        markPointAsEdited();
    }
    if (halo_) {
        if (map_) map_->removeOverlay(halo_);
        halo_.reset();
    }
    newRadius_ = r;
    if (!map_) return;
    const auto center = point_->coordinate();
    if (!isDrawableRadius(r)) {
        map_->setVisibleMapRect(mapRectForRegion(center, 5000), true);
        return;
    }
    halo_ = std::make_shared<platform::MKCircle>(center, r);
    map_->insertOverlay(halo_, map_->overlays().size(), platform::MKOverlayLevel::AboveLabels);
    map_->setVisibleMapRect(mapRectForRegion(center, 3 * r), true);
}

std::shared_ptr<platform::MKOverlayRenderer> PointDetailsViewController::rendererForOverlay(
    platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKOverlay>& overlay) {
    (void)mapView;
    if (auto circle = std::dynamic_pointer_cast<platform::MKCircle>(overlay)) {
        auto renderer = std::make_shared<platform::MKCircleRenderer>(circle);
        renderer->setFillColor(platform::Color(1.0, 59.0 / 255, 48.0 / 255, 0.25));
        return renderer;
    }
    QLLogInfo("unknown kind of overlay - nothing to do");
    return std::make_shared<platform::MKOverlayRenderer>(overlay);
}

// --- closing ---------------------------------------------------------------------

void PointDetailsViewController::dismissView() {
    if (!point_) return;
    if (pointHasBeenEdited_) {
        PointEdits edits;
        if (titleView_) edits.title = titleView_->text().toStdString();
        if (subtitleView_) edits.subtitle = subtitleView_->text().toStdString();
        edits.newRadius = newRadius_;
        if (tagFlowView_) edits.chipIdentifiers = chipIdentifiers();
        edits.unresolvedIdentifiers = unresolvedTagIdentifiers_;

        // The fields the save changes, to put back when nothing was written:
        // the shared point must not hold edits its file does not.
        points::QuovaMapPoint& point = *point_;
        const auto title = point.title();
        const auto subtitle = point.subtitle();
        const bool handcrafted = point.hasHandcraftedTitle();
        const auto radius = point.alarmCircleDiameter();
        const auto tags = point.tags();
        const auto savedAt = point.lastSavedAt();
        const auto savedBy = point.lastSavedByAppVersion();

        applyEdits(point, edits);
        const auto written = point.save(points::QuovaMapPointStore::shared());
        if (!written.ok()) {
            point.setTitle(title);
            point.setSubtitle(subtitle);
            point.setHasHandcraftedTitle(handcrafted);
            point.setAlarmCircleDiameter(radius);
            point.setTags(tags);
            point.setLastSavedAt(savedAt);
            point.setLastSavedByAppVersion(savedBy);
            showSaveFailure(written.error());
            return;
        }
        putPointBackOnMainMap();
    }
    if (auto* navigation = navigationController()) {
        navigation->dismiss(true, [] { QLLogInfo("QuovaMapPointDetailsVC dismissed"); });
    }
}

void PointDetailsViewController::putPointBackOnMainMap() {
    auto mainVC = mainVC_.lock();
    if (!mainVC) return;
    if (auto* mainMap = mainVC->mainMapView()) {
        if (auto halo = mainVC->haloForPoint(point_)) mainMap->removeOverlay(halo);
        mainMap->removeAnnotation(mapscreen::QuovaMapPointAnnotation::forPoint(point_));
        mainVC->addAnnotation(point_);
    }
    // Selected on the next turn, once the map has the annotation's view.
    platform::DispatchQueue::main()->async(
        [weakMain = std::weak_ptr<mapscreen::MainMapPort>(mainVC), point = point_] {
            auto main = weakMain.lock();
            auto* mainMap = main ? main->mainMapView() : nullptr;
            if (mainMap) mainMap->selectAnnotation(mapscreen::QuovaMapPointAnnotation::forPoint(point), true);
        });
}

void PointDetailsViewController::showSaveFailure(const platform::Error& error) {
    auto alert =
        platform::AlertController::make(localizedString("Location Not Saved"), saveFailureMessage(error),
                                        platform::AlertController::Style::alert);
    alert->addAction(
        platform::AlertAction::make(localizedString("OK"), platform::AlertAction::Style::cancel));
    present(alert, true);
}

void PointDetailsViewController::cancelView() {
    if (auto* navigation = navigationController()) {
        navigation->dismiss(true, [] { QLLogInfo("QuovaMapPointDetailsVC canceled, changes discarded"); });
    }
}

}  // namespace tervolo::pointscreens
