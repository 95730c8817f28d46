#pragma once
// HTTP/1.1 on kept-alive TCP connections, plain or over TLS: the client side of the screen's
// connection to the application server, and the server's side that reads requests without a
// thread per connection. Messages are parsed and written by Boost.Beast, TLS is OpenSSL's; a
// call costs one send and one receive on each side and a request or an answer leaves in one
// segment (header and body together; over TLS, in one record).
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace acerto::platform::http {

// How a transport operation failed.
enum class Failure {
    Unresolved,      // the host name has no address
    Refused,         // nothing accepted the connection
    ConnectTimeout,  // the connection was not accepted in time
    Write,           // the request could not be sent (the connection was lost)
    Read,            // the answer could not be read (lost, cut short or not HTTP)
    Timeout,         // no answer in time
    Tls,             // no secure connection: the server does not speak TLS, or broke the handshake off
    Certificate,     // the server's certificate is not trusted, or is not for the address asked for
};

class TransportError : public std::runtime_error {
  public:
    TransportError(Failure failure, const std::string& what) : std::runtime_error(what), failure_(failure) {}
    Failure failure() const { return failure_; }

  private:
    Failure failure_;
};

struct Response {
    int status = 0;
    std::string body;
};

// How a client speaks to its server: plain TCP, or TLS with the server's certificate checked
// against the authorities of `ca_file` (PEM; empty: the system's store) and against the host
// name or address the client was given.
struct ClientTls {
    bool enabled = false;
    std::string ca_file;
};

// A client's kept-alive connection to one address.
class Client {
  public:
    Client(std::string host, int port, std::chrono::milliseconds connect_timeout, std::chrono::milliseconds io_timeout,
           ClientTls tls = {});
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Opens the connection, with its TLS handshake when TLS is on, all within the connect
    // timeout (throws TransportError).
    void connect();
    void close();
    bool is_open() const;

    // Sends one request and reads its answer on the kept connection. A closed connection is
    // opened first, and so is one the server closed while it was idle. Throws TransportError;
    // the connection is closed then, and also after an answer that asks for it.
    Response request(std::string_view method, const std::string& target, const std::string& body = {},
                     std::string_view content_type = "application/json");
    // Sent as the "Authorization" header of every request from now on; empty sends none.
    void set_authorization(std::string value);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct Request {
    std::string method;
    std::string target;
    std::string body;
    bool keep_alive = true;
    std::string authorization;  // the "Authorization" header, as sent
    std::string peer;           // the client's address, as the server's log and audit name it
};

// Reads one request from a connection's bytes as they arrive (parsed by Beast).
class RequestReader {
  public:
    enum class Status {
        More,       // the request is not whole yet
        Done,       // take() it
        TooLarge,   // the body is over the limit
        Malformed,  // not an HTTP request
    };
    explicit RequestReader(std::size_t max_body);
    ~RequestReader();
    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    // Parses from the front of `data`; `used` is how much of it was taken (the rest is the
    // next request's, or waits for more bytes).
    Status feed(std::string_view data, std::size_t& used);
    // The header is in and asks leave to send the body ("Expect: 100-continue").
    bool wants_continue() const;
    Request take();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// How the server's side waits and how much it takes.
struct ServerLimits {
    std::size_t max_body = 32u << 20;
    // From the first byte of a request to its last: a client that trickles it is cut off.
    std::chrono::milliseconds request_timeout{10000};
    // A kept-alive connection between requests.
    std::chrono::milliseconds idle_timeout{60000};
    // An answer the client does not take.
    std::chrono::milliseconds write_timeout{60000};
    // Connections open at once; one beyond them is answered with a refusal and closed.
    std::size_t max_connections = 4000;
};

// What the transport answers by itself; the server gives each its status and body.
enum class Refusal {
    TooLarge,   // the body is over the limit
    Malformed,  // not an HTTP request
    Timeout,    // the request did not arrive whole within its deadline
    Full,       // max_connections are open
    NotTls,     // plain HTTP to a server that speaks only TLS (answered in plain HTTP)
};

struct Answer {
    int status = 200;
    std::string body;
};

namespace detail {
class Connection;
}

// The answer a request is owed. Given to the handler with the request, it may be moved to
// another thread and sent from there, once. One never sent closes the connection.
class Reply {
  public:
    Reply() = default;
    explicit Reply(std::shared_ptr<detail::Connection> connection);
    ~Reply();
    Reply(Reply&&) noexcept;
    Reply& operator=(Reply&&) noexcept;

    // Sends the answer in one send where the socket takes it; keeps the connection when the
    // request asked to, `keep_alive` allows it and the server is not stopping.
    void send(int status, std::string body, bool keep_alive = true, std::string_view content_type = "application/json");

  private:
    std::shared_ptr<detail::Connection> connection_;
};

// The server's side of the transport. Connections are read without blocking on the thread
// that calls run(), so an idle or slow connection costs a socket and a few hundred bytes,
// never a thread; only a whole request is handed on.
class Server {
  public:
    // Runs on the I/O thread with each whole request: it answers at once or hands the reply to
    // a thread of its own, and never blocks.
    using Handler = std::function<void(Request&&, Reply)>;
    using Refusals = std::function<Answer(Refusal)>;

    Server(ServerLimits limits, Handler handler, Refusals refusals);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Every connection speaks TLS with this PEM certificate chain and its key; before run().
    // Throws std::runtime_error when either cannot be read or they do not belong together.
    void use_tls(const std::string& cert_file, const std::string& key_file);
    bool uses_tls() const;
    // Binds and listens (port 0: any free port); returns the port, or throws std::runtime_error.
    int bind(const std::string& host, int port);
    // Serves until stop() and every connection has ended.
    void run();
    // From any thread: stops accepting, closes the connections waiting for a request at once
    // and the others after their answer (which then says "Connection: close").
    void stop();
    // Connections accepted so far, refused ones included.
    unsigned long long accepted() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace acerto::platform::http
