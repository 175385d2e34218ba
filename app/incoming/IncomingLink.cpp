#include "app/incoming/IncomingLink.hpp"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

namespace tervolo::app {

namespace {

constexpr std::string_view kSharedLocationMarker = "/shared-location/";
constexpr size_t kShortPathBytes = 9;
constexpr size_t kKeyCharacters = 8;

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The last `count` code points of UTF-8 `text` (all of it when shorter).
std::string lastCodePoints(const std::string& text, size_t count) {
    size_t start = text.size();
    for (size_t taken = 0; taken < count && start > 0; ++taken) {
        --start;
        while (start > 0 && isContinuationByte(text[start])) --start;
    }
    return text.substr(start);
}

std::optional<QUrl> parse(std::string_view text) {
    if (text.empty() || text.size() > IncomingLink::kMaximumLinkBytes) return std::nullopt;
    QUrl url(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
    if (!url.isValid()) return std::nullopt;
    return url;
}

}  // namespace

std::optional<UserActivity> IncomingLink::userActivity(std::string_view link) {
    const auto url = parse(link);
    if (!url) return std::nullopt;
    const std::string scheme = lower(url->scheme().toStdString());
    if (scheme == "http" || scheme == "https") {
        return UserActivity{NSUserActivityTypeBrowsingWeb, std::string(link), std::nullopt};
    }
    if (scheme != kScheme) return std::nullopt;
    const std::string form = lower(url->host().toStdString());
    if (form == "point") {
        // One path segment after the host: the identifier, decoded.
        QString path = url->path(QUrl::FullyEncoded);
        if (!path.startsWith('/')) return std::nullopt;
        path.remove(0, 1);
        if (path.isEmpty() || path.contains('/') || url->hasQuery() || url->hasFragment())
            return std::nullopt;
        const std::string identifier = QUrl::fromPercentEncoding(path.toUtf8()).toStdString();
        if (identifier.empty()) return std::nullopt;
        platform::PropertyValue::Dictionary userInfo{{CSSearchableItemActivityIdentifier, identifier}};
        return UserActivity{kSearchableItemActivityType, std::nullopt, std::move(userInfo)};
    }
    if (form == "open") {
        const QString path = url->path();
        if (!path.isEmpty() && path != "/") return std::nullopt;
        const QUrlQuery query(*url);
        if (!query.hasQueryItem("url")) return std::nullopt;
        const std::string inner = query.queryItemValue("url", QUrl::FullyDecoded).toStdString();
        if (inner.empty() || inner.size() > kMaximumLinkBytes) return std::nullopt;
        return UserActivity{NSUserActivityTypeBrowsingWeb, inner, std::nullopt};
    }
    return std::nullopt;
}

std::optional<IncomingLink::Components> IncomingLink::split(std::string_view text) {
    const auto url = parse(text);
    if (!url) return std::nullopt;
    Components components;
    components.scheme = lower(url->scheme().toStdString());
    components.host = lower(url->host(QUrl::FullyDecoded).toStdString());
    components.path = url->path(QUrl::FullyDecoded).toStdString();
    return components;
}

IncomingLink::Analysis IncomingLink::analyse(const Components& components, std::string_view shortLinkHost,
                                             std::string_view productWebHost) {
    Analysis analysis;
    if (components.scheme != "https" && components.scheme != "http") {
        analysis.outcome = Analysis::Outcome::unknownScheme;
        return analysis;
    }
    const std::string host = components.host;
    if (!host.empty() && host == lower(shortLinkHost)) {
        const std::string& path = components.path;
        if (path.size() == kShortPathBytes) {
            // The path starts with "/" (one byte), so the key is what follows.
            analysis.outcome = Analysis::Outcome::shortLinkKey;
            analysis.key = path.substr(1);
        } else if (path.size() > kShortPathBytes && path.find(kSharedLocationMarker) != std::string::npos) {
            analysis.outcome = Analysis::Outcome::shortLinkKey;
            analysis.key = lastCodePoints(path, kKeyCharacters);
        } else {
            analysis.outcome = Analysis::Outcome::noKey;
        }
        return analysis;
    }
    if (!host.empty() && host == lower(productWebHost)) {
        analysis.outcome = Analysis::Outcome::productWebHost;
        return analysis;
    }
    analysis.outcome = Analysis::Outcome::unknownHost;
    return analysis;
}

std::string IncomingLink::lookupPath(std::string_view key) {
    // Only RFC 3986's unreserved characters stay as they are.
    const QByteArray encoded = QByteArray(key.data(), static_cast<qsizetype>(key.size()))
                                   .toPercentEncoding(QByteArray(), QByteArray());
    return "/apps/api/location/shorturl/" + encoded.toStdString();
}

}  // namespace tervolo::app
