#pragma once

#include <QByteArray>
#include <QLineEdit>
#include <QPointer>

namespace tervolo::bridge {

// The toolbar's search field: a line edit with a search placeholder and a
// clear button, 300 points wide and as high as the toolbar's row gives it.
// It sends its search (Return, or the clear button) to its own target and
// action, and tells its delegate when a search starts (the first letter
// typed) and ends (the field emptied). `finalTarget` and `finalAction` are
// kept for the program and not used. Main thread only.
class QuovaNSSearchField : public QLineEdit {
    Q_OBJECT

  public:
    static constexpr int kWidth = 300;  // points

    explicit QuovaNSSearchField(QWidget* parent = nullptr);

    QObject* finalTarget() const { return finalTarget_.data(); }
    void setFinalTarget(QObject* target) { finalTarget_ = target; }
    const QByteArray& finalAction() const { return finalAction_; }
    void setFinalAction(QByteArray action) { finalAction_ = std::move(action); }

    // The field's own target and action: a slot of `target` taking the
    // sender (QObject*), called with this field.
    void setTarget(QObject* target, const char* action);
    // Its delegate gets searchFieldDidStartSearching / searchFieldDidEndSearching
    // slots called with this field.
    void setSearchDelegate(QObject* delegate) { delegate_ = delegate; }

    // The platform's settings; the field always sends the whole string, when
    // the search is confirmed.
    bool sendsWholeSearchString() const { return sendsWholeSearchString_; }
    void setSendsWholeSearchString(bool sends) { sendsWholeSearchString_ = sends; }
    bool sendsSearchStringImmediately() const { return sendsSearchStringImmediately_; }
    void setSendsSearchStringImmediately(bool sends) { sendsSearchStringImmediately_ = sends; }

  private:
    void sendAction();
    void textDidChange(const QString& text);

    QPointer<QObject> finalTarget_;
    QByteArray finalAction_;
    QPointer<QObject> target_;
    QByteArray action_;
    QPointer<QObject> delegate_;
    bool sendsWholeSearchString_ = false;
    bool sendsSearchStringImmediately_ = false;
    bool searching_ = false;
};

}  // namespace tervolo::bridge
