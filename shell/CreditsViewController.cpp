#include "shell/CreditsViewController.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QStringDecoder>
#include <QTextCursor>
#include <QVBoxLayout>

#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/NavigationItem.hpp"

namespace tervolo::shell {

namespace {

// Far above the text's size; a larger file is not shown.
constexpr size_t kMaximumCreditsBytes = 1024 * 1024;

// The rounded box: black at 5 % over the screen's background and a light
// grey border, both readable on a light and a dark palette.
class FramedBox : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const double inset = CreditsViewController::kBorderWidth / 2;
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset),
                            CreditsViewController::kCornerRadius, CreditsViewController::kCornerRadius);
        painter.fillPath(path, QColor::fromRgbF(0, 0, 0, CreditsViewController::kBackgroundAlpha));
        painter.setPen(QPen(QColor(Qt::lightGray), CreditsViewController::kBorderWidth));
        painter.drawPath(path);
    }
};

}  // namespace

CreditsViewController::CreditsViewController() = default;
CreditsViewController::~CreditsViewController() = default;

void CreditsViewController::loadView() {
    auto* root = new QWidget();
    root->setObjectName("CreditsView");
    root->setAutoFillBackground(true);
    root->setBackgroundRole(QPalette::Base);
    backgroundView_ = new FramedBox(root);
    backgroundView_->setObjectName("backgroundView");
    infoView_ = new platform::TextView(backgroundView_);
    infoView_->setObjectName("infoView");
    infoView_->setReadOnly(true);
    infoView_->setFrameShape(QFrame::NoFrame);
    // The box's own colour shows through the text.
    infoView_->viewport()->setAutoFillBackground(false);
    infoView_->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));

    auto* inner = new QVBoxLayout(backgroundView_);
    inner->setContentsMargins(10, 8, 10, 8);
    inner->addWidget(infoView_);
    auto* outer = new QVBoxLayout(root);
    outer->setContentsMargins(16, 16, 16, 16);
    outer->addWidget(backgroundView_);
    setView(root);
}

void CreditsViewController::viewDidLoad() {
    setTitle("");
    setTitle(platform::localizedString("Credits"));
    // Only an item that exists takes the title (the platform's message to
    // no object does nothing); the bar's own back button goes back.
    if (auto left = navigationItem().leftBarButtonItem()) left->setTitle(platform::localizedString("Back"));
}

void CreditsViewController::viewWillAppear(bool) {
    infoView_->setText(QString::fromStdString(creditsText(creditsResource())));
    // Read from the top, whatever was scrolled before.
    infoView_->moveCursor(QTextCursor::Start);
}

void CreditsViewController::doneButtonTapped() {
    dismiss(true);
}

std::string CreditsViewController::creditsText(const std::string& credits) {
    return platform::localizedString(
               "We'd like to thank our fellow developers whose great efforts have helped us making this "
               "application possible.") +
           "\n" + credits;
}

std::string CreditsViewController::creditsResource() {
    const auto path = platform::Bundle::main().pathForResource("credits", "txt");
    if (!path) return {};
    auto data = platform::FileManager::defaultManager().readFileSafely(*path, kMaximumCreditsBytes);
    if (!data) return {};
    const auto& bytes = data.value();
    // Text that is not UTF-8 is not read at all, rather than shown garbled.
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(
        QByteArrayView(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    if (decoder.hasError()) return {};
    return text.toStdString();
}

}  // namespace tervolo::shell
