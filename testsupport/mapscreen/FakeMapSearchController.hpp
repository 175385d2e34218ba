#pragma once

#include <QPointer>

#include <memory>
#include <string>
#include <vector>

#include "mapscreen/MapSearchController.hpp"

namespace tervolo::testsupport {

// A search controller that records what the map screen hands it and asks of
// it, and answers a result count the test sets. Main thread only.
class FakeMapSearchController : public mapscreen::MapSearchController {
  public:
    void setSearchBar(platform::TextField* searchBar) override { searchBar_ = searchBar; }
    void setTableView(platform::TableView* tableView) override { tableView_ = tableView; }
    void setSpinner(platform::ActivityIndicator* spinner) override { spinner_ = spinner; }
    void setSearchTableHeight(std::shared_ptr<platform::LayoutConstraint> constraint) override {
        heightConstraint_ = std::move(constraint);
    }
    void setParent(mapscreen::MainViewController* parent) override { parent_ = parent; }
    size_t allResultsCount() const override { return resultCount_; }
    // Records the rows and sizes the table as the search controller would
    // (90 points a row plus one row's room; none for no row).
    void setSearchTableHeight(size_t numberOfRows) override;
    void traitCollectionDidChange(const platform::TraitCollection&) override {
        calls_.push_back("traitCollectionDidChange");
    }
    bool textFieldShouldReturn(platform::TextField&) override;
    // A search starts from these; programmatic text must not reach them.
    void textFieldDidChange(platform::TextField&) override { calls_.push_back("textFieldDidChange"); }
    void textFieldDidChangeSelection(platform::TextField&) override {
        calls_.push_back("textFieldDidChangeSelection");
    }

    void setResultCount(size_t count) { resultCount_ = count; }
    // Calls in order: "setSearchTableHeight(<rows>)", "textFieldShouldReturn",
    // "traitCollectionDidChange", "textFieldDidChange", "textFieldDidChangeSelection".
    const std::vector<std::string>& calls() const { return calls_; }
    platform::TextField* searchBar() const { return searchBar_.data(); }
    platform::TableView* tableView() const { return tableView_.data(); }
    platform::ActivityIndicator* spinner() const { return spinner_.data(); }
    const std::shared_ptr<platform::LayoutConstraint>& heightConstraint() const { return heightConstraint_; }
    mapscreen::MainViewController* parent() const { return parent_; }

  private:
    QPointer<platform::TextField> searchBar_;
    QPointer<platform::TableView> tableView_;
    QPointer<platform::ActivityIndicator> spinner_;
    std::shared_ptr<platform::LayoutConstraint> heightConstraint_;
    mapscreen::MainViewController* parent_ = nullptr;
    size_t resultCount_ = 0;
    std::vector<std::string> calls_;
};

}  // namespace tervolo::testsupport
