#include "platform/ui/ApplicationMain.hpp"

#include <QApplication>

#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/ui/ApplicationLifecycle.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/QtMainQueueExecutor.hpp"
#include "platform/ui/ViewController.hpp"

namespace platform {

int applicationMain(int& argc, char** argv, ApplicationMainConfiguration configuration) {
    int status = 0;
    {
        QApplication application(argc, argv);
        QGuiApplication::setDesktopFileName(QString::fromStdString(configuration.desktopFileName));
        if (configuration.applicationCreated) configuration.applicationCreated(application);
        // Main-queue blocks and delays run on the Qt event loop from here on.
        const auto executor = QtMainQueueExecutor::install();

        const std::shared_ptr<ApplicationDelegate> delegate =
            configuration.makeDelegate ? configuration.makeDelegate() : nullptr;
        // Parented to the application: it outlives the window and sees aboutToQuit.
        auto* lifecycle =
            new ApplicationLifecycle(application, delegate, NotificationCenter::defaultCenter());
        if (configuration.lifecycleCreated) configuration.lifecycleCreated(*lifecycle);

        {
            MainWindow window;
            if (configuration.makeRootViewController) {
                window.setRootViewController(configuration.makeRootViewController());
            }
            if (configuration.configureWindow) configuration.configureWindow(window);
            lifecycle->setMainWindow(&window);
            if (delegate) {
                delegate->setWindow(&window);
                delegate->application(configuration.launchOptions);
            }
            if (configuration.willShowWindow) configuration.willShowWindow(window);
            window.show();
            status = QApplication::exec();
            lifecycle->setMainWindow(nullptr);
            if (delegate) delegate->setWindow(nullptr);
        }
        // Blocks queued after the loop ended must not be posted to a dying application.
        setMainQueueExecutor(nullptr);
        if (configuration.afterRun) configuration.afterRun();
    }
    return status;
}

}  // namespace platform
