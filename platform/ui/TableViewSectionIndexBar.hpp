#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

namespace platform {

// The slim column of section titles beside a table's rows ("🗑", letters, …). Clicking or dragging over
// a title reports its index. Titles are spread evenly from the top, each itemHeight() high, and
// centred vertically when there is spare room; where the bar is too short for every title at its
// natural spacing, the spacing and then the font shrink so that all of them stay inside. Main thread
// only.
class TableViewSectionIndexBar : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidth = 22;
    // The natural height of a title's slot, in points.
    static constexpr int kItemHeight = 16;

    explicit TableViewSectionIndexBar(QWidget* parent = nullptr);

    void setTitles(const QStringList& titles);
    const QStringList& titles() const { return titles_; }
    void setOnSelect(std::function<void(int index, const QString& title)> onSelect) {
        onSelect_ = std::move(onSelect);
    }
    // The title index at a y in the bar's coordinates (clamped to the titles), -1 without titles.
    int indexAt(double y) const;
    // The centre of a title in the bar's coordinates (tests click there).
    QPoint centreOf(int index) const;

    QSize sizeHint() const override;

    // The height of one title's slot at the bar's current height (kItemHeight, or less when the titles
    // would not all fit), and the font the titles are drawn in there.
    double itemHeight() const;
    QFont titleFont() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    double firstTop() const;
    void choose(double y);

    QStringList titles_;
    std::function<void(int, const QString&)> onSelect_;
    int lastChosen_ = -1;
};

}  // namespace platform
