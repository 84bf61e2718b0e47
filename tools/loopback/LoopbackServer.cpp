#include "tools/loopback/LoopbackServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>

namespace orvento::loopback {
namespace {

constexpr std::uint64_t kPatternPeriod = 65521;
constexpr std::size_t kMaxWrite = 65536;
constexpr std::size_t kMaxHead = std::size_t{64} * 1024;

// The pattern's period followed by its first kMaxWrite bytes again, so that
// any write of up to kMaxWrite bytes is one contiguous slice.
const std::vector<std::uint8_t>& patternTable() {
    static const std::vector<std::uint8_t> table = [] {
        std::vector<std::uint8_t> bytes(kPatternPeriod + kMaxWrite);
        std::uint32_t x = 2463534242U;
        for (std::size_t i = 0; i < kPatternPeriod; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            bytes[i] = static_cast<std::uint8_t>(x >> 24);
        }
        for (std::size_t i = kPatternPeriod; i < bytes.size(); ++i) {
            bytes[i] = bytes[i - kPatternPeriod];
        }
        return bytes;
    }();
    return table;
}

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::generic_category().message(errno));
}

std::string tlsErrorText() {
    char text[256] = "unknown TLS error";
    if (const unsigned long code = ERR_get_error(); code != 0) {
        ERR_error_string_n(code, text, sizeof text);
    }
    return text;
}

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* object) const { Free(object); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, Deleter<SSL_CTX, SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, Deleter<SSL, SSL_free>>;

// A self-signed certificate for 127.0.0.1 and `hostNames` with a fresh P-256 key.
std::pair<PkeyPtr, X509Ptr> makeCertificate(const std::vector<std::string>& hostNames) {
    PkeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr cert(X509_new());
    if (!key || !cert) {
        throw std::runtime_error("cannot make a TLS key: " + tlsErrorText());
    }
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert.get(), cert.get(), nullptr, nullptr, 0);
    std::string alternativeNames = "IP:127.0.0.1";
    for (const std::string& host : hostNames) {
        alternativeNames += ",DNS:" + host;
    }
    for (const auto& [nid, value] : {std::pair{NID_subject_alt_name, alternativeNames.c_str()},
                                     std::pair{NID_basic_constraints, "CA:FALSE"}}) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        if (extension == nullptr) {
            throw std::runtime_error("cannot make a certificate extension: " + tlsErrorText());
        }
        X509_add_ext(cert.get(), extension, -1);
        X509_EXTENSION_free(extension);
    }
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        throw std::runtime_error("cannot sign the certificate: " + tlsErrorText());
    }
    return {std::move(key), std::move(cert)};
}

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

sockaddr_in loopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

int listenOnLoopback(int backlog, std::uint16_t port = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw systemError("socket");
    }
    if (port != 0) {
        // A fixed port is taken again at once after a restart.
        const int reuse = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    }
    const sockaddr_in address = loopbackAddress(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, backlog) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        throw systemError("bind/listen on 127.0.0.1");
    }
    return fd;
}

}  // namespace

std::uint8_t patternByte(std::uint64_t offset) {
    return patternTable()[offset % kPatternPeriod];
}

bool matchesPattern(const std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
    const std::vector<std::uint8_t>& table = patternTable();
    while (size > 0) {
        const std::size_t start = offset % kPatternPeriod;
        const std::size_t run = std::min(size, table.size() - start);
        if (std::memcmp(bytes, table.data() + start, run) != 0) {
            return false;
        }
        bytes += run;
        size -= run;
        offset += run;
    }
    return true;
}

// --- Script ---

Script Script::fixed(std::string body, std::string contentType) {
    Script script;
    script.length = body.size();
    script.data = std::make_shared<const std::string>(std::move(body));
    script.headers.push_back("Content-Type: " + std::move(contentType));
    return script;
}

Script Script::generated(std::function<std::string()> make, std::string contentType) {
    Script script = fixed({}, std::move(contentType));
    script.makeBody = std::move(make);
    return script;
}

Script Script::fromFile(const std::string& path, std::string contentType) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream content;
    content << file.rdbuf();
    return fixed(std::move(content).str(), std::move(contentType));
}

Script Script::pattern(std::uint64_t length) {
    Script script;
    script.length = length;
    return script;
}

Script Script::endless() {
    Script script;
    script.framing = Framing::untilClose;
    return script;
}

Script Script::notFound() {
    Script script = fixed(
        "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>\n"
        "<body><h1>Not Found</h1><p>The requested URL was not found on this server.</p></body>"
        "</html>\n",
        "text/html; charset=utf-8");
    script.statusLine = "HTTP/1.1 404 Not Found";
    return script;
}

Script Script::redirect(std::string location, int status) {
    Script script = fixed("", "text/plain");
    script.statusLine = "HTTP/1.1 " + std::to_string(status) + " Redirect";
    script.headers.push_back("Location: " + std::move(location));
    return script;
}

Script Script::silent() {
    Script script;
    script.neverAnswer = true;
    return script;
}

Script& Script::withStatusLine(std::string line) {
    statusLine = std::move(line);
    return *this;
}

Script& Script::withHeader(std::string line) {
    headers.push_back(std::move(line));
    return *this;
}

Script& Script::chunked() {
    framing = Framing::chunked;
    return *this;
}

Script& Script::untilClose() {
    framing = Framing::untilClose;
    return *this;
}

Script& Script::repeated(std::optional<std::uint64_t> total) {
    length = total;
    if (!total && framing == Framing::contentLength) {
        framing = Framing::untilClose;
    }
    return *this;
}

Script& Script::paced(double rate, std::uint64_t burst) {
    bytesPerSecond = rate;
    burstBytes = burst;
    return *this;
}

Script& Script::jittered(double maxSeconds, std::uint32_t seed) {
    jitterSeconds = maxSeconds;
    jitterSeed = seed;
    return *this;
}

Script& Script::writesOf(std::size_t bytes) {
    writeSize = std::clamp<std::size_t>(bytes, 1, kMaxWrite);
    return *this;
}

Script& Script::withSendBuffer(int bytes) {
    sendBufferBytes = bytes;
    return *this;
}

Script& Script::closeAfter(std::uint64_t bytes) {
    closeAfterBytes = bytes;
    return *this;
}

Script& Script::stallAfter(std::uint64_t bytes) {
    stallAfterBytes = bytes;
    return *this;
}

Script& Script::holdAfter(std::uint64_t bytes, double seconds) {
    holdAfterBytes = bytes;
    holdSeconds = seconds;
    return *this;
}

// --- Connections ---

struct LoopbackServer::Tls {
    SslCtxPtr context;
};

// One accepted socket, plain or TLS, whose every wait also ends when the
// server stops.
struct LoopbackServer::Connection {
    int fd;
    int stopFd;
    SslPtr ssl;

    Connection(int socket, int stop) : fd(socket), stopFd(stop) {}
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (ssl) {
            SSL_shutdown(ssl.get());  // best effort, non-blocking
        }
        ::close(fd);
    }

    // Waits for `events` on the socket; false when the server stops (or,
    // with a timeout, when it passes).
    bool wait(short events, int timeoutMs = -1) const {
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        for (;;) {
            const int ready = ::poll(fds, 2, timeoutMs);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            return ready > 0 && fds[1].revents == 0;
        }
    }

    bool stopped() const {
        pollfd stop{stopFd, POLLIN, 0};
        return ::poll(&stop, 1, 0) > 0;
    }

    // Waits for the TLS result `code`'s wish; false when the connection
    // failed or the server stops.
    bool waitForTls(int code) const {
        const int error = SSL_get_error(ssl.get(), code);
        if (error == SSL_ERROR_WANT_READ) {
            return wait(POLLIN);
        }
        if (error == SSL_ERROR_WANT_WRITE) {
            return wait(POLLOUT);
        }
        return false;
    }

    bool handshake() {
        for (;;) {
            const int result = SSL_accept(ssl.get());
            if (result == 1) {
                return true;
            }
            if (!waitForTls(result)) {
                return false;
            }
        }
    }

    // Sends all `size` bytes, adding what the socket accepted to `counter`.
    // False when the peer is gone or the server stops.
    bool sendAll(const char* data, std::size_t size, std::atomic<std::uint64_t>* counter) {
        while (size > 0) {
            if (stopped()) {
                return false;
            }
            std::size_t sent = 0;
            if (ssl) {
                const int result = SSL_write(ssl.get(), data, static_cast<int>(size));
                if (result <= 0) {
                    if (!waitForTls(result)) {
                        return false;
                    }
                    continue;
                }
                sent = static_cast<std::size_t>(result);
            } else {
                const ssize_t result = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (result < 0) {
                    if ((errno != EAGAIN && errno != EINTR) || !wait(POLLOUT)) {
                        return false;
                    }
                    continue;
                }
                sent = static_cast<std::size_t>(result);
            }
            if (counter != nullptr) {
                counter->fetch_add(sent);
            }
            data += sent;
            size -= sent;
        }
        return true;
    }

    // Reads what is there: > 0 bytes, 0 at the peer's close, -1 on error or
    // stop. Waits for data first.
    ssize_t receive(char* buffer, std::size_t size) {
        for (;;) {
            if (ssl) {
                const int result = SSL_read(ssl.get(), buffer, static_cast<int>(size));
                if (result > 0) {
                    return result;
                }
                if (SSL_get_error(ssl.get(), result) == SSL_ERROR_ZERO_RETURN) {
                    return 0;
                }
                if (!waitForTls(result)) {
                    return SSL_get_error(ssl.get(), result) == SSL_ERROR_SYSCALL ? 0 : -1;
                }
                continue;
            }
            const ssize_t result = ::recv(fd, buffer, size, MSG_DONTWAIT);
            if (result >= 0) {
                return result;
            }
            if ((errno != EAGAIN && errno != EINTR) || !wait(POLLIN)) {
                return -1;
            }
        }
    }

    bool readHead(std::string& head) {
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            if (head.size() > kMaxHead) {
                return false;
            }
            const ssize_t got = receive(buffer, sizeof buffer);
            if (got <= 0) {
                return false;
            }
            head.append(buffer, static_cast<std::size_t>(got));
        }
        head.resize(head.find("\r\n\r\n") + 4);
        return true;
    }

    // Stays until the peer closes or the server stops, discarding input.
    void waitForPeerClose() {
        char buffer[4096];
        while (receive(buffer, sizeof buffer) > 0) {
        }
    }

    // Sleeps up to `seconds`; false when the server stops meanwhile.
    bool pause(double seconds) const {
        pollfd stop{stopFd, POLLIN, 0};
        const int ms = std::max(1, static_cast<int>(std::ceil(seconds * 1000)));
        return ::poll(&stop, 1, ms) == 0;
    }
};

// --- Server ---

LoopbackServer::LoopbackServer(Transport transport, std::uint16_t port,
                               const std::vector<std::string>& hostNames)
    : transport_(transport) {
    if (transport_ == Transport::tls) {
        auto [key, cert] = makeCertificate(hostNames);
        tls_ = std::make_unique<Tls>();
        tls_->context.reset(SSL_CTX_new(TLS_server_method()));
        if (!tls_->context || SSL_CTX_use_certificate(tls_->context.get(), cert.get()) != 1 ||
            SSL_CTX_use_PrivateKey(tls_->context.get(), key.get()) != 1) {
            throw std::runtime_error("cannot set up TLS: " + tlsErrorText());
        }
        SSL_CTX_set_mode(tls_->context.get(),
                         SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        char path[] = "/tmp/orvento-loopback-ca-XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd < 0) {
            throw systemError("mkstemp");
        }
        FILE* file = ::fdopen(fd, "w");
        const bool written = file != nullptr && PEM_write_X509(file, cert.get()) == 1;
        if (file != nullptr) {
            std::fclose(file);
        }
        caFile_ = path;
        if (!written) {
            ::unlink(path);
            throw std::runtime_error("cannot write the certificate file");
        }
    }
    listenFd_ = listenOnLoopback(SOMAXCONN, port);
    port_ = boundPort(listenFd_);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopFd_ < 0) {
        throw systemError("eventfd");
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    const std::uint64_t stop = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopFd_, &stop, sizeof stop);
    acceptThread_.join();
    std::vector<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (Worker& worker : workers) {
        worker.thread.join();
    }
    ::close(listenFd_);
    ::close(stopFd_);
    if (!caFile_.empty()) {
        ::unlink(caFile_.c_str());
    }
}

void LoopbackServer::setScript(const std::string& path, Script script) {
    std::lock_guard lock(mutex_);
    scripts_[path] = std::move(script);
}

std::string LoopbackServer::url(const std::string& path) const {
    return std::string(transport_ == Transport::tls ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<PacedBody> LoopbackServer::pacedBodies() const {
    std::lock_guard lock(mutex_);
    return pacedBodies_;
}

bool LoopbackServer::waitUntil(const std::function<bool()>& condition,
                               std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(changeMutex_);
    while (!condition()) {
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            return condition();
        }
    }
    return true;
}

void LoopbackServer::noteChange() const {
    { std::lock_guard lock(changeMutex_); }
    changed_.notify_all();
}

Script LoopbackServer::scriptFor(const std::string& target) const {
    const std::string path = target.substr(0, target.find('?'));
    std::lock_guard lock(mutex_);
    if (const auto it = scripts_.find(path); it != scripts_.end()) {
        return it->second;
    }
    if (const auto it = scripts_.find("*"); it != scripts_.end()) {
        return it->second;
    }
    return Script::notFound();
}

void LoopbackServer::reapFinished() {
    std::vector<Worker> finished;
    {
        std::lock_guard lock(mutex_);
        const auto done = std::stable_partition(workers_.begin(), workers_.end(),
                                                [](const Worker& w) { return !w.done->load(); });
        std::move(done, workers_.end(), std::back_inserter(finished));
        workers_.erase(done, workers_.end());
    }
    for (Worker& worker : finished) {
        worker.thread.join();
    }
}

void LoopbackServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        accepted_.fetch_add(1);
        open_.fetch_add(1);
        noteChange();
        reapFinished();
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard lock(mutex_);
        workers_.push_back({std::thread([this, fd, done] {
                                serve(fd);
                                open_.fetch_sub(1);
                                noteChange();
                                done->store(true);
                            }),
                            done});
    }
}

void LoopbackServer::serve(int fd) {
    // A peer that goes away must fail a write, not kill the process (TLS
    // writes go through write(2), which raises SIGPIPE).
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    Connection connection(fd, stopFd_);
    if (tls_) {
        connection.ssl.reset(SSL_new(tls_->context.get()));
        if (!connection.ssl || SSL_set_fd(connection.ssl.get(), fd) != 1 ||
            !connection.handshake()) {
            return;
        }
    }
    std::string head;
    if (!connection.readHead(head)) {
        return;
    }
    std::string target;
    {
        std::istringstream line(head.substr(0, head.find("\r\n")));
        std::string method;
        line >> method >> target;
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(head);
    }
    noteChange();
    Script script = scriptFor(target);
    if (script.makeBody) {
        script.data = std::make_shared<const std::string>(script.makeBody());
        script.length = script.data->size();
    }
    if (script.neverAnswer) {
        connection.waitForPeerClose();
        return;
    }
    if (script.sendBufferBytes > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &script.sendBufferBytes,
                     sizeof script.sendBufferBytes);
    }

    std::string response = script.statusLine + "\r\n";
    for (const std::string& header : script.headers) {
        response += header + "\r\n";
    }
    if (script.framing == Script::Framing::chunked) {
        response += "Transfer-Encoding: chunked\r\n";
    } else if (script.framing == Script::Framing::contentLength && script.length) {
        response += "Content-Length: " + std::to_string(*script.length) + "\r\n";
    }
    response += "Connection: close\r\n\r\n";
    if (!connection.sendAll(response.data(), response.size(), nullptr)) {
        return;
    }

    const std::uint64_t total = script.length.value_or(UINT64_MAX);
    const std::uint64_t limit = std::min({total, script.closeAfterBytes.value_or(UINT64_MAX),
                                          script.stallAfterBytes.value_or(UINT64_MAX)});
    const std::size_t writeSize = std::clamp<std::size_t>(script.writeSize, 1, kMaxWrite);
    const double rate = script.bytesPerSecond;
    // Paced bodies are written at most twenty times a second.
    const auto quantum = static_cast<std::uint64_t>(
        rate > 0 ? std::clamp(rate / 20, 1.0, static_cast<double>(writeSize)) : writeSize);
    const auto start = std::chrono::steady_clock::now();
    if (rate > 0) {
        std::lock_guard lock(mutex_);
        pacedBodies_.push_back({target, start, script.burstBytes, rate});
    }
    std::mt19937 random(script.jitterSeed);
    std::uniform_real_distribution<double> unit(0, 1);
    // Paced writes come twenty times a second: one in forty is held back.
    constexpr double kHoldChance = 1.0 / 40;
    std::uint64_t sent = 0;
    bool held = false;
    while (sent < limit) {
        if (script.holdAfterBytes && sent == *script.holdAfterBytes && !held) {
            held = true;
            if (!connection.pause(script.holdSeconds)) {
                return;
            }
        }
        std::uint64_t allowed = limit - sent;
        if (script.holdAfterBytes && sent < *script.holdAfterBytes) {
            allowed = std::min(allowed, *script.holdAfterBytes - sent);
        }
        if (rate > 0) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double permitted =
                static_cast<double>(script.burstBytes) + rate * elapsed - static_cast<double>(sent);
            const std::uint64_t step = std::min(quantum, limit - sent);
            if (permitted < static_cast<double>(step)) {
                if (!connection.pause((static_cast<double>(step) - permitted) / rate)) {
                    return;
                }
                continue;
            }
            allowed = std::min(allowed, static_cast<std::uint64_t>(permitted));
        }
        std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(allowed, writeSize));
        const char* bytes = nullptr;
        if (script.data) {
            if (script.data->empty()) {
                break;
            }
            const std::size_t offset = sent % script.data->size();
            size = std::min(size, script.data->size() - offset);
            bytes = script.data->data() + offset;
        } else {
            bytes = reinterpret_cast<const char*>(patternTable().data() + sent % kPatternPeriod);
        }
        if (script.framing == Script::Framing::chunked) {
            char prefix[32];
            const int length = std::snprintf(prefix, sizeof prefix, "%zx\r\n", size);
            if (!connection.sendAll(prefix, static_cast<std::size_t>(length), nullptr) ||
                !connection.sendAll(bytes, size, &bodyBytes_) ||
                !connection.sendAll("\r\n", 2, nullptr)) {
                return;
            }
        } else if (!connection.sendAll(bytes, size, &bodyBytes_)) {
            return;
        }
        sent += size;
        noteChange();
        if (rate > 0 && script.jitterSeconds > 0 && sent > script.burstBytes &&
            unit(random) < kHoldChance && !connection.pause(unit(random) * script.jitterSeconds)) {
            return;
        }
    }
    if (script.stallAfterBytes && sent == *script.stallAfterBytes) {
        connection.waitForPeerClose();
        return;
    }
    if (script.closeAfterBytes && sent == *script.closeAfterBytes) {
        return;
    }
    if (script.framing == Script::Framing::chunked) {
        connection.sendAll("0\r\n\r\n", 5, nullptr);
    }
}

// --- UnansweredPort ---

UnansweredPort::UnansweredPort() {
    listenFd_ = listenOnLoopback(0);
    port_ = boundPort(listenFd_);
    // One connection that nobody accepts fills a queue of length 0; the
    // kernel then drops further connection requests without an answer.
    fillerFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    setNonBlocking(fillerFd_);
    const sockaddr_in address = loopbackAddress(port_);
    // Non-blocking: EINPROGRESS, then the handshake completes at once on loopback.
    (void)::connect(fillerFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    pollfd connected{fillerFd_, POLLOUT, 0};
    (void)::poll(&connected, 1, 5000);
}

UnansweredPort::~UnansweredPort() {
    ::close(fillerFd_);
    ::close(listenFd_);
}

std::string UnansweredPort::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace orvento::loopback
