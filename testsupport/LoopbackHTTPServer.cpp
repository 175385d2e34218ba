#include "testsupport/LoopbackHTTPServer.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace tervolo::testsupport {

namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("LoopbackHTTPServer: " + what);
}

}  // namespace

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (equalsIgnoringCase(key, name)) return value;
    }
    return std::nullopt;
}

std::vector<std::string> RecordedRequest::headerValues(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : headers) {
        if (equalsIgnoringCase(key, name)) values.push_back(value);
    }
    return values;
}

CannedReply CannedReply::text(std::string body, int status) {
    CannedReply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
    return reply;
}

CannedReply CannedReply::json(std::string body, int status) {
    CannedReply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.headers.emplace_back("Content-Type", "application/json");
    return reply;
}

CannedReply CannedReply::redirect(const std::string& location, int status) {
    CannedReply reply;
    reply.status = status;
    reply.headers.emplace_back("Location", location);
    return reply;
}

CannedReply CannedReply::ofMode(Mode mode) {
    CannedReply reply;
    reply.mode = mode;
    return reply;
}

// ---------------------------------------------------------------------------
// TLS material: a fresh P-256 key and a self-signed certificate naming
// 127.0.0.1 and localhost, valid from an hour ago for thirty days.

struct LoopbackHTTPServer::Tls {
    SSL_CTX* context = nullptr;
    ~Tls() {
        if (context) SSL_CTX_free(context);
    }
};

namespace {

struct KeyAndCertificate {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    ~KeyAndCertificate() {
        if (certificate) X509_free(certificate);
        if (key) EVP_PKEY_free(key);
    }
};

void makeSelfSigned(KeyAndCertificate& out) {
    out.key = EVP_EC_gen("P-256");
    if (!out.key) fail("key generation failed");
    out.certificate = X509_new();
    X509* x = out.certificate;
    X509_set_version(x, 2);
    ASN1_INTEGER_set(
        X509_get_serialNumber(x),
        static_cast<long>(std::chrono::steady_clock::now().time_since_epoch().count() & 0x7fffffff));
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 30L * 24 * 3600);
    X509_set_pubkey(x, out.key);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("TervoloNG tests"), -1, -1, 0);
    X509_set_issuer_name(x, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
    for (auto [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                              std::pair{NID_basic_constraints, "critical,CA:TRUE"},
                              std::pair{NID_subject_key_identifier, "hash"}}) {
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
        if (!ext) fail("certificate extension refused");
        X509_add_ext(x, ext, -1);
        X509_EXTENSION_free(ext);
    }
    if (X509_sign(x, out.key, EVP_sha256()) == 0) fail("certificate signing failed");
}

}  // namespace

// ---------------------------------------------------------------------------

struct LoopbackHTTPServer::Connection {
    int fd = -1;
    SSL* ssl = nullptr;
    std::string buffer;

    ~Connection() {
        if (ssl) SSL_free(ssl);
    }

    // Some bytes appended to buffer; false on end of stream or error.
    bool readMore() {
        char chunk[16384];
        ssize_t n;
        if (ssl) {
            n = SSL_read(ssl, chunk, sizeof chunk);
        } else {
            do {
                n = ::recv(fd, chunk, sizeof chunk, 0);
            } while (n < 0 && errno == EINTR);
        }
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<size_t>(n));
        return true;
    }

    bool writeAll(const std::string& data) {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n;
            if (ssl) {
                n = SSL_write(ssl, data.data() + done, static_cast<int>(data.size() - done));
            } else {
                do {
                    n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
                } while (n < 0 && errno == EINTR);
            }
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
};

LoopbackHTTPServer::LoopbackHTTPServer(Transport transport) : transport_(transport) {
    fallback_ = CannedReply::text("not found", 404);
    if (transport_ == Transport::tls) {
        KeyAndCertificate material;
        makeSelfSigned(material);
        tls_ = std::make_unique<Tls>();
        tls_->context = SSL_CTX_new(TLS_server_method());
        if (!tls_->context || SSL_CTX_use_certificate(tls_->context, material.certificate) != 1 ||
            SSL_CTX_use_PrivateKey(tls_->context, material.key) != 1) {
            fail("TLS context setup failed");
        }
        char pattern[] = "/tmp/tervolo-tls-XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        if (!dir) fail("mkdtemp failed");
        tempDir_ = dir;
        certPEMPath_ = tempDir_ + "/server.pem";
        certDERPath_ = tempDir_ + "/server.der";
        FILE* pem = std::fopen(certPEMPath_.c_str(), "wb");
        FILE* der = std::fopen(certDERPath_.c_str(), "wb");
        bool ok = pem && der && PEM_write_X509(pem, material.certificate) == 1 &&
                  i2d_X509_fp(der, material.certificate) == 1;
        if (pem) std::fclose(pem);
        if (der) std::fclose(der);
        if (!ok) fail("writing the certificate failed");
    }

    listenFD_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFD_ < 0) fail("socket failed");
    int one = 1;
    ::setsockopt(listenFD_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(listenFD_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail("bind failed");
    if (::listen(listenFD_, 128) != 0) fail("listen failed");
    socklen_t length = sizeof address;
    ::getsockname(listenFD_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) fail("pipe failed");
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackHTTPServer::~LoopbackHTTPServer() {
    stop();
    if (!tempDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(tempDir_, ignored);
    }
}

std::string LoopbackHTTPServer::url(const std::string& path) const {
    return std::string(transport_ == Transport::tls ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackHTTPServer::route(const std::string& method, const std::string& path, CannedReply reply) {
    route(method, path, [reply](const RecordedRequest&) { return reply; });
}

void LoopbackHTTPServer::route(const std::string& method, const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[{method, path}] = std::move(handler);
}

void LoopbackHTTPServer::setFallback(CannedReply reply) {
    std::lock_guard lock(mutex_);
    fallback_ = std::move(reply);
    fallbackHandler_ = nullptr;
}

void LoopbackHTTPServer::setFallback(Handler handler) {
    std::lock_guard lock(mutex_);
    fallbackHandler_ = std::move(handler);
}

std::vector<RecordedRequest> LoopbackHTTPServer::requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

size_t LoopbackHTTPServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return log_.size();
}

bool LoopbackHTTPServer::waitForRequests(size_t count, double timeoutSeconds) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                             [&] { return log_.size() >= count; });
}

int LoopbackHTTPServer::connectionsAccepted() const {
    std::lock_guard lock(mutex_);
    return accepted_;
}

int LoopbackHTTPServer::maxOpenConnections() const {
    std::lock_guard lock(mutex_);
    return maxOpen_;
}

int LoopbackHTTPServer::maxRequestsInFlight() const {
    std::lock_guard lock(mutex_);
    return maxInFlight_;
}

void LoopbackHTTPServer::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
        for (auto& connection : open_) {
            if (connection->fd >= 0) ::shutdown(connection->fd, SHUT_RDWR);
        }
    }
    changed_.notify_all();
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wakePipe_[1], &byte, 1);
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
    }
    for (auto& thread : threads) thread.join();
    ::close(listenFD_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

bool LoopbackHTTPServer::pause(double seconds) {
    std::unique_lock lock(mutex_);
    if (seconds <= 0) return !stopping_;
    changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return stopping_; });
    return !stopping_;
}

void LoopbackHTTPServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFD_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = ::accept4(listenFD_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        auto connection = std::make_shared<Connection>();
        connection->fd = fd;
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        int number = ++accepted_;
        open_.push_back(connection);
        maxOpen_ = std::max(maxOpen_, ++openCount_);
        threads_.emplace_back([this, connection, number] { serve(connection, number); });
    }
}

namespace {

enum class ReadResult { ok, closed, malformed };

// Reads one request (head and Content-Length or chunked body) from the
// connection's buffer, pulling more bytes as needed.
template <typename ReadMore>
ReadResult readRequest(std::string& buffer, ReadMore readMore, RecordedRequest& request) {
    // A request starts with an upper-case method and a blank; anything else
    // (a TLS hello sent to the plain server) is refused at once instead of
    // waiting for a blank line that never comes.
    auto plausible = [&] {
        for (char c : buffer) {
            if (c == ' ') return true;
            if (c < 'A' || c > 'Z') return false;
        }
        return buffer.size() < 32;
    };
    size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > 64 * 1024 || !plausible()) return ReadResult::malformed;
        if (!readMore()) return buffer.empty() ? ReadResult::closed : ReadResult::malformed;
    }
    std::string head = buffer.substr(0, headEnd);
    buffer.erase(0, headEnd + 4);
    size_t lineEnd = head.find("\r\n");
    std::string requestLine = head.substr(0, lineEnd);
    size_t s1 = requestLine.find(' ');
    size_t s2 = requestLine.rfind(' ');
    if (s1 == std::string::npos || s2 == s1) return ReadResult::malformed;
    request.method = requestLine.substr(0, s1);
    request.target = requestLine.substr(s1 + 1, s2 - s1 - 1);
    request.version = requestLine.substr(s2 + 1);
    if (request.version.rfind("HTTP/", 0) != 0) return ReadResult::malformed;
    size_t q = request.target.find('?');
    request.path = request.target.substr(0, q);
    request.query = q == std::string::npos ? "" : request.target.substr(q + 1);
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(pos, end - pos);
        size_t colon = line.find(':');
        if (colon == std::string::npos) return ReadResult::malformed;
        request.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
        pos = end + 2;
    }
    auto encoding = request.header("Transfer-Encoding");
    if (encoding && encoding->find("chunked") != std::string::npos) {
        for (;;) {
            size_t end;
            while ((end = buffer.find("\r\n")) == std::string::npos) {
                if (!readMore()) return ReadResult::malformed;
            }
            size_t size = std::strtoul(buffer.substr(0, end).c_str(), nullptr, 16);
            buffer.erase(0, end + 2);
            while (buffer.size() < size + 2) {
                if (!readMore()) return ReadResult::malformed;
            }
            request.body.append(buffer, 0, size);
            buffer.erase(0, size + 2);
            if (size == 0) break;
        }
    } else if (auto length = request.header("Content-Length")) {
        size_t size = std::strtoul(length->c_str(), nullptr, 10);
        while (buffer.size() < size) {
            if (!readMore()) return ReadResult::malformed;
        }
        request.body = buffer.substr(0, size);
        buffer.erase(0, size);
    }
    return ReadResult::ok;
}

}  // namespace

CannedReply LoopbackHTTPServer::replyFor(const RecordedRequest& request) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        auto it = routes_.find({request.method, request.path});
        if (it == routes_.end()) it = routes_.find({"*", request.path});
        if (it != routes_.end()) {
            handler = it->second;
        } else if (fallbackHandler_) {
            handler = fallbackHandler_;
        } else {
            return fallback_;
        }
    }
    return handler(request);
}

void LoopbackHTTPServer::serve(std::shared_ptr<Connection> connection, int number) {
    // OpenSSL writes with write(2); a client that already hung up must cost
    // an EPIPE on this thread, not a SIGPIPE for the whole test process.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    bool handshakeOK = true;
    if (tls_) {
        connection->ssl = SSL_new(tls_->context);
        SSL_set_fd(connection->ssl, connection->fd);
        if (SSL_accept(connection->ssl) != 1) {
            handshakeOK = false;
            ERR_clear_error();
        }
    }
    while (handshakeOK) {
        RecordedRequest request;
        request.connection = number;
        ReadResult result = readRequest(
            connection->buffer, [&] { return connection->readMore(); }, request);
        if (result == ReadResult::closed) break;
        if (result == ReadResult::malformed) {
            // Garbage such as a TLS hello sent to the plain server: answer the
            // way a real server does and close.
            connection->writeAll(
                "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            break;
        }
        {
            std::lock_guard lock(mutex_);
            log_.push_back(request);
            maxInFlight_ = std::max(maxInFlight_, ++inFlight_);
        }
        changed_.notify_all();
        CannedReply reply = replyFor(request);
        bool keepOpen = answer(*connection, request, reply);
        {
            std::lock_guard lock(mutex_);
            --inFlight_;
        }
        auto connectionHeader = request.header("Connection");
        if (!keepOpen || (connectionHeader && equalsIgnoringCase(*connectionHeader, "close"))) break;
    }
    std::lock_guard lock(mutex_);
    if (connection->fd >= 0) {
        if (connection->ssl && handshakeOK) SSL_shutdown(connection->ssl);
        ::close(connection->fd);
        connection->fd = -1;
    }
    open_.erase(std::remove(open_.begin(), open_.end(), connection), open_.end());
    --openCount_;
}

bool LoopbackHTTPServer::answer(Connection& connection, const RecordedRequest& request,
                                const CannedReply& reply) {
    auto reset = [&] {
        std::lock_guard lock(mutex_);
        linger hard{1, 0};
        ::setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(connection.fd);
        connection.fd = -1;
    };
    switch (reply.mode) {
        case CannedReply::Mode::resetBeforeReply:
            if (pause(reply.delayBeforeHeaders)) reset();
            return false;
        case CannedReply::Mode::closeWithoutReply:
            pause(reply.delayBeforeHeaders);
            return false;
        case CannedReply::Mode::silent:
            pause(24 * 3600);
            return false;
        default:
            break;
    }
    if (!pause(reply.delayBeforeHeaders)) return false;

    bool chunked = reply.mode == CannedReply::Mode::chunkedTrickle;
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                       (reply.reason.empty() ? reasonPhrase(reply.status) : reply.reason) + "\r\n";
    bool hasLength = false;
    for (const auto& [name, value] : reply.headers) {
        head += name + ": " + value + "\r\n";
        hasLength = hasLength || equalsIgnoringCase(name, "Content-Length");
    }
    if (chunked) {
        head += "Transfer-Encoding: chunked\r\n";
    } else if (!hasLength) {
        head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    }
    head += "\r\n";
    bool withBody = request.method != "HEAD" && reply.status != 204 && reply.status != 304;

    if (reply.mode == CannedReply::Mode::resetAfterHeaders) {
        connection.writeAll(head + reply.body.substr(0, reply.body.size() / 2));
        pause(0.05);
        reset();
        return false;
    }
    if (reply.mode == CannedReply::Mode::closeMidBody) {
        connection.writeAll(head + reply.body.substr(0, reply.body.size() / 2));
        return false;  // closed as a server that stopped halfway would
    }
    if (!chunked) {
        return connection.writeAll(withBody ? head + reply.body : head);
    }
    if (!connection.writeAll(head)) return false;
    size_t step = std::max<size_t>(1, reply.trickleChunkSize);
    for (size_t offset = 0; withBody && offset < reply.body.size(); offset += step) {
        std::string piece = reply.body.substr(offset, step);
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        if (!connection.writeAll(size + piece + "\r\n")) return false;
        if (!pause(reply.trickleInterval)) return false;
    }
    return connection.writeAll("0\r\n\r\n");
}

namespace {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string percentDecoded(const std::string& text, bool plusIsBlank) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 &&
            hexDigitValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(plusIsBlank && text[i] == '+' ? ' ' : text[i]);
        }
    }
    return out;
}

}  // namespace tervolo::testsupport
