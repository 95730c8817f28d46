#pragma once
// Starts the real acerto-server process on a free loopback port over a fresh database (a
// temporary SQLite file, or a new database on the PostgreSQL cluster named by ACERTO_TEST_PG),
// and stops it with SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "acerto/platform/http.h"

namespace acerto::test {

// The operators every test server has, for every branch, all with the same password: tests sign
// in as the operator whose code their calls carry.
constexpr const char* kTestOperator = "TESTE";
constexpr const char* kTestPassword = "senha-de-teste";
inline const std::vector<std::string>& test_operators() {
    static const std::vector<std::string> codes = {kTestOperator, "ROBO", "ANA", "BETO", "BENCH"};
    return codes;
}

// The backend the server tests run against: "sqlite" unless ACERTO_TEST_PG holds a base URL
// ("postgresql://user@host:port"), in which case each database is created on that cluster.
inline bool using_postgres() {
    const char* pg = std::getenv("ACERTO_TEST_PG");
    return pg && *pg;
}

inline std::string temp_dir() {
    static std::string dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("acerto-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d.string();
    }();
    return dir;
}

// A new, empty database: its --db spec.
inline std::string fresh_database() {
    static std::atomic<int> n{0};
    int k = ++n;
    if (using_postgres()) {
        std::string base = std::getenv("ACERTO_TEST_PG");
        std::string name = "acerto_t" + std::to_string(::getpid()) + "_" + std::to_string(k);
        std::string cmd = "psql -q -d '" + base + "/postgres' -c 'CREATE DATABASE " + name + "' >/dev/null";
        if (std::system(cmd.c_str()) != 0) throw std::runtime_error("could not create " + name);
        return base + "/" + name;
    }
    std::string path = temp_dir() + "/db" + std::to_string(k) + ".sqlite";
    std::filesystem::remove(path);
    return path;
}

// Signs in on the server at `port`: the session token, or std::runtime_error with the refusal.
inline std::string sign_in(int port, const std::string& code, const std::string& password,
                           platform::http::ClientTls tls = {}) {
    platform::http::Client c("127.0.0.1", port, std::chrono::seconds(3), std::chrono::seconds(30), std::move(tls));
    auto res = c.request("POST", "/session", nlohmann::json::array({code, password}).dump());
    auto j = nlohmann::json::parse(res.body, nullptr, false);
    if (!j.is_object() || !j.contains("result")) throw std::runtime_error("sign-in refused: " + res.body);
    return j["result"]["token"].get<std::string>();
}

// A session token of one of the test operators on the server at `port`.
inline std::string token_for(int port, const std::string& code = kTestOperator) {
    return sign_in(port, code, kTestPassword);
}

class ServerProcess {
  public:
    // With a `log` path, the server's log goes to that file (else to the test's stderr); a
    // "--log-level" in `extra` replaces the default "warn".
    ServerProcess(const std::string& db, const std::string& fixture, std::vector<std::string> extra = {},
                  const std::string& log = {}) {
        port_file_ = temp_dir() + "/port" + std::to_string(++counter()) + ".txt";
        std::filesystem::remove(port_file_);
        std::vector<std::string> args = {ACERTO_SERVER_BIN, "--db",        db,        "--listen",
                                         "127.0.0.1:0",     "--port-file", port_file_};
        if (std::find(extra.begin(), extra.end(), "--log-level") == extra.end()) {
            args.push_back("--log-level");
            args.push_back("warn");
        }
        if (!fixture.empty()) {
            args.push_back("--fixture");
            args.push_back(fixture);
        }
        args.insert(args.end(), extra.begin(), extra.end());
        for (const auto& code : test_operators()) {
            args.push_back("--seed-operator");
            args.push_back(code + ":" + kTestPassword);
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            // A test that crashes must not leave its server running (holding the test's output
            // pipe open and its database busy).
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (!log.empty()) {
                int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                if (fd >= 0) ::dup2(fd, 2);
            }
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(port_file_);
            if (in >> port_ && port_ > 0) return;
            int status;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                throw std::runtime_error("acerto-server ended at start");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        throw std::runtime_error("acerto-server did not start");
    }
    ~ServerProcess() { stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return port_; }
    pid_t pid() const { return pid_; }

    // A session token of the test operator (signed in once, then kept).
    std::string token() {
        if (token_.empty()) token_ = token_for(port_);
        return token_;
    }
    const std::string& port_file() const { return port_file_; }

    // SIGTERM; returns the exit status (or -1 when it had to be killed).
    int stop() {
        if (pid_ <= 0) return exit_;
        ::kill(pid_, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return exit_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        exit_ = -1;
        return exit_;
    }

  private:
    static int& counter() {
        static int c = 0;
        return c;
    }
    pid_t pid_ = -1;
    int port_ = 0;
    int exit_ = -1;
    std::string port_file_;
    std::string token_;
};

}  // namespace acerto::test
