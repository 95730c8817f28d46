#include "acerto/server/http.h"

#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <spdlog/spdlog.h>

#include "acerto/platform/errors.h"
#include "acerto/platform/json_io.h"

namespace acerto::server {

using nlohmann::json;

namespace {

// A worker pool of fixed size where a kept-alive connection holds its worker. A connection
// that finds every worker taken is not queued to hang: it is served on a short-lived thread
// that answers with a clear refusal and closes.
class BoundedPool {
public:
    using Job = std::function<void(bool refused)>;
    explicit BoundedPool(std::size_t n) : size_(n) {
        for (std::size_t i = 0; i < n; ++i) workers_.emplace_back([this] { work(); });
    }
    ~BoundedPool() { shutdown(); }

    void enqueue(Job fn) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!stopping_ && busy_ + jobs_.size() < size_) {
                jobs_.push_back(std::move(fn));
                cond_.notify_one();
                return;
            }
            ++overflow_;
        }
        std::thread([this, fn = std::move(fn)] {
            fn(true);
            std::lock_guard<std::mutex> lock(mutex_);
            --overflow_;
            cond_.notify_all();
        }).detach();
    }

    // Runs the jobs already queued, then waits for every worker and refusal to end.
    void shutdown() {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (stopping_ && workers_.empty()) return;
            stopping_ = true;
            cond_.notify_all();
        }
        for (auto& t : workers_) t.join();
        workers_.clear();
        std::unique_lock<std::mutex> lock(mutex_);
        cond_.wait(lock, [this] { return overflow_ == 0; });
    }

private:
    void work() {
        for (;;) {
            Job fn;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                cond_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                fn = std::move(jobs_.front());
                jobs_.pop_front();
                ++busy_;
            }
            fn(false);
            std::lock_guard<std::mutex> lock(mutex_);
            --busy_;
        }
    }

    std::size_t size_;
    std::vector<std::thread> workers_;
    std::deque<Job> jobs_;
    std::mutex mutex_;
    std::condition_variable cond_;
    std::size_t busy_ = 0, overflow_ = 0;
    bool stopping_ = false;
};

std::string error_body(const std::string& text) { return json{{"error", text}}.dump(); }

}  // namespace

AppServer::AppServer(AcertoModule& module, ServerOptions options) : module_(module), options_(std::move(options)) {}

AppServer::~AppServer() { stop(); }

int AppServer::bind() {
    port_ = listener_.bind(options_.host, options_.port);
    return port_;
}

void AppServer::run() {
    BoundedPool pool(static_cast<std::size_t>(std::max(1, options_.threads)));
    for (;;) {
        int fd = listener_.accept();
        if (fd < 0) break;
        pool.enqueue([this, fd](bool refused) { serve(fd, refused); });
    }
    pool.shutdown();
}

void AppServer::stop() {
    stopping_ = true;
    listener_.shutdown();
    // A connection waiting for its next request reads the end at once; one whose request is
    // already in, or being answered, finishes it first (what was received stays readable).
    std::lock_guard<std::mutex> lock(connections_mutex_);
    for (int fd : connections_) ::shutdown(fd, SHUT_RD);
}

void AppServer::serve(int fd, bool refused) {
    using platform::http::ServerConnection;
    ServerConnection connection(fd, options_.max_body, std::chrono::seconds(options_.keep_alive_seconds),
                                std::chrono::seconds(60));
    {
        std::lock_guard<std::mutex> lock(connections_mutex_);
        if (stopping_) return;
        connections_.insert(fd);
    }
    for (;;) {
        platform::http::Request request;
        auto read = connection.read(request);
        if (read == ServerConnection::Read::Closed) break;
        if (read == ServerConnection::Read::TooLarge) {
            connection.write(413, error_body("Pedido grande demais para o servidor de aplicação."), false);
            connection.drain();
            break;
        }
        if (read == ServerConnection::Read::Malformed) {
            connection.write(400, error_body("Pedido inválido (HTTP 400)."), false);
            connection.drain();
            break;
        }
        if (refused) {
            connection.write(200,
                             error_body("Servidor de aplicação ocupado: todos os " + std::to_string(options_.threads) +
                                        " atendimentos estão em uso. Tente novamente em instantes."),
                             false);
            break;
        }
        auto [status, body] = route(request);
        bool keep = request.keep_alive && !stopping_;
        if (!connection.write(status, body, keep) || !keep) break;
    }
    std::lock_guard<std::mutex> lock(connections_mutex_);
    connections_.erase(fd);
}

std::pair<int, std::string> AppServer::route(const platform::http::Request& request) {
    const std::string base = std::string("/") + kModuleName;
    std::string path = request.target.substr(0, request.target.find('?'));
    try {
        if (request.method == "GET" && path == base) return {200, json{{"server", kModuleName}}.dump()};
        if (request.method == "POST" && path.size() > base.size() + 1 && path.compare(0, base.size() + 1, base + "/") == 0) {
            std::string method = path.substr(base.size() + 1);
            bool name_ok = std::all_of(method.begin(), method.end(), [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
            });
            if (name_ok) return {200, handle_call(method, request.body)};
        }
        if (options_.test_hooks && request.method == "POST" && path == "/_test/fail") {
            json j = json::parse(request.body, nullptr, false);
            if (j.is_discarded() || !j.contains("method") || !j.contains("message") || !j["method"].is_string() ||
                !j["message"].is_string())
                return {400, error_body("Pedido inválido.")};
            std::lock_guard<std::mutex> lock(hooks_mutex_);
            failures_[j["method"].get<std::string>()] = j["message"].get<std::string>();
            return {200, R"({"result":null})"};
        }
        if (options_.test_hooks && request.method == "POST" && path == "/_test/reset") {
            std::lock_guard<std::mutex> lock(hooks_mutex_);
            failures_.clear();
            return {200, R"({"result":null})"};
        }
        return {404, error_body("Endereço desconhecido no servidor de aplicação: " + path)};
    } catch (const std::exception& e) {
        spdlog::error("{}: {}", path, e.what());
        return {500, error_body("Erro interno do servidor de aplicação. O erro foi registrado no servidor.")};
    }
}

std::string AppServer::handle_call(const std::string& method, const std::string& body) {
    ++requests_;
    {
        std::lock_guard<std::mutex> lock(hooks_mutex_);
        auto it = failures_.find(method);
        if (it != failures_.end()) {
            std::string text = it->second;
            failures_.erase(it);
            return error_body(text);
        }
    }
    auto first = body.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && body[first] != '[' && json::accept(body))
        return error_body("Pedido inválido: os argumentos de " + method + " devem vir numa lista.");
    Variant args;
    try {
        args = platform::read_json_variant(body);
    } catch (const platform::JsonSyntaxError&) {
        return error_body("Pedido inválido: o corpo de " + method + " não é um JSON válido.");
    } catch (const platform::Error& e) {
        return error_body("Pedido inválido para " + method + ": " + e.what());
    }
    if (!args.is_array()) return error_body("Pedido inválido: os argumentos de " + method + " devem vir numa lista.");
    try {
        Variant result = module_.call(method, args.array());
        std::string out = "{\"result\":";
        platform::write_json(out, result);
        out.push_back('}');
        return out;
    } catch (const Refusal& r) {
        spdlog::debug("{} recusado: {}", method, r.what());
        return error_body(r.what());
    } catch (const BusyError& e) {
        spdlog::warn("{}: {}", method, e.what());
        return error_body("O banco de dados está ocupado. Tente novamente em instantes.");
    } catch (const std::exception& e) {
        spdlog::error("{}: {}", method, e.what());
        return error_body("Erro interno do servidor de aplicação ao executar " + method +
                          ". O erro foi registrado no servidor.");
    }
}

}  // namespace acerto::server
