#pragma once

#include <functional>
#include <memory>

#include "backend/QuovaIssueDisplayManager.hpp"

namespace platform {
class ViewController;
}

namespace tervolo::app {

// Presents the secure-connection alert on the map screen: an alert with its
// single default action, presented animated with no completion. Main thread.
class MapScreenAlertPresenter : public backend::IssueAlertPresenter {
  public:
    // `mapScreen` answers the map screen now; none while there is none.
    explicit MapScreenAlertPresenter(std::function<std::shared_ptr<platform::ViewController>()> mapScreen);

    bool hasMapScreen() const override;
    void presentOnMapScreen(Alert alert) override;

  private:
    std::function<std::shared_ptr<platform::ViewController>()> mapScreen_;
};

}  // namespace tervolo::app
