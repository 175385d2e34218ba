#include "bridge/QuovaNSSearchField.hpp"

#include <QMetaObject>
#include <QSizePolicy>

namespace tervolo::bridge {

QuovaNSSearchField::QuovaNSSearchField(QWidget* parent) : QLineEdit(parent) {
    setObjectName("QuovaNSSearchField");
    setPlaceholderText(tr("Search"));
    setClearButtonEnabled(true);
    // The width is the field's own; the height is the toolbar row's.
    setFixedWidth(kWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    connect(this, &QLineEdit::returnPressed, this, &QuovaNSSearchField::sendAction);
    connect(this, &QLineEdit::textChanged, this, &QuovaNSSearchField::textDidChange);
}

void QuovaNSSearchField::setTarget(QObject* target, const char* action) {
    target_ = target;
    action_ = action != nullptr ? QByteArray(action) : QByteArray();
}

void QuovaNSSearchField::sendAction() {
    if (target_.isNull() || action_.isEmpty()) return;
    QMetaObject::invokeMethod(target_.data(), action_.constData(), Qt::DirectConnection,
                              Q_ARG(QObject*, this));
}

void QuovaNSSearchField::textDidChange(const QString& text) {
    if (!searching_ && !text.isEmpty()) {
        searching_ = true;
        if (!delegate_.isNull()) {
            QMetaObject::invokeMethod(delegate_.data(), "searchFieldDidStartSearching", Qt::DirectConnection,
                                      Q_ARG(QObject*, this));
        }
    } else if (searching_ && text.isEmpty()) {
        searching_ = false;
        if (!delegate_.isNull()) {
            QMetaObject::invokeMethod(delegate_.data(), "searchFieldDidEndSearching", Qt::DirectConnection,
                                      Q_ARG(QObject*, this));
        }
        // Emptying the field (its clear button) is a search for nothing.
        sendAction();
    }
}

}  // namespace tervolo::bridge
