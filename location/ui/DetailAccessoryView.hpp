#pragma once

#include <QLabel>
#include <QWidget>

#include <memory>
#include <string>

class QBoxLayout;

namespace platform {
class ImageView;
class MKAnnotation;
}  // namespace platform

namespace tervolo::location {

// The two-line detail of a callout (the user's speed and course on the first
// line, altitude on the second), each line behind a small symbol: a gauge
// before the first, an arrow pointing up out of a square before the second.
// Both symbols are our own drawings; texts and symbols take the palette's text
// colour (QPalette::Text, as on the callout's base colour); the
// view and its texts have no background of their own, so the callout shows
// through. Its size is what its two lines need (intrinsicContentSize, also its
// size hint), so a longer first line widens the callout.
//
// The content (a content view holding a vertical stack of two line stacks)
// is built in code and pinned inside the view (pinInside). Main thread only.
class DetailAccessoryView : public QWidget {
    Q_OBJECT

  public:
    explicit DetailAccessoryView(QWidget* parent = nullptr);

    // The name the content goes by (the platform loads it from an interface
    // file of that name; here it is the content view's object name).
    static constexpr const char* kCONTENT_XIB_NAME = "DetailAccessoryView";

    // The first line's text view: callers set its text directly (plain text;
    // a line break starts a second row), then invalidateIntrinsicContentSize.
    QLabel* firstLineText() const { return firstLineText_; }
    QLabel* secondLineText() const { return secondLineText_; }
    platform::ImageView* firstLineImage() const { return firstLineImage_; }
    platform::ImageView* secondLineImage() const { return secondLineImage_; }
    QWidget* contentView() const { return contentView_; }
    QBoxLayout* stackView() const { return stackView_; }
    QBoxLayout* firstLineStack() const { return firstLineStack_; }
    QBoxLayout* secondLineStack() const { return secondLineStack_; }

    // The annotation the view belongs to; not owned.
    std::shared_ptr<platform::MKAnnotation> annotation() const { return annotation_.lock(); }
    void setAnnotation(const std::shared_ptr<platform::MKAnnotation>& annotation) {
        annotation_ = annotation;
    }

    // Sets the second line: the text centred, in the footnote font (a little
    // smaller than the first line's), then invalidates the intrinsic size.
    void setSecondLine(const std::string& text);

    // The size the stack of the two lines needs, in points. Logs a debug line
    // each time it is asked.
    QSize intrinsicContentSize() const;
    // Tells the layout that holds the view (the callout) to ask again.
    void invalidateIntrinsicContentSize();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The footnote text style for `base`: 13/17 of its size, as the platform's
    // footnote style stands to its body style.
    static QFont footnoteFont(const QFont& base);
    // The first line's style: 15/17 of the base size (the platform's
    // subheadline), so it sits below the callout's bold title.
    static QFont subheadlineFont(const QFont& base);

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void commonInit();
    void applySymbolTint();

    QWidget* contentView_ = nullptr;
    QBoxLayout* stackView_ = nullptr;
    QLabel* firstLineText_ = nullptr;
    platform::ImageView* firstLineImage_ = nullptr;
    QBoxLayout* firstLineStack_ = nullptr;
    QLabel* secondLineText_ = nullptr;
    platform::ImageView* secondLineImage_ = nullptr;
    QBoxLayout* secondLineStack_ = nullptr;
    std::weak_ptr<platform::MKAnnotation> annotation_;
};

}  // namespace tervolo::location
