#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace platform {

// One measure of a hand-written layout that screens adjust: a constant in pixels that may be
// switched off, found by its identifier. There is no solver: the layout code reads the values, and
// each change calls the owner's onChange so it can lay out again. Shared by the screen that changes
// it and the layout that reads it. Main thread only.
class LayoutConstraint {
  public:
    explicit LayoutConstraint(QString identifier = {}, double constant = 0, bool active = true)
        : identifier_(std::move(identifier)), constant_(constant), active_(active) {}

    const QString& identifier() const { return identifier_; }
    double constant() const { return constant_; }
    void setConstant(double constant);
    bool isActive() const { return active_; }
    void setActive(bool active);
    // The constant while active, `inactive` otherwise: what layout code reads.
    double valueOr(double inactive) const { return active_ ? constant_ : inactive; }
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

  private:
    QString identifier_;
    double constant_;
    bool active_;
    std::function<void()> onChange_;
};

// A view's constraints, in the order added, with lookup by identifier.
class LayoutConstraintList {
  public:
    // Adds a constraint whose changes call `onChange` (the view's relayout).
    std::shared_ptr<LayoutConstraint> add(const QString& identifier, double constant, bool active = true);
    // The first constraint with `identifier`, null when none.
    std::shared_ptr<LayoutConstraint> find(const QString& identifier) const;
    const std::vector<std::shared_ptr<LayoutConstraint>>& all() const { return constraints_; }
    void setOnChange(std::function<void()> onChange);

  private:
    std::vector<std::shared_ptr<LayoutConstraint>> constraints_;
    std::function<void()> onChange_;
};

}  // namespace platform
