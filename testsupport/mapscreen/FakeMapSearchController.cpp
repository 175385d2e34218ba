#include "testsupport/mapscreen/FakeMapSearchController.hpp"

namespace tervolo::testsupport {

void FakeMapSearchController::setSearchTableHeight(size_t numberOfRows) {
    calls_.push_back("setSearchTableHeight(" + std::to_string(numberOfRows) + ")");
    if (heightConstraint_)
        heightConstraint_->setConstant(numberOfRows == 0 ? 0.0 : 90.0 * (numberOfRows + 1));
}

bool FakeMapSearchController::textFieldShouldReturn(platform::TextField&) {
    calls_.push_back("textFieldShouldReturn");
    return true;
}

}  // namespace tervolo::testsupport
