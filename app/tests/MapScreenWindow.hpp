#pragma once

// The program's map screen as makeMapScreen composes it, shown in an active
// window for tests that drive it as a person does. Main thread only.

#include <gtest/gtest.h>

#include <QSize>
#include <QTest>

#include <memory>

#include "app/Program.hpp"
#include "mapscreen/MainViewController.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/ui/MainWindow.hpp"

namespace tervolo::app::tests {

struct MapScreenWindow {
    std::unique_ptr<platform::MainWindow> window;
    std::shared_ptr<mapscreen::MainViewController> screen;

    // Shows the screen at `size`, configured as the program configures its window where `asProgram`
    // (the map then shows the user's position once one comes). A fatal test failure where the screen
    // or the window does not come up.
    void open(QSize size = QSize(1280, 800), bool asProgram = false) {
        window = std::make_unique<platform::MainWindow>();
        screen = std::dynamic_pointer_cast<mapscreen::MainViewController>(makeMapScreen());
        ASSERT_NE(screen, nullptr);
        window->setRootViewController(screen);
        if (asProgram) configureMainWindow(*window);
        window->resize(size);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    // Takes the screen out of its window before both go, then lets what they queued run.
    void close() {
        if (window) window->setRootViewController(nullptr);
        window.reset();
        screen.reset();
        platform::RunLoop::runUntilIdle();
    }
};

}  // namespace tervolo::app::tests
