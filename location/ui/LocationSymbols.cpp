#include "location/ui/LocationSymbols.hpp"

#include <QtCore/qglobal.h>

// Outside any namespace, as the resource macro needs.
void initLocationSymbols() {
    static const bool done = [] {
        Q_INIT_RESOURCE(LocationSymbols);
        return true;
    }();
    (void)done;
}
