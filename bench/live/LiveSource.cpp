#include "bench/live/LiveSource.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace orvento::bench {

namespace {

constexpr const char* kResponseHead =
    "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-name: Orvento live bench\r\n\r\n";
// How often the live point is looked at: the writes' quantum.
constexpr int kTickMilliseconds = 20;

}  // namespace

struct LiveSource::Client {
    int fd = -1;
    std::string request;
    std::string head;       // left to send of the response's head
    std::size_t sent = 0;   // the station's next byte for this client
    bool answered = false;  // the request has come
};

LiveSource::LiveSource(Station station, Clock::time_point origin, Clock::time_point press,
                       LiveSchedule schedule)
    : station_(std::move(station)), origin_(origin), press_(press), schedule_(std::move(schedule)) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listenFd_, 16) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listenFd_ >= 0) {
            close(listenFd_);
        }
        throw std::runtime_error("the live source cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { serve(); });
}

LiveSource::~LiveSource() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(stopFd_, &one, sizeof one);
    thread_.join();
    close(stopFd_);
    close(listenFd_);
}

std::string LiveSource::url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/live.mp3";
}

double LiveSource::sincePress(Clock::time_point now) const {
    return std::chrono::duration<double>(now - press_).count();
}

bool LiveSource::within(const std::vector<Outage>& outages, double at) const {
    return std::any_of(outages.begin(), outages.end(),
                       [at](const Outage& o) { return at >= o.at && at < o.at + o.seconds; });
}

void LiveSource::serve() {
    std::vector<Client> clients;
    const auto drop = [&clients](std::size_t i) {
        close(clients[i].fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
    };
    for (;;) {
        std::vector<pollfd> fds{{stopFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (const Client& c : clients) {
            fds.push_back({c.fd, static_cast<short>(c.answered ? 0 : POLLIN), 0});
        }
        poll(fds.data(), fds.size(), kTickMilliseconds);
        if (fds[0].revents & POLLIN) {
            break;
        }
        const Clock::time_point now = Clock::now();
        const double at = sincePress(now);
        const bool dropped = within(schedule_.drops, at);
        const bool stalled = within(schedule_.stalls, at);
        const auto live = static_cast<std::size_t>(std::clamp(
            std::chrono::duration<double>(now - origin_).count() * station_.bytesPerSecond, 0.0,
            static_cast<double>(station_.bytes.size())));
        for (int fd;
             (fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
            if (dropped) {
                close(fd);
            } else {
                Client client;
                client.fd = fd;
                clients.push_back(std::move(client));
            }
        }
        if (dropped) {
            while (!clients.empty()) {
                drop(clients.size() - 1);
            }
            continue;
        }
        for (std::size_t i = clients.size(); i-- > 0;) {
            Client& c = clients[i];
            if (!c.answered) {
                char buffer[2048];
                const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
                if (n == 0 || (n < 0 && errno != EAGAIN)) {
                    drop(i);
                    continue;
                }
                if (n > 0) {
                    c.request.append(buffer, static_cast<std::size_t>(n));
                }
                if (c.request.find("\r\n\r\n") == std::string::npos) {
                    continue;
                }
                // The burst: what went out live before, from a frame's start.
                c.answered = true;
                c.head = kResponseHead;
                const std::size_t from =
                    live > station_.burstBytes ? live - station_.burstBytes : 0;
                c.sent = from / station_.frameBytes * station_.frameBytes;
                connections_.fetch_add(1);
            }
            if (stalled) {
                continue;
            }
            bool failed = false;
            while (!c.head.empty()) {
                const ssize_t n = send(c.fd, c.head.data(), c.head.size(), MSG_NOSIGNAL);
                if (n <= 0) {
                    failed = n < 0 && errno != EAGAIN;
                    break;
                }
                c.head.erase(0, static_cast<std::size_t>(n));
            }
            while (!failed && c.head.empty() && c.sent < live) {
                const ssize_t n =
                    send(c.fd, station_.bytes.data() + c.sent, live - c.sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    failed = n < 0 && errno != EAGAIN;
                    break;
                }
                c.sent += static_cast<std::size_t>(n);
            }
            if (failed) {
                drop(i);
            }
        }
    }
    for (Client& c : clients) {
        close(c.fd);
    }
}

}  // namespace orvento::bench
