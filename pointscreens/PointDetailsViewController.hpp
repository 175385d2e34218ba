#pragma once

#include <QBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mapscreen/MainMapPort.hpp"
#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "platform/mapkit/MKOverlay.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/ui/BarButtonItem.hpp"
#include "platform/ui/ColorPickerViewController.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/LayoutConstraint.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TapGestureRecognizer.hpp"
#include "platform/ui/TextField.hpp"
#include "platform/ui/TextView.hpp"
#include "platform/ui/Toolbar.hpp"
#include "platform/ui/ViewController.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaPointTag.hpp"
#include "pointscreens/QuovaButtonWithURL.hpp"
#include "pointscreens/QuovaPopupController.hpp"
#include "pointscreens/ScreenTimer.hpp"
#include "widgets/taglist/TagFlowView.hpp"

namespace platform {
class Bundle;
class Timer;
}  // namespace platform

namespace tervolo::pointscreens {

// The point details screen: one stored point's title and subtitle (editable),
// its coordinate in the chosen format (a click cycles the format), its tags
// as coloured chips with the tag-name editor, its alarm circle on a small
// map, the source it was found on and when it was first saved and last
// changed. The map screen opens it for the selected point inside a
// navigation controller. "Done" closes it; once anything changed the bar
// offers "Cancel" (closes, writes nothing) and "Save" (writes the point,
// puts it back on the main map and selects it there).
//
// Edits stay on the screen until "Save": tags added here reach the point
// only then, so "Cancel" leaves the shared point exactly as it was. A save
// that writes no file keeps the screen open with an alert naming the reason.
//
// The view ("PointDetailsViewController") is built in code; every part the
// screen works with carries its field name as object name. Sizes in points,
// radii in metres. Main thread only; create with std::make_shared.
class PointDetailsViewController : public platform::ViewController,
                                   public platform::TextViewDelegate,
                                   public platform::TextFieldDelegate,
                                   public widgets::taglist::TagFlowViewDelegate,
                                   public platform::MKMapViewDelegate {
  public:
    static constexpr const char* kViewName = "PointDetailsViewController";
    // The dynamic property of a chip (TagView) holding its tag's identifier.
    static constexpr const char* kTagIdentifierProperty = "tagIdentifier";
    // Sizes of the built view (points).
    static constexpr double kMargin = 5;  // on each side: the text width is W − 10
    static constexpr double kClearButtonSide = 20;
    static constexpr double kTagRowHeight = 40;

    // The interface name and bundle are ignored: the screen always builds
    // "PointDetailsViewController".
    explicit PointDetailsViewController(std::optional<std::string> nibName = std::nullopt,
                                        const platform::Bundle* bundle = nullptr);
    ~PointDetailsViewController() override;

    // Opens the screen as the map screen does for its selected point: a new
    // screen for `point` with `mainVC`, in a new navigation controller,
    // presented animated from `presenter`: full screen on a phone, else as a
    // form sheet with the screen's preferred size half the width and two
    // thirds of the height of the presenter's view.
    static std::shared_ptr<PointDetailsViewController> presentForPoint(
        platform::ViewController& presenter, std::shared_ptr<points::QuovaMapPoint> point,
        std::weak_ptr<mapscreen::MainMapPort> mainVC);

    // --- fields ----------------------------------------------------------
    const std::shared_ptr<points::QuovaMapPoint>& point() const { return point_; }
    void setPoint(std::shared_ptr<points::QuovaMapPoint> point) { point_ = std::move(point); }
    bool pointHasBeenEdited() const { return pointHasBeenEdited_; }
    const std::shared_ptr<platform::MKCircle>& halo() const { return halo_; }
    const std::optional<double>& newRadius() const { return newRadius_; }
    std::shared_ptr<mapscreen::MainMapPort> mainVC() const { return mainVC_.lock(); }
    void setMainVC(std::weak_ptr<mapscreen::MainMapPort> mainVC) { mainVC_ = std::move(mainVC); }
    int64_t coordinateFormat() const { return coordinateFormat_; }

    // Outlets (null until the view is loaded).
    platform::TextView* titleView() const { return titleView_; }
    platform::TextView* subtitleView() const { return subtitleView_; }
    QLabel* coordinateLabel() const { return coordinateLabel_; }
    QPushButton* copyCoordinatesButton() const { return copyCoordinatesButton_; }
    const std::shared_ptr<platform::BarButtonItem>& radiusButton() const { return radiusButton_; }
    const std::shared_ptr<platform::BarButtonItem>& directionsButton() const { return directionsButton_; }
    const std::shared_ptr<platform::BarButtonItem>& shareButtonItem() const { return shareButton_; }
    const std::shared_ptr<platform::BarButtonItem>& trashButtonItem() const { return trashButton_; }
    QWidget* sourceInfoView() const { return sourceInfoView_; }
    platform::ImageView* logoView() const { return logoView_; }
    QLabel* linkLabel() const { return linkLabel_; }
    QuovaButtonWithURL* seePageButton() const { return seePageButton_; }
    platform::TextView* pointInfoTextView() const { return pointInfoTextView_; }
    platform::MKMapView* map() const { return map_; }
    QBoxLayout* bottomStackView() const { return bottomStackView_; }
    QWidget* bottomStackWidget() const { return bottomStackWidget_; }
    // What scrolls when the sheet is smaller than the screen's content: all but the bottom bar.
    QScrollArea* scrollArea() const { return scrollArea_; }
    widgets::taglist::TagFlowView* tagFlowView() const { return tagFlowView_; }
    QPushButton* addTagButton() const { return addTagButton_; }
    QLabel* addTagInfoLabel() const { return addTagInfoLabel_; }
    QWidget* editTagStackView() const { return editTagStackView_; }
    QWidget* editTagContainerView() const { return editTagContainerView_; }
    platform::TextField* editTagTextField() const { return editTagTextField_; }
    QPushButton* saveNewTagButton() const { return saveNewTagButton_; }
    QPushButton* cancelEditTagButton() const { return cancelEditTagButton_; }
    platform::TableView* tagTableView() const { return tagTableView_; }
    const std::shared_ptr<platform::LayoutConstraint>& tagTableViewHeight() const {
        return tagTableViewHeight_;
    }
    const std::shared_ptr<platform::LayoutConstraint>& titleHeight() const { return titleHeight_; }
    const std::shared_ptr<platform::LayoutConstraint>& subtitleHeight() const { return subtitleHeight_; }
    const std::shared_ptr<platform::LayoutConstraint>& pointInfoTextViewHeight() const {
        return pointInfoTextViewHeight_;
    }
    const std::shared_ptr<platform::LayoutConstraint>& logoViewWidth() const { return logoViewWidth_; }
    const std::shared_ptr<platform::LayoutConstraint>& tagListContainerHeight() const {
        return tagListContainerHeight_;
    }
    QPushButton* clearTitleButton() const { return clearTitleButton_; }
    const std::shared_ptr<platform::LayoutConstraint>& clearTitleButtonTopDistance() const {
        return clearTitleButtonTopDistance_;
    }
    QPushButton* clearSubtitleButton() const { return clearSubtitleButton_; }
    const std::shared_ptr<platform::LayoutConstraint>& clearSubtitleButtonTopDistance() const {
        return clearSubtitleButtonTopDistance_;
    }
    platform::TapGestureRecognizer* coordinateTapRecognizer() const { return coordinateTapRecognizer_; }
    // Identifiers of the point's tags that had no stored tag at load.
    const std::vector<std::string>& unresolvedTagIdentifiers() const { return unresolvedTagIdentifiers_; }

    // --- lifecycle ---------------------------------------------------------
    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    // The light/dark appearance changed: laid out again as after a resize.
    void traitCollectionDidChange(const platform::TraitCollection& previous) override;
    // The window's aspect decides the bottom stack's axis (side by side when
    // the view is wider than high); the text views are measured again and the
    // tag table's height 0.1 s later on a timer the screen owns.
    void viewDidResize();
    // The three text views' heights for the width they now have.
    void measureTextViews();
    // Points of width the small map needs to show its name and its credit side by side.
    double mapFootWidth() const;

    // --- the screen's operations -------------------------------------------
    void coordinateLabelTapped();
    void updateCoordinateLabel();
    void markPointAsEdited();
    void showNoTagsState();
    void setHeightConstraint(platform::TextView* textView);
    // Applies a radius (metres) on the screen: edited when it differs from the
    // point's, the circle redrawn on the small map (none for 0 or a radius
    // that is not finite), the map fitted to 3 × radius (5000 m without circle).
    void updateRadius(std::optional<double> radius);
    void submitNewTag(const std::string& name);
    void clearTitleButtonPressed();
    void clearSubtitleButtonPressed();
    void addTagButtonPressed();
    void saveNewTagButtonPressed();
    void cancelEditTagButtonPressed();
    void showTagEditor();
    void hideTagEditor();
    // The tag table's height: n rows × 40, at most 0.9 × the small map's height.
    void updateTagTableHeight();
    // The tag table's row count: the size of tagsForTagTable().
    virtual int tagTableRowCount() const;
    // Writes the edits into the point and saves it when it was edited, puts it
    // back on the main map, then closes; a save that wrote nothing keeps the
    // screen open with an alert.
    void dismissView();
    // Closes without writing anything.
    void cancelView();

    // The chips' identifiers in chip order.
    std::vector<std::string> chipIdentifiers() const;

    // --- the buttons' actions (PointDetailsActions.cpp) ------------------------
    // The radius sheet at `sender`: "(none)", the locale's table with the
    // current radius (metres) marked, "Custom ...", "Cancel".
    void radiusButton(const std::shared_ptr<platform::BarButtonItem>& sender);
    // The typed entry: a radius in metres, or in yards where the locale does
    // not measure in metres; finite values in (0, 20,000 km] only.
    void promptForCustomRadius();
    // The refusal of an entry; its Retry brings the entry back 0.3 s later.
    void showIllegalRadiusValueUI();
    std::string customRadiusMessage() const;
    // The routing sheet at `sender`: the rows of directionsRows for the point,
    // the user's best known position and the installed applications.
    void directionsButton(const std::shared_ptr<platform::BarButtonItem>& sender);
    // The coordinate in the label's format to the clipboard, then "Copied!".
    void copyCoordinatesButton(QWidget* sender);
    // Opens the sender's address when it is an http or https one.
    void seePageButton(QuovaButtonWithURL* sender);
    // Deletes the point (its circle off the main map first), then closes
    // as cancelView does.
    void trashButton(const std::shared_ptr<platform::BarButtonItem>& sender);
    // The share sheet 0.5 s later, unless the screen has gone meanwhile.
    void shareButton(const std::shared_ptr<platform::BarButtonItem>& sender);
    void presentShareSheet(const std::shared_ptr<platform::BarButtonItem>& sender);

    // --- the tag section (PointDetailsTagEditor.cpp) ----------------------
    static constexpr const char* kTagCellIdentifier = "TagCell";
    // The tag table's rows, computed afresh on every call: stored tags that
    // are no chip, whose lower-cased title starts with the lower-cased field
    // text (canonically equivalent), in code-point order of the NFC titles.
    std::vector<std::shared_ptr<points::QuovaPointTag>> tagsForTagTable() const;
    platform::TableViewCell* tagTableCell(platform::TableView& table, platform::IndexPath indexPath);
    void tagTableDidSelectRow(platform::IndexPath indexPath);
    // The tag field changed while the editor is open: the table follows, the
    // spaces go (with one "Notice"), the save button follows the text.
    // Spaces are taken out at once; the "Notice" alert waits until the typing
    // pauses (kSpacesNoticeDelay after the last space), so it never takes the
    // keys of a word being typed.
    void tagTextDidChange(platform::TextField& field);
    void showTagsMayNotContainSpacesUI();
    static constexpr double kSpacesNoticeDelay = 1.0;  // seconds
    // The trash button of a row: asks before deleting the row's tag.
    void tagRowDeleteButton(QWidget* sender);
    std::shared_ptr<points::QuovaPointTag> tagFromButton(QWidget* view) const;
    // Removes the tag from every stored point that carries it (deleted and
    // hidden ones too; identifiers in any letter case), stamping each with
    // the time and version and writing it without a second stamp, then from
    // the tag store; the pins of the points the main map shows are drawn
    // again; the table reloads 0.1 s later.
    void deleteTagEverywhere(const std::shared_ptr<points::QuovaPointTag>& tag);
    void tagRemoveButtonPressed(const QString& title, widgets::taglist::TagView* tagView,
                                widgets::taglist::TagFlowView* sender) override;

    // --- recolouring a tag (PointDetailsColorPicker.cpp) -------------------
    // A chip tap: the colour picker for the chip's stored tag.
    void tagPressed(const QString& title, widgets::taglist::TagView* tagView,
                    widgets::taglist::TagFlowView* sender) override;
    // Opens the colour picker for `tag` in a form-sheet popup titled "#<tag>"
    // with a "Save" item; the dark background closes it unapplied.
    void showColorPicker(const std::shared_ptr<points::QuovaPointTag>& tag);
    void colorPickerViewControllerDidSelectColor(platform::ColorPickerViewController& picker);
    // "Save": stores the chosen colour as eight hex digits (alpha last),
    // recolours the tag's chips and redraws the pins of the points carrying it.
    void colorPickerDidTapOK();
    void backgroundViewDidTap();
    void colorPickerViewControllerDidFinish(platform::ColorPickerViewController& picker);
    const std::shared_ptr<QuovaPopupController>& colorPickerPopupController() const {
        return colorPickerPopupController_;
    }
    const std::optional<QColor>& lastColorPickerColor() const { return lastColorPickerColor_; }

    // --- delegates ---------------------------------------------------------
    bool textViewShouldChangeText(platform::TextView& view, const platform::TextReplacement& change) override;
    void textViewDidBeginEditing(platform::TextView& view) override;
    void textViewDidEndEditing(platform::TextView& view) override;
    void textViewDidChange(platform::TextView& view) override;
    void textFieldDidChange(platform::TextField& field) override;
    bool textFieldShouldReturn(platform::TextField& field) override;
    // The tag field's clear button: empties the field and disables the save button.
    bool textFieldShouldClear(platform::TextField& field);
    std::shared_ptr<platform::MKOverlayRenderer> rendererForOverlay(
        platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKOverlay>& overlay) override;

  protected:
    bool handleViewEvent(QEvent* event);

  private:
    class ViewEvents;
    std::function<void()> guarded(void (PointDetailsViewController::*action)());
    void buildView(QWidget* root);
    void applyConstraints();
    void loadMap();
    void loadChips();
    void loadSourceRow();
    void addChip(const std::string& title, const std::string& identifier,
                 const std::optional<platform::Color>& color);
    void showChipArea();
    // `text`: the text the view is about to be given (its own when none).
    void followTextDirection(platform::TextView* textView, const std::optional<QString>& text = std::nullopt);
    void showSaveFailure(const platform::Error& error);
    void putPointBackOnMainMap();
    void connectActions();
    double currentRadiusForSheet() const;
    void setUpTagTable();

    std::shared_ptr<points::QuovaMapPoint> point_;
    bool pointHasBeenEdited_ = false;
    std::shared_ptr<platform::MKCircle> halo_;
    std::optional<double> newRadius_;
    std::weak_ptr<mapscreen::MainMapPort> mainVC_;

    QPointer<platform::TextView> titleView_;
    QPointer<platform::TextView> subtitleView_;
    QPointer<QLabel> coordinateLabel_;
    QPointer<QPushButton> copyCoordinatesButton_;
    std::shared_ptr<platform::BarButtonItem> radiusButton_;
    std::shared_ptr<platform::BarButtonItem> directionsButton_;
    std::shared_ptr<platform::BarButtonItem> shareButton_;
    std::shared_ptr<platform::BarButtonItem> trashButton_;
    QPointer<QWidget> sourceInfoView_;
    QPointer<platform::ImageView> logoView_;
    QPointer<QLabel> linkLabel_;
    QPointer<QuovaButtonWithURL> seePageButton_;
    QPointer<platform::TextView> pointInfoTextView_;
    QPointer<platform::MKMapView> map_;
    QPointer<QBoxLayout> bottomStackView_;
    QPointer<QWidget> bottomStackWidget_;
    QPointer<QScrollArea> scrollArea_;
    QPointer<widgets::taglist::TagFlowView> tagFlowView_;
    QPointer<QPushButton> addTagButton_;
    QPointer<QLabel> addTagInfoLabel_;
    QPointer<QWidget> editTagStackView_;
    QPointer<QWidget> editTagContainerView_;
    QPointer<platform::TextField> editTagTextField_;
    QPointer<QPushButton> saveNewTagButton_;
    QPointer<QPushButton> cancelEditTagButton_;
    QPointer<platform::TableView> tagTableView_;
    QPointer<QWidget> tagListContainer_;
    QPointer<QWidget> titleRow_;
    QPointer<QWidget> subtitleRow_;
    QPointer<platform::Toolbar> bottomBar_;
    std::shared_ptr<platform::LayoutConstraint> tagTableViewHeight_;
    std::shared_ptr<platform::LayoutConstraint> titleHeight_;
    std::shared_ptr<platform::LayoutConstraint> subtitleHeight_;
    std::shared_ptr<platform::LayoutConstraint> pointInfoTextViewHeight_;
    std::shared_ptr<platform::LayoutConstraint> logoViewWidth_;
    std::shared_ptr<platform::LayoutConstraint> tagListContainerHeight_;
    QPointer<QPushButton> clearTitleButton_;
    std::shared_ptr<platform::LayoutConstraint> clearTitleButtonTopDistance_;
    QPointer<QPushButton> clearSubtitleButton_;
    std::shared_ptr<platform::LayoutConstraint> clearSubtitleButtonTopDistance_;
    QPointer<platform::TapGestureRecognizer> coordinateTapRecognizer_;
    int64_t coordinateFormat_ = 2;

    platform::LayoutConstraintList constraints_;
    std::vector<std::string> unresolvedTagIdentifiers_;
    std::vector<std::unique_ptr<platform::NavigationObservers::Token>> barTokens_;
    std::shared_ptr<platform::Timer> tagTableHeightTimer_;
    ScreenTimer customRadiusRetryTimer_;
    ScreenTimer shareSheetTimer_;
    ScreenTimer spacesNoticeTimer_;
    class TagTableSource;
    std::shared_ptr<TagTableSource> tagTableSource_;
    std::shared_ptr<platform::Timer> tagTableReloadTimer_;
    bool observingTagText_ = false;
    class ColorPickerEvents;
    std::shared_ptr<ColorPickerEvents> colorPickerEvents_;
    std::shared_ptr<QuovaPopupController> colorPickerPopupController_;
    std::optional<QColor> lastColorPickerColor_;
    QPointer<QObject> events_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace tervolo::pointscreens
