// The shared test headers, plus the Qt Widgets headers of the screen and
// widget tests.
#include "TestHeaders.hpp"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QObject>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QString>
#include <QWidget>
