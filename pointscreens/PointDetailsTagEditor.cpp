// The point details screen's tag section: the table of stored tags under the
// tag name field, deleting a tag from every point, and removing a chip.
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTextBoundaryFinder>

#include <algorithm>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/text/Unicode.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/Contrast.hpp"
#include "platform/ui/FocusRing.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/TableViewCell.hpp"
#include "points/QuovaAppVersion.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PointDetailsViewController.hpp"
#include "pointscreens/WriteFailureAlert.hpp"

namespace tervolo::pointscreens {

using platform::localizedString;

namespace {

constexpr int kTrashSide = 50;

std::string whereIn(const char* function, const char* file, int line) {
    return std::string(function) + " in " + file + ":" + std::to_string(line);
}

// True when the lower-cased `title` starts with the lower-cased `prefix`
// character by character: both in NFC, and the match must end between two
// characters of the title, so "e" is no prefix of "é" in either form.
bool hasLowercasedPrefix(const std::string& title, const std::string& prefix) {
    const std::string t = platform::text::nfc(platform::text::lowercased(title));
    const std::string p = platform::text::nfc(platform::text::lowercased(prefix));
    if (t.compare(0, p.size(), p) != 0) return false;
    if (t.size() == p.size()) return true;
    const QString text = QString::fromStdString(t);
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    graphemes.setPosition(static_cast<int>(QString::fromStdString(p).size()));
    return graphemes.isAtBoundary();
}

bool sameIdentifier(const std::string& a, const std::string& b) {
    return a == b || platform::text::lowercased(a) == platform::text::lowercased(b);
}

}  // namespace

// The tag table's data source and delegate: every answer is the screen's.
class PointDetailsViewController::TagTableSource : public platform::TableViewDataSource,
                                                   public platform::TableViewDelegate {
  public:
    explicit TagTableSource(PointDetailsViewController* screen) : screen_(screen) {}
    int numberOfRows(platform::TableView&, int) override {
        screen_->updateTagTableHeight();
        return screen_->tagTableRowCount();
    }
    platform::TableViewCell* cellForRow(platform::TableView& table, platform::IndexPath indexPath) override {
        return screen_->tagTableCell(table, indexPath);
    }
    void didSelectRow(platform::TableView&, platform::IndexPath indexPath) override {
        screen_->tagTableDidSelectRow(indexPath);
    }

  private:
    PointDetailsViewController* screen_;
};

void PointDetailsViewController::setUpTagTable() {
    if (!tagTableView_) return;
    tagTableSource_ = std::make_shared<TagTableSource>(this);
    tagTableView_->setRowHeight(kTagRowHeight);
    // n rows fill exactly n x 40 points: no frame to take room from them.
    tagTableView_->setFrameShape(QFrame::NoFrame);
    tagTableView_->setSectionHeaderHeight(0);
    tagTableView_->setDataSource(tagTableSource_);
    tagTableView_->setDelegate(tagTableSource_);
    tagTableView_->registerCell(
        QString::fromLatin1(kTagCellIdentifier),
        [this, alive = std::weak_ptr<int>(lifetime_)]() -> platform::TableViewCell* {
            auto* cell = new platform::TableViewCell(platform::TableViewCell::Style::Subtitle,
                                                     QString::fromLatin1(kTagCellIdentifier));
            auto* stack = new QWidget(cell);
            stack->setObjectName("tagCellAccessoryStack");
            // 50 wide; as high as the 40-point row, so the button stays inside it.
            stack->setFixedWidth(kTrashSide);
            auto* row = new QHBoxLayout(stack);
            row->setContentsMargins(0, 0, 0, 0);
            row->setSpacing(1);
            auto* trash = new QPushButton(stack);
            trash->setObjectName("tagRowDeleteButton");
            trash->setFixedWidth(kTrashSide);
            trash->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
            trash->setFlat(true);
            platform::makeKeyboardPressable(*trash, [trash] { trash->click(); });
            // The ring is the focus indicator; the style's own focus frame would draw a second one.
            trash->setStyleSheet(QStringLiteral("QPushButton { border: none; outline: none; }"));
            // The link colour, lightened on a dark theme's rows until the symbol stands out (a dark
            // theme's link blue is about 2.8:1 on its base).
            const QColor tint = platform::legibleForeground(cell->palette().color(QPalette::Link),
                                                            cell->backgroundColor(), 3.0);
            QPixmap pixmap = QPixmap::fromImage(
                platform::NamedImage::named(QStringLiteral("trash.circle")).render(QSize(56, 56), tint));
            pixmap.setDevicePixelRatio(2);
            trash->setIcon(QIcon(pixmap));
            trash->setIconSize(QSize(28, 28));
            trash->setToolTip(QString::fromStdString(localizedString("Delete Tag")));
            row->addWidget(trash);
            QObject::connect(trash, &QPushButton::clicked, cell, [this, alive, trash] {
                if (alive.lock()) tagRowDeleteButton(trash);
            });
            cell->setAccessoryWidget(stack);
            return cell;
        });
}

std::vector<std::shared_ptr<points::QuovaPointTag>> PointDetailsViewController::tagsForTagTable() const {
    std::vector<std::shared_ptr<points::QuovaPointTag>> rows;
    const auto& stored = points::QuovaPointTagStore::shared().tags();
    if (!stored) return rows;
    std::vector<QString> chipTitles;
    if (tagFlowView_) chipTitles = tagFlowView_->allTagTitles();
    std::string prefix;
    if (editTagTextField_) prefix = editTagTextField_->text().toStdString();
    for (const auto& tag : *stored) {
        if (!tag) continue;
        // A tag whose name is a chip's in another Unicode form is that chip.
        if (std::any_of(chipTitles.begin(), chipTitles.end(), [&](const QString& chip) {
                return platform::text::canonicallyEqual(chip.toStdString(), tag->title());
            }))
            continue;
        if (!prefix.empty() && !hasLowercasedPrefix(tag->title(), prefix)) continue;
        // One row for one name, whatever Unicode forms its records have.
        if (std::any_of(rows.begin(), rows.end(), [&](const auto& row) {
                return platform::text::canonicallyEqual(row->title(), tag->title());
            }))
            continue;
        rows.push_back(tag);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return platform::text::compareCodePoints(a->title(), b->title()) < 0;
    });
    return rows;
}

int PointDetailsViewController::tagTableRowCount() const {
    return static_cast<int>(tagsForTagTable().size());
}

platform::TableViewCell* PointDetailsViewController::tagTableCell(platform::TableView& table,
                                                                  platform::IndexPath indexPath) {
    auto* cell = table.dequeueReusableCell(QString::fromLatin1(kTagCellIdentifier), indexPath);
    if (!cell) return cell;
    const auto rows = tagsForTagTable();
    if (indexPath.row < 0 || indexPath.row >= static_cast<int>(rows.size())) return cell;
    cell->textLabel()->setText(QString::fromStdString(rows[static_cast<size_t>(indexPath.row)]->title()));
    // The detail line stays empty; hidden, the title sits in the row's middle.
    if (auto* detail = cell->detailTextLabel()) {
        detail->clear();
        detail->hide();
    }
    cell->update();
    return cell;
}

void PointDetailsViewController::tagTableDidSelectRow(platform::IndexPath indexPath) {
    const auto rows = tagsForTagTable();
    if (indexPath.row >= 0 && indexPath.row < static_cast<int>(rows.size())) {
        submitNewTag(rows[static_cast<size_t>(indexPath.row)]->title());
    }
    hideTagEditor();
}

// --- the tag name field while the editor is open -----------------------------------

void PointDetailsViewController::tagTextDidChange(platform::TextField& field) {
    if (tagTableView_) tagTableView_->reloadData();
    QString text = field.text();
    if (text.isEmpty()) {
        // An emptied field (typing, the clear button) cannot be saved.
        if (saveNewTagButton_) saveNewTagButton_->setEnabled(false);
        return;
    }
    if (text.contains(QChar(u' '))) {
        // An alert now would take the keyboard in the middle of a word and the
        // keys after the space would be lost: it comes once the typing pauses.
        spacesNoticeTimer_.schedule(kSpacesNoticeDelay, [this] { showTagsMayNotContainSpacesUI(); });
        text.remove(QChar(u' '));
        field.setText(text);
        // The table filters by what the field now holds.
        if (tagTableView_) tagTableView_->reloadData();
    }
    if (saveNewTagButton_) saveNewTagButton_->setEnabled(!text.isEmpty());
}

void PointDetailsViewController::showTagsMayNotContainSpacesUI() {
    auto alert = platform::AlertController::make(
        localizedString("Notice"),
        localizedString("Tags may not contain spaces. Please use underscores _ or CamelCase as in DiveBar."),
        platform::AlertController::Style::alert);
    alert->addAction(platform::AlertAction::make(
        localizedString("OK"), platform::AlertAction::Style::defaultValue, [] { QLLogInfo("OK Button"); }));
    present(alert, true, [] { QLLogInfo("display alertView animation completed"); });
}

// --- deleting a tag --------------------------------------------------------------------

std::shared_ptr<points::QuovaPointTag> PointDetailsViewController::tagFromButton(QWidget* view) const {
    platform::TableViewCell* cell = nullptr;
    for (QWidget* walk = view; walk && !cell; walk = walk->parentWidget()) {
        cell = qobject_cast<platform::TableViewCell*>(walk);
    }
    if (!cell) {
        QLLogDebug("Delete tag button: can't find concerned cell.");
        return nullptr;
    }
    if (!cell->textLabel()) {
        QLLogDebug("Delete tag button: can't retrieve tag from cell.");
        return nullptr;
    }
    const std::string text = cell->textLabel()->text().toStdString();
    // The row's own tag first: a lookup by title alone ignores letter case and
    // would pick "Bar" (perhaps a chip of this point) for the row "bar".
    for (const auto& tag : tagsForTagTable()) {
        if (tag->title() == text) return tag;
    }
    auto tag = points::QuovaPointTagStore::shared().tagWithTitle(text);
    if (!tag)
        QLLogDebug("Delete tag button: can't retrieve tag object for tag " + logging::debugQuoted(text) +
                   ".");
    return tag;
}

void PointDetailsViewController::tagRowDeleteButton(QWidget* sender) {
    QLLogInfo(whereIn(__func__, __FILE__, __LINE__));
    auto tag = tagFromButton(sender);
    if (!tag) return;
    const std::string titleFormat = localizedString("Delete Tag \"%@\"?");
    std::string title = titleFormat;
    if (const auto at = title.find("%@"); at != std::string::npos) title.replace(at, 2, tag->title());
    auto alert = platform::AlertController::make(
        title,
        localizedString("If you delete this tag, it will be removed from all places. This can't be undone."),
        platform::AlertController::Style::alert);
    alert->addAction(platform::AlertAction::make(localizedString("Delete Tag"),
                                                 platform::AlertAction::Style::destructive,
                                                 [this, alive = std::weak_ptr<int>(lifetime_), tag] {
                                                     if (alive.lock()) deleteTagEverywhere(tag);
                                                 }));
    alert->addAction(platform::AlertAction::make(localizedString("Cancel"),
                                                 platform::AlertAction::Style::defaultValue,
                                                 [] { QLLogInfo("DO NOT Delete Tag Button"); }));
    present(alert, true, [] { QLLogInfo("Display alert view animation completed for Delete Button?."); });
}

void PointDetailsViewController::deleteTagEverywhere(const std::shared_ptr<points::QuovaPointTag>& tag) {
    QLLogInfo("Delete Tag Button");
    if (!tag) return;
    auto& tagStore = points::QuovaPointTagStore::shared();
    // Canonically equivalent names are one tag: a "Café" typed composed on
    // one device and decomposed on another goes as a whole (a name in other
    // letter case is another tag here, as the table lists it apart).
    std::vector<std::shared_ptr<points::QuovaPointTag>> doomed{tag};
    if (const auto& stored = tagStore.tags()) {
        for (const auto& same : *stored) {
            if (same && same != tag && platform::text::canonicallyEqual(same->title(), tag->title()))
                doomed.push_back(same);
        }
    }
    // The tags are written first: a point whose file still names a deleted
    // tag shows nothing of it, while a tag whose deletion was not written
    // would come back at the next start with none of its points.
    std::vector<std::shared_ptr<points::QuovaPointTag>> deleted;
    for (const auto& each : doomed) {
        if (auto error = tagStore.deleteTag(each)) {
            if (deleted.empty()) {
                presentWriteFailure(*this, "Tag Not Deleted", *error, "The tag stays on its locations.",
                                    points::RecordKind::tag);
                return;
            }
            QLLogError("Tag " + logging::debugQuoted(each->title()) +
                       " not deleted: " + error->fullDescription());
            break;
        }
        deleted.push_back(each);
    }
    const auto isDeleted = [&](const std::string& identifier) {
        return std::any_of(deleted.begin(), deleted.end(),
                           [&](const auto& gone) { return sameIdentifier(identifier, gone->uuid()); });
    };

    auto& pointStore = points::QuovaMapPointStore::shared();
    auto mainVC = mainVC_.lock();
    const std::string version = points::quovaAppVersion();
    const platform::Date now = platform::Date::now();
    // A snapshot: writing a point must not disturb the walk over the store.
    const auto points = pointStore.allPoints();
    for (const auto& point : points) {
        if (!point || !point->tags()) continue;
        std::vector<std::string> kept;
        kept.reserve(point->tags()->size());
        // Identifiers are compared without letter case, as everywhere else a
        // point's tags are resolved: an upper-case reference to the tag must
        // go too, or the deleted tag comes back as a chip.
        for (const std::string& identifier : *point->tags()) {
            if (!isDeleted(identifier)) kept.push_back(identifier);
        }
        if (kept.size() == point->tags()->size()) continue;
        const auto tags = point->tags();
        const auto savedAt = point->lastSavedAt();
        const auto savedBy = point->lastSavedByAppVersion();
        point->setTags(std::move(kept));
        point->setLastSavedAt(now);
        point->setLastSavedByAppVersion(version);
        if (auto written = point->savePreservingLastModification(pointStore); !written.ok()) {
            // The file still names the tag; it is deleted, so nothing shows
            // it. The point in memory says what its file says.
            point->setTags(tags);
            point->setLastSavedAt(savedAt);
            point->setLastSavedByAppVersion(savedBy);
            continue;
        }
        if (point->deletedAt() || point->hiddenAt() || !mainVC) continue;
        auto* mainMap = mainVC->mainMapView();
        if (!mainMap) continue;
        if (auto halo = mainVC->haloForPoint(point)) mainMap->removeOverlay(halo);
        mainMap->removeAnnotation(mapscreen::QuovaMapPointAnnotation::forPoint(point));
        mainVC->addAnnotation(point);
    }
    if (tagTableReloadTimer_) tagTableReloadTimer_->invalidate();
    tagTableReloadTimer_ = platform::Timer::scheduled(
        0.1, false, [this, alive = std::weak_ptr<int>(lifetime_)](platform::Timer&) {
            if (alive.lock() && tagTableView_) tagTableView_->reloadData();
        });
}

// --- chips -----------------------------------------------------------------------------

void PointDetailsViewController::tagRemoveButtonPressed(const QString& title,
                                                        widgets::taglist::TagView* tagView,
                                                        widgets::taglist::TagFlowView* sender) {
    (void)tagView;
    if (!sender) return;
    QLLogDebug("Tag remove button pressed: " + logging::debugQuoted(title.toStdString()) + ", " +
               sender->objectName().toStdString());
    sender->removeTag(title);
    pointHasBeenEdited_ = true;
    markPointAsEdited();
    if (sender->allTags().empty()) showNoTagsState();
    applyConstraints();
    // The tag is offered in the table again.
    if (tagTableView_) tagTableView_->reloadData();
}

}  // namespace tervolo::pointscreens
