#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/NavigationItem.hpp"
#include "platform/ui/NavigationObservers.hpp"

class QGridLayout;
class QLabel;

namespace platform {

// The bar above a navigation stack: the back button (unless the top item
// hides it or has left items), the top item's left buttons, its title or
// title view centred, and its right buttons. It watches the items it shows
// and redraws on every change. Appearance values are stored and drawn
// plainly (background colour, title font and colour; large titles are a
// larger title font in the same height). A top item's search field shows in a
// second row, which makes the bar taller. Main thread only; sizes in points.
class NavigationBar : public QWidget {
  public:
    // The platform's bar height, which screens use for their own layout.
    static constexpr int kDefaultHeight = 44;

    struct TitleTextAttributes {
        std::optional<QFont> font;
        std::optional<QColor> foregroundColor;
        bool operator==(const TitleTextAttributes&) const = default;
    };
    struct Appearance {
        std::optional<QColor> backgroundColor;
        TitleTextAttributes titleTextAttributes;
        TitleTextAttributes largeTitleTextAttributes;
        bool operator==(const Appearance&) const = default;
    };

    // The look every bar made from now on starts with (the platform's
    // appearance proxy): each value that is set replaces the bar's default.
    // Bars that already exist keep theirs. Main thread only.
    struct AppearanceProxy {
        std::optional<QColor> barTintColor;
        std::optional<TitleTextAttributes> titleTextAttributes;
        std::optional<bool> translucent;
        bool operator==(const AppearanceProxy&) const = default;
    };
    static AppearanceProxy& appearance();

    explicit NavigationBar(QWidget* parent = nullptr);
    ~NavigationBar() override;

    // Bottom first; the last is the top item, the one below it the back item.
    void setItems(std::vector<std::shared_ptr<NavigationItem>> items);
    const std::vector<std::shared_ptr<NavigationItem>>& items() const { return items_; }
    std::shared_ptr<NavigationItem> topItem() const { return items_.empty() ? nullptr : items_.back(); }
    std::shared_ptr<NavigationItem> backItem() const {
        return items_.size() < 2 ? nullptr : items_[items_.size() - 2];
    }
    // Runs when the back button is clicked (the navigation controller pops).
    void setBackAction(std::function<void()> action) { backAction_ = std::move(action); }

    // Colour of the buttons' text and images.
    QColor tintColor() const { return tintColor_; }
    void setTintColor(QColor color);
    std::optional<QColor> barTintColor() const { return barTintColor_; }
    void setBarTintColor(std::optional<QColor> color);
    const TitleTextAttributes& titleTextAttributes() const { return titleTextAttributes_; }
    void setTitleTextAttributes(TitleTextAttributes attributes);
    // A translucent bar lets what lies below it show through; an opaque one
    // paints its background fully. Translucent by default.
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool translucent);
    bool prefersLargeTitles() const { return prefersLargeTitles_; }
    void setPrefersLargeTitles(bool prefers);
    const Appearance& standardAppearance() const { return standardAppearance_; }
    void setStandardAppearance(Appearance appearance);
    const Appearance& scrollEdgeAppearance() const { return scrollEdgeAppearance_; }
    void setScrollEdgeAppearance(Appearance appearance);

    // Told after every change of the appearance values above.
    [[nodiscard]] std::unique_ptr<NavigationObservers::Token> observe(
        NavigationObservers::Callback callback) {
        return observers_.add(std::move(callback));
    }

    // What the bar shows now (for tests and screen readers).
    QString displayedTitle() const;
    // The label showing the title now (null while a title view stands in its place).
    QLabel* titleLabel() const { return titleLabel_; }
    QString backButtonTitle() const;  // empty when no back button shows

    QSize sizeHint() const override { return {320, kDefaultHeight}; }

    // Rounds the bar's top corners (points; 0: square), for a bar at the top of a rounded card: the
    // bar paints over the card's corners, so it rounds them itself, antialiased.
    double topCornerRadius() const { return topCornerRadius_; }
    void setTopCornerRadius(double radius);

    // The colour the bar paints behind its items: the bar tint, else the standard appearance's
    // background, else one a shade off the palette's window colour.
    QColor paintedBackground() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // `color` (a title or a tint), made to read on the painted background (at `minimum`).
    QColor readable(const QColor& color, double minimum = 4.5) const;
    void rebuild();
    void scheduleRebuild();
    QWidget* makeButton(const std::shared_ptr<BarButtonItem>& item, const QString& objectName);
    QFont titleFont() const;

    std::vector<std::shared_ptr<NavigationItem>> items_;
    std::vector<std::unique_ptr<NavigationObservers::Token>> tokens_;
    std::function<void()> backAction_;
    QColor tintColor_{0, 122, 255};
    std::optional<QColor> barTintColor_;
    TitleTextAttributes titleTextAttributes_;
    bool prefersLargeTitles_ = false;
    bool translucent_ = true;
    Appearance standardAppearance_;
    Appearance scrollEdgeAppearance_;
    NavigationObservers observers_;
    QGridLayout* layout_ = nullptr;
    QWidget* content_ = nullptr;  // rebuilt on every change
    QLabel* titleLabel_ = nullptr;
    QWidget* backButton_ = nullptr;
    bool rebuilding_ = false;
    double topCornerRadius_ = 0;
};

}  // namespace platform
