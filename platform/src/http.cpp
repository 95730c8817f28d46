#include "acerto/platform/http.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/span.hpp>
#include <boost/beast/http.hpp>

namespace acerto::platform::http {

namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
namespace net = boost::asio;
using boost::system::error_code;

namespace {

constexpr int kMaxIov = 16;
// Beast reads as much as the buffer has room for: without room reserved it reads 512 bytes
// at a time, several calls for a save and thousands for a large settlement.
constexpr std::size_t kReadRoom = 64 * 1024;

beast::string_view view(std::string_view s) { return {s.data(), s.size()}; }

const error_code& timed_out() {
    static const error_code ec = make_error_code(boost::system::errc::timed_out);
    return ec;
}

// A blocking socket as Beast's synchronous algorithms want it. Its timeouts are the socket's
// own (SO_RCVTIMEO, SO_SNDTIMEO), so a read or write is one system call when the data is there.
class SocketStream {
public:
    explicit SocketStream(int fd) : fd_(fd) {}

    template <class Buffers>
    std::size_t read_some(const Buffers& buffers, error_code& ec) {
        return transfer(buffers, ec, false);
    }
    template <class Buffers>
    std::size_t read_some(const Buffers& buffers) {
        return or_throw([&](error_code& ec) { return transfer(buffers, ec, false); });
    }
    template <class Buffers>
    std::size_t write_some(const Buffers& buffers, error_code& ec) {
        return transfer(buffers, ec, true);
    }
    template <class Buffers>
    std::size_t write_some(const Buffers& buffers) {
        return or_throw([&](error_code& ec) { return transfer(buffers, ec, true); });
    }

private:
    // One sendmsg or recvmsg over the buffers; the end of the stream reads as Beast's eof.
    template <class Buffers>
    std::size_t transfer(const Buffers& buffers, error_code& ec, bool sending) {
        ec = {};
        iovec iov[kMaxIov];
        int n = fill(iov, buffers);
        if (n == 0) return 0;
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = static_cast<std::size_t>(n);
        for (;;) {
            ssize_t done = sending ? ::sendmsg(fd_, &msg, MSG_NOSIGNAL) : ::recvmsg(fd_, &msg, 0);
            if (done > 0 || (done == 0 && sending)) return static_cast<std::size_t>(done);
            if (done == 0) {
                ec = net::error::eof;
                return 0;
            }
            if (errno == EINTR) continue;
            set_error(ec);
            return 0;
        }
    }
    template <class Op>
    static std::size_t or_throw(Op op) {
        error_code ec;
        std::size_t n = op(ec);
        if (ec) throw boost::system::system_error(ec);
        return n;
    }
    template <class Buffers>
    static int fill(iovec* iov, const Buffers& buffers) {
        int n = 0;
        for (auto it = net::buffer_sequence_begin(buffers); it != net::buffer_sequence_end(buffers) && n < kMaxIov; ++it) {
            auto b = *it;
            if (b.size() == 0) continue;
            iov[n].iov_base = const_cast<void*>(static_cast<const void*>(b.data()));
            iov[n].iov_len = b.size();
            ++n;
        }
        return n;
    }
    static void set_error(error_code& ec) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            ec = timed_out();
        else
            ec = error_code(errno, boost::system::system_category());
    }
    int fd_;
};

void set_timeout(int fd, int option, std::chrono::milliseconds t) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(t.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((t.count() % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

void set_no_delay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

struct AddrInfo {
    addrinfo* list = nullptr;
    ~AddrInfo() {
        if (list) ::freeaddrinfo(list);
    }
};

// Resolves host:port; false when the name has no address.
bool resolve(const std::string& host, int port, bool passive, AddrInfo& out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    if (passive) hints.ai_flags = AI_PASSIVE;
    std::string service = std::to_string(port);
    return ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &out.list) == 0;
}

// Connects within the time left; the socket comes back blocking, or -1 with errno set.
int connect_one(const addrinfo& ai, std::chrono::steady_clock::time_point deadline, bool& timed_out_flag) {
    int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai.ai_protocol);
    if (fd < 0) return -1;
    int rc = ::connect(fd, ai.ai_addr, ai.ai_addrlen);
    if (rc < 0 && errno == EINPROGRESS) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) {
            ::close(fd);
            timed_out_flag = true;
            errno = ETIMEDOUT;
            return -1;
        }
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        rc = err ? -1 : 0;
        if (err) errno = err;
    }
    if (rc < 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

TransportError failure_of(const error_code& ec, bool writing) {
    if (ec == timed_out()) return TransportError(Failure::Timeout, "o servidor não respondeu a tempo");
    if (writing) return TransportError(Failure::Write, "o pedido não pôde ser enviado");
    return TransportError(Failure::Read, "a resposta não pôde ser lida");
}

}  // namespace

// --- client -------------------------------------------------------------------------------

struct Client::Impl {
    std::string host;
    int port;
    std::chrono::milliseconds connect_timeout, io_timeout;
    int fd = -1;
    beast::flat_buffer buffer;

    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        buffer.clear();
    }

    // A kept connection the server has closed (or that holds bytes nobody asked for) is not
    // reused: the request would be lost on it.
    bool stale() const {
        char c;
        ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        return n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    }
};

Client::Client(std::string host, int port, std::chrono::milliseconds connect_timeout, std::chrono::milliseconds io_timeout)
    : impl_(new Impl{std::move(host), port, connect_timeout, io_timeout, -1, {}}) {
    impl_->buffer.reserve(kReadRoom);
}

Client::~Client() { impl_->close(); }

bool Client::is_open() const { return impl_->fd >= 0; }

void Client::close() { impl_->close(); }

void Client::connect() {
    impl_->close();
    AddrInfo addrs;
    if (!resolve(impl_->host, impl_->port, false, addrs))
        throw TransportError(Failure::Unresolved, "endereço desconhecido");
    auto deadline = std::chrono::steady_clock::now() + impl_->connect_timeout;
    bool timed_out_flag = false;
    for (addrinfo* ai = addrs.list; ai; ai = ai->ai_next) {
        int fd = connect_one(*ai, deadline, timed_out_flag);
        if (fd < 0) continue;
        set_no_delay(fd);
        set_timeout(fd, SO_RCVTIMEO, impl_->io_timeout);
        set_timeout(fd, SO_SNDTIMEO, impl_->io_timeout);
        impl_->fd = fd;
        return;
    }
    if (timed_out_flag) throw TransportError(Failure::ConnectTimeout, "tempo de conexão esgotado");
    throw TransportError(Failure::Refused, "o servidor não aceitou a conexão");
}

Response Client::request(std::string_view method, const std::string& target, const std::string& body,
                         std::string_view content_type) {
    Impl& d = *impl_;
    if (d.fd >= 0 && d.stale()) d.close();
    if (d.fd < 0) connect();

    bhttp::request<bhttp::span_body<const char>> req;
    req.method_string(view(method));
    req.target(target);
    req.version(11);
    req.set(bhttp::field::host, d.host + ":" + std::to_string(d.port));
    if (!body.empty() || method == "POST") {
        req.set(bhttp::field::content_type, view(content_type));
        req.body() = beast::span<const char>(body.data(), body.size());
    }
    req.prepare_payload();
    SocketStream stream(d.fd);
    error_code ec;
    bhttp::write(stream, req, ec);
    if (ec) {
        d.close();
        throw failure_of(ec, true);
    }
    bhttp::response_parser<bhttp::string_body> parser;
    // An answer has no size limit of its own (and this Beast compares an empty limit wrongly).
    parser.body_limit(std::numeric_limits<std::uint64_t>::max());
    bhttp::read(stream, d.buffer, parser, ec);
    if (ec) {
        d.close();
        throw failure_of(ec, false);
    }
    auto& res = parser.get();
    Response out{static_cast<int>(res.result_int()), std::move(res.body())};
    if (!res.keep_alive()) d.close();
    return out;
}

// --- server connection ----------------------------------------------------------------------

struct ServerConnection::Impl {
    int fd;
    std::size_t max_body;
    beast::flat_buffer buffer;
};

ServerConnection::ServerConnection(int fd, std::size_t max_body, std::chrono::seconds idle_timeout,
                                   std::chrono::seconds write_timeout)
    : impl_(new Impl{fd, max_body, {}}) {
    impl_->buffer.reserve(kReadRoom);
    set_timeout(fd, SO_RCVTIMEO, idle_timeout);
    set_timeout(fd, SO_SNDTIMEO, write_timeout);
}

ServerConnection::~ServerConnection() { ::close(impl_->fd); }

int ServerConnection::fd() const { return impl_->fd; }

ServerConnection::Read ServerConnection::read(Request& out) {
    auto classify = [](const error_code& ec) {
        if (ec == bhttp::error::body_limit) return Read::TooLarge;
        if (ec == bhttp::error::end_of_stream || ec == bhttp::error::partial_message || ec == timed_out() ||
            ec.category() == boost::system::system_category())
            return Read::Closed;
        return Read::Malformed;
    };
    SocketStream stream(impl_->fd);
    bhttp::request_parser<bhttp::string_body> parser;
    parser.body_limit(impl_->max_body);
    error_code ec;
    bhttp::read_header(stream, impl_->buffer, parser, ec);
    if (ec) return classify(ec);
    // A client that waits for leave to send its body (curl does for larger ones) gets it.
    if (beast::iequals(parser.get()[bhttp::field::expect], "100-continue") && !parser.is_done() &&
        impl_->buffer.size() == 0) {
        static const char go_on[] = "HTTP/1.1 100 Continue\r\n\r\n";
        stream.write_some(net::buffer(go_on, sizeof go_on - 1), ec);
        if (ec) return Read::Closed;
    }
    if (!parser.is_done()) {
        bhttp::read(stream, impl_->buffer, parser, ec);
        if (ec) return classify(ec);
    }
    auto msg = parser.release();
    out.method = std::string(msg.method_string());
    out.target = std::string(msg.target());
    out.body = std::move(msg.body());
    out.keep_alive = msg.keep_alive();
    return Read::Ok;
}

bool ServerConnection::write(int status, const std::string& body, bool keep_alive, std::string_view content_type) {
    bhttp::response<bhttp::span_body<const char>> res;
    res.result(static_cast<unsigned>(status));
    res.version(11);
    res.set(bhttp::field::content_type, view(content_type));
    res.body() = beast::span<const char>(body.data(), body.size());
    res.keep_alive(keep_alive);
    res.prepare_payload();
    SocketStream stream(impl_->fd);
    error_code ec;
    bhttp::write(stream, res, ec);
    return !ec;
}

void ServerConnection::drain() {
    ::shutdown(impl_->fd, SHUT_WR);
    set_timeout(impl_->fd, SO_RCVTIMEO, std::chrono::milliseconds(500));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::vector<char> sink(kReadRoom);
    std::size_t dropped = 0;
    while (dropped < (256u << 20) && std::chrono::steady_clock::now() < deadline) {
        ssize_t n = ::recv(impl_->fd, sink.data(), sink.size(), 0);
        if (n <= 0 && !(n < 0 && errno == EINTR)) break;
        if (n > 0) dropped += static_cast<std::size_t>(n);
    }
}

// --- listener -----------------------------------------------------------------------------

Listener::~Listener() {
    if (fd_ >= 0) ::close(fd_);
}

int Listener::bind(const std::string& host, int port) {
    AddrInfo addrs;
    const std::string where = host + ":" + std::to_string(port);
    if (!resolve(host, port, true, addrs)) throw std::runtime_error("Endereço desconhecido: " + where + ".");
    for (addrinfo* ai = addrs.list; ai; ai = ai->ai_next) {
        int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) continue;
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
            sockaddr_storage a{};
            socklen_t len = sizeof a;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
            fd_ = fd;
            if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
            return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
        }
        ::close(fd);
    }
    throw std::runtime_error("Não foi possível escutar em " + where + ".");
}

int Listener::accept() {
    for (;;) {
        int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            set_no_delay(fd);
            return fd;
        }
        switch (errno) {
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
                continue;
            case EMFILE:
            case ENFILE:
            case ENOBUFS:
            case ENOMEM:
                // Out of descriptors or memory for a moment: the waiting connection stays queued.
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            default:
                return -1;  // shut down
        }
    }
}

void Listener::shutdown() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace acerto::platform::http
