#pragma once
// A plain TCP connection to a test server on loopback, for what the screen's own client never
// does: stay silent, send half a request, handshake by hand.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace acerto::test {

class RawSocket {
  public:
    explicit RawSocket(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    bool connected() const { return connected_; }
    bool send(std::string_view bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // What arrives until the server closes the connection or `wait` passes.
    std::string read(std::chrono::milliseconds wait) {
        std::string got;
        auto until = std::chrono::steady_clock::now() + wait;
        while (!closed_) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::max<long long>(0, left))) <= 0) break;
            char buf[16384];
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }
    // The first bytes that arrive within `wait` (empty when none do).
    std::string receive(std::chrono::milliseconds wait) {
        pollfd p{fd_, POLLIN, 0};
        if (closed_ || ::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return {};
        char buf[16384];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) closed_ = true;
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }
    // Whether the server closed it within `wait` (what it sent is dropped).
    bool closed_within(std::chrono::milliseconds wait) {
        read(wait);
        return closed_;
    }
    // The same, counting what it sent before.
    bool closed_within(std::chrono::milliseconds wait, std::size_t& received) {
        received += read(wait).size();
        return closed_;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
};

}  // namespace acerto::test
