#include "platform/net/URLError.hpp"

#include <curl/curl.h>

#include <cerrno>

namespace platform::URLError {

namespace {

const char* describe(int64_t code) {
    switch (code) {
        case cancelled:
            return "cancelled";
        case badURL:
            return "bad URL";
        case timedOut:
            return "The request timed out.";
        case unsupportedURL:
            return "unsupported URL";
        case cannotFindHost:
            return "A server with the specified hostname could not be found.";
        case cannotConnectToHost:
            return "Could not connect to the server.";
        case networkConnectionLost:
            return "The network connection was lost.";
        case httpTooManyRedirects:
            return "too many HTTP redirects";
        case notConnectedToInternet:
            return "The Internet connection appears to be offline.";
        case badServerResponse:
            return "bad server response";
        case appTransportSecurityRequiresSecureConnection:
            return "The resource could not be loaded because a secure connection is required.";
        case dataLengthExceedsMaximum:
            return "resource exceeds maximum size";
        case secureConnectionFailed:
            return "An SSL error has occurred and a secure connection to the server cannot be made.";
        case serverCertificateUntrusted:
            return "The certificate for this server is invalid.";
        case cannotCreateFile:
            return "cannot create file";
        case cannotWriteToFile:
            return "cannot write to file";
        default:
            return "unknown error";
    }
}

}  // namespace

int64_t codeForCurlResult(int curlCode, int osErrno) {
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_OK:
            return 0;
        case CURLE_OPERATION_TIMEDOUT:
            return timedOut;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return cannotFindHost;
        case CURLE_COULDNT_CONNECT:
            return osErrno == ENETUNREACH || osErrno == ENETDOWN ? notConnectedToInternet
                                                                 : cannotConnectToHost;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return networkConnectionLost;
        case CURLE_ABORTED_BY_CALLBACK:
            return cancelled;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ENGINE_INITFAILED:
            return secureConnectionFailed;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return serverCertificateUntrusted;
        case CURLE_FILESIZE_EXCEEDED:
            return dataLengthExceedsMaximum;
        case CURLE_TOO_MANY_REDIRECTS:
            return httpTooManyRedirects;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return unsupportedURL;
        case CURLE_URL_MALFORMAT:
            return badURL;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
            return badServerResponse;
        default:
            return unknown;
    }
}

Error make(int64_t code, const std::string& failingURL, const std::string& detail) {
    Error error;
    error.domain = kDomain;
    error.code = code;
    error.description = describe(code);
    if (!failingURL.empty()) error.userInfo[kFailingURLKey] = failingURL;
    // The transport's own words (curl's message), for log lines.
    if (!detail.empty()) error.userInfo["NSDebugDescription"] = detail;
    return error;
}

std::string failingURL(const Error& error) {
    const auto it = error.userInfo.find(kFailingURLKey);
    return it == error.userInfo.end() ? std::string() : it->second;
}

}  // namespace platform::URLError
