#include "acerto/platform/http.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <list>
#include <optional>
#include <vector>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/steady_timer.hpp>
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

beast::string_view view(std::string_view s) {
    return {s.data(), s.size()};
}

const error_code& timed_out() {
    static const error_code ec = make_error_code(boost::system::errc::timed_out);
    return ec;
}

// The TLS side of one connection: OpenSSL working on the socket's own descriptor. Asio's
// ssl::stream is not used for the connections because its synchronous calls drop what a
// non-blocking socket did not take, and the server writes answers from its workers straight
// to non-blocking sockets; here an operation that would block reports so and is simply
// repeated once the socket is ready, as OpenSSL allows.
struct Tls {
    struct Free {
        void operator()(SSL* s) const { SSL_free(s); }
    };
    std::unique_ptr<SSL, Free> ssl;
    std::string gathered;     // a header and its body, written as one record
    bool want_write = false;  // what the last operation that would block waits for
    bool failed = false;      // a fatal error: OpenSSL's state may not be used further

    // Drives the handshake: 1 done, 0 it would block (want_write says on what), -1 failed.
    int handshake() {
        ERR_clear_error();
        int rc = SSL_do_handshake(ssl.get());
        if (rc == 1) return 1;
        int err = SSL_get_error(ssl.get(), rc);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            want_write = err == SSL_ERROR_WANT_WRITE;
            return 0;
        }
        failed = true;
        return -1;
    }
    // Decrypted bytes waiting in OpenSSL, which no readiness of the socket would announce. (A
    // record only partly arrived is not counted: the socket announces the rest of it.)
    bool buffered() const { return SSL_pending(ssl.get()) > 0; }
    // The close_notify, where it can leave at once; nothing is waited for.
    void shutdown() {
        if (failed) return;
        ERR_clear_error();
        SSL_shutdown(ssl.get());
    }
};

// Options both ends share: TLS 1.2 at least, no renegotiation, partial writes that a
// non-blocking socket may leave (repeated from where they stopped, possibly from another
// buffer holding the same bytes), read and write buffers given back while a connection idles.
// A peer that closes without close_notify ends the stream like one that sends it: every
// message says its own length, so a cut answer is still seen.
void common_options(SSL_CTX* ctx) {
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(ctx,
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
}

// A socket as Beast's synchronous algorithms want it, so a read or write is one system call
// when the data is there (over TLS, one record). The client's sockets block with the socket's
// own timeouts (SO_RCVTIMEO, SO_SNDTIMEO); the server's never block: an operation that would
// reports so.
class SocketStream {
  public:
    explicit SocketStream(int fd, bool nonblocking = false, Tls* tls = nullptr)
        : fd_(fd), nonblocking_(nonblocking), tls_(tls) {}

    template <class Buffers>
    std::size_t read_some(const Buffers& buffers, error_code& ec) {
        ec = {};
        return tls_ ? tls_read(buffers, ec) : transfer(buffers, ec, false);
    }
    template <class Buffers>
    std::size_t read_some(const Buffers& buffers) {
        return or_throw([&](error_code& ec) { return read_some(buffers, ec); });
    }
    template <class Buffers>
    std::size_t write_some(const Buffers& buffers, error_code& ec) {
        ec = {};
        return tls_ ? tls_write(buffers, ec) : transfer(buffers, ec, true);
    }
    template <class Buffers>
    std::size_t write_some(const Buffers& buffers) {
        return or_throw([&](error_code& ec) { return write_some(buffers, ec); });
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
            int flags = nonblocking_ ? MSG_DONTWAIT : 0;
            ssize_t done = sending ? ::sendmsg(fd_, &msg, MSG_NOSIGNAL | flags) : ::recvmsg(fd_, &msg, flags);
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
    // Header and body go into one record (up to a few records' worth at a time), so that an
    // answer leaves in one send as it does without TLS. A repeated write after one that would
    // block is given the same bytes, as OpenSSL requires.
    template <class Buffers>
    std::size_t tls_write(const Buffers& buffers, error_code& ec) {
        constexpr std::size_t kGather = 64 * 1024;
        const char* data = nullptr;
        std::size_t size = 0;
        int pieces = 0;
        for (auto it = net::buffer_sequence_begin(buffers); it != net::buffer_sequence_end(buffers); ++it) {
            auto b = *it;
            if (b.size() == 0) continue;
            if (++pieces == 1) {
                data = static_cast<const char*>(b.data());
                size = b.size();
                continue;
            }
            if (pieces == 2) tls_->gathered.assign(data, std::min(size, kGather));
            if (tls_->gathered.size() >= kGather) break;
            tls_->gathered.append(static_cast<const char*>(b.data()),
                                  std::min(b.size(), kGather - tls_->gathered.size()));
        }
        if (pieces == 0) return 0;
        if (pieces > 1) {
            data = tls_->gathered.data();
            size = tls_->gathered.size();
        }
        std::size_t done = 0;
        ERR_clear_error();
        errno = 0;
        int rc = SSL_write_ex(tls_->ssl.get(), data, size, &done);
        if (rc == 1) return done;
        tls_error(rc, ec);
        return 0;
    }
    template <class Buffers>
    std::size_t tls_read(const Buffers& buffers, error_code& ec) {
        for (auto it = net::buffer_sequence_begin(buffers); it != net::buffer_sequence_end(buffers); ++it) {
            auto b = *it;
            if (b.size() == 0) continue;
            std::size_t done = 0;
            ERR_clear_error();
            errno = 0;
            int rc = SSL_read_ex(tls_->ssl.get(), b.data(), b.size(), &done);
            if (rc == 1) return done;
            tls_error(rc, ec);
            return 0;
        }
        return 0;
    }
    void tls_error(int rc, error_code& ec) {
        int err = SSL_get_error(tls_->ssl.get(), rc);
        switch (err) {
            case SSL_ERROR_WANT_READ:
            case SSL_ERROR_WANT_WRITE:
                // On a blocking socket this is its timeout running out.
                tls_->want_write = err == SSL_ERROR_WANT_WRITE;
                ec = nonblocking_ ? make_error_code(net::error::would_block) : timed_out();
                return;
            case SSL_ERROR_ZERO_RETURN:
                ec = net::error::eof;
                return;
            case SSL_ERROR_SYSCALL:
                tls_->failed = true;
                ec = errno ? error_code(errno, boost::system::system_category()) : error_code(net::error::eof);
                return;
            default:
                tls_->failed = true;
                ec = error_code(static_cast<int>(ERR_get_error()), net::error::get_ssl_category());
                if (!ec) ec = net::error::connection_aborted;
                return;
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
        for (auto it = net::buffer_sequence_begin(buffers); it != net::buffer_sequence_end(buffers) && n < kMaxIov;
             ++it) {
            auto b = *it;
            if (b.size() == 0) continue;
            iov[n].iov_base = const_cast<void*>(static_cast<const void*>(b.data()));
            iov[n].iov_len = b.size();
            ++n;
        }
        return n;
    }
    void set_error(error_code& ec) const {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            ec = nonblocking_ ? make_error_code(net::error::would_block) : timed_out();
        else
            ec = error_code(errno, boost::system::system_category());
    }
    int fd_;
    bool nonblocking_;
    Tls* tls_;
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

// The client's context: the authorities its servers' certificates are checked against.
std::unique_ptr<net::ssl::context> client_context(const ClientTls& tls) {
    auto ctx = std::make_unique<net::ssl::context>(net::ssl::context::tls_client);
    error_code ec;
    if (tls.ca_file.empty())
        ctx->set_default_verify_paths(ec);
    else
        ctx->load_verify_file(tls.ca_file, ec);
    if (ec)
        throw TransportError(Failure::Certificate,
                             tls.ca_file.empty()
                                 ? "as autoridades certificadoras do sistema não puderam ser lidas"
                                 : "o arquivo de autoridades certificadoras " + tls.ca_file + " não pôde ser lido");
    ctx->set_verify_mode(net::ssl::verify_peer);
    common_options(ctx->native_handle());
    return ctx;
}

// Why the server's certificate was not accepted, for the operator.
std::string untrusted(long verify, const std::string& host) {
    switch (verify) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return "o certificado do servidor não foi emitido por uma autoridade em que esta estação confia "
                   "(configure tls_ca com o certificado da autoridade ou do servidor)";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "o certificado do servidor está vencido";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "o certificado do servidor ainda não é válido (confira o relógio desta estação)";
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "o certificado do servidor não é do endereço " + host;
        case X509_V_ERR_CERT_REVOKED:
            return "o certificado do servidor foi revogado";
        default:
            return "o certificado do servidor não pôde ser verificado (erro " + std::to_string(verify) + ")";
    }
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
    ClientTls options;
    int fd = -1;
    beast::flat_buffer buffer;
    std::unique_ptr<net::ssl::context> context;  // made at the first connection
    std::unique_ptr<Tls> tls;                    // the open connection's
    std::string authorization;

    void close() {
        tls.reset();
        if (fd >= 0) ::close(fd);
        fd = -1;
        buffer.clear();
    }

    // The TLS handshake on the connected socket, within what is left of the connect timeout;
    // the server's certificate is checked against the authorities and against `host`.
    void secure(std::chrono::steady_clock::time_point deadline) {
        if (!context) context = client_context(options);
        tls = std::make_unique<Tls>();
        tls->ssl.reset(SSL_new(context->native_handle()));
        if (!tls->ssl) throw TransportError(Failure::Tls, "a conexão segura não pôde ser preparada");
        SSL* ssl = tls->ssl.get();
        SSL_set_fd(ssl, fd);
        error_code ec;
        (void)net::ip::make_address(host, ec);
        if (!ec) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
        } else {
            SSL_set_tlsext_host_name(ssl, host.c_str());
            SSL_set1_host(ssl, host.c_str());
        }
        SSL_set_connect_state(ssl);
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        left = std::max(left, std::chrono::milliseconds(1));
        set_timeout(fd, SO_RCVTIMEO, left);
        set_timeout(fd, SO_SNDTIMEO, left);
        errno = 0;
        int rc = tls->handshake();
        if (rc == 1) return;
        int saved = errno;
        long verify = SSL_get_verify_result(ssl);
        int reason = ERR_GET_REASON(ERR_peek_error());
        if (rc == 0) throw TransportError(Failure::ConnectTimeout, "tempo esgotado ao iniciar a conexão segura");
        if (verify != X509_V_OK) throw TransportError(Failure::Certificate, untrusted(verify, host));
        if (reason == SSL_R_WRONG_VERSION_NUMBER || reason == SSL_R_PACKET_LENGTH_TOO_LONG ||
            reason == SSL_R_RECORD_LENGTH_MISMATCH || reason == SSL_R_UNKNOWN_PROTOCOL)
            throw TransportError(
                Failure::Tls, "o servidor não usa conexão segura (TLS); confira se o endereço é http:// ou https://");
        if (ERR_peek_error() == 0 && (saved == 0 || saved == ECONNRESET || saved == EPIPE))
            throw TransportError(Failure::Tls, "o servidor encerrou a conexão ao iniciar a conexão segura");
        throw TransportError(Failure::Tls, "a conexão segura com o servidor não pôde ser estabelecida");
    }

    // A kept connection the server has closed (or that holds bytes nobody asked for) is not
    // reused: the request would be lost on it.
    bool stale() const {
        char c;
        ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        return n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    }
};

Client::Client(std::string host, int port, std::chrono::milliseconds connect_timeout,
               std::chrono::milliseconds io_timeout, ClientTls tls)
    : impl_(new Impl{std::move(host), port, connect_timeout, io_timeout, std::move(tls), -1, {}, {}, {}, {}}) {
    impl_->buffer.reserve(kReadRoom);
}

Client::~Client() {
    impl_->close();
}

bool Client::is_open() const {
    return impl_->fd >= 0;
}

void Client::close() {
    impl_->close();
}

void Client::set_authorization(std::string value) {
    impl_->authorization = std::move(value);
}

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
        impl_->fd = fd;
        if (impl_->options.enabled) {
            try {
                impl_->secure(deadline);
            } catch (...) {
                impl_->close();
                throw;
            }
        }
        set_timeout(fd, SO_RCVTIMEO, impl_->io_timeout);
        set_timeout(fd, SO_SNDTIMEO, impl_->io_timeout);
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
    if (!d.authorization.empty()) req.set(bhttp::field::authorization, d.authorization);
    if (!body.empty() || method == "POST") {
        req.set(bhttp::field::content_type, view(content_type));
        req.body() = beast::span<const char>(body.data(), body.size());
    }
    req.prepare_payload();
    SocketStream stream(d.fd, false, d.tls.get());
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

// --- request reader -----------------------------------------------------------------------

struct RequestReader::Impl {
    bhttp::request_parser<bhttp::string_body> parser;
};

RequestReader::RequestReader(std::size_t max_body) : impl_(new Impl) {
    impl_->parser.body_limit(max_body);
    impl_->parser.eager(true);
}

RequestReader::~RequestReader() = default;

RequestReader::Status RequestReader::feed(std::string_view data, std::size_t& used) {
    auto& parser = impl_->parser;
    used = 0;
    while (!parser.is_done()) {
        if (used == data.size()) return Status::More;
        error_code ec;
        std::size_t n = parser.put(net::const_buffer(data.data() + used, data.size() - used), ec);
        used += n;
        if (ec == bhttp::error::need_more) return Status::More;
        if (ec == bhttp::error::body_limit) return Status::TooLarge;
        if (ec) return Status::Malformed;
        if (n == 0) return Status::More;
    }
    return Status::Done;
}

bool RequestReader::wants_continue() const {
    const auto& parser = impl_->parser;
    return parser.is_header_done() && !parser.is_done() &&
           beast::iequals(parser.get()[bhttp::field::expect], "100-continue");
}

Request RequestReader::take() {
    auto msg = impl_->parser.release();
    Request out;
    out.method = std::string(msg.method_string());
    out.target = std::string(msg.target());
    out.body = std::move(msg.body());
    out.keep_alive = msg.keep_alive();
    out.authorization = std::string(msg[bhttp::field::authorization]);
    return out;
}

// --- server -------------------------------------------------------------------------------

namespace detail {

using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// A refused or cut-off client may still be sending; its bytes are read and dropped this long
// so that it reads the answer rather than a reset.
constexpr auto kLinger = std::chrono::seconds(2);
// Reads in a row for one connection before the others get their turn.
constexpr int kReadTurns = 16;

class Connection;

// The I/O thread's state: the acceptor, the connections and the timer that enforces their
// deadlines. Everything here but stop_requested is touched on the I/O thread only.
struct Engine {
    Engine(ServerLimits l, Server::Handler h, Server::Refusals r)
        : limits(l), handler(std::move(h)), refusals(std::move(r)), sink(kReadRoom) {
        // Deadlines are checked by one sweep over the connections, often enough that none is
        // overrun by more than an eighth of the shortest.
        auto shortest = std::min({limits.request_timeout, limits.idle_timeout, limits.write_timeout});
        sweep_period = std::clamp(shortest / 8, std::chrono::milliseconds(10), std::chrono::milliseconds(250));
        // Beyond the bound a few more are accepted only to be told so; past those, closed at once.
        refusal_room = std::max<std::size_t>(16, limits.max_connections / 8);
    }

    void accept();
    void on_accept(const error_code& ec, tcp::socket socket);
    void arm_sweep();
    void sweep();
    void begin_stop();
    void forget(Connection& c);

    ServerLimits limits;
    Server::Handler handler;
    Server::Refusals refusals;
    std::unique_ptr<net::ssl::context> tls;  // every connection speaks TLS when set
    std::vector<char> sink;                  // every read lands here first
    std::chrono::milliseconds sweep_period;
    std::size_t refusal_room;
    net::io_context io{1};
    tcp::acceptor acceptor{io};
    net::steady_timer sweep_timer{io}, accept_timer{io};
    std::list<std::shared_ptr<Connection>> connections;
    std::size_t counted = 0;  // connections within the bound
    std::atomic<unsigned long long> accepted{0};
    bool stopping = false;
    std::atomic<bool> stop_requested{false};
};

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    enum class State {
        Handshaking,  // TLS being set up, within a request's deadline
        Idle,         // waiting for a request: no thread, no buffer
        Reading,      // a request is arriving, within its deadline
        Handling,     // handed on; only the reply touches the socket now
        Writing,      // the rest of an answer the socket did not take at once
        Lingering,    // refused: dropping what the client still sends
        Closed,
    };

    Connection(Engine& engine, tcp::socket socket, bool counted, std::unique_ptr<Tls> tls)
        : counted(counted),
          engine_(engine),
          socket_(std::move(socket)),
          fd_(socket_.native_handle()),
          tls_(std::move(tls)) {}

    // A connection beyond the bound is refused with an answer, over TLS once it is set up.
    void start() {
        if (tls_) return begin_handshake();
        if (counted) return wait_request();
        refuse(Refusal::Full);
    }

    bool due(Clock::time_point now) const {
        return state_ != State::Handling && state_ != State::Closed && now >= deadline_;
    }

    void expire() {
        if (state_ == State::Reading)
            refuse(Refusal::Timeout);
        else
            close();
    }

    // The server is stopping: a request that has already arrived whole is still answered;
    // a connection with nothing (or half a request, or half a handshake) is closed.
    void stop() {
        if (state_ == State::Lingering || state_ == State::Handshaking) return close();
        if (state_ == State::Idle) begin_request();
        if (state_ == State::Reading) read();
    }

    // The answer to the request handed on, from whichever thread has it: written at once where
    // the socket takes it, the rest (and what follows) on the I/O thread.
    void answer(int status, std::string body, bool keep_alive, std::string_view content_type) {
        bool keep = keep_alive && keep_alive_ && !engine_.stop_requested.load();
        response_ = {};
        response_.result(static_cast<unsigned>(status));
        response_.version(11);
        response_.set(bhttp::field::content_type, view(content_type));
        response_.body() = std::move(body);
        response_.keep_alive(keep);
        response_.prepare_payload();
        serializer_.emplace(response_);
        keep_ = keep;
        SocketStream stream = wire();
        error_code ec;
        while (!ec && !serializer_->is_done()) bhttp::write_some(stream, *serializer_, ec);
        net::post(engine_.io, [self = shared_from_this(), ec] { self->after_send(ec); });
    }

    // A reply dropped without an answer.
    void abandon() {
        net::post(engine_.io, [self = shared_from_this()] {
            if (self->state_ == State::Handling) self->close();
        });
    }

    // Answers with the refusal and lingers; the connection is closed after. Over TLS the
    // answer is encrypted once the handshake is done, and plain before it.
    void refuse(Refusal why) {
        reader_.reset();
        Answer a = engine_.refusals(why);
        bhttp::response<bhttp::string_body> res;
        res.result(static_cast<unsigned>(a.status));
        res.version(11);
        res.set(bhttp::field::content_type, "application/json");
        res.body() = std::move(a.body);
        res.keep_alive(false);
        res.prepare_payload();
        bhttp::response_serializer<bhttp::string_body> sr(res);
        SocketStream stream = secured_ ? wire() : SocketStream(fd_, true);
        error_code ec;
        while (!ec && !sr.is_done()) bhttp::write_some(stream, sr, ec);
        if (secured_ && sr.is_done()) tls_->shutdown();
        socket_.shutdown(tcp::socket::shutdown_send, ec);
        std::string().swap(pending_);
        state_ = State::Lingering;
        deadline_ = Clock::now() + kLinger;
        wait_ready(false);
    }

    void close() {
        if (state_ == State::Closed) return;
        auto self = shared_from_this();
        // An idle TLS connection says goodbye; one cut in the middle of an answer does not.
        if (secured_ && state_ == State::Idle) tls_->shutdown();
        state_ = State::Closed;
        error_code ignored;
        socket_.close(ignored);
        reader_.reset();
        engine_.forget(*this);
    }

    const bool counted;
    std::list<std::shared_ptr<Connection>>::iterator where;

  private:
    // The connection's bytes: the socket's, or TLS over it; never blocking.
    SocketStream wire() { return SocketStream(fd_, true, tls_.get()); }

    void begin_handshake() {
        state_ = State::Handshaking;
        deadline_ = Clock::now() + engine_.limits.request_timeout;
        wait_ready(false);
    }

    // The first byte tells a TLS client (a handshake record) from a plain HTTP one, which is
    // answered in plain HTTP so that it can tell its operator what is wrong.
    void handshake() {
        if (!peeked_) {
            unsigned char first = 0;
            ssize_t n = ::recv(fd_, &first, 1, MSG_PEEK | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return wait_ready(false);
            if (n <= 0) return close();
            peeked_ = true;
            constexpr unsigned char kHandshakeRecord = 0x16;
            if (first != kHandshakeRecord) return refuse(Refusal::NotTls);
        }
        switch (tls_->handshake()) {
            case 0:
                return wait_ready(tls_->want_write);
            case 1:
                secured_ = true;
                if (counted) return wait_request();
                return refuse(Refusal::Full);
            default:
                return close();  // not trusted by the client, or not TLS after all
        }
    }

    void wait_request() {
        state_ = State::Idle;
        deadline_ = Clock::now() + engine_.limits.idle_timeout;
        continue_sent_ = false;
        if (!pending_.empty()) {  // the next request came with the last one
            begin_request();
            if (take({})) read();
            return;
        }
        std::string().swap(pending_);
        wait_ready(false);
    }

    // Waits until the socket can be read (or written: TLS may need either for either), then
    // goes on with what the state asks. What OpenSSL already holds decrypted is gone on with
    // at once.
    void wait_ready(bool writable) {
        if (waiting_) return;
        waiting_ = true;
        auto go_on = [self = shared_from_this()](const error_code& ec) {
            self->waiting_ = false;
            self->on_ready(ec);
        };
        if (!writable && tls_ && secured_ && state_ != State::Lingering && tls_->buffered())
            return net::post(engine_.io, [go_on] { go_on({}); });
        socket_.async_wait(writable ? tcp::socket::wait_write : tcp::socket::wait_read, std::move(go_on));
    }

    // After a read or write that would block: waits for what it needs (over TLS, what
    // OpenSSL asked for, which may be the other way).
    void wait_again(bool writing) { wait_ready(tls_ ? tls_->want_write : writing); }

    void on_ready(const error_code& ec) {
        if (state_ == State::Closed) return;
        if (ec) return close();
        switch (state_) {
            case State::Handshaking:
                return handshake();
            case State::Lingering:
                return discard();
            case State::Writing:
                return write_rest();
            case State::Idle:
                begin_request();
                return read();
            case State::Reading:
                return read();
            case State::Handling:
            case State::Closed:
                return;
        }
    }

    void begin_request() {
        state_ = State::Reading;
        deadline_ = Clock::now() + engine_.limits.request_timeout;
        reader_ = std::make_unique<RequestReader>(engine_.limits.max_body);
    }

    void read() {
        SocketStream stream = wire();
        for (int turn = 0; turn < kReadTurns; ++turn) {
            error_code ec;
            std::size_t n = stream.read_some(net::buffer(engine_.sink), ec);
            if (ec == net::error::would_block || ec == net::error::try_again)
                return engine_.stopping ? close() : wait_again(false);
            if (ec) return close();  // the end, or a reset: a request cut short is dropped
            if (!take({engine_.sink.data(), n})) return;
        }
        net::post(engine_.io, [self = shared_from_this()] {
            if (self->state_ == State::Reading) self->read();
        });
    }

    // Parses what arrived (after what was left over); true when the request wants more bytes.
    bool take(std::string_view fresh) {
        std::string_view data = fresh;
        if (!pending_.empty()) {
            pending_.append(fresh);
            data = pending_;
        }
        std::size_t used = 0;
        auto status = reader_->feed(data, used);
        // Only an unfinished header or the start of the next request is kept back.
        if (pending_.empty())
            pending_.assign(data.substr(used));
        else
            pending_.erase(0, used);
        switch (status) {
            case RequestReader::Status::More:
                if (!continue_sent_ && pending_.empty() && reader_->wants_continue()) {
                    continue_sent_ = true;
                    // Nothing else is being written now, so the socket has room for these bytes.
                    static const char go_on[] = "HTTP/1.1 100 Continue\r\n\r\n";
                    SocketStream stream = wire();
                    error_code ec;
                    stream.write_some(net::buffer(go_on, sizeof go_on - 1), ec);
                }
                return true;
            case RequestReader::Status::Done:
                dispatch();
                return false;
            case RequestReader::Status::TooLarge:
                refuse(Refusal::TooLarge);
                return false;
            case RequestReader::Status::Malformed:
                refuse(Refusal::Malformed);
                return false;
        }
        return false;
    }

    void dispatch() {
        state_ = State::Handling;
        Request request = reader_->take();
        reader_.reset();
        keep_alive_ = request.keep_alive;
        error_code ec;
        auto remote = socket_.remote_endpoint(ec);
        if (!ec) request.peer = remote.address().to_string();
        try {
            engine_.handler(std::move(request), Reply(shared_from_this()));
        } catch (...) {
            // The reply went with the handler's failure and closes the connection.
        }
    }

    void after_send(const error_code& ec) {
        if (state_ != State::Handling) return;
        if (ec == net::error::would_block) {
            state_ = State::Writing;
            deadline_ = Clock::now() + engine_.limits.write_timeout;
            return wait_again(true);
        }
        written(ec);
    }

    // The rest of an answer, as the socket takes it.
    void write_rest() {
        SocketStream stream = wire();
        error_code ec;
        while (!ec && !serializer_->is_done()) bhttp::write_some(stream, *serializer_, ec);
        if (ec == net::error::would_block) return wait_again(true);
        written(ec);
    }

    void written(const error_code& ec) {
        serializer_.reset();
        response_ = {};
        if (ec || !keep_ || engine_.stopping) return close();
        wait_request();
    }

    void discard() {
        for (int turn = 0; turn < kReadTurns; ++turn) {
            error_code ec;
            socket_.read_some(net::buffer(engine_.sink), ec);
            if (ec == net::error::would_block || ec == net::error::try_again) return wait_ready(false);
            if (ec) return close();
        }
        net::post(engine_.io, [self = shared_from_this()] {
            if (self->state_ == State::Lingering) self->discard();
        });
    }

    Engine& engine_;
    tcp::socket socket_;
    int fd_;
    State state_ = State::Idle;
    Clock::time_point deadline_;
    bool waiting_ = false;
    bool continue_sent_ = false;
    bool keep_alive_ = true;
    bool keep_ = true;  // the answer being written leaves the connection open
    std::unique_ptr<Tls> tls_;
    bool peeked_ = false;   // the first byte was looked at
    bool secured_ = false;  // the handshake is done
    std::string pending_;
    std::unique_ptr<RequestReader> reader_;
    bhttp::response<bhttp::string_body> response_;
    std::optional<bhttp::response_serializer<bhttp::string_body>> serializer_;
};

void Engine::accept() {
    acceptor.async_accept([this](const error_code& ec, tcp::socket socket) { on_accept(ec, std::move(socket)); });
}

void Engine::on_accept(const error_code& ec, tcp::socket socket) {
    if (stopping || ec == net::error::operation_aborted) return;
    if (ec) {
        // Out of descriptors or memory for a moment: the waiting connection stays queued and
        // accepting resumes shortly, without spinning.
        accept_timer.expires_after(std::chrono::milliseconds(50));
        accept_timer.async_wait([this](const error_code& e) {
            if (!e && !stopping) accept();
        });
        return;
    }
    ++accepted;
    error_code ignored;
    socket.non_blocking(true, ignored);
    socket.set_option(tcp::no_delay(true), ignored);
    bool room = counted < limits.max_connections;
    if (room || connections.size() < limits.max_connections + refusal_room) {
        std::unique_ptr<Tls> secure;
        if (tls) {
            secure = std::make_unique<Tls>();
            secure->ssl.reset(SSL_new(tls->native_handle()));
            if (!secure->ssl || SSL_set_fd(secure->ssl.get(), socket.native_handle()) != 1) return accept();
            SSL_set_accept_state(secure->ssl.get());
        }
        auto c = std::make_shared<Connection>(*this, std::move(socket), room, std::move(secure));
        connections.push_front(c);
        c->where = connections.begin();
        if (room) ++counted;
        c->start();
    }  // else too many even to be told: the socket closes here
    accept();
}

void Engine::arm_sweep() {
    sweep_timer.expires_after(sweep_period);
    sweep_timer.async_wait([this](const error_code& ec) {
        if (!ec) sweep();
    });
}

void Engine::sweep() {
    auto now = Clock::now();
    std::vector<std::shared_ptr<Connection>> due;
    for (const auto& c : connections)
        if (c->due(now)) due.push_back(c);
    for (const auto& c : due) c->expire();
    if (!(stopping && connections.empty())) arm_sweep();
}

void Engine::begin_stop() {
    if (stopping) return;
    stopping = true;
    error_code ignored;
    acceptor.close(ignored);
    accept_timer.cancel();
    std::vector<std::shared_ptr<Connection>> all(connections.begin(), connections.end());
    for (const auto& c : all) c->stop();
    if (connections.empty()) sweep_timer.cancel();
}

void Engine::forget(Connection& c) {
    if (c.counted) --counted;
    connections.erase(c.where);
    if (stopping && connections.empty()) sweep_timer.cancel();
}

}  // namespace detail

Reply::Reply(std::shared_ptr<detail::Connection> connection) : connection_(std::move(connection)) {}

Reply::~Reply() {
    if (connection_) connection_->abandon();
}

Reply::Reply(Reply&& other) noexcept = default;

Reply& Reply::operator=(Reply&& other) noexcept {
    if (this != &other) {
        if (connection_) connection_->abandon();
        connection_ = std::move(other.connection_);
    }
    return *this;
}

void Reply::send(int status, std::string body, bool keep_alive, std::string_view content_type) {
    if (!connection_) return;
    auto connection = std::move(connection_);
    connection->answer(status, std::move(body), keep_alive, content_type);
}

struct Server::Impl : detail::Engine {
    using Engine::Engine;
};

Server::Server(ServerLimits limits, Handler handler, Refusals refusals)
    : impl_(new Impl(limits, std::move(handler), std::move(refusals))) {}

Server::~Server() = default;

void Server::use_tls(const std::string& cert_file, const std::string& key_file) {
    auto ctx = std::make_unique<net::ssl::context>(net::ssl::context::tls_server);
    // The key first: a certificate loaded after it drops a key that is not its own, which the
    // check below then tells apart from a file that cannot be read.
    error_code ec;
    ctx->use_private_key_file(key_file, net::ssl::context::pem, ec);
    if (ec)
        throw std::runtime_error("Não foi possível ler a chave TLS " + key_file +
                                 " (um arquivo PEM com a chave privada, sem senha).");
    ctx->use_certificate_chain_file(cert_file, ec);
    if (ec)
        throw std::runtime_error("Não foi possível ler o certificado TLS " + cert_file +
                                 " (um arquivo PEM com o certificado do servidor e os intermediários).");
    if (SSL_CTX_check_private_key(ctx->native_handle()) != 1)
        throw std::runtime_error("A chave TLS " + key_file + " não é a do certificado " + cert_file + ".");
    common_options(ctx->native_handle());
    // No session tickets (the client resumes no sessions): a client that connects and waits
    // before its first request would find them unread and take the connection for closed.
    SSL_CTX_set_num_tickets(ctx->native_handle(), 0);
    impl_->tls = std::move(ctx);
}

bool Server::uses_tls() const {
    return impl_->tls != nullptr;
}

int Server::bind(const std::string& host, int port) {
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
            bool v6 = a.ss_family == AF_INET6;
            error_code ec;
            impl_->acceptor.assign(v6 ? detail::tcp::v6() : detail::tcp::v4(), fd, ec);
            if (ec) {
                ::close(fd);
                continue;
            }
            impl_->acceptor.non_blocking(true, ec);
            if (v6) return ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
            return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
        }
        ::close(fd);
    }
    throw std::runtime_error("Não foi possível escutar em " + where + ".");
}

void Server::run() {
    if (!impl_->acceptor.is_open()) throw std::runtime_error("O servidor não está escutando.");
    impl_->accept();
    impl_->arm_sweep();
    impl_->io.run();
}

unsigned long long Server::accepted() const {
    return impl_->accepted;
}

void Server::stop() {
    impl_->stop_requested = true;
    net::post(impl_->io, [impl = impl_.get()] { impl->begin_stop(); });
}

}  // namespace acerto::platform::http
