#include "pointscreens/QuovaMapPointCell.hpp"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QTextBoundaryFinder>

#include "geodesy/DoubleQuovaAdditions.hpp"
#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "points/BestKnownLocation.hpp"

namespace tervolo::pointscreens {

namespace {

// `text` with every unbreakable run (a word, or a long run without a break opportunity: a URL, a
// code) that is wider than `width` cut to it with an ellipsis. Word wrap moves such a run to a line
// of its own and lets it run past the label's edge, where it is cut with no sign that it goes on.
QString elideOverlongRuns(const QString& text, const QFont& font, double width) {
    if (text.isEmpty() || width <= 0) return text;
    const QFontMetricsF metrics(font);
    if (metrics.horizontalAdvance(text) <= width) return text;
    QTextBoundaryFinder lines(QTextBoundaryFinder::Line, text);
    QString out;
    qsizetype start = 0;
    while (start < text.size()) {
        lines.setPosition(start);
        qsizetype end = lines.toNextBoundary();
        if (end < 0 || end <= start) end = text.size();
        const QString run = text.mid(start, end - start);
        const QString word = run.trimmed();
        if (metrics.horizontalAdvance(word) > width)
            out += metrics.elidedText(word, Qt::ElideRight, width) + run.mid(run.indexOf(word) + word.size());
        else
            out += run;
        start = end;
    }
    return out;
}

}  // namespace

QuovaMapPointCell::QuovaMapPointCell(Style /*style*/, QString reuseIdentifier, QWidget* parent)
    : platform::TableViewCell(Style::Subtitle, std::move(reuseIdentifier), parent) {
    // Long titles and addresses wrap instead of being cut off at the row's edge.
    textLabel()->setWordWrap(true);
    detailTextLabel()->setWordWrap(true);
    imageView_ = new platform::ImageView(this);
    imageView_->setContentMode(platform::ImageView::ContentMode::ScaleAspectFit);
    const int side = fontMetrics().height() * 2;
    imageView_->setFixedSize(side, side);
    imageView_->hide();
    contentLayout()->insertWidget(0, imageView_, 0, Qt::AlignVCenter);
    locationObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        "QuovaLocationUpdate", nullptr,
        [this](const platform::NotificationCenter::Notification& notification) {
            onLocationUpdate(notification);
        });
}

// The token goes first, before the labels it writes to.
QuovaMapPointCell::~QuovaMapPointCell() {
    locationObservation_.reset();
}

void QuovaMapPointCell::setImage(const QImage& image) {
    // Every row shows the same image: a reused cell keeps it without drawing it anew.
    if (!image.isNull() && image.cacheKey() == imageKey_) return;
    imageKey_ = image.isNull() ? 0 : image.cacheKey();
    imageView_->setImage(image);
    imageView_->setVisible(!image.isNull());
}

const QImage& QuovaMapPointCell::rowImage() {
    static const QImage image = [] {
        const auto path = platform::Bundle::main().pathForResource("Icon-Small", "jpg");
        return path ? QImage(QString::fromStdString(*path)) : QImage();
    }();
    return image;
}

void QuovaMapPointCell::setTitleText(const QString& text) {
    titleText_ = text;
    fitTexts();
}

void QuovaMapPointCell::setDetailText(const QString& text) {
    detailText_ = text;
    fitTexts();
}

void QuovaMapPointCell::fitTexts() {
    // Only runs wider than the label are cut, and such a run takes a line of its own with or without
    // the cut, so the height measured for the full text stays true. Before the cell has been laid out
    // its labels have no width of their own yet: the full texts then.
    auto fit = [this](QLabel* label, const QString& text) {
        if (label == nullptr) return;
        label->setText(laidOut_ ? elideOverlongRuns(text, label->font(), label->contentsRect().width())
                                : text);
    };
    fit(textLabel(), titleText_);
    fit(detailTextLabel(), detailText_);
}

void QuovaMapPointCell::resizeEvent(QResizeEvent* event) {
    platform::TableViewCell::resizeEvent(event);
    // The layout has placed the labels at the new width before this runs.
    laidOut_ = true;
    fitTexts();
}

void QuovaMapPointCell::setQuovaTitle(std::optional<std::string> title) {
    quovaTitle_ = std::move(title);
    if (textLabel()) setTitleText(QString::fromStdString(quovaTitle_.value_or("")));
}

void QuovaMapPointCell::setQuovaSubtitle(std::optional<std::string> subtitle) {
    quovaSubtitle_ = std::move(subtitle);
    if (!detailTextLabel()) return;
    if (!quovaSubtitle_) {
        setDetailText(QString());
        return;
    }
    // The shared location service's best known location, through the source it installs for the
    // point store (the same value; none before the service exists).
    setDetailText(QString::fromStdString(distanceSubtitle(*quovaSubtitle_, points::bestKnownLocation())));
}

void QuovaMapPointCell::setQuovaPoint(std::shared_ptr<points::QuovaMapPoint> point) {
    quovaPoint_ = std::move(point);
    const std::string unknown = platform::localizedString("(unknown)");
    if (quovaPoint_) {
        setQuovaTitle(quovaPoint_->title().value_or(unknown));
        setQuovaSubtitle(quovaPoint_->subtitle().value_or(unknown));
    } else {
        setQuovaTitle(unknown);
        setQuovaSubtitle(unknown);
    }
}

std::string QuovaMapPointCell::distanceSubtitle(const std::string& subtitle,
                                                const std::optional<platform::CLLocation>& location) const {
    if (!location || !quovaPoint_) return subtitle;
    const auto distance = geodesy::distanceDescription(quovaPoint_->distance(*location));
    if (!distance) return subtitle;
    return *distance + " " + platform::localizedString("away") + " - " + subtitle;
}

void QuovaMapPointCell::prepareForReuse() {
    platform::TableViewCell::prepareForReuse();
    if (textLabel()) setTitleText(QString());
    if (detailTextLabel()) setDetailText(QString());
}

void QuovaMapPointCell::onLocationUpdate(const platform::NotificationCenter::Notification& notification) {
    auto entry = notification.userInfo.find("CLLocation");
    if (entry == notification.userInfo.end()) return;
    const auto* location = std::any_cast<platform::CLLocation>(&entry->second);
    if (!location) return;
    QLLogDebug("Cell received location: " + location->description());
    if (detailTextLabel() && quovaSubtitle_)
        setDetailText(QString::fromStdString(distanceSubtitle(*quovaSubtitle_, *location)));
}

}  // namespace tervolo::pointscreens
