#include "platform/ui/ShareSheetController.hpp"

#include <QKeyEvent>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/Pasteboard.hpp"
#include "platform/ui/PresentationKeyView.hpp"
#include "platform/ui/ViewControllerMainThread.hpp"

namespace platform {

namespace {

constexpr int kWidth = 360;  // points

QString text(const char* english) {
    return QString::fromStdString(localizedString(english));
}

}  // namespace

ShareSheetController::ShareSheetController(std::shared_ptr<ActivityItemSource> item)
    : item_(std::move(item)) {
    setTitle(localizedString("Share"));
    setModalPresentationStyle(ModalPresentationStyle::formSheet);
}

void ShareSheetController::loadView() {
    auto* root = new PresentationKeyView();
    root->setObjectName("shareSheet");
    root->onEscape = [this] { cancel(); };
    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(16, 14, 16, 12);
    column->setSpacing(8);
    auto* heading = new QLabel(QString::fromStdString(title()));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    heading->setAlignment(Qt::AlignCenter);
    column->addWidget(heading);
    preview_ = new QLabel();
    preview_->setObjectName("sharePreview");
    preview_->setWordWrap(true);
    preview_->setAlignment(Qt::AlignCenter);
    preview_->setTextFormat(Qt::PlainText);
    column->addWidget(preview_);
    status_ = new QLabel();
    status_->setObjectName("shareStatus");
    status_->setAlignment(Qt::AlignCenter);
    status_->hide();
    column->addWidget(status_);
    const std::pair<const char*, const char*> activities[] = {
        {"Copy Link", UIActivityTypeCopyToPasteboard},
        {"Send by Mail", UIActivityTypeMail},
        {"Open in Browser", kActivityTypeOpenInBrowser},
    };
    for (const auto& [label, type] : activities) {
        auto* button = new QPushButton(text(label));
        button->setObjectName(QString("shareActivity:") + type);
        button->setAutoDefault(false);
        const std::string activityType = type;
        QObject::connect(button, &QPushButton::clicked, button,
                         [this, activityType] { chooseActivity(activityType); });
        column->addWidget(button);
        buttons_.push_back(button);
    }
    auto* cancelButton = new QPushButton(text("Cancel"));
    cancelButton->setObjectName("shareCancel");
    cancelButton->setAutoDefault(false);
    QObject::connect(cancelButton, &QPushButton::clicked, cancelButton, [this] { cancel(); });
    column->addWidget(cancelButton);
    setView(root);
}

void ShareSheetController::viewWillAppear(bool) {
    if (item_ && preview_ != nullptr && preview_->text().isEmpty()) {
        preview_->setText(QString::fromStdString(item_->placeholderItem()));
    }
    // The card fits the content at a fixed width.
    setPreferredContentSize(QSizeF(kWidth, view()->heightForWidth(kWidth)));
}

void ShareSheetController::chooseActivity(const std::string& activityType) {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    if (making_ || finished_ || !item_) return;
    making_ = true;
    view();
    for (QPushButton* button : buttons_) button->setEnabled(false);
    status_->setText(text("Creating link\u2026"));
    status_->show();
    // The item may wait for a link made on the main queue: ask for it on a
    // worker and come back with the answer.
    std::weak_ptr<ViewController> weak = weak_from_this();
    auto item = item_;
    DispatchQueue::global()->async([weak, item, activityType] {
        std::string text = item->item(activityType);
        DispatchQueue::main()->async([weak, activityType, text = std::move(text)] {
            auto self = std::static_pointer_cast<ShareSheetController>(weak.lock());
            if (self) self->perform(activityType, text);
        });
    });
}

void ShareSheetController::perform(const std::string& activityType, const std::string& item) {
    making_ = false;
    if (finished_) return;
    bool done = true;
    if (activityType == UIActivityTypeCopyToPasteboard) {
        Pasteboard::general().setString(item);
    } else if (activityType == UIActivityTypeMail) {
        const std::string subject = item_->subject(activityType);
        const std::string body = item.find('<') != std::string::npos ? plainTextOfHTML(item) : item;
        const QByteArray url = "mailto:?subject=" + QUrl::toPercentEncoding(QString::fromStdString(subject)) +
                               "&body=" + QUrl::toPercentEncoding(QString::fromStdString(body));
        OpenURL::open(url.toStdString());
    } else if (auto link = firstWebLink(item)) {
        OpenURL::open(*link);
    } else {
        done = false;
    }
    finish(activityType, done);
}

void ShareSheetController::cancel() {
    PLATFORM_UI_ASSERT_MAIN_THREAD();
    finish(std::nullopt, false);
}

void ShareSheetController::finish(std::optional<std::string> activityType, bool completed) {
    if (finished_) return;
    finished_ = true;
    auto completion = completion_;
    auto report = [completion, activityType, completed] {
        if (completion) completion(activityType, completed);
    };
    if (presentingViewController()) {
        dismiss(true, report);
    } else {
        report();
    }
}

std::string ShareSheetController::plainTextOfHTML(const std::string& html) {
    QTextDocument document;
    document.setHtml(QString::fromStdString(html));
    QString out;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin()) out += '\n';
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) continue;
            QString piece = fragment.text();
            piece.replace(QChar::LineSeparator, '\n');
            out += piece;
            const QString href = fragment.charFormat().anchorHref();
            if (!href.isEmpty() && href != piece) out += " <" + href + ">";
        }
    }
    return out.trimmed().toStdString();
}

std::optional<std::string> ShareSheetController::firstWebLink(const std::string& text) {
    static const QRegularExpression link(QStringLiteral("https?://[^\\s<>\"]+"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto match = link.match(QString::fromStdString(text));
    if (!match.hasMatch()) return std::nullopt;
    return match.captured(0).toStdString();
}

}  // namespace platform
