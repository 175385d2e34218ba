#include "platform/ui/LayoutConstraint.hpp"

namespace platform {

void LayoutConstraint::setConstant(double constant) {
    if (constant == constant_) return;
    constant_ = constant;
    if (onChange_) onChange_();
}

void LayoutConstraint::setActive(bool active) {
    if (active == active_) return;
    active_ = active;
    if (onChange_) onChange_();
}

std::shared_ptr<LayoutConstraint> LayoutConstraintList::add(const QString& identifier, double constant,
                                                            bool active) {
    auto constraint = std::make_shared<LayoutConstraint>(identifier, constant, active);
    constraint->setOnChange(onChange_);
    constraints_.push_back(constraint);
    return constraint;
}

std::shared_ptr<LayoutConstraint> LayoutConstraintList::find(const QString& identifier) const {
    for (const auto& constraint : constraints_) {
        if (constraint->identifier() == identifier) return constraint;
    }
    return nullptr;
}

void LayoutConstraintList::setOnChange(std::function<void()> onChange) {
    onChange_ = std::move(onChange);
    for (const auto& constraint : constraints_) constraint->setOnChange(onChange_);
}

}  // namespace platform
