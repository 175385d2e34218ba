#include "shell/InfoViewController.hpp"

#include <QAction>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cstdlib>

#include "appinfo/QuovaApplicationAdditions.hpp"
#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/CanOpenURL.hpp"
#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/PlatformName.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/text/UUID.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/FocusRing.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/TapGestureRecognizer.hpp"
#include "shell/CreditsViewController.hpp"
#include "shell/FeedbackMail.hpp"
#include "shell/MapScreenActions.hpp"

namespace tervolo::shell {

namespace {

constexpr const char* kTileDebugDefault = "shouldShowTileDebugInfo";

void console(const std::string& line) {
    platform::LineWriter::standardError().writeLine(line);
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString localized(const char* key) {
    return qs(platform::localizedString(key));
}

// The platform's "%@" format: each "%@" takes the next argument in turn.
std::string formatObjects(const std::string& format, std::initializer_list<std::string> arguments) {
    std::string out;
    auto argument = arguments.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '@' &&
            argument != arguments.end()) {
            out += *argument++;
            ++i;
        } else {
            out.push_back(format[i]);
        }
    }
    return out;
}

QFont scaledFrom(const QFont& base, double factor, bool bold = false) {
    QFont font = platform::scaledFont(base, factor);
    font.setBold(bold);
    return font;
}

// A button's text is shown as it is: "&" is no mnemonic marker here.
QString buttonText(const QString& text) {
    QString escaped = text;
    return escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void attachTap(QLabel* label, std::function<void()> action) {
    label->setCursor(Qt::PointingHandCursor);
    platform::makeKeyboardPressable(*label, action);
    auto* tap =
        new platform::TapGestureRecognizer([action = std::move(action)](platform::GestureRecognizer& g) {
            if (g.state() == platform::GestureRecognizer::State::Ended) action();
        });
    tap->setNumberOfTapsRequired(1);
    platform::addGestureRecognizer(label, tap);
}

}  // namespace

InfoViewController::InfoViewController() = default;
InfoViewController::~InfoViewController() = default;

std::string InfoViewController::appNameText(const std::string& bundleName, int32_t deviceType) {
    if (deviceType == 2 || deviceType == 3) return platform::productNameForPlatform(bundleName);
    if (deviceType == 0) return bundleName + " for iOS";
    return bundleName;
}

bool InfoViewController::canSendMail() {
    return platform::canOpenURL("mailto:");
}

bool InfoViewController::showsTileDebugInfo() {
    const auto value = platform::UserDefaults::standard().object(kTileDebugDefault);
    if (!value) return false;
    if (auto flag = value->asBool()) return *flag;
    if (auto number = value->asInteger()) return *number != 0;
    if (auto real = value->asDouble()) return static_cast<int64_t>(*real) != 0;
    if (auto text = value->asString()) return std::atoll(text->c_str()) != 0;
    return false;
}

void InfoViewController::loadView() {
    auto* root = new QScrollArea();
    root->setObjectName("InfoView");
    root->setFrameShape(QFrame::NoFrame);
    root->setWidgetResizable(true);
    root->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    root->setBackgroundRole(QPalette::Base);
    // No Tab stop of its own (it shows no focus): Tab goes to its buttons, and the area scrolls to
    // the one that takes the focus.
    root->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget();
    content->setObjectName("InfoContent");
    content->setAutoFillBackground(true);
    content->setBackgroundRole(QPalette::Base);

    logoImageView_ = new platform::ImageView(content);
    logoImageView_->setObjectName("logoImageView");
    logoImageView_->setImageNamed(QStringLiteral("Icon-Small.jpg"));
    if (logoImageView_->image().isNull()) {
        if (auto path = platform::Bundle::main().pathForResource("Icon-Small", "jpg")) {
            logoImageView_->setImage(QImage(qs(*path)));
        }
    }
    logoImageView_->setContentMode(platform::ImageView::ContentMode::ScaleAspectFit);
    logoImageView_->setFixedSize(static_cast<int>(kLogoSize), static_cast<int>(kLogoSize));

    const QFont base = content->font();
    auto makeLabel = [content](const char* name, const QFont& font) {
        auto* label = new QLabel(content);
        label->setObjectName(name);
        label->setAlignment(Qt::AlignHCenter);
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        label->setFont(font);
        // On the Base background a label would draw in the Text role; the
        // text colours below are set on WindowText.
        label->setForegroundRole(QPalette::WindowText);
        return label;
    };
    appNameLabel_ = makeLabel("appNameLabel", scaledFrom(base, kAppNameFontScale, true));
    versionLabel_ = makeLabel("versionLabel", scaledFrom(base, kVersionFontScale));
    appCopyLabel_ = makeLabel("appCopyLabel", scaledFrom(base, kCopyrightFontScale));
    imprintLabel_ = makeLabel("imprintLabel", scaledFrom(base, kImprintFontScale));
    platform::setTextColor(imprintLabel_, content->palette().color(QPalette::Link));
    // Quieter than the name, still at least 4.5:1 against the background.
    const QColor text = content->palette().color(QPalette::WindowText);
    const QColor background = content->palette().color(QPalette::Base);
    platform::setTextColor(appCopyLabel_, QColor::fromRgbF(text.redF() * 0.7f + background.redF() * 0.3f,
                                                           text.greenF() * 0.7f + background.greenF() * 0.3f,
                                                           text.blueF() * 0.7f + background.blueF() * 0.3f));

    auto makeButton = [content](const char* name) {
        auto* button = new QPushButton(content);
        button->setObjectName(name);
        button->setMinimumWidth(200);
        return button;
    };
    feedbackButton_ = makeButton("feedbackButton");
    tellFriendButton_ = makeButton("tellFriendButton");
    creditsButton_ = makeButton("creditsButton");

    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(8);
    column->addStretch(1);
    column->addWidget(logoImageView_, 0, Qt::AlignHCenter);
    column->addSpacing(8);
    column->addWidget(appNameLabel_);
    column->addWidget(versionLabel_);
    column->addSpacing(12);
    column->addWidget(appCopyLabel_);
    column->addWidget(imprintLabel_);
    column->addSpacing(20);
    column->addWidget(feedbackButton_, 0, Qt::AlignHCenter);
    column->addWidget(tellFriendButton_, 0, Qt::AlignHCenter);
    column->addWidget(creditsButton_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    root->setWidget(content);
    setView(root);
}

void InfoViewController::viewDidLoad() {
    const std::string bundleName = platform::Bundle::main().infoString("CFBundleName").value_or("");
    setTitle(platform::localizedString("About"));

    const int32_t deviceType = appinfo::UIDevice_QuovaAdditions::quovaDeviceType();
    appNameLabel_->setText(qs(appNameText(bundleName, deviceType)));
    if (deviceType == 2 || deviceType == 3) {
        for (QLabel* label :
             {appNameLabel_.data(), versionLabel_.data(), imprintLabel_.data(), appCopyLabel_.data()}) {
            label->setFont(platform::scaledFont(label->font(), kDesktopFontFactor));
        }
    }

    // A missing build number reads as the platform prints a missing object.
    const std::string build = appinfo::QuovaApplicationAdditions::quovaAppBuild().value_or("(null)");
    versionLabel_->setText(
        qs(formatObjects(platform::localizedString("version %@ (%@)"),
                         {appinfo::QuovaApplicationAdditions::quovaAppVersionWithoutBuild(), build})));

    imprintLabel_->setText(localized("Imprint"));
    appCopyLabel_->setText(qs(platform::Bundle::main().infoString("QuovaCopyright").value_or("")));

    feedbackButton_->setText(buttonText(localized("Feedback & Contact")));
    creditsButton_->setText(buttonText(localized("Credits")));
    QObject::connect(feedbackButton_, &QPushButton::clicked, feedbackButton_,
                     [this] { feedbackButtonTapped(); });
    QObject::connect(creditsButton_, &QPushButton::clicked, creditsButton_,
                     [this] { creditsButtonTapped(); });

    if (canSendMail()) {
        tellFriendButton_->setText(buttonText(localized("Tell a friend")));
    } else {
        delete tellFriendButton_.data();
    }

    attachTap(appCopyLabel_, [this] { handleAppCopyrightTap(); });
    attachTap(imprintLabel_, [this] { handleImprintTap(); });

    logoImageView_->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(logoImageView_, &QWidget::customContextMenuRequested, logoImageView_,
                     [this](const QPoint& position) { showContextMenu(position); });

    auto done = std::make_shared<platform::BarButtonItem>(
        platform::localizedString("Done"), platform::BarButtonItem::Style::done, [this] { quitView(); });
    done->setAccessibilityLabel(platform::localizedString("Quit"));
    navigationItem().setRightBarButtonItem(done);
}

void InfoViewController::viewWillAppear(bool) {
    if (creditsButton_) creditsButton_->setFocus(Qt::OtherFocusReason);
}

void InfoViewController::viewDidAppear(bool) {
    // A presentation hands the focus to the first focusable widget of the
    // presented view once it shows, which would take it from Credits again.
    if (creditsButton_) creditsButton_->setFocus(Qt::OtherFocusReason);
}

void InfoViewController::quitView() {
    console("quit view tapped");
    dismiss(true);
}

void InfoViewController::showSettingsView() {
    console("show settings view tapped");
}

void InfoViewController::reallyRateApp() {
    console("reallyRateApp");
}

void InfoViewController::handleAppCopyrightTap() {
    console("tap onto copyright notice");
    platform::OpenURL::open(makerWebPage());
}

void InfoViewController::handleImprintTap() {
    console("tap onto imprint");
    platform::OpenURL::open(makerWebPage());
}

void InfoViewController::viewHomePageButtonTapped() {
    console("viewHomePageButtonTapped");
    platform::OpenURL::open(makerWebPage());
}

void InfoViewController::creditsButtonTapped() {
    console("tap show credits view");
    auto credits = std::make_shared<CreditsViewController>();
    if (auto* navigation = navigationController()) navigation->pushViewController(credits, true);
}

void InfoViewController::feedbackButtonTapped() {
    console("feedback button tapped");
    if (!canSendMail()) {
        console("device can't send mail");
        auto alert = platform::AlertController::make(
            platform::localizedString("Notice"),
            platform::localizedString(
                "Your device can't send email at this point. You may configure email in the Setting app."),
            platform::AlertController::Style::alert);
        alert->addAction(platform::AlertAction::make(platform::localizedString("OK"),
                                                     platform::AlertAction::Style::defaultValue));
        present(alert, true);
        return;
    }
    // The desktop's mail program composes and sends; there is no composer
    // of ours to dismiss afterwards.
    platform::OpenURL::open(FeedbackMail::make().mailtoURL());
}

std::unique_ptr<QMenu> InfoViewController::contextMenuInteraction(QPointF location) {
    (void)location;
    console("InfoViewController: context menu configuration requested");
    const bool showing = showsTileDebugInfo();
    auto menu = std::make_unique<QMenu>();
    menu->setTitle(QStringLiteral("Debug Options"));
    menu->setObjectName(qs(platform::UUID::random().uuidString()));

    auto addAction = [&menu](const QString& title, std::function<void()> handler) {
        QAction* action = menu->addAction(title);
        action->setObjectName(qs(platform::UUID::random().uuidString()));
        QObject::connect(action, &QAction::triggered, action, [handler = std::move(handler)] { handler(); });
    };
    addAction(QStringLiteral("Crash"), [] {
        console("crashAction");
        platform::DispatchQueue::main()->async([] { crashApp(); });
    });
    addAction(QStringLiteral("Clear Map Cache"), [] {
        console("clearCacheAction");
        if (MapScreenActions* screen = firstWindowMapScreen()) screen->clearAllOSMCaches();
    });
    addAction(
        showing ? QStringLiteral("Hide Tile Debug Info") : QStringLiteral("Show Tile Debug Info"), [showing] {
            console("tileDebugAction");
            platform::UserDefaults::standard().set(kTileDebugDefault, platform::PropertyValue(!showing));
        });
    return menu;
}

void InfoViewController::showContextMenu(const QPoint& position) {
    if (!logoImageView_) return;
    QMenu* menu = contextMenuInteraction(position).release();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(logoImageView_->mapToGlobal(position));
}

void InfoViewController::crashApp() {
    console("crashing app!");
    std::abort();
}

}  // namespace tervolo::shell
