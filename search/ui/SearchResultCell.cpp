#include "search/ui/SearchResultCell.hpp"

#include <QFontMetrics>
#include <QResizeEvent>

#include <cmath>

#include "geodesy/DoubleQuovaAdditions.hpp"
#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/ui/Contrast.hpp"
#include "platform/ui/Label.hpp"

namespace tervolo::search {

namespace {

// Room around the labels, points.
constexpr int kMargin = 8;

QLabel* makeLabel(QWidget* parent, const QString& name, QPalette::ColorRole role) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setForegroundRole(role);
    return label;
}

}  // namespace

SearchResultCell::SearchResultCell(QString reuseIdentifier, QWidget* parent)
    : platform::TableViewCell(Style::Subtitle, std::move(reuseIdentifier), parent) {
    // The row draws its own three lines; the base style's labels stay out of sight.
    if (textLabel()) textLabel()->hide();
    if (detailTextLabel()) detailTextLabel()->hide();

    titleLabel_ = makeLabel(this, QStringLiteral("titleLabel"), QPalette::Text);
    QFont bold = titleLabel_->font();
    bold.setBold(true);
    titleLabel_->setFont(bold);
    addressLabel_ = makeLabel(this, QStringLiteral("addressLabel"), QPalette::Text);
    distanceLabel_ = makeLabel(this, QStringLiteral("distanceLabel"), QPalette::PlaceholderText);
    // Base fonts a little under the interface's: the factor below brings them
    // to a readable row of three lines in 90 points.
    for (QLabel* label : {titleLabel_.data(), addressLabel_.data(), distanceLabel_.data()}) {
        label->setFont(platform::scaledFont(label->font(), 0.85));
    }

    imageWrapperView_ = new QWidget(this);
    imageWrapperView_->setObjectName(QStringLiteral("imageWrapperView"));
    previewImageView_ = new platform::ImageView(imageWrapperView_);
    previewImageView_->setObjectName(QStringLiteral("previewImageView"));
    previewImageView_->setContentMode(platform::ImageView::ContentMode::ScaleAspectFill);

    imageWrapperViewWidth_ =
        std::make_shared<platform::LayoutConstraint>(QStringLiteral("imageWrapperViewWidth"), 0);
    imageWrapperViewWidth_->setOnChange([this] { layoutContent(); });
    imageWrapperViewWidth_->setConstant(kImageWrapperWidth);
    applyLineColors();
}

void SearchResultCell::setSelected(bool selected) {
    platform::TableViewCell::setSelected(selected);
    applyLineColors();
}

void SearchResultCell::changeEvent(QEvent* event) {
    platform::TableViewCell::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) applyLineColors();
}

void SearchResultCell::applyLineColors() {
    // From the row's own pair, as the base cell colours its lines: a fixed
    // role would keep dark text on a dark palette's base or on the highlight.
    const QColor text = textColor();
    const QColor quiet = platform::legibleMix(text, backgroundColor(), 0.72);
    auto paint = [](QLabel* label, const QColor& color) {
        if (label == nullptr) return;
        QPalette palette = label->palette();
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::PlaceholderText}) {
            palette.setColor(role, color);
        }
        label->setPalette(palette);
    };
    paint(titleLabel_, text);
    paint(addressLabel_, text);
    paint(distanceLabel_, quiet);
}

SearchResultCell::~SearchResultCell() {
    // The constraint may outlive the row (a holder of the shared pointer).
    if (imageWrapperViewWidth_) imageWrapperViewWidth_->setOnChange(nullptr);
}

void SearchResultCell::configure(const points::QuovaPlacemark& placemark) {
    placemark_ = placemark;
    const std::string title =
        placemark.datasource.empty() ? placemark.title : placemark.title + " (" + placemark.datasource + ")";
    for (QLabel* label : {titleLabel_.data(), addressLabel_.data(), distanceLabel_.data()}) {
        if (label) label->setToolTip(QString());
    }
    if (titleLabel_) titleLabel_->setText(QString::fromStdString(title));
    if (addressLabel_) addressLabel_->setText(QString::fromStdString(placemark.address));

    QString distanceText;
    if (mapCenterLookup_) {
        if (auto center = mapCenterLookup_(*this)) {
            const double metres =
                platform::CLLocation(center->latitude, center->longitude)
                    .distance(platform::CLLocation(placemark.latitude, placemark.longitude));
            // No distance for an invalid position (NaN): no text at all.
            if (std::isfinite(metres)) {
                if (auto description = geodesy::distanceDescription(metres)) {
                    distanceText =
                        QString::fromStdString(*description + platform::localizedString(" from map center"));
                }
            }
        }
    }
    if (distanceLabel_) distanceLabel_->setText(distanceText);

    if (!hasBeenPatchedForMac_) {
        for (QLabel* label : {titleLabel_.data(), addressLabel_.data(), distanceLabel_.data()}) {
            if (label) label->setFont(platform::scaledFont(label->font(), kFontFactor));
        }
        hasBeenPatchedForMac_ = true;
    }
    layoutContent();
}

void SearchResultCell::prepareForReuse() {
    platform::TableViewCell::prepareForReuse();
    QLLogInfo("prepareForReuse()");
    for (QLabel* label : {titleLabel_.data(), addressLabel_.data(), distanceLabel_.data()}) {
        if (label) {
            label->clear();
            label->setToolTip(QString());
        }
    }
    if (imageWrapperViewWidth_) imageWrapperViewWidth_->setConstant(kImageWrapperWidth);
}

void SearchResultCell::resizeEvent(QResizeEvent* event) {
    platform::TableViewCell::resizeEvent(event);
    layoutContent();
}

void SearchResultCell::layoutContent() {
    const int imageWidth =
        imageWrapperViewWidth_ ? static_cast<int>(std::lround(imageWrapperViewWidth_->constant())) : 0;
    if (imageWrapperView_) {
        imageWrapperView_->setGeometry(width() - imageWidth, 0, imageWidth, height());
        imageWrapperView_->setVisible(imageWidth > 0);
        if (previewImageView_) previewImageView_->setGeometry(0, 0, imageWidth, height());
    }
    // Labels fit their text's height and take the row's width beside the image
    // area; long texts are cut at the end rather than run under the image.
    const int textWidth = std::max(0, width() - imageWidth - 2 * kMargin);
    int y = kMargin;
    for (QLabel* label : {titleLabel_.data(), addressLabel_.data(), distanceLabel_.data()}) {
        if (!label) continue;
        const QFontMetrics metrics(label->font());
        const int lineHeight = metrics.height();
        label->setGeometry(kMargin, y, textWidth, lineHeight);
        // A text too long for the row ends in an ellipsis instead of being cut
        // mid-letter at the image area; the whole text stays as the tooltip.
        const QString full = label->toolTip().isEmpty() ? label->text() : label->toolTip();
        if (metrics.horizontalAdvance(full) > textWidth && textWidth > 0) {
            label->setToolTip(full);
            label->setText(metrics.elidedText(full, Qt::ElideRight, textWidth));
        } else if (!label->toolTip().isEmpty()) {
            label->setText(full);
            label->setToolTip(QString());
        }
        y += lineHeight + 2;
    }
}

}  // namespace tervolo::search
