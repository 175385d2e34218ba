#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QLabel;
class QHBoxLayout;

namespace platform {

// One row of a TableView. Cells are made by the factory registered for their reuse identifier and
// handed out again for other rows once they scroll away: prepareForReuse runs before a cell is
// handed out again, so a subclass resets there whatever it set for its previous row. Subclasses may
// add their own widgets to contentLayout(). Main thread only.
class TableViewCell : public QWidget {
    Q_OBJECT

  public:
    enum class Style {
        Default,   // one line of text
        Subtitle,  // a title with a smaller detail line under it
    };

    TableViewCell(Style style, QString reuseIdentifier, QWidget* parent = nullptr);
    ~TableViewCell() override;

    const QString& reuseIdentifier() const { return reuseIdentifier_; }
    QLabel* textLabel() const { return textLabel_; }
    // Null in the default style.
    QLabel* detailTextLabel() const { return detailTextLabel_; }
    // A widget at the row's right end (a button, a checkmark); the cell owns it. Null removes it.
    void setAccessoryWidget(QWidget* widget);
    QWidget* accessoryWidget() const { return accessory_; }
    QHBoxLayout* contentLayout() const { return layout_; }

    // Resets the cell for another row: clears the selection (the data source sets the texts anew).
    // Subclasses that override it call this one too.
    virtual void prepareForReuse();
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected);
    // How many times the cell has been handed out for a row (tests and diagnostics).
    int useCount() const { return useCount_; }
    // The row's colours now, from its palette: base and text, or highlight and highlighted text while
    // selected.
    QColor backgroundColor() const;
    QColor textColor() const;
    // A row that stands for something no longer in effect (a deleted entry): its main text takes the
    // quieter colour of the detail line (still 4.5:1) and both are struck through.
    void setDimmed(bool dimmed);
    bool isDimmed() const { return dimmed_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void applyColors();
    friend class TableView;
    QString reuseIdentifier_;
    QHBoxLayout* layout_;
    QLabel* textLabel_;
    QLabel* detailTextLabel_ = nullptr;
    QWidget* accessory_ = nullptr;
    bool selected_ = false;
    bool dimmed_ = false;
    int useCount_ = 0;
};

}  // namespace platform
