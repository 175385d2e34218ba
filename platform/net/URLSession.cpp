#include "platform/net/URLSession.hpp"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/net/RedirectPolicy.hpp"
#include "platform/net/URLError.hpp"

#ifndef TERVOLO_PROJECT_VERSION
#define TERVOLO_PROJECT_VERSION "0"
#endif

namespace platform {

namespace net_detail {

using SteadyClock = std::chrono::steady_clock;

namespace {

void ensureCurlInitialised() {
    // curl_global_init is not thread-safe; a function-local static makes the
    // first session's call the only one.
    static const bool initialised = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)initialised;
}

// Names under "invalid" never exist (RFC 6761), so asking a name server
// about one only sends the host's name off the machine and waits for the
// certain no; the built-in placeholder hosts of an unconfigured install are
// such names.
bool isNeverResolvable(const std::string& url) {
    CURLU* parts = curl_url();
    if (!parts) return false;
    bool never = false;
    char* host = nullptr;
    if (curl_url_set(parts, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        std::string name(host);
        while (!name.empty() && name.back() == '.') name.pop_back();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        never = name == "invalid" || name.ends_with(".invalid");
    }
    curl_free(host);
    curl_url_cleanup(parts);
    return never;
}

long millisecondsFor(double seconds) {
    if (!(seconds > 0)) return 1;
    double ms = std::ceil(seconds * 1000.0);
    return ms > 2.0e9 ? 2000000000L : static_cast<long>(ms);
}

std::string trimmed(std::string_view text) {
    size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return "";
    size_t e = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(b, e - b + 1));
}

// "sha256//<base64>" of a certificate file's subject public key, or nothing
// when the file cannot be read as a DER or PEM certificate.
std::optional<std::string> publicKeyPin(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::nullopt;
    X509* certificate = d2i_X509_fp(file, nullptr);
    if (!certificate) {
        std::rewind(file);
        certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
    }
    std::fclose(file);
    if (!certificate) return std::nullopt;
    std::optional<std::string> pin;
    EVP_PKEY* key = X509_get0_pubkey(certificate);
    unsigned char* der = nullptr;
    int length = key ? i2d_PUBKEY(key, &der) : -1;
    if (length > 0) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        if (EVP_Digest(der, static_cast<size_t>(length), digest, &digestLength, EVP_sha256(), nullptr) == 1) {
            unsigned char encoded[128];
            int encodedLength = EVP_EncodeBlock(encoded, digest, static_cast<int>(digestLength));
            pin = "sha256//" +
                  std::string(reinterpret_cast<char*>(encoded), static_cast<size_t>(encodedLength));
        }
        OPENSSL_free(der);
    }
    X509_free(certificate);
    return pin;
}

}  // namespace

// Per-transfer state, touched only by the session's I/O thread (and by curl
// callbacks, which run on it).
struct Transfer {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    curl_slist* resolve = nullptr;
    std::vector<uint8_t> requestBody;
    std::vector<uint8_t> data;
    FILE* file = nullptr;
    std::string filePath;
    HTTPHeaderFields responseHeaders;
    int64_t received = 0;
    int64_t cap = 0;
    bool oversize = false;
    bool writeFailed = false;
    double idleSeconds = 60;
    SteadyClock::time_point lastActivity = SteadyClock::now();
    curl_off_t lastUp = 0;
    curl_off_t lastDown = 0;
    // Set once curl has a connection for the request. Before that the request
    // may wait its turn behind the per-host cap, which is not idle time; the
    // connect itself is bounded by the connect time-out.
    bool connected = false;
    // The resource time-out runs from the moment the request goes out, for
    // the same reason: a request queued behind the cap has not been sent.
    double resourceSeconds = 7 * 24 * 3600;
    SteadyClock::time_point sentAt;
    // A download's file is made when its request goes out, so downloads that
    // wait behind the per-host cap hold no file descriptor.
    bool wantsFile = false;
    bool fileCreateFailed = false;
    // The status of the response being read, and which redirects it may follow.
    long status = 0;
    RedirectPolicy redirects;

    ~Transfer() {
        if (easy) curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
        curl_slist_free_all(resolve);
        discardFile();
    }
    void discardFile() {
        if (file) {
            std::fclose(file);
            file = nullptr;
        }
        if (!filePath.empty()) {
            ::unlink(filePath.c_str());
            filePath.clear();
        }
    }

    static size_t onBody(char* bytes, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        size_t n = size * count;
        t->lastActivity = SteadyClock::now();
        // The cap counts decoded bytes, so a small compressed body cannot
        // expand into an unbounded one.
        if (t->received + static_cast<int64_t>(n) > t->cap) {
            t->oversize = true;
            return 0;
        }
        t->received += static_cast<int64_t>(n);
        if (t->file) {
            if (std::fwrite(bytes, 1, n, t->file) != n) {
                t->writeFailed = true;
                return 0;
            }
        } else {
            t->data.insert(t->data.end(), bytes, bytes + n);
        }
        return n;
    }

    static size_t onHeader(char* bytes, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        size_t n = size * count;
        t->lastActivity = SteadyClock::now();
        std::string_view line(bytes, n);
        if (line.rfind("HTTP/", 0) == 0) {
            // A new response (after a redirect or an interim 1xx) replaces the
            // headers of the one before.
            t->responseHeaders.clear();
            t->redirects.beginResponse();
            const size_t blank = line.find(' ');
            t->status = blank == std::string_view::npos
                            ? 0
                            : std::atol(std::string(line.substr(blank + 1, 3)).c_str());
        } else if (size_t colon = line.find(':'); colon != std::string_view::npos) {
            std::string name = trimmed(line.substr(0, colon));
            std::string value = trimmed(line.substr(colon + 1));
            // Judged before curl follows it: a refused target is never contacted.
            if (!t->redirects.allowsHeader(t->status, name, value)) return 0;
            auto [it, inserted] = t->responseHeaders.emplace(name, value);
            if (!inserted) it->second += ", " + value;
        }
        return n;
    }

    static int onConnected(void* user, char*, char*, int, int) {
        auto* t = static_cast<Transfer*>(user);
        t->connected = true;
        t->lastActivity = SteadyClock::now();
        t->sentAt = t->lastActivity;
        if (t->wantsFile && !t->file && !t->openFile()) {
            t->fileCreateFailed = true;
            return CURL_PREREQFUNC_ABORT;
        }
        return CURL_PREREQFUNC_OK;
    }

    bool openFile() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/TervoloNG-download-XXXXXX";
        int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) return false;
        filePath = pattern;
        file = ::fdopen(fd, "wb");
        if (!file) {
            ::close(fd);
            ::unlink(filePath.c_str());
            filePath.clear();
            return false;
        }
        return true;
    }

    static int onProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        auto* t = static_cast<Transfer*>(user);
        if (dlnow != t->lastDown || ulnow != t->lastUp) {
            t->lastDown = dlnow;
            t->lastUp = ulnow;
            t->lastActivity = SteadyClock::now();
        }
        return 0;
    }
};

struct Command {
    enum class Kind { start, cancel, stop } kind;
    std::shared_ptr<URLSessionTask> task;
};

struct SessionCore {
    URLSessionConfiguration configuration;
    std::shared_ptr<DispatchQueue> delegateQueue;
    std::string userAgent;
    std::string pins;            // CURLOPT_PINNEDPUBLICKEY value, empty when not pinning
    std::string missingPinFile;  // first unreadable pin file, empty when all were read
    CURLM* multi = nullptr;

    std::mutex mutex;
    std::deque<Command> commands;                      // guarded by mutex
    bool stopped = false;                              // guarded by mutex: no command is taken after stop
    uint64_t nextIdentifier = 1;                       // guarded by mutex
    std::vector<std::weak_ptr<URLSessionTask>> tasks;  // guarded by mutex
    std::thread thread;

    // I/O thread only.
    std::map<CURL*, std::shared_ptr<URLSessionTask>> active;

    ~SessionCore() {
        if (multi) curl_multi_cleanup(multi);
    }

    bool post(Command command) {
        {
            std::lock_guard lock(mutex);
            if (stopped) return false;
            if (command.kind == Command::Kind::stop) stopped = true;
            commands.push_back(std::move(command));
        }
        curl_multi_wakeup(multi);
        return true;
    }

    void run();
    void start(const std::shared_ptr<URLSessionTask>& task);
    bool configure(URLSessionTask& task, Transfer& transfer);
    void finish(CURL* easy, std::optional<Error> error);
};

void SessionCore::run() {
    for (;;) {
        std::deque<Command> batch;
        {
            std::lock_guard lock(mutex);
            batch.swap(commands);
        }
        for (auto& command : batch) {
            switch (command.kind) {
                case Command::Kind::start:
                    start(command.task);
                    break;
                case Command::Kind::cancel:
                    for (auto& [easy, task] : active) {
                        if (task == command.task) {
                            finish(easy, URLError::make(URLError::cancelled, task->request_.url));
                            break;
                        }
                    }
                    break;
                case Command::Kind::stop: {
                    std::vector<CURL*> handles;
                    for (auto& entry : active) handles.push_back(entry.first);
                    for (CURL* easy : handles) {
                        finish(easy, URLError::make(URLError::cancelled, active.at(easy)->request_.url));
                    }
                    return;
                }
            }
        }

        int running = 0;
        curl_multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            CURL* easy = message->easy_handle;
            auto it = active.find(easy);
            if (it == active.end()) continue;
            CURLcode result = message->data.result;
            Transfer& transfer = *it->second->transfer_;
            const std::string& url = it->second->request_.url;
            if (result == CURLE_OK) {
                finish(easy, std::nullopt);
            } else if (transfer.redirects.refusedRedirect != 0) {
                finish(easy, URLError::make(transfer.redirects.refusedRedirect, url,
                                            transfer.redirects.refusedDetail));
            } else if (transfer.oversize || result == CURLE_FILESIZE_EXCEEDED) {
                finish(easy, URLError::make(URLError::dataLengthExceedsMaximum, url));
            } else if (transfer.fileCreateFailed) {
                finish(easy, URLError::make(URLError::cannotCreateFile, url));
            } else if (transfer.writeFailed) {
                finish(easy, URLError::make(URLError::cannotWriteToFile, url));
            } else {
                long osErrno = 0;
                curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
                int64_t code = URLError::codeForCurlResult(result, static_cast<int>(osErrno));
                std::string detail = code == URLError::serverCertificateUntrusted && !missingPinFile.empty()
                                         ? "pinned certificate file missing: " + missingPinFile
                                         : curl_easy_strerror(result);
                finish(easy, URLError::make(code, url, detail));
            }
        }

        // Idle time-out: no byte in either direction for the request's time.
        // With no transfer under way the thread sleeps until a command wakes it (post() wakes the poll):
        // an idle session costs no wake-ups.
        auto now = SteadyClock::now();
        auto wait = active.empty() ? std::chrono::milliseconds(std::chrono::hours(1))
                                   : std::chrono::milliseconds(1000);
        std::vector<CURL*> idle;
        for (auto& [easy, task] : active) {
            Transfer& transfer = *task->transfer_;
            if (!transfer.connected) continue;
            auto idleDeadline =
                transfer.lastActivity + std::chrono::duration_cast<SteadyClock::duration>(
                                            std::chrono::duration<double>(transfer.idleSeconds));
            auto resourceDeadline =
                transfer.sentAt + std::chrono::duration_cast<SteadyClock::duration>(
                                      std::chrono::duration<double>(std::min(transfer.resourceSeconds, 1e9)));
            auto deadline = std::min(idleDeadline, resourceDeadline);
            if (deadline <= now) {
                idle.push_back(easy);
            } else {
                wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
            }
        }
        for (CURL* easy : idle)
            finish(easy, URLError::make(URLError::timedOut, active.at(easy)->request_.url));

        long curlWait = -1;
        curl_multi_timeout(multi, &curlWait);
        long ms = static_cast<long>(wait.count());
        if (curlWait >= 0) ms = std::min(ms, curlWait);
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::max(ms, 0L)), nullptr);
    }
}

bool SessionCore::configure(URLSessionTask& task, Transfer& t) {
    const URLRequest& request = task.request_;
    CURL* e = t.easy;
    curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(e, CURLOPT_PRIVATE, &task);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, configuration.followsRedirects ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!configuration.trustedCertificatesFile.empty()) {
        curl_easy_setopt(e, CURLOPT_CAINFO, configuration.trustedCertificatesFile.c_str());
        curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
    }
    if (!pins.empty()) curl_easy_setopt(e, CURLOPT_PINNEDPUBLICKEY, pins.c_str());
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");

    t.idleSeconds = std::min(configuration.timeoutIntervalForRequest, request.timeoutInterval);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, millisecondsFor(t.idleSeconds));
    // No curl total time-out: curl would count the wait behind the per-host cap.
    t.resourceSeconds = configuration.timeoutIntervalForResource;
    t.cap = std::max<int64_t>(0, configuration.maximumResponseBytes);
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t.cap));

    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &Transfer::onConnected);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &t);

    // Headers: the configuration's, then the request's (which win), and an
    // empty Expect so that curl never waits for a 100 Continue.
    HTTPHeaderFields fields = request.allHTTPHeaderFields;
    for (const auto& [name, value] : configuration.httpAdditionalHeaders) fields.emplace(name, value);
    fields.erase("Expect");
    if (fields.find("User-Agent") == fields.end()) curl_easy_setopt(e, CURLOPT_USERAGENT, userAgent.c_str());
    for (const auto& [name, value] : fields) {
        // "Name;" is curl's way to send a header with an empty value.
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        t.headers = curl_slist_append(t.headers, line.c_str());
    }
    t.headers = curl_slist_append(t.headers, "Expect:");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers);

    std::string method = request.httpMethod.empty() ? "GET" : request.httpMethod;
    if (task.kind_ == URLSessionTask::Kind::upload && request.httpMethod == "GET") method = "POST";
    bool hasBody = !t.requestBody.empty();
    if (method == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (method == "POST" || hasBody) {
        static const char empty[] = "";
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.requestBody.size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS,
                         hasBody ? reinterpret_cast<const char*>(t.requestBody.data()) : empty);
        if (method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method != "GET") {
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    if (configuration.resolveHook) {
        CURLU* parts = curl_url();
        if (parts && curl_url_set(parts, CURLUPART_URL, request.url.c_str(), 0) == CURLUE_OK) {
            char* host = nullptr;
            char* port = nullptr;
            if (curl_url_get(parts, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
                curl_url_get(parts, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
                if (auto address = configuration.resolveHook(host)) {
                    std::string entry = std::string(host) + ":" + port + ":" + *address;
                    t.resolve = curl_slist_append(t.resolve, entry.c_str());
                    curl_easy_setopt(e, CURLOPT_RESOLVE, t.resolve);
                }
            }
            curl_free(host);
            curl_free(port);
        }
        curl_url_cleanup(parts);
    }

    t.wantsFile = task.kind_ == URLSessionTask::Kind::download;
    t.redirects.currentURL = request.url;
    t.redirects.followsRedirects = configuration.followsRedirects;
    t.redirects.stayOnHost = configuration.redirectsStayOnHost;
    t.lastActivity = SteadyClock::now();
    return true;
}

void SessionCore::start(const std::shared_ptr<URLSessionTask>& task) {
    if (task->state() != URLSessionTask::State::running) {
        // cancel() came between resume() and this start: complete as cancelled.
        task->deliverError(URLError::make(URLError::cancelled, task->request_.url));
        return;
    }
    if (isNeverResolvable(task->request_.url)) {
        task->deliverError(URLError::make(URLError::cannotFindHost, task->request_.url));
        return;
    }
    Transfer& transfer = *task->transfer_;
    transfer.easy = curl_easy_init();
    if (!transfer.easy) {
        task->deliverError(URLError::make(URLError::unknown, task->request_.url, "curl_easy_init failed"));
        return;
    }
    if (!configure(*task, transfer)) {
        transfer.discardFile();
        task->deliverError(URLError::make(URLError::cannotCreateFile, task->request_.url));
        return;
    }
    if (curl_multi_add_handle(multi, transfer.easy) != CURLM_OK) {
        transfer.discardFile();
        task->deliverError(
            URLError::make(URLError::unknown, task->request_.url, "curl_multi_add_handle failed"));
        return;
    }
    active.emplace(transfer.easy, task);
}

void SessionCore::finish(CURL* easy, std::optional<Error> error) {
    auto it = active.find(easy);
    if (it == active.end()) return;
    std::shared_ptr<URLSessionTask> task = std::move(it->second);
    active.erase(it);
    curl_multi_remove_handle(multi, easy);
    Transfer& transfer = *task->transfer_;

    // A cancel() that raced with the end of the transfer still wins: the
    // caller asked for -999 and gets it.
    if (!error && task->state() == URLSessionTask::State::canceling) {
        error = URLError::make(URLError::cancelled, task->request_.url);
    }
    // The last buffered bytes of a download reach the disk here; a file that
    // could not be completed is an error, never a short file.
    if (!error && transfer.file) {
        bool written = std::fclose(transfer.file) == 0;
        transfer.file = nullptr;
        if (!written) error = URLError::make(URLError::cannotWriteToFile, task->request_.url);
    }
    if (error) {
        transfer.discardFile();
        task->transfer_ = std::make_unique<Transfer>();
        task->deliverError(std::move(*error));
        return;
    }

    char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    HTTPURLResponse response(effective ? effective : task->request_.url, status,
                             std::move(transfer.responseHeaders));

    task->state_.store(URLSessionTask::State::completed, std::memory_order_release);
    if (task->kind_ == URLSessionTask::Kind::download) {
        std::string path = std::move(transfer.filePath);
        transfer.filePath.clear();
        auto completion = std::move(task->downloadCompletion_);
        // Moved, not copied: a copy left on this thread would release what
        // the completion holds here, possibly the last owner of this session.
        delegateQueue->async([completion = std::move(completion), path, response] {
            if (completion) completion(path, response, std::nullopt);
            ::unlink(path.c_str());
        });
    } else {
        auto completion = std::move(task->dataCompletion_);
        auto data = std::make_shared<std::vector<uint8_t>>(std::move(transfer.data));
        delegateQueue->async([completion = std::move(completion), data, response] {
            if (completion) completion(std::move(*data), response, std::nullopt);
        });
    }
    // The easy handle and buffers go now, on this thread, not with the task.
    task->transfer_ = std::make_unique<Transfer>();
}

}  // namespace net_detail

// ---------------------------------------------------------------------------

using net_detail::Command;
using net_detail::SessionCore;

URLSessionTask::URLSessionTask(uint64_t identifier, Kind kind, URLRequest request,
                               std::weak_ptr<net_detail::SessionCore> core,
                               std::shared_ptr<DispatchQueue> delegateQueue)
    : identifier_(identifier),
      kind_(kind),
      request_(std::move(request)),
      core_(std::move(core)),
      delegateQueue_(std::move(delegateQueue)),
      transfer_(std::make_unique<net_detail::Transfer>()) {}

URLSessionTask::~URLSessionTask() = default;

void URLSessionTask::deliverError(Error error) {
    state_.store(State::completed, std::memory_order_release);
    if (kind_ == Kind::download) {
        auto completion = std::move(downloadCompletion_);
        delegateQueue_->async([completion = std::move(completion), error] {
            if (completion) completion(std::nullopt, std::nullopt, error);
        });
    } else {
        auto completion = std::move(dataCompletion_);
        delegateQueue_->async([completion = std::move(completion), error] {
            if (completion) completion(std::nullopt, std::nullopt, error);
        });
    }
}

void URLSessionTask::resume() {
    State expected = State::suspended;
    if (!state_.compare_exchange_strong(expected, State::running, std::memory_order_acq_rel)) return;
    std::shared_ptr<SessionCore> core = core_.lock();
    if (!core || !core->post({Command::Kind::start, shared_from_this()})) {
        // The session is gone or invalidated: nothing will ever run this task.
        deliverError(URLError::make(URLError::cancelled, request_.url));
    }
}

void URLSessionTask::cancel() {
    State current = state_.load(std::memory_order_acquire);
    for (;;) {
        if (current == State::suspended) {
            if (state_.compare_exchange_weak(current, State::canceling, std::memory_order_acq_rel)) {
                deliverError(URLError::make(URLError::cancelled, request_.url));
                return;
            }
        } else if (current == State::running) {
            if (state_.compare_exchange_weak(current, State::canceling, std::memory_order_acq_rel)) break;
        } else {
            return;  // already canceling or completed: the completion is on its way
        }
    }
    // A stopped session has completed every task it ran.
    if (std::shared_ptr<SessionCore> core = core_.lock())
        core->post({Command::Kind::cancel, shared_from_this()});
}

// ---------------------------------------------------------------------------

URLSessionConfiguration URLSessionConfiguration::defaultConfiguration() {
    return URLSessionConfiguration();
}

URLSessionConfiguration URLSessionConfiguration::ephemeral() {
    URLSessionConfiguration configuration;
    configuration.ephemeral_ = true;
    return configuration;
}

std::string URLSession::userAgent() {
    static const std::string agent = [] {
        std::string version;
        if (auto shortVersion = Bundle::main().infoString("CFBundleShortVersionString"))
            version = *shortVersion;
        // An unconfigured template ("@PROJECT_VERSION@") is no version either.
        if (version.empty() || version.find('@') != std::string::npos) version = TERVOLO_PROJECT_VERSION;
        return "TervoloNG/" + version;
    }();
    return agent;
}

std::shared_ptr<URLSession> URLSession::make(URLSessionConfiguration configuration,
                                             std::shared_ptr<DispatchQueue> delegateQueue) {
    net_detail::ensureCurlInitialised();
    auto core = std::make_shared<SessionCore>();
    core->configuration = std::move(configuration);
    core->delegateQueue =
        delegateQueue ? std::move(delegateQueue) : DispatchQueue::serial("URLSession delegate queue");
    core->userAgent = userAgent();
    if (!core->configuration.pinnedCertificateFiles.empty()) {
        bool allRead = true;
        for (const auto& path : core->configuration.pinnedCertificateFiles) {
            auto pin = net_detail::publicKeyPin(path);
            if (!pin) {
                allRead = false;
                if (core->missingPinFile.empty()) core->missingPinFile = path;
                continue;
            }
            core->pins += (core->pins.empty() ? "" : ";") + *pin;
        }
        // Fail closed: a pin set with a hole in it matches no key at all. A
        // missing file is a packaging fault, not a reason to stop the process.
        if (!allRead) {
            core->pins = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
            OSLog::make("org.tervolo.TervoloNG", "net")
                ->write(OSLogType::Error, "pinned certificate file missing or unreadable: " +
                                              core->missingPinFile + "; pinned https requests will fail");
        }
    }
    core->multi = curl_multi_init();
    curl_multi_setopt(core->multi, CURLMOPT_MAX_HOST_CONNECTIONS,
                      static_cast<long>(std::max(1, core->configuration.httpMaximumConnectionsPerHost)));
    SessionCore* raw = core.get();
    core->thread = std::thread([raw] { raw->run(); });
    return std::shared_ptr<URLSession>(new URLSession(std::move(core)));
}

URLSession& URLSession::shared() {
    // Never destroyed: completions may still arrive while the process exits. The holder sits in a
    // static so that it stays reachable: a leak checker would otherwise report it at exit.
    return SharedInstance<URLSession>::get([] {
        static auto* holder =
            new std::shared_ptr<URLSession>(make(URLSessionConfiguration::defaultConfiguration()));
        return holder->get();
    });
}

URLSession::URLSession(std::shared_ptr<SessionCore> core) : core_(std::move(core)) {}

URLSession::~URLSession() {
    invalidateAndCancel();
}

void URLSession::invalidateAndCancel() {
    std::vector<std::shared_ptr<URLSessionTask>> tasks;
    {
        std::lock_guard lock(core_->mutex);
        for (auto& weak : core_->tasks) {
            if (auto task = weak.lock()) tasks.push_back(std::move(task));
        }
    }
    for (auto& task : tasks) task->cancel();
    core_->post({Command::Kind::stop, nullptr});
    if (core_->thread.joinable()) {
        if (core_->thread.get_id() == std::this_thread::get_id()) {
            core_->thread.detach();
        } else {
            core_->thread.join();
        }
    }
}

const URLSessionConfiguration& URLSession::configuration() const {
    return core_->configuration;
}

const std::shared_ptr<DispatchQueue>& URLSession::delegateQueue() const {
    return core_->delegateQueue;
}

std::shared_ptr<URLSessionTask> URLSession::makeTask(URLSessionTask::Kind kind, URLRequest request) {
    std::lock_guard lock(core_->mutex);
    auto task = std::shared_ptr<URLSessionTask>(
        new URLSessionTask(core_->nextIdentifier++, kind, std::move(request), core_, core_->delegateQueue));
    // Forget tasks that are gone so the list stays as long as the live ones.
    std::erase_if(core_->tasks, [](const std::weak_ptr<URLSessionTask>& weak) { return weak.expired(); });
    core_->tasks.push_back(task);
    return task;
}

std::shared_ptr<URLSessionTask> URLSession::dataTask(URLRequest request,
                                                     URLSessionTask::DataCompletion completion) {
    auto task = makeTask(URLSessionTask::Kind::data, std::move(request));
    task->transfer_->requestBody = task->request_.httpBody;
    task->dataCompletion_ = std::move(completion);
    return task;
}

std::shared_ptr<URLSessionTask> URLSession::dataTask(const std::string& url,
                                                     URLSessionTask::DataCompletion completion) {
    return dataTask(URLRequest(url), std::move(completion));
}

std::shared_ptr<URLSessionTask> URLSession::uploadTask(URLRequest request, std::vector<uint8_t> body,
                                                       URLSessionTask::DataCompletion completion) {
    auto task = makeTask(URLSessionTask::Kind::upload, std::move(request));
    task->transfer_->requestBody = std::move(body);
    task->dataCompletion_ = std::move(completion);
    return task;
}

std::shared_ptr<URLSessionTask> URLSession::downloadTask(URLRequest request,
                                                         URLSessionTask::DownloadCompletion completion) {
    auto task = makeTask(URLSessionTask::Kind::download, std::move(request));
    task->transfer_->requestBody = task->request_.httpBody;
    task->downloadCompletion_ = std::move(completion);
    return task;
}

}  // namespace platform
