#include "platform/ui/ReadablePlaceholder.hpp"

#include <QEvent>
#include <QLineEdit>
#include <QObject>

#include "platform/ui/Contrast.hpp"

namespace platform {

namespace {

constexpr double kPlaceholderWeight = 0.5;
constexpr double kPlaceholderContrast = 4.5;
constexpr const char* kWatcherName = "readablePlaceholderWatcher";

void applyReadablePlaceholder(QLineEdit& field) {
    QPalette palette = field.palette();
    bool changed = false;
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        // Text and base stay inherited; only the placeholder role is set, so a new theme's text
        // and base reach the field and the placeholder follows them here.
        const QColor wanted =
            legibleMix(palette.color(group, QPalette::Text), palette.color(group, QPalette::Base),
                       kPlaceholderWeight, kPlaceholderContrast);
        if (palette.color(group, QPalette::PlaceholderText) != wanted) {
            palette.setColor(group, QPalette::PlaceholderText, wanted);
            changed = true;
        }
    }
    // Setting the palette sends one more palette change, which then finds nothing to change.
    if (changed) field.setPalette(palette);
}

class PlaceholderPaletteWatcher : public QObject {
  public:
    explicit PlaceholderPaletteWatcher(QLineEdit& field) : QObject(&field), field_(field) {
        setObjectName(QString::fromLatin1(kWatcherName));
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &field_ && event->type() == QEvent::PaletteChange) applyReadablePlaceholder(field_);
        return false;
    }

  private:
    QLineEdit& field_;
};

}  // namespace

QColor readablePlaceholderColor(const QPalette& palette) {
    return legibleMix(palette.color(QPalette::Text), palette.color(QPalette::Base), kPlaceholderWeight,
                      kPlaceholderContrast);
}

void keepPlaceholderReadable(QLineEdit& field) {
    if (field.findChild<QObject*>(QString::fromLatin1(kWatcherName), Qt::FindDirectChildrenOnly) != nullptr)
        return;
    field.installEventFilter(new PlaceholderPaletteWatcher(field));
    applyReadablePlaceholder(field);
}

}  // namespace platform
