#include "shell/FeedbackMail.hpp"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cctype>
#include <string>
#include <utility>

#include "appinfo/QuovaApplicationAdditions.hpp"
#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/text/Html.hpp"

namespace tervolo::shell {

namespace {

using platform::text::htmlEscaped;

// The operating system the program runs on, as the platform's device names it.
constexpr const char* kSystemName = "Linux";

std::string infoStringOr(const char* key, const char* fallback) {
    auto value = platform::Bundle::main().infoString(key);
    return value && !value->empty() ? *value : std::string(fallback);
}

std::string percentEncoded(const std::string& text) {
    // Everything but the unreserved characters, so that "&", "=", "?", "#"
    // and line breaks inside a value never end it.
    return QUrl::toPercentEncoding(QString::fromStdString(text)).toStdString();
}

}  // namespace

std::string makerWebPage() {
    return infoStringOr("QuovaMakerWebPage", "https://www.tervolo.invalid/");
}

std::string supportMailDomain() {
    return infoStringOr("QuovaSupportMailDomain", "support.tervolo.invalid");
}

std::string generalSupportAddress() {
    return infoStringOr("QuovaSupportMailAddress", "support@tervolo.invalid");
}

std::string plainTextFromHTML(const std::string& html) {
    std::string out;
    size_t i = 0;
    while (i < html.size()) {
        if (html[i] == '<') {
            const size_t end = html.find('>', i);
            if (end == std::string::npos) {
                out.append(html, i, std::string::npos);
                break;
            }
            std::string tag = html.substr(i + 1, end - i - 1);
            for (char& c : tag) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (tag == "br" || tag == "br/" || tag == "br /") out.push_back('\n');
            i = end + 1;
            continue;
        }
        if (html[i] == '&') {
            static const std::pair<const char*, char> entities[] = {
                {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
            bool decoded = false;
            for (const auto& [entity, character] : entities) {
                if (html.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
                    out.push_back(character);
                    i += std::char_traits<char>::length(entity);
                    decoded = true;
                    break;
                }
            }
            if (decoded) continue;
        }
        out.push_back(html[i]);
        ++i;
    }
    return out;
}

std::string feedbackHTMLBody(const FeedbackTechnicalInfo& info) {
    std::string body = "<i>";
    body += platform::localizedString("(please type your message here)</i><br><br>");
    body += platform::localizedString(
        "<br><br><br><br><br><br><br><br><br><br><br><br><strong>*** Don't edit technical info below "
        "***</strong><br><br>");
    body.append(htmlEscaped(info.hardwareDescription));
    body.append("/").append(htmlEscaped(info.appName));
    body.append(" ").append(htmlEscaped(info.appVersion));
    if (info.systemName && info.systemVersion) {
        body.append(" on ").append(htmlEscaped(*info.systemName));
        body.append(" ").append(htmlEscaped(*info.systemVersion));
    }
    return body;
}

std::string feedbackRecipient(const std::string& vendorID, const std::string& domain,
                              const std::string& generalAddress) {
    std::string recipient = "\"QuovaApps Support\"<";
    if (vendorID.empty()) {
        recipient.append(generalAddress);
    } else {
        recipient.append(vendorID).append("@").append(domain);
    }
    return recipient.append(">");
}

FeedbackMail FeedbackMail::make() {
    FeedbackTechnicalInfo info;
    info.hardwareDescription = appinfo::UIDevice_QuovaAdditions::quovaHardwareDescription();
    info.appName = appinfo::QuovaApplicationAdditions::quovaAppName();
    info.appVersion = appinfo::QuovaApplicationAdditions::quovaAppVersion();
    info.systemName = kSystemName;
    const std::string systemVersion = appinfo::UIDevice_QuovaAdditions::systemVersion();
    if (!systemVersion.empty()) info.systemVersion = systemVersion;

    FeedbackMail mail;
    mail.recipient = feedbackRecipient(appinfo::UIDevice_QuovaAdditions::quovaVendorID(), supportMailDomain(),
                                       generalSupportAddress());
    mail.subject = platform::localizedString("TervoloNG Feedback");
    mail.htmlBody = feedbackHTMLBody(info);
    return mail;
}

std::string FeedbackMail::plainTextBody() const {
    return plainTextFromHTML(htmlBody);
}

std::string FeedbackMail::mailtoURL() const {
    std::string body;
    for (char c : plainTextBody()) {
        if (c == '\n') {
            body += "\r\n";
        } else {
            body.push_back(c);
        }
    }
    std::string url = "mailto:?to=";
    url.append(percentEncoded(recipient));
    url.append("&subject=").append(percentEncoded(subject));
    url.append("&body=").append(percentEncoded(body));
    return url;
}

}  // namespace tervolo::shell
