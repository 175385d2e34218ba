#include "PointDetailsTestSupport.hpp"

#include <QApplication>
#include <QTest>

#include "platform/dispatch/RunLoop.hpp"

namespace pointscreens_test {

namespace {

// Every test environment starts and ends with fresh stores.
const bool registered = tervolo::testsupport::TestEnvironment::registerReset([] {
    tervolo::points::QuovaMapPointStore::resetSharedForTesting();
    tervolo::points::QuovaPointTagStore::resetSharedForTesting();
});

}  // namespace

void PointDetailsTest::SetUp() {
    (void)registered;
    ApplicationTest::SetUp();
    platform::Bundle::main().setInfoDictionaryForTesting(
        platform::PropertyValue::Dictionary{{"CFBundleIdentifier", "org.tervolo.TervoloNG"},
                                            {"CFBundleVersion", "77"},
                                            {"CFBundleName", "TervoloNG"}});
    platform::UserDefaults::standard().reload();
    log_ = std::make_unique<tervolo::testsupport::SharedLogRecording>();
    log_->clear();
}

void PointDetailsTest::TearDown() {
    window_.reset();
    host_.reset();
    settle();
    log_.reset();
    platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
    std::error_code ignored;
    std::filesystem::permissions(documents(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    ApplicationTest::TearDown();
}

std::shared_ptr<tervolo::points::QuovaMapPoint> PointDetailsTest::savedPoint(
    const std::string& title, std::optional<std::string> subtitle) {
    auto point = tervolo::points::QuovaMapPoint::make(title);
    point->setSubtitle(std::move(subtitle));
    point->setCoordinate({60.1675, 24.9525});
    auto& store = tervolo::points::QuovaMapPointStore::shared();
    EXPECT_TRUE(point->save(store).ok());
    return point;
}

std::shared_ptr<tervolo::points::QuovaPointTag> PointDetailsTest::storedTag(
    const std::string& title, const std::string& uuid, std::optional<std::string> color) {
    auto tag = tervolo::points::QuovaPointTag::make(title);
    tag->setUuid(uuid);
    tag->setColorString(color ? std::move(color) : std::optional<std::string>("255,59,48"));
    tervolo::points::QuovaPointTagStore::shared().addTag(tag);
    return tag;
}

std::shared_ptr<tervolo::pointscreens::PointDetailsViewController> PointDetailsTest::present(
    std::shared_ptr<tervolo::points::QuovaMapPoint> point, QSize size) {
    window_ = std::make_unique<platform::MainWindow>();
    window_->resize(size);
    host_ = std::make_shared<DetailsHost>();
    window_->setRootViewController(host_);
    window_->show();
    auto screen =
        std::make_shared<tervolo::pointscreens::PointDetailsViewController>("PointDetailsViewController");
    screen->setPoint(std::move(point));
    screen->setMainVC(mainMap_);
    auto navigation = std::make_shared<platform::NavigationController>(screen);
    navigation->setModalPresentationStyle(platform::ModalPresentationStyle::fullScreen);
    host_->present(navigation, false);
    settle();
    return screen;
}

std::string PointDetailsTest::fileText(const tervolo::points::QuovaMapPoint& point) const {
    if (!point.uuid()) return "";
    std::ifstream in(pointsFolder() + *point.uuid() + ".QuovaMapPoint", std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void PointDetailsTest::settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        platform::RunLoop::runUntilIdle();
    }
}

void PointDetailsTest::type(QWidget* widget, const QString& text) {
    widget->activateWindow();
    widget->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(widget, text);
}

}  // namespace pointscreens_test
