#pragma once

#include <optional>
#include <string>

namespace tervolo::shell {

// The About screen's feedback mail: who gets it, its subject and body, and
// the "mailto:" URL the desktop's mail program opens with it.
//
// The body is built as the platform's mail composer got it (HTML, with the
// technical line at the end) and sent as its plain-text rendering, since a
// "mailto:" URL carries no HTML. The device and application texts in the
// technical line are HTML-escaped before they join the markup, and every
// part of the URL is percent-encoded, so no text (a machine model with "&",
// "<" or "?") can add markup, header fields or recipients. Any thread.
struct FeedbackMail {
    // `"QuovaApps Support"<address>`.
    std::string recipient;
    std::string subject;
    std::string htmlBody;

    // The mail for this machine and build: hardware description, application
    // name and version, system name and version, vendor identifier.
    static FeedbackMail make();

    // "mailto:?to=…&subject=…&body=…", line breaks as CR LF.
    std::string mailtoURL() const;
    std::string plainTextBody() const;
};

// The texts the technical line is made of.
struct FeedbackTechnicalInfo {
    std::string hardwareDescription;
    std::string appName;
    std::string appVersion;
    // Both present, or the " on <name> <version>" part is left out.
    std::optional<std::string> systemName;
    std::optional<std::string> systemVersion;
};

// The HTML body: the italic prompt, twelve line breaks, the bold warning, and
// "<hardware>/<app name> <app version> on <system> <version>".
std::string feedbackHTMLBody(const FeedbackTechnicalInfo& info);
// `"QuovaApps Support"<vendorID@supportDomain>`; the general support address
// in the angle brackets when the vendor identifier is empty.
std::string feedbackRecipient(const std::string& vendorID, const std::string& supportMailDomain,
                              const std::string& generalSupportAddress);

// The plain text of markup this program writes: "<br>" is a line break, other
// tags are dropped, the five entities platform::text::htmlEscaped writes are
// decoded.
std::string plainTextFromHTML(const std::string& html);

// The maker's web page and support addresses, from the information
// dictionary ("QuovaMakerWebPage", "QuovaSupportMailDomain",
// "QuovaSupportMailAddress"), names under ".invalid" unless configured.
std::string makerWebPage();
std::string supportMailDomain();
std::string generalSupportAddress();

}  // namespace tervolo::shell
