#include "widgets/hud/HUDContentType.hpp"

#include "widgets/hud/HUDErrorView.hpp"
#include "widgets/hud/HUDProgressView.hpp"
#include "widgets/hud/HUDRotatingImageView.hpp"
#include "widgets/hud/HUDSuccessView.hpp"
#include "widgets/hud/HUDSystemActivityIndicatorView.hpp"
#include "widgets/hud/HUDTextView.hpp"

namespace tervolo::widgets::hud {

HUDContentType HUDContentType::make(Kind kind, const platform::NamedImage& image, const Text& title,
                                    const Text& subtitle) {
    HUDContentType content(kind);
    content.image_ = image;
    content.title_ = title;
    content.subtitle_ = subtitle;
    return content;
}

HUDContentType HUDContentType::image(const platform::NamedImage& image) {
    return make(Kind::image, image, std::nullopt, std::nullopt);
}

HUDContentType HUDContentType::rotatingImage(const platform::NamedImage& image) {
    return make(Kind::rotatingImage, image, std::nullopt, std::nullopt);
}

HUDContentType HUDContentType::labeledSuccess(const Text& title, const Text& subtitle) {
    return make(Kind::labeledSuccess, {}, title, subtitle);
}

HUDContentType HUDContentType::labeledError(const Text& title, const Text& subtitle) {
    return make(Kind::labeledError, {}, title, subtitle);
}

HUDContentType HUDContentType::labeledProgress(const Text& title, const Text& subtitle) {
    return make(Kind::labeledProgress, {}, title, subtitle);
}

HUDContentType HUDContentType::labeledImage(const platform::NamedImage& image, const Text& title,
                                            const Text& subtitle) {
    return make(Kind::labeledImage, image, title, subtitle);
}

HUDContentType HUDContentType::labeledRotatingImage(const platform::NamedImage& image, const Text& title,
                                                    const Text& subtitle) {
    return make(Kind::labeledRotatingImage, image, title, subtitle);
}

HUDContentType HUDContentType::label(const Text& text) {
    return make(Kind::label, {}, text, std::nullopt);
}

HUDContentType HUDContentType::customView(QWidget* view) {
    HUDContentType content(Kind::customView);
    content.view_ = view;
    return content;
}

HUDContentType HUDContentType::success() {
    return HUDContentType(Kind::success);
}

HUDContentType HUDContentType::error() {
    return HUDContentType(Kind::error);
}

HUDContentType HUDContentType::progress() {
    return HUDContentType(Kind::progress);
}

HUDContentType HUDContentType::systemActivity() {
    return HUDContentType(Kind::systemActivity);
}

QWidget* HUDContentType::makeContentView() const {
    switch (kind_) {
        case Kind::success:
            return new HUDSuccessView();
        case Kind::error:
            return new HUDErrorView();
        case Kind::progress:
            return new HUDProgressView();
        case Kind::systemActivity:
            return new HUDSystemActivityIndicatorView();
        case Kind::image:
            return new HUDSquareBaseView(image_, std::nullopt, std::nullopt);
        case Kind::rotatingImage:
            return new HUDRotatingImageView(image_, std::nullopt, std::nullopt);
        case Kind::labeledSuccess:
            return new HUDSuccessView(title_, subtitle_);
        case Kind::labeledError:
            return new HUDErrorView(title_, subtitle_);
        case Kind::labeledProgress:
            return new HUDProgressView(title_, subtitle_);
        case Kind::labeledImage:
            return new HUDSquareBaseView(image_, title_, subtitle_);
        case Kind::labeledRotatingImage:
            return new HUDRotatingImageView(image_, title_, subtitle_);
        case Kind::label:
            return new HUDTextView(title_);
        case Kind::customView:
            // A view that is gone by now leaves an empty panel rather than no panel at all.
            return view_ ? view_.data() : new QWidget();
    }
    return new QWidget();
}

}  // namespace tervolo::widgets::hud
