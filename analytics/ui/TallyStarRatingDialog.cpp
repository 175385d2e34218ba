#include "analytics/ui/TallyStarRatingDialog.hpp"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/dispatch/DispatchQueue.hpp"

namespace tervolo::analytics {

namespace {

QString starStyle(unsigned rgb) {
    return QStringLiteral("QPushButton { border: none; background: transparent; color: #%1; }")
        .arg(rgb, 6, 16, QLatin1Char('0'));
}

}  // namespace

TallyStarRatingDialog::TallyStarRatingDialog(std::string message, std::function<void(int rating)> finished)
    : message_(std::move(message)), finished_(std::move(finished)) {}

void TallyStarRatingDialog::loadView() {
    auto* card = new QWidget();
    card->setObjectName(QStringLiteral("starRatingDialog"));
    card->setAttribute(Qt::WA_StyledBackground, true);
    card->setStyleSheet(QStringLiteral("#starRatingDialog { background: white; border-radius: 14px; }"));
    card->setFixedSize(320, 160);

    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(20, 44, 20, 20);
    layout->setSpacing(8);
    auto* label = new QLabel(QString::fromStdString(message_), card);
    label->setObjectName(QStringLiteral("message"));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    QFont labelFont = label->font();
    labelFont.setPointSize(11);
    labelFont.setBold(true);
    label->setFont(labelFont);
    layout->addWidget(label);

    // Five 40 x 40 stars side by side: a row 200 points wide.
    auto* row = new QWidget(card);
    row->setFixedSize(200, 40);
    auto* stars = new QHBoxLayout(row);
    stars->setContentsMargins(0, 0, 0, 0);
    stars->setSpacing(0);
    QFont starFont(QStringLiteral("Helvetica"));
    starFont.setPixelSize(28);
    for (int i = 0; i < 5; ++i) {
        auto* star = new QPushButton(QString::fromUtf8("\u2605"), row);
        star->setObjectName(QStringLiteral("star%1").arg(i + 1));
        star->setFixedSize(40, 40);
        star->setFont(starFont);
        star->setStyleSheet(starStyle(kPassiveStarRGB));
        star->setCursor(Qt::PointingHandCursor);
        QObject::connect(star, &QPushButton::clicked, card, [this, i] { chooseStar(i + 1); });
        stars->addWidget(star);
        stars_[static_cast<size_t>(i)] = star;
    }
    layout->addWidget(row, 0, Qt::AlignHCenter);

    // The close button: 30 x 30, 10 points from the top right corner.
    auto* closeButton = new QPushButton(QString::fromUtf8("\u2715"), card);
    closeButton->setObjectName(QStringLiteral("close"));
    closeButton->setFixedSize(30, 30);
    closeButton->move(card->width() - 30 - 10, 10);
    closeButton->setStyleSheet(
        QStringLiteral("QPushButton { color: white; background: rgba(0, 0, 0, 128); border-radius: 15px;"
                       " border: 1px solid rgba(0, 0, 0, 178); }"));
    QObject::connect(closeButton, &QPushButton::clicked, card, [this] { close(); });
    setView(card);
}

void TallyStarRatingDialog::chooseStar(int index) {
    if (finishing_ || index < 1 || index > 5) return;
    view();  // the stars exist
    highlighted_ = index;
    for (int i = 0; i < 5; ++i) {
        stars_[static_cast<size_t>(i)]->setStyleSheet(
            starStyle(i < index ? kActiveStarRGB : kPassiveStarRGB));
    }
    finishing_ = true;
    std::weak_ptr<platform::ViewController> weak = weak_from_this();
    platform::DispatchQueue::main()->asyncAfter(0.25, [weak, index] {
        if (auto self = std::static_pointer_cast<TallyStarRatingDialog>(weak.lock())) self->finish(index);
    });
}

void TallyStarRatingDialog::close() {
    if (finishing_) return;
    finishing_ = true;
    finish(0);
}

void TallyStarRatingDialog::finish(int rating) {
    auto done = std::move(finished_);
    finished_ = nullptr;
    auto keepAlive = weak_from_this().lock();
    if (presentingViewController()) {
        dismiss(true, [done, rating] {
            if (done) done(rating);
        });
    } else if (done) {
        done(rating);
    }
}

}  // namespace tervolo::analytics
