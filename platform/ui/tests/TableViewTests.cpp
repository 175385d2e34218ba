#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "platform/foundation/OSLog.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/TableView.hpp"
#include "platform/ui/TableViewSectionIndexBar.hpp"
#include "platform/ui/TableViewSectionRows.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/VirtualClockScope.hpp"

using platform::IndexPath;
using platform::TableView;
using platform::TableViewCell;

namespace {

class CountingCell : public TableViewCell {
  public:
    explicit CountingCell(platform::TableViewCell::Style style = platform::TableViewCell::Style::Subtitle)
        : TableViewCell(style, QStringLiteral("Row")) {}
    void prepareForReuse() override {
        TableViewCell::prepareForReuse();
        ++prepared;
    }
    int prepared = 0;
};

// Sections of texts; deletes rows when the table commits a delete, as a list screen does.
struct Rows : platform::TableViewDataSource, platform::TableViewDelegate {
    std::vector<QString> titles;
    std::vector<std::vector<QString>> rows;
    QStringList index;
    bool editable = true;
    bool named = false;               // rows are named by their texts (identifierForRow)
    std::vector<IndexPath> asked;     // cellForRow calls
    std::vector<IndexPath> selected;  // didSelectRow calls
    std::map<const TableViewCell*, IndexPath> shown;

    int numberOfSections(TableView&) override { return static_cast<int>(rows.size()); }
    int numberOfRows(TableView&, int section) override { return static_cast<int>(rows[section].size()); }
    TableViewCell* cellForRow(TableView& table, IndexPath ip) override {
        asked.push_back(ip);
        auto* cell = table.dequeueReusableCell(QStringLiteral("Row"), ip);
        cell->textLabel()->setText(rows[ip.section][ip.row]);
        if (cell->detailTextLabel())
            cell->detailTextLabel()->setText(QStringLiteral("%1 km").arg(ip.row * 1.5));
        shown[cell] = ip;
        return cell;
    }
    QString titleForHeader(TableView&, int section) override {
        return section < static_cast<int>(titles.size()) ? titles[section] : QString();
    }
    QStringList sectionIndexTitles(TableView&) override { return index; }
    bool canEditRow(TableView&, IndexPath) override { return editable; }
    void commitDelete(TableView& table, IndexPath ip) override {
        rows[ip.section].erase(rows[ip.section].begin() + ip.row);
        table.deleteRows({ip});
    }
    void didSelectRow(TableView&, IndexPath ip) override { selected.push_back(ip); }
    std::optional<std::string> identifierForRow(TableView&, IndexPath ip) override {
        if (!named) return std::nullopt;
        return rows[ip.section][ip.row].toStdString();
    }

    static std::shared_ptr<Rows> numbered(int sections, int perSection) {
        auto made = std::make_shared<Rows>();
        for (int s = 0; s < sections; ++s) {
            made->titles.push_back(sections > 1 ? QString(QChar('A' + s)) : QString());
            made->rows.emplace_back();
            for (int r = 0; r < perSection; ++r)
                made->rows.back().push_back(QStringLiteral("Point %1.%2").arg(s).arg(r));
        }
        return made;
    }
};

class TableViewTest : public widgetkit_test::WidgetTest {
  protected:
    void SetUp() override {
        WidgetTest::SetUp();
        table = std::make_unique<TableView>();
        table->resize(320, 240);
        table->registerCell(QStringLiteral("Row"), [] { return new CountingCell(); });
        table->show();
    }
    void TearDown() override {
        table.reset();
        WidgetTest::TearDown();
    }
    void use(std::shared_ptr<Rows> source) {
        rows = std::move(source);
        table->setDelegate(rows);
        table->setDataSource(rows);
    }
    std::vector<IndexPath> visible() const { return table->indexPathsForVisibleRows(); }

    std::unique_ptr<TableView> table;
    std::shared_ptr<Rows> rows;
};

}  // namespace

TEST_F(TableViewTest, ScrolledOffCellsAreReusedAfterPrepareForReuse) {
    use(Rows::numbered(1, 1000));
    const int inView = static_cast<int>(visible().size());
    EXPECT_EQ(inView, static_cast<int>(std::ceil(table->viewport()->height() / 44.0)));
    TableViewCell* firstCell = table->cellForRow({0, 0});
    ASSERT_NE(firstCell, nullptr);

    table->setContentOffset(44 * 10);
    EXPECT_EQ(table->cellForRow({0, 0}), nullptr);
    auto* reused = static_cast<CountingCell*>(firstCell);
    EXPECT_TRUE(reused->isVisible());  // the first row's cell now shows another row
    EXPECT_EQ(reused->prepared, 1);
    EXPECT_GE(rows->shown[firstCell].row, 10);
    EXPECT_EQ(table->cellForRow(rows->shown[firstCell]), firstCell);
    EXPECT_EQ(firstCell->textLabel()->text(), rows->rows[0][rows->shown[firstCell].row]);

    // Scrolling through everything makes no more cells than fit in view (plus one partly shown), and
    // a spare cell never shows inside the viewport.
    for (double y = 0; y < table->contentHeight(); y += 37) {
        table->setContentOffset(y);
        for (auto* cell : table->viewport()->findChildren<TableViewCell*>()) {
            if (cell->isHidden() || !cell->geometry().intersects(table->viewport()->rect())) continue;
            ASSERT_EQ(table->cellForRow(rows->shown[cell]), cell) << "at offset " << y;
        }
    }
    EXPECT_LE(table->cellsCreated(), inView + 1);
    EXPECT_EQ(visible().back(), (IndexPath{0, 999}));
    EXPECT_DOUBLE_EQ(table->contentHeight(), 44 * 1000);
}

// A spare cell with a button is hidden, not parked above the rows, so Tab cannot reach it.
TEST_F(TableViewTest, SpareCellsThatTakeFocusAreHidden) {
    table->registerCell(QStringLiteral("Row"), [] {
        auto* cell = new CountingCell();
        cell->setAccessoryWidget(new QPushButton(QStringLiteral("Delete")));
        return cell;
    });
    use(Rows::numbered(1, 100));
    for (double y = 0; y < 2000; y += 23) {
        table->setContentOffset(y);
        for (auto* cell : table->viewport()->findChildren<TableViewCell*>()) {
            const bool inUse = table->cellForRow(rows->shown[cell]) == cell;
            if (!inUse) {
                EXPECT_TRUE(cell->isHidden()) << "at offset " << y;
            }
        }
    }
}

TEST_F(TableViewTest, BatchUpdatesMoveCellsAndABadBatchReloadsAndLogs) {
    use(Rows::numbered(2, 4));
    table->selectRow(IndexPath{0, 2});
    TableViewCell* third = table->cellForRow({0, 2});
    rows->asked.clear();

    // Valid: delete row 0, insert a row at the end; the old row 2 is now row 1 with its cell.
    table->performBatchUpdates([&] {
        rows->rows[0].erase(rows->rows[0].begin());
        rows->rows[0].push_back(QStringLiteral("Added"));
        table->deleteRows({{0, 0}});
        table->insertRows({{0, 3}});
    });
    EXPECT_EQ(table->numberOfRows(0), 4);
    EXPECT_EQ(table->cellForRow({0, 1}), third);
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 1}));
    EXPECT_TRUE(third->isSelected());
    for (const auto& ip : rows->asked) EXPECT_EQ(ip, (IndexPath{0, 3})) << "only the new row is asked for";

    // Sections: delete the first, insert one at the end.
    table->performBatchUpdates([&] {
        rows->rows.erase(rows->rows.begin());
        rows->titles.erase(rows->titles.begin());
        rows->rows.push_back({QStringLiteral("x")});
        rows->titles.push_back(QStringLiteral("C"));
        table->deleteSections({0});
        table->insertSections({1});
    });
    EXPECT_EQ(table->numberOfSections(), 2);
    EXPECT_EQ(table->numberOfRows(1), 1);
    EXPECT_FALSE(table->indexPathForSelectedRow().has_value());

    // Invalid: the data source lost two rows, the batch deletes one.
    auto capture = platform::OSLogCapture::install();
    rows->rows[0].resize(2);
    rows->asked.clear();
    table->deleteRows({{0, 3}});
    capture->uninstall();
    ASSERT_EQ(capture->records().size(), 1u);
    EXPECT_EQ(capture->records()[0].category, "tableview");
    EXPECT_NE(capture->texts()[0].find("section 0 has 2 rows"), std::string::npos) << capture->texts()[0];
    EXPECT_EQ(table->numberOfRows(0), 2);
    EXPECT_FALSE(rows->asked.empty());  // reloaded
    EXPECT_EQ(visible().size(), 2u + 1u);
}

// The last row of a section goes with its section, whether the batch names the row too or not; a row
// the deleted section never had is still a bad batch.
TEST_F(TableViewTest, ARowDeletedWithItsSectionIsAValidBatch) {
    struct Case {
        const char* name;
        std::vector<IndexPath> rows;
        bool valid;
    };
    const Case cases[] = {
        {"the section alone", {}, true},
        {"the section and its last row", {{1, 0}}, true},
        {"the section and a row it never had", {{1, 1}}, false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        use(Rows::numbered(3, 1));
        rows->asked.clear();
        auto capture = platform::OSLogCapture::install();
        table->performBatchUpdates([&] {
            rows->rows.erase(rows->rows.begin() + 1);
            rows->titles.erase(rows->titles.begin() + 1);
            table->deleteRows(test.rows);
            table->deleteSections({1});
        });
        capture->uninstall();
        EXPECT_EQ(capture->records().empty(), test.valid);
        EXPECT_EQ(rows->asked.empty(), test.valid) << "a bad batch reloads";
        ASSERT_EQ(table->numberOfSections(), 2);
        std::vector<QString> shown;
        for (const IndexPath& ip : visible()) shown.push_back(table->cellForRow(ip)->textLabel()->text());
        EXPECT_EQ(shown, (std::vector<QString>{QStringLiteral("Point 0.0"), QStringLiteral("Point 2.0")}));
    }
}

// A Delete menu waits for the user while the rows change under it: named rows are found again by
// name (or not at all once gone); rows known by place only take no answer after a change.
TEST_F(TableViewTest, ADeleteAnsweredAfterTheRowsChangedDeletesTheRowAskedAboutOrNothing) {
    struct Case {
        const char* name;
        bool named;
        bool removeAsked;  // the asked row leaves the list before the answer
        std::vector<QString> left;
    };
    const Case cases[] = {
        {"named, moved", true, false, {"c", "b"}},
        {"named, gone", true, true, {"c", "b"}},
        {"by place only", false, false, {"c", "b", "a"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto source = std::make_shared<Rows>();
        source->rows = {{"a", "b", "c"}};
        source->named = test.named;
        use(source);
        QMenu* menu = table->contextMenuForRow({0, 0});  // about "a"
        ASSERT_NE(menu, nullptr);
        // Re-sorted (and perhaps filtered) while the menu is open.
        rows->rows[0] =
            test.removeAsked ? std::vector<QString>{"c", "b"} : std::vector<QString>{"c", "b", "a"};
        table->reloadData();
        menu->actions()[0]->trigger();
        delete menu;
        EXPECT_EQ(rows->rows[0], test.left);
        EXPECT_EQ(table->numberOfRows(0), static_cast<int>(test.left.size()));
    }
}

TEST_F(TableViewTest, AReloadKeepsTheHighlightOnItsNamedRowOrDropsIt) {
    struct Case {
        const char* name;
        bool named;
        std::vector<QString> after;  // the rows the reload finds
        std::optional<IndexPath> highlight;
    };
    // "b" is highlighted at {0, 1} before every reload.
    const Case cases[] = {
        {"named, moved", true, {"c", "a", "d", "b"}, IndexPath{0, 3}},
        {"named, same place", true, {"a", "b", "c"}, IndexPath{0, 1}},
        // Not the row now at its old place ("c"), which the user never chose.
        {"named, gone", true, {"a", "c", "d"}, std::nullopt},
        {"by place only", false, {"c", "a", "d", "b"}, std::nullopt},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto source = std::make_shared<Rows>();
        source->rows = {{"a", "b", "c", "d"}};
        source->named = test.named;
        use(source);
        table->selectRow(IndexPath{0, 1});
        rows->rows[0] = test.after;
        table->reloadData();
        EXPECT_EQ(table->indexPathForSelectedRow(), test.highlight);
        for (const IndexPath& path : visible())
            EXPECT_EQ(table->cellForRow(path)->isSelected(), test.highlight == path) << path.row;
        EXPECT_EQ(rows->selected, std::vector<IndexPath>{});  // the delegate is not told
    }

    // A highlighted row in view stays in view wherever the reload moves it; one the user scrolled
    // away from does not pull the list back.
    auto source = Rows::numbered(1, 100);
    source->named = true;
    use(source);
    table->selectRow(IndexPath{0, 2});
    std::reverse(rows->rows[0].begin(), rows->rows[0].end());
    table->reloadData();
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 97}));
    ASSERT_NE(table->cellForRow({0, 97}), nullptr);
    EXPECT_TRUE(table->cellForRow({0, 97})->isSelected());
    table->setContentOffset(0);
    std::reverse(rows->rows[0].begin(), rows->rows[0].end());
    table->reloadData();
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 2}));
    EXPECT_EQ(table->contentOffset(), 0);
    table->setContentOffset(44 * 50);
    std::reverse(rows->rows[0].begin(), rows->rows[0].end());
    table->reloadData();
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 97}));
    EXPECT_EQ(table->contentOffset(), 44 * 50);
}

TEST_F(TableViewTest, DeleteThroughContextMenuAndDeleteKey) {
    use(Rows::numbered(1, 5));
    QMenu* menu = table->contextMenuForRow({0, 1});
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Delete"));
    menu->actions()[0]->trigger();
    delete menu;
    EXPECT_EQ(table->numberOfRows(0), 4);
    EXPECT_EQ(rows->rows[0][1], QStringLiteral("Point 0.2"));

    // A click selects (the delegate hears of it); the Delete key shows the row's Delete menu, and
    // only its confirmation (Return) deletes; Escape leaves the row alone.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(50, 44 * 2 + 10));
    EXPECT_EQ(rows->selected, (std::vector<IndexPath>{IndexPath{0, 2}}));
    QTest::keyClick(table.get(), Qt::Key_Delete);
    auto* confirmation = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(confirmation, nullptr);
    EXPECT_EQ(table->numberOfRows(0), 4);
    QTest::keyClick(confirmation, Qt::Key_Escape);
    EXPECT_EQ(table->numberOfRows(0), 4);
    QTest::keyClick(table.get(), Qt::Key_Delete);
    confirmation = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(confirmation, nullptr);
    QTest::keyClick(confirmation, Qt::Key_Return);
    EXPECT_EQ(table->numberOfRows(0), 3);
    EXPECT_EQ(rows->rows[0][2], QStringLiteral("Point 0.4"));

    // Up and Down move the highlight without choosing (at the ends it stays); Return and Enter
    // choose the highlighted row.
    rows->selected.clear();
    table->selectRow(IndexPath{0, 0});
    QTest::keyClick(table.get(), Qt::Key_Down);
    QTest::keyClick(table.get(), Qt::Key_Down);
    QTest::keyClick(table.get(), Qt::Key_Up);
    EXPECT_EQ(rows->selected, std::vector<IndexPath>{});
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 1}));
    ASSERT_NE(table->cellForRow({0, 1}), nullptr);
    EXPECT_TRUE(table->cellForRow({0, 1})->isSelected());
    QTest::keyClick(table.get(), Qt::Key_Return);
    QTest::keyClick(table.get(), Qt::Key_Up);
    QTest::keyClick(table.get(), Qt::Key_Up);
    QTest::keyClick(table.get(), Qt::Key_Enter);
    EXPECT_EQ(rows->selected, (std::vector<IndexPath>{{0, 1}, {0, 0}}));

    rows->editable = false;
    EXPECT_EQ(table->contextMenuForRow({0, 0}), nullptr);
    table->selectRow(IndexPath{0, 0});
    QTest::keyClick(table.get(), Qt::Key_Backspace);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(table->numberOfRows(0), 3);
}

TEST_F(TableViewTest, IndexBarAndScrollPositions) {
    tervolo::testsupport::VirtualClockScope time;
    auto source = Rows::numbered(26, 6);
    for (int s = 0; s < 26; ++s) source->index << QString(QChar('A' + s));
    use(source);
    auto* bar = table->sectionIndexBar();
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(
        table->viewport()->width() + platform::TableViewSectionIndexBar::kWidth + 2 * table->frameWidth(),
        table->width());

    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->centreOf(12));  // "M"
    EXPECT_EQ(table->contentOffset(), table->rectForHeader(12).top());

    // Headers stay pinned at the top while their section shows, and the next one pushes them up.
    auto headerAtTop = [&] {
        for (auto* child : table->viewport()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (!qobject_cast<TableViewCell*>(child) && child->isVisible() && child->y() <= 0 &&
                child->y() > -28)
                return child->y();
        }
        return 1000;
    };
    table->setContentOffset(table->rectForHeader(12).top() + 100);  // inside section 12
    EXPECT_EQ(headerAtTop(), 0);
    table->setContentOffset(table->rectForHeader(13).top() - 10);  // section 13's header 10 px below the top
    EXPECT_EQ(headerAtTop(), -18);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->centreOf(25));  // "Z"
    EXPECT_EQ(table->contentOffset(), table->rectForHeader(25).top());
    table->setRowHeight(20);  // now the last section cannot reach the top: as far as the content goes
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->centreOf(25));
    EXPECT_EQ(table->contentOffset(), table->verticalScrollBar()->maximum());
    EXPECT_LT(table->contentOffset(), table->rectForHeader(25).top());
    table->setRowHeight(44);

    const double h = table->viewport()->height();
    const QRectF row = table->rectForRow({5, 3});
    struct Case {
        TableView::ScrollPosition position;
        double offset;
    };
    const Case cases[] = {
        {TableView::ScrollPosition::Top, row.top()},
        {TableView::ScrollPosition::Middle, row.center().y() - h / 2},
        {TableView::ScrollPosition::Bottom, row.bottom() - h},
    };
    for (const auto& c : cases) {
        table->scrollToRow({5, 3}, c.position);
        EXPECT_NEAR(table->contentOffset(), c.offset, 0.5);
    }
    // Animated: on its way after 0.15 s, there after 0.3 s.
    table->setContentOffset(0);
    table->scrollToRow({5, 3}, TableView::ScrollPosition::Top, true);
    time.advance(0.15);
    EXPECT_GT(table->contentOffset(), 0);
    EXPECT_LT(table->contentOffset(), row.top());
    time.advance(0.15);
    EXPECT_EQ(table->contentOffset(), row.top());
}

TEST_F(TableViewTest, AutomaticHeightsAreMeasuredAsRowsShow) {
    auto source = Rows::numbered(1, 30);
    source->rows[0][1] =
        QStringLiteral("A long title that wraps over several lines in a narrow table, as point names do");
    table->registerCell(QStringLiteral("Row"), [] {
        auto* cell = new CountingCell(platform::TableViewCell::Style::Default);
        cell->textLabel()->setWordWrap(true);
        return cell;
    });
    table->setEstimatedRowHeight(85);
    table->setRowHeight(TableView::kAutomatic);
    use(source);
    const double shortRow = table->rectForRow({0, 0}).height();
    const double longRow = table->rectForRow({0, 1}).height();
    EXPECT_LT(shortRow, 60);
    EXPECT_GT(longRow, shortRow * 1.5);
    EXPECT_EQ(table->rectForRow({0, 29}).height(), 85);  // not shown yet: the estimate
    EXPECT_EQ(table->rectForRow({0, 1}).top(), shortRow);
    EXPECT_EQ(table->cellForRow({0, 1})->height(), static_cast<int>(longRow));
}

// With automatic heights the rows around the target are measured only when they show, and their
// heights differ from the estimate: the row asked for still ends up centred, within a row's height.
TEST_F(TableViewTest, ScrollToRowMiddleCentresTheRowWithAutomaticHeights) {
    auto source = Rows::numbered(1, 1000);
    // Every third row wraps over several lines; the estimate fits neither kind.
    for (int r = 0; r < 1000; r += 3)
        source->rows[0][r] =
            QStringLiteral("Point %1, a long name that wraps over lines in a narrow table").arg(r);
    table->registerCell(QStringLiteral("Row"), [] {
        auto* cell = new CountingCell(platform::TableViewCell::Style::Default);
        cell->textLabel()->setWordWrap(true);
        return cell;
    });
    table->setEstimatedRowHeight(85);
    table->setRowHeight(TableView::kAutomatic);
    use(source);
    struct Case {
        int row;
        bool animated;
    };
    const Case cases[] = {{500, false}, {120, false}, {900, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        tervolo::testsupport::VirtualClockScope time;
        table->scrollToRow({0, c.row}, TableView::ScrollPosition::Middle, c.animated);
        time.advance(1);
        const QRectF rect = table->rectForRow({0, c.row});
        const double middle = table->contentOffset() + table->viewport()->height() / 2.0;
        EXPECT_LE(std::abs(rect.center().y() - middle), rect.height() / 2 + 1);
        // The cell on screen at the middle is the row asked for.
        const QPoint centre(10, table->viewport()->height() / 2);
        const auto* cell = table->cellForRow({0, c.row});
        ASSERT_NE(cell, nullptr);
        EXPECT_TRUE(cell->geometry().adjusted(0, -1, 0, 1).contains(centre))
            << cell->geometry().top() << "…" << cell->geometry().bottom();
    }
}

// Rows take their colours from the palette: text on the row, and the detail line, read at 4.5:1 or
// more selected or not, in a light and a dark palette (backgrounds probed in the picture).
TEST_F(TableViewTest, RowsReadInLightAndDarkPalettes) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        widgetkit_test::PaletteScope palette(dark);
        use(Rows::numbered(1, 5));
        table->selectRow(IndexPath{0, 1});
        QApplication::processEvents();
        const QImage image = widgetkit_test::render(*table);
        widgetkit_test::saveScreenshot(image,
                                       QStringLiteral("table_view_rows_%1").arg(dark ? "dark" : "light"));
        for (const int row : {0, 1}) {
            const TableViewCell* cell = table->cellForRow({0, row});
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell->isSelected(), row == 1);
            const QPoint spot = cell->mapTo(table.get(), QPoint(cell->width() - 30, cell->height() / 2));
            const QColor background = image.pixelColor(spot);
            for (const QLabel* label : {cell->textLabel(), cell->detailTextLabel()}) {
                const QColor text = label->palette().color(label->foregroundRole());
                EXPECT_GE(widgetkit_test::contrastRatio(text, background), 4.5)
                    << "row " << row << ": " << text.name().toStdString() << " on "
                    << background.name().toStdString();
            }
        }
    }
}

TEST_F(TableViewTest, Screenshot) {
    auto source = Rows::numbered(3, 3);
    source->index =
        QStringList{QStringLiteral("🗑"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    source->titles = {QStringLiteral("Cafés"), QStringLiteral("Harbours"), QStringLiteral("Hills")};
    use(source);
    table->selectRow(IndexPath{0, 1});
    QApplication::processEvents();
    widgetkit_test::saveScreenshot(widgetkit_test::render(*table), QStringLiteral("table_view_sections"));

    use(Rows::numbered(0, 0));
    widgetkit_test::saveScreenshot(widgetkit_test::render(*table), QStringLiteral("table_view_empty"));
    EXPECT_TRUE(visible().empty());
    EXPECT_FALSE(table->sectionIndexBar()->isVisible());
}

// Row offsets the same whether every row shares one height (nothing stored per row) or not.
TEST(TableViewSectionRows, OffsetsThroughUniformAndPerRowHeights) {
    platform::TableViewSectionRows rows;
    rows.assign(5, [](int) { return 10.0; });
    EXPECT_EQ(rows.total(), 50);
    EXPECT_EQ(rows.rowAt(25), 2);
    EXPECT_EQ(rows.rowAt(-5), 0);
    EXPECT_EQ(rows.rowAt(500), 4);
    rows.insert(5, 10);  // still uniform
    rows.erase(0);
    EXPECT_EQ(rows.count(), 5);
    EXPECT_FALSE(rows.setMeasured(1, 10));
    EXPECT_TRUE(rows.setMeasured(1, 30));  // now per row
    rows.insert(0, -85);                   // an estimate
    rows.recompute();
    EXPECT_FALSE(rows.isMeasured(0));
    EXPECT_EQ(rows.count(), 6);
    const double expected[] = {0, 85, 95, 125, 135, 145};
    for (int r = 0; r < 6; ++r) EXPECT_EQ(rows.offset(r), expected[r]) << r;
    EXPECT_EQ(rows.total(), 155);
    EXPECT_EQ(rows.rowAt(100), 2);
    EXPECT_EQ(rows.rowAt(125), 3);
    rows.assign(0, [](int) { return 10.0; });
    EXPECT_EQ(rows.rowAt(0), -1);
    EXPECT_EQ(rows.total(), 0);
}
