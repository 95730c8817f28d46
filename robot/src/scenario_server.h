#pragma once
// The application server of one scenario: a real acerto-server process on a free loopback
// port over a temporary SQLite database, and a TCP proxy in front of it through which the
// screen connects, so that "server down" and "server up" act on the real transport.
#include <sys/types.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace acerto::robot {

class Proxy {
  public:
    explicit Proxy(int target_port);
    ~Proxy();
    int port() const { return port_; }
    // Down: every open connection is cut and new ones are closed at once. Up: forwarding again.
    void set_down(bool down);

  private:
    void accept_loop();
    void pump(int client, int server);
    int listen_fd_ = -1;
    int port_ = 0;
    int target_;
    std::atomic<bool> down_{false};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<int> open_fds_;
    std::vector<std::thread> pumps_;
    std::thread acceptor_;
};

struct ServerSetup {
    std::string server_binary;
    std::string fixture;  // path, or empty
    std::string clock;    // "YYYY-MM-DD HH:MM:SS", or empty
    std::string work_dir;
    std::string seed_operator;  // "CODE:PASSWORD" added for every branch, or empty
};

class ScenarioServer {
  public:
    explicit ScenarioServer(const ServerSetup& setup);  // throws std::runtime_error
    ~ScenarioServer();
    int port() const { return port_; }  // the real server
    int proxy_port() const { return proxy_->port(); }
    const std::string& database() const { return db_; }
    void set_down(bool down) { proxy_->set_down(down); }
    // The next call of `method` fails with `message` (the server's test hook).
    void fail_next(const std::string& method, const std::string& message);
    // Stops the server; returns what went wrong with it, if anything: an exit that was not
    // clean (a crash, a sanitizer's report), or a server that had to be killed.
    std::optional<std::string> stop();
    // What the server wrote on its error output (for failures at start).
    std::string log() const;

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string db_, log_path_;
    std::unique_ptr<Proxy> proxy_;
};

}  // namespace acerto::robot
