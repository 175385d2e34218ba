// The details screen's view, built in code: its widgets, the constraints that
// size them, the text direction each text view follows, and the set-up when
// the view loads.

#include "pointscreens/PointDetailsViewController.hpp"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QIcon>
#include <QPixmap>
#include <QScrollArea>
#include <QSpacerItem>
#include <QTextOption>
#include <QVBoxLayout>

#include <cmath>

#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/ui/FirstFocus.hpp"
#include "platform/ui/NavigationBar.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "pointscreens/PointDetailsContent.hpp"

namespace tervolo::pointscreens {

using platform::localizedString;

namespace {

QIcon symbol(const QString& name, const QColor& tint) {
    // Drawn at twice the size so it stays sharp at a device pixel ratio of 2.
    QPixmap pixmap = QPixmap::fromImage(platform::NamedImage::named(name).render(QSize(48, 48), tint));
    pixmap.setDevicePixelRatio(2);
    return QIcon(pixmap);
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

// --- the view ---------------------------------------------------------------

void PointDetailsViewController::buildView(QWidget* view) {
    // Everything but the bottom bar scrolls: a sheet smaller than its content would otherwise squeeze
    // the rows below their size, and the rows of fixed height (the tag table, the text views) would
    // run over their neighbours, covering them and catching their clicks.
    auto* outer = new QVBoxLayout(view);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    scrollArea_ = new QScrollArea(view);
    scrollArea_->setObjectName("detailsScrollArea");
    scrollArea_->setFrameShape(QFrame::NoFrame);
    scrollArea_->setWidgetResizable(true);
    scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The screen's own window colour shows through, as without the scroll area.
    scrollArea_->setBackgroundRole(QPalette::Window);
    scrollArea_->viewport()->setAutoFillBackground(false);
    auto* root = new QWidget();
    root->setObjectName("detailsContent");
    root->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(root);
    const int margin = static_cast<int>(kMargin);
    column->setContentsMargins(margin, margin, margin, 0);
    column->setSpacing(6);
    outer->addWidget(scrollArea_, 1);

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
        // keyboard user's own choice, Tab) begins it, not the first focus.
        view->setFocusPolicy(Qt::StrongFocus);
        platform::setSkipsFirstFocus(*view, true);
        // Tab and Shift+Tab go to the next and previous field; a tab
        // pasted into the text stays in it.
        view->setTabChangesFocus(true);
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
    scrollArea_->setWidget(root);

    // The radius and directions choices.
    bottomBar_ = new platform::Toolbar(view);
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
    auto* barRow = new QHBoxLayout();
    barRow->setContentsMargins(margin, 0, margin, 0);
    barRow->addWidget(bottomBar_);
    outer->addLayout(barRow);
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

}  // namespace tervolo::pointscreens
