// The point details screen's text: the title and subtitle with their clear
// buttons, the height of the three text views, the tag name field and the
// adding of a tag by name.
#include <cmath>
#include <limits>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/UUID.hpp"
#include "platform/text/Unicode.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PointDetailsContent.hpp"
#include "pointscreens/PointDetailsViewController.hpp"
#include "pointscreens/WriteFailureAlert.hpp"

namespace tervolo::pointscreens {

bool PointDetailsViewController::textViewShouldChangeText(platform::TextView& view,
                                                          const platform::TextReplacement& change) {
    // The return key ends editing; a pasted text with line feeds in it stays.
    if (change.text == QStringLiteral("\n")) {
        view.clearFocus();
        return false;
    }
    return true;
}

void PointDetailsViewController::textViewDidBeginEditing(platform::TextView& view) {
    if (&view == titleView_.data()) {
        if (clearTitleButton_) clearTitleButton_->show();
    } else if (&view == subtitleView_.data()) {
        if (clearSubtitleButton_) clearSubtitleButton_->show();
    } else {
        QLLogInfo("Editing in unknown textView, nothing to do.");
    }
}

void PointDetailsViewController::textViewDidEndEditing(platform::TextView& view) {
    if (&view == titleView_.data()) {
        if (clearTitleButton_) clearTitleButton_->hide();
    } else if (&view == subtitleView_.data()) {
        if (clearSubtitleButton_) clearSubtitleButton_->hide();
    } else {
        QLLogInfo("Editing ended in unknown textView, nothing to do.");
    }
}

void PointDetailsViewController::textViewDidChange(platform::TextView& view) {
    pointHasBeenEdited_ = true;
    markPointAsEdited();
    followTextDirection(&view);
    setHeightConstraint(&view);
}

void PointDetailsViewController::clearTitleButtonPressed() {
    QLLogInfo("clearTitleButton(sender:)");
    if (!titleView_) return;
    // Clearing only makes room for a new title: a point always keeps one
    // (an empty title is never stored), so the empty field alone is no edit.
    // The first typed character is.
    titleView_->setText(QString());
    if (clearTitleButton_) clearTitleButton_->hide();
    setHeightConstraint(titleView_);
}

void PointDetailsViewController::clearSubtitleButtonPressed() {
    QLLogInfo("clearSubtitleButton(sender:)");
    if (!subtitleView_) return;
    const bool hadText = !subtitleView_->text().isEmpty();
    subtitleView_->setText(QString());
    if (clearSubtitleButton_) clearSubtitleButton_->hide();
    if (hadText) {
        pointHasBeenEdited_ = true;
        markPointAsEdited();
    }
    setHeightConstraint(subtitleView_);
}

void PointDetailsViewController::setHeightConstraint(platform::TextView* textView) {
    QWidget* root = viewIfLoaded();
    if (!textView || !root) return;
    const bool sideBySide = bottomStackView_ && bottomStackView_->direction() == QBoxLayout::LeftToRight;
    std::optional<double> clearWidth;
    if (textView == titleView_.data() && clearTitleButton_) clearWidth = clearTitleButton_->width();
    if (textView == subtitleView_.data() && clearSubtitleButton_) clearWidth = clearSubtitleButton_->width();
    // The width the column has: the scrolled content's once laid out (narrower than the view by the
    // scroll bar while it shows), the view's before.
    const QWidget* content = scrollArea_ ? scrollArea_->widget() : nullptr;
    const int columnWidth =
        content != nullptr && content->testAttribute(Qt::WA_Resized) ? content->width() : root->width();
    const double width =
        textMeasureWidth(columnWidth, sideBySide && textView == pointInfoTextView_.data(), clearWidth);
    const bool textRow = textView == titleView_.data() || textView == subtitleView_.data();
    const double limit = textRow ? textRowHeightLimit(root->height()) : std::numeric_limits<double>::max();
    const platform::TextView::HeightFit fit = textView->heightFitting(width, limit);
    const double height = fit.height;
    if (textRow) {
        // A text held to the row's limit scrolls; its bar stays while it does, so the text keeps
        // one width and is not laid out again for a bar that comes and goes.
        const Qt::ScrollBarPolicy bar = fit.scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
        if (textView->verticalScrollBarPolicy() != bar) textView->setVerticalScrollBarPolicy(bar);
    }
    if (textView == titleView_.data()) {
        QLLogInfo("Setting title height constraint to " + platform::text::describe(height) + ".");
        titleHeight_->setConstant(height);
        clearTitleButtonTopDistance_->setConstant(clearButtonTopDistance(
            height, clearTitleButton_ ? std::optional<double>(clearTitleButton_->height()) : std::nullopt));
    } else if (textView == subtitleView_.data()) {
        QLLogInfo("Setting subtitle height constraint to " + platform::text::describe(height) + ".");
        subtitleHeight_->setConstant(height);
        clearSubtitleButtonTopDistance_->setConstant(clearButtonTopDistance(
            height,
            clearSubtitleButton_ ? std::optional<double>(clearSubtitleButton_->height()) : std::nullopt));
    } else if (textView == pointInfoTextView_.data()) {
        QLLogInfo("Setting pointInfoTextViewHeight constraint to " + platform::text::describe(height) + ".");
        pointInfoTextViewHeight_->setConstant(height);
    } else {
        QLLogInfo("Can't set height constraint for unknown view.");
    }
    root->updateGeometry();
    root->update();
}

// --- the tag name field --------------------------------------------------------

bool PointDetailsViewController::textFieldShouldClear(platform::TextField& field) {
    field.setText(QString());
    if (saveNewTagButton_) saveNewTagButton_->setEnabled(false);
    return false;
}

void PointDetailsViewController::textFieldDidChange(platform::TextField& field) {
    if (&field != editTagTextField_.data()) return;
    // While the editor is open the text also filters the tag table and loses
    // its spaces.
    if (observingTagText_) {
        QLLogInfo(std::string("textDidChangeNotificationHandler(notification:) in ") + __FILE__ + ":" +
                  std::to_string(__LINE__));
        tagTextDidChange(field);
        return;
    }
    // The field's own clear button empties it as a user edit: the same as
    // textFieldShouldClear, the save button follows the text.
    if (field.text().isEmpty()) {
        textFieldShouldClear(field);
    } else if (saveNewTagButton_) {
        saveNewTagButton_->setEnabled(true);
    }
}

bool PointDetailsViewController::textFieldShouldReturn(platform::TextField& field) {
    if (!field.text().isEmpty()) submitNewTag(field.text().toStdString());
    field.resignFirstResponder();
    field.setText(QString());
    hideTagEditor();
    return false;
}

void PointDetailsViewController::submitNewTag(const std::string& name) {
    if (name.empty()) {
        QLLogInfo("not adding tag with length zero");
        return;
    }
    QLLogInfo("adding tag with title " + logging::debugQuoted(name));
    auto& store = points::QuovaPointTagStore::shared();
    std::shared_ptr<points::QuovaPointTag> tag = store.tagWithTitle(name);
    if (!tag) {
        tag = points::QuovaPointTag::make(name);
        tag->setUuid(platform::UUID::random().uuidString());
        tag->setColorString(std::nullopt);
        tag->setCreatedAt(platform::Date::now());
        tag->setLastSavedAt(std::nullopt);
        tag->setDeletedAt(std::nullopt);
        tag->setHiddenAt(std::nullopt);
        tag->setLastSavedByAppVersion(std::nullopt);
        tag->save();
        if (auto error = store.addTag(tag)) {
            // No tag file, so no tag: a chip now would be a tag that is gone
            // at the next start, and the point would name nothing.
            presentWriteFailure(*this, "Tag Not Saved", *error, "The tag was not added.",
                                points::RecordKind::tag);
            return;
        }
    } else {
        QLLogDebug("tag " + name + " exists already, tag UUID: " + tag->uuid());
    }
    if (tagFlowView_) {
        for (const QString& title : tagFlowView_->allTagTitles()) {
            // A chip of the same name in another Unicode form is this tag.
            if (platform::text::canonicallyEqual(title.toStdString(), tag->title())) {
                QLLogDebug("Tag already in tagView, nothing to do.");
                return;
            }
        }
        const auto color = tagColorFromString(tag->colorString());
        if (color) QLLogDebug("using colorString " + *tag->colorString() + " for new tag");
        addChip(tag->title(), tag->uuid(), color);
    }
    showChipArea();
    applyConstraints();
    if (!point_) return;
    // The chip holds the new tag until "Save"; the shared point is not touched
    // before, so "Cancel" leaves it as it was.
    const std::string wanted = platform::text::lowercased(tag->uuid());
    if (point_->tags()) {
        for (const std::string& identifier : *point_->tags()) {
            if (platform::text::lowercased(identifier) == wanted) {
                QLLogDebug("Tag UUID already attached to point, nothing to do.");
                return;
            }
        }
    }
    pointHasBeenEdited_ = true;
    markPointAsEdited();
}

// --- the tag editor ----------------------------------------------------------------

void PointDetailsViewController::addTagButtonPressed() {
    QLLogDebug(std::string(__func__) + " in " + __FILE__ + ":" + std::to_string(__LINE__));
    showTagEditor();
}

void PointDetailsViewController::saveNewTagButtonPressed() {
    QLLogDebug(std::string(__func__) + " in " + __FILE__ + ":" + std::to_string(__LINE__));
    if (editTagTextField_) {
        submitNewTag(editTagTextField_->text().toStdString());
        editTagTextField_->resignFirstResponder();
        editTagTextField_->setText(QString());
    }
    hideTagEditor();
}

void PointDetailsViewController::cancelEditTagButtonPressed() {
    QLLogDebug(std::string(__func__) + " in " + __FILE__ + ":" + std::to_string(__LINE__));
    hideTagEditor();
}

void PointDetailsViewController::showTagEditor() {
    if (addTagButton_) addTagButton_->hide();
    if (addTagInfoLabel_) addTagInfoLabel_->hide();
    if (editTagStackView_) editTagStackView_->show();
    if (tagTableView_) {
        tagTableView_->show();
        tagTableView_->reloadData();
    }
    updateTagTableHeight();
    if (saveNewTagButton_) {
        saveNewTagButton_->setEnabled(editTagTextField_ && !editTagTextField_->text().isEmpty());
    }
    observingTagText_ = true;
    // In a sheet smaller than the screen's content the editor is scrolled into sight, the field
    // first: a "+" that opens something out of view looks as if it did nothing.
    if (scrollArea_ && editTagStackView_) {
        if (QWidget* content = scrollArea_->widget(); content != nullptr && content->layout() != nullptr)
            content->layout()->activate();
        if (tagTableView_) scrollArea_->ensureWidgetVisible(tagTableView_, 0, 0);
        scrollArea_->ensureWidgetVisible(editTagStackView_, 0, 0);
    }
}

void PointDetailsViewController::hideTagEditor() {
    if (addTagButton_) addTagButton_->show();
    if (editTagStackView_) editTagStackView_->hide();
    if (tagTableView_) tagTableView_->hide();
    if (tagFlowView_ && tagFlowView_->allTags().empty() && addTagInfoLabel_) addTagInfoLabel_->show();
    observingTagText_ = false;
}

void PointDetailsViewController::updateTagTableHeight() {
    const int rows = tagTableRowCount();
    double height = 0;
    if (rows >= 1) {
        height = rows * kTagRowHeight;
        if (map_ && map_->height() < height) height = map_->height() * 0.9;
    }
    tagTableViewHeight_->setConstant(height);
}

}  // namespace tervolo::pointscreens
