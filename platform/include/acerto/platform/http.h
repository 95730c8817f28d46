#pragma once
// HTTP/1.1 on kept-alive TCP connections: the client side of the screen's connection to the
// application server, and the server's side of one accepted connection. Messages are parsed
// and written by Boost.Beast; the sockets are plain blocking ones with a timeout per
// operation, so that a call costs one send and one receive on each side and a request or an
// answer leaves in one segment (header and body together).
#include <chrono>
#include <cstddef>
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

// A client's kept-alive connection to one address.
class Client {
public:
    Client(std::string host, int port, std::chrono::milliseconds connect_timeout, std::chrono::milliseconds io_timeout);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Opens the connection (throws TransportError).
    void connect();
    void close();
    bool is_open() const;

    // Sends one request and reads its answer on the kept connection. A closed connection is
    // opened first, and so is one the server closed while it was idle. Throws TransportError;
    // the connection is closed then, and also after an answer that asks for it.
    Response request(std::string_view method, const std::string& target, const std::string& body = {},
                     std::string_view content_type = "application/json");

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct Request {
    std::string method;
    std::string target;
    std::string body;
    bool keep_alive = true;
};

// The server's side of one accepted connection; owns the socket.
class ServerConnection {
public:
    enum class Read {
        Ok,
        Closed,     // the peer closed it, went quiet beyond the idle timeout, or the server is stopping
        TooLarge,   // the body is over the limit
        Malformed,  // not an HTTP request
    };
    ServerConnection(int fd, std::size_t max_body, std::chrono::seconds idle_timeout, std::chrono::seconds write_timeout);
    ~ServerConnection();
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    int fd() const;
    Read read(Request& request);
    // Writes one answer in a single send where the socket takes it; false when the peer is gone.
    bool write(int status, const std::string& body, bool keep_alive, std::string_view content_type = "application/json");
    // After an answer that ends a request not read whole (too large, malformed): reads and
    // drops what the client still sends, for a moment, so that it reads the answer rather
    // than a reset.
    void drain();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A listening TCP socket. shutdown() wakes a thread blocked in accept().
class Listener {
public:
    Listener() = default;
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Binds and listens (port 0: any free port); returns the port, or throws std::runtime_error.
    int bind(const std::string& host, int port);
    // The next connection's socket (no delay set), or -1 once shut down.
    int accept();
    void shutdown();

private:
    int fd_ = -1;
};

}  // namespace acerto::platform::http
