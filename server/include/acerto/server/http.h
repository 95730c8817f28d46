#pragma once
// The transport: HTTP/1.1 with keep-alive. Each method of the remote data module is
// POST /QLM01200.rdmAcertoFinal/<Method> with the JSON array of its arguments; the answer is
// {"result": payload} or {"error": "text"}. See docs/protocol.md.
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "acerto/platform/http.h"
#include "acerto/platform/json_io.h"
#include "acerto/server/access.h"
#include "acerto/server/module.h"

namespace acerto::server {

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8211;   // 0: any free port
    int threads = 32;  // method calls run at once; as many more may wait, beyond them a clear refusal
    std::size_t max_body = platform::JsonLimits::request().max_bytes;  // what the reader takes
    int keep_alive_seconds = 60;                                       // an idle screen's connection is kept this long
    std::chrono::milliseconds request_timeout{10000};                  // a request must arrive whole within this
    std::size_t max_connections = 4000;                                // open at once; beyond them a clear refusal
    bool test_hooks = false;                                           // /_test/... endpoints for scenario hosts
    std::string tls_cert, tls_key;  // PEM files: when given, every connection speaks TLS
    // Every method call needs the token of a signed-in operator (POST /session); off only for
    // tools and tests that call in-process.
    bool require_sign_in = true;
    std::chrono::seconds session_lifetime{12 * 3600};
};

class MethodPool;

class AppServer {
  public:
    // Throws std::runtime_error when the TLS certificate or key cannot be used.
    AppServer(AcertoModule& module, ServerOptions options);
    ~AppServer();

    // Binds the address (throws std::runtime_error when it cannot); returns the port.
    int bind();
    // Serves until stop(); the requests in flight are finished first.
    void run();
    // Stops accepting; idle connections close at once, busy ones after their answer.
    void stop();
    int port() const { return port_; }
    unsigned long long requests() const { return requests_; }

    // The envelope for a call, as a JSON text (exposed for in-process tests and benchmarks).
    std::string handle_call(const std::string& method, const std::string& body, const std::string& authorization,
                            const std::string& peer);
    // The envelope of a sign-in: ["operator", "password"] gives a token, or a refusal.
    std::string handle_sign_in(const std::string& body, const std::string& peer);

  private:
    // A whole request, on the transport's I/O thread: a method call goes to the pool, anything
    // else is answered at once.
    void dispatch(platform::http::Request&& request, platform::http::Reply reply);
    // The answer to a request that is not a method call: its status and body.
    std::pair<int, std::string> route(const platform::http::Request& request);
    platform::http::Answer refusal(platform::http::Refusal why) const;
    // The operator of a "Bearer <token>" header, or nullopt when the token is unknown or expired.
    std::optional<Caller> signed_in(const std::string& authorization, const std::string& peer);

    AcertoModule& module_;
    ServerOptions options_;
    platform::http::Server transport_;
    std::unique_ptr<MethodPool> pool_;
    int port_ = 0;
    std::atomic<unsigned long long> requests_{0};
    std::mutex hooks_mutex_;
    std::map<std::string, std::string> failures_;  // method -> the text its next call fails with
    SessionTable sessions_;
};

// A text from a request or a refusal as it may be logged: control characters and bytes that
// are not UTF-8 escaped (\n, \x1b, \xff), cut after `limit` characters with an ellipsis.
std::string loggable(std::string_view text, std::size_t limit = 200);

}  // namespace acerto::server
