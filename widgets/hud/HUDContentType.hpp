#pragma once

#include <QPointer>
#include <QWidget>

#include <optional>
#include <string>

#include "platform/ui/ImageView.hpp"

namespace tervolo::widgets::hud {

// What the HUD is to show: one of thirteen kinds, some with a picture, a title and subtitle, a text
// or a view of the caller's. Made with the factory of its kind; a plain value. Texts are UTF-8; a
// picture may be null (no picture).
//
//   HUD::flash(HUDContentType::labeledSuccess("Copied!", std::nullopt), nullptr, 1.6);
class HUDContentType {
  public:
    enum class Kind {
        image,
        rotatingImage,
        labeledSuccess,
        labeledError,
        labeledProgress,
        labeledImage,
        labeledRotatingImage,
        label,
        customView,
        success,
        error,
        progress,
        systemActivity,
    };
    using Text = std::optional<std::string>;

    static HUDContentType image(const platform::NamedImage& image);
    static HUDContentType rotatingImage(const platform::NamedImage& image);
    static HUDContentType labeledSuccess(const Text& title, const Text& subtitle);
    static HUDContentType labeledError(const Text& title, const Text& subtitle);
    static HUDContentType labeledProgress(const Text& title, const Text& subtitle);
    static HUDContentType labeledImage(const platform::NamedImage& image, const Text& title,
                                       const Text& subtitle);
    static HUDContentType labeledRotatingImage(const platform::NamedImage& image, const Text& title,
                                               const Text& subtitle);
    static HUDContentType label(const Text& text);
    // The HUD takes `view` (as its Qt parent) when it shows it.
    static HUDContentType customView(QWidget* view);
    static HUDContentType success();
    static HUDContentType error();
    static HUDContentType progress();
    static HUDContentType systemActivity();

    Kind kind() const { return kind_; }
    const platform::NamedImage& associatedImage() const { return image_; }
    const Text& title() const { return title_; }
    const Text& subtitle() const { return subtitle_; }
    // The text of a `label`.
    const Text& text() const { return title_; }
    QWidget* view() const { return view_; }

    // A new content view for this content, as the HUD shows it.
    QWidget* makeContentView() const;

  private:
    explicit HUDContentType(Kind kind) : kind_(kind) {}
    static HUDContentType make(Kind kind, const platform::NamedImage& image, const Text& title,
                               const Text& subtitle);

    Kind kind_;
    platform::NamedImage image_;
    Text title_;
    Text subtitle_;
    QPointer<QWidget> view_;
};

}  // namespace tervolo::widgets::hud
