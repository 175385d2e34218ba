#pragma once

#include <QVariant>
#include <QWidget>

namespace platform {

// A widget that a presented screen's first focus passes over: a text view whose focus begins
// editing, which opening the screen must not do. Tab, Shift+Tab and a click still reach it.
// Main thread only.
inline void setSkipsFirstFocus(QWidget& widget, bool skips) {
    widget.setProperty("platform.skipsFirstFocus", skips);
}
inline bool skipsFirstFocus(const QWidget& widget) {
    return widget.property("platform.skipsFirstFocus").toBool();
}

}  // namespace platform
