#include "scenario_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "acerto/platform/http.h"

namespace acerto::robot {

namespace {
int loopback_socket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}
sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}
}  // namespace

// ------------------------------------------------------------------------------------ Proxy

Proxy::Proxy(int target_port) : target_(target_port) {
    listen_fd_ = loopback_socket();
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(0);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_fd_, 16) != 0)
        throw std::runtime_error("o proxy do roteiro não conseguiu escutar");
    socklen_t len = sizeof a;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

Proxy::~Proxy() {
    stopping_ = true;
    ::shutdown(listen_fd_, SHUT_RDWR);
    ::close(listen_fd_);
    set_down(true);
    if (acceptor_.joinable()) acceptor_.join();
    for (auto& t : pumps_) t.join();
}

void Proxy::set_down(bool down) {
    down_ = down;
    if (!down) return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : open_fds_) ::shutdown(fd, SHUT_RDWR);
}

void Proxy::accept_loop() {
    for (;;) {
        int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (stopping_) return;
            continue;
        }
        if (down_) {
            ::close(client);
            continue;
        }
        int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int server = loopback_socket();
        sockaddr_in a = loopback(target_);
        if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(client);
            ::close(server);
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        open_fds_.push_back(client);
        open_fds_.push_back(server);
        pumps_.emplace_back([this, client, server] { pump(client, server); });
    }
}

void Proxy::pump(int client, int server) {
    char buf[65536];
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, 200) < 0) break;
        if (stopping_) break;
        bool closed = false;
        for (int k = 0; k < 2 && !closed; ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = ::recv(fds[k].fd, buf, sizeof buf, 0);
            if (n <= 0) {
                closed = true;
                break;
            }
            int to = k == 0 ? server : client;
            ssize_t off = 0;
            while (off < n) {
                ssize_t w = ::send(to, buf + off, static_cast<std::size_t>(n - off), MSG_NOSIGNAL);
                if (w <= 0) {
                    closed = true;
                    break;
                }
                off += w;
            }
        }
        if (closed) break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase(open_fds_, client);
    std::erase(open_fds_, server);
    ::close(client);
    ::close(server);
}

// ---------------------------------------------------------------------------- the server

ScenarioServer::ScenarioServer(const ServerSetup& setup) {
    db_ = setup.work_dir + "/acerto.db";
    log_path_ = setup.work_dir + "/server.log";
    std::string port_file = setup.work_dir + "/port";
    std::vector<std::string> args = {
        setup.server_binary, "--db", db_,         "--listen", "127.0.0.1:0",  "--port-file", port_file,
        "--log-level",       "warn", "--threads", "8",        "--keep-alive", "5",           "--test-hooks"};
    if (!setup.fixture.empty()) {
        args.push_back("--fixture");
        args.push_back(setup.fixture);
    }
    if (!setup.clock.empty()) {
        args.push_back("--clock");
        args.push_back(setup.clock);
    }
    if (!setup.seed_operator.empty()) {
        args.push_back("--seed-operator");
        args.push_back(setup.seed_operator);
    }
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("não foi possível iniciar o acerto-server");
    if (pid_ == 0) {
        int log = ::open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            ::dup2(log, 2);
            ::dup2(log, 1);
        }
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(port_file);
        if (in >> port_ && port_ > 0) break;
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::string text = log();
            throw std::runtime_error("o acerto-server não iniciou: " +
                                     (text.empty() ? std::string("(sem mensagem)") : text));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (port_ <= 0) {
        stop();
        throw std::runtime_error("o acerto-server não ficou pronto a tempo");
    }
    proxy_ = std::make_unique<Proxy>(port_);
}

ScenarioServer::~ScenarioServer() {
    stop();
}

std::string ScenarioServer::log() const {
    std::ifstream in(log_path_);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string s = ss.str();
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    auto nl = s.rfind('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

void ScenarioServer::fail_next(const std::string& method, const std::string& message) {
    platform::http::Client c("127.0.0.1", port_, std::chrono::seconds(3), std::chrono::seconds(10));
    int status = 0;
    try {
        status =
            c.request("POST", "/_test/fail", nlohmann::json{{"method", method}, {"message", message}}.dump()).status;
    } catch (const platform::http::TransportError&) {
    }
    if (status != 200) throw std::runtime_error("o servidor não aceitou a falha programada");
}

std::optional<std::string> ScenarioServer::stop() {
    proxy_.reset();
    if (pid_ <= 0) return std::nullopt;
    ::kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_)
            ended = true;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!ended) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    if (!ended) return "o acerto-server não terminou em 5 s e foi interrompido";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return std::nullopt;
    std::string how = WIFSIGNALED(status) ? "com o sinal " + std::to_string(WTERMSIG(status))
                                          : "com o status " + std::to_string(WEXITSTATUS(status));
    // A sanitizer's report ends with its summary line; otherwise the last line says most.
    std::ifstream in(log_path_);
    std::string line, summary;
    while (std::getline(in, line))
        if (line.find("SUMMARY:") != std::string::npos) summary = line;
    if (summary.empty()) summary = log();
    return "o acerto-server terminou " + how + (summary.empty() ? std::string() : ": " + summary);
}

}  // namespace acerto::robot
