#pragma once
// The transport: HTTP/1.1 with keep-alive. Each method of the remote data module is
// POST /QLM01200.rdmAcertoFinal/<Method> with the JSON array of its arguments; the answer is
// {"result": payload} or {"error": "text"}. See docs/protocol.md.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "acerto/platform/http.h"
#include "acerto/server/module.h"

namespace acerto::server {

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8211;          // 0: any free port
    int threads = 32;         // one per connected screen; beyond them a clear refusal
    std::size_t max_body = 32u << 20;
    int keep_alive_seconds = 60;  // an idle screen's connection is kept this long
    bool test_hooks = false;  // /_test/... endpoints for scenario hosts
};

class AppServer {
public:
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
    std::string handle_call(const std::string& method, const std::string& body);

private:
    // Serves one connection until it closes; a refused one (beyond the pool) gets the
    // "busy" answer to its request and is closed.
    void serve(int fd, bool refused);
    // The answer to one request: its status and body.
    std::pair<int, std::string> route(const platform::http::Request& request);

    AcertoModule& module_;
    ServerOptions options_;
    platform::http::Listener listener_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex connections_mutex_;
    std::set<int> connections_;
    std::atomic<unsigned long long> requests_{0};
    std::mutex hooks_mutex_;
    std::map<std::string, std::string> failures_;  // method -> the text its next call fails with
};

}  // namespace acerto::server
