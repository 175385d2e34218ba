#include "widgets/hud/HUDContentType.hpp"

#include "widgets/hud/HUDErrorView.hpp"
#include "widgets/hud/HUDProgressView.hpp"
#include "widgets/hud/HUDRotatingImageView.hpp"
#include "widgets/hud/HUDSuccessView.hpp"
#include "widgets/hud/HUDSystemActivityIndicatorView.hpp"
#include "widgets/hud/HUDTextView.hpp"

namespace tervolo::widgets::hud {

HUDContentType HUDContentType::image(const platform::NamedImage& image) {
    HUDContentType content(Kind::image);
    content.image_ = image;
    return content;
}

HUDContentType HUDContentType::rotatingImage(const platform::NamedImage& image) {
    HUDContentType content(Kind::rotatingImage);
    content.image_ = image;
    return content;
}

HUDContentType HUDContentType::labeledSuccess(const Text& title, const Text& subtitle) {
    HUDContentType content(Kind::labeledSuccess);
    content.title_ = title;
    content.subtitle_ = subtitle;
    return content;
}

HUDContentType HUDContentType::labeledError(const Text& title, const Text& subtitle) {
    HUDContentType content(Kind::labeledError);
    content.title_ = title;
    content.subtitle_ = subtitle;
    return content;
}

HUDContentType HUDContentType::labeledProgress(const Text& title, const Text& subtitle) {
    HUDContentType content(Kind::labeledProgress);
    content.title_ = title;
    content.subtitle_ = subtitle;
    return content;
}

HUDContentType HUDContentType::labeledImage(const platform::NamedImage& image, const Text& title,
                                            const Text& subtitle) {
    HUDContentType content(Kind::labeledImage);
    content.image_ = image;
    content.title_ = title;
    content.subtitle_ = subtitle;
    return content;
}

HUDContentType HUDContentType::labeledRotatingImage(const platform::NamedImage& image, const Text& title,
                                                    const Text& subtitle) {
    HUDContentType content(Kind::labeledRotatingImage);
    content.image_ = image;
    content.title_ = title;
    content.subtitle_ = subtitle;
    return content;
}

HUDContentType HUDContentType::label(const Text& text) {
    HUDContentType content(Kind::label);
    content.title_ = text;
    return content;
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
