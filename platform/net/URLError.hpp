#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/Error.hpp"

namespace platform {

// The URL loading error codes of the platform, in its domain "NSURLErrorDomain".
namespace URLError {
inline constexpr const char* kDomain = "NSURLErrorDomain";
// User-info key of the URL that failed.
inline constexpr const char* kFailingURLKey = "NSErrorFailingURLKey";

inline constexpr int64_t unknown = -1;
inline constexpr int64_t cancelled = -999;
inline constexpr int64_t badURL = -1000;
inline constexpr int64_t timedOut = -1001;
inline constexpr int64_t unsupportedURL = -1002;
inline constexpr int64_t cannotFindHost = -1003;
inline constexpr int64_t cannotConnectToHost = -1004;
inline constexpr int64_t networkConnectionLost = -1005;
inline constexpr int64_t httpTooManyRedirects = -1007;
inline constexpr int64_t notConnectedToInternet = -1009;
// Also: a redirect off the host a session must stay on.
inline constexpr int64_t badServerResponse = -1011;
// A redirect from https to http: a secure load never continues in the clear.
inline constexpr int64_t appTransportSecurityRequiresSecureConnection = -1022;
inline constexpr int64_t dataLengthExceedsMaximum = -1103;
inline constexpr int64_t secureConnectionFailed = -1200;
inline constexpr int64_t serverCertificateUntrusted = -1202;
inline constexpr int64_t cannotCreateFile = -3000;
inline constexpr int64_t cannotWriteToFile = -3003;

// The code for a libcurl result, with the transfer's socket errno for the
// cases curl folds together (an unreachable network is "offline", -1009).
int64_t codeForCurlResult(int curlCode, int osErrno = 0);

// An error of this domain with its English description and the failing URL.
Error make(int64_t code, const std::string& failingURL, const std::string& detail = "");

// The failing URL an error of this domain carries, empty when none.
std::string failingURL(const Error& error);
}  // namespace URLError

}  // namespace platform
