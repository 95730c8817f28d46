#include "acerto/server/http.h"

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <spdlog/spdlog.h>

#include "acerto/platform/errors.h"
#include "acerto/platform/json_io.h"

namespace acerto::server {

using nlohmann::json;

namespace {

// Set on a connection served beyond the worker pool: its requests are refused at once.
thread_local bool overflow_connection = false;

// A worker pool of fixed size where a kept-alive connection holds its worker. A connection
// that finds every worker taken is not queued to hang: it is served on a short-lived thread
// that answers with a clear refusal and closes.
class BoundedPool : public httplib::TaskQueue {
public:
    explicit BoundedPool(std::size_t n) : size_(n) {
        for (std::size_t i = 0; i < n; ++i) workers_.emplace_back([this] { work(); });
    }
    ~BoundedPool() override { shutdown(); }

    void enqueue(std::function<void()> fn) override {
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
            overflow_connection = true;
            fn();
            std::lock_guard<std::mutex> lock(mutex_);
            --overflow_;
            cond_.notify_all();
        }).detach();
    }

    void shutdown() override {
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
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                cond_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                fn = std::move(jobs_.front());
                jobs_.pop_front();
                ++busy_;
            }
            fn();
            std::lock_guard<std::mutex> lock(mutex_);
            --busy_;
        }
    }

    std::size_t size_;
    std::vector<std::thread> workers_;
    std::deque<std::function<void()>> jobs_;
    std::mutex mutex_;
    std::condition_variable cond_;
    std::size_t busy_ = 0, overflow_ = 0;
    bool stopping_ = false;
};

std::string error_body(const std::string& text) { return json{{"error", text}}.dump(); }

}  // namespace

AppServer::AppServer(AcertoModule& module, ServerOptions options)
    : module_(module), options_(std::move(options)), http_(std::make_unique<httplib::Server>()) {
    auto& http = *http_;
    const std::size_t threads = static_cast<std::size_t>(std::max(1, options_.threads));
    http.new_task_queue = [threads] { return new BoundedPool(threads); };
    http.set_tcp_nodelay(true);
    http.set_keep_alive_max_count(1000000);
    http.set_keep_alive_timeout(options_.keep_alive_seconds);
    http.set_read_timeout(60, 0);
    http.set_write_timeout(60, 0);
    http.set_payload_max_length(options_.max_body);

    const std::string base = std::string("/") + kModuleName;
    http.Get(base, [](const httplib::Request&, httplib::Response& res) {
        res.set_content(json{{"server", kModuleName}}.dump(), "application/json");
    });
    http.Post(base + R"(/([A-Za-z_0-9]+))", [this](const httplib::Request& req, httplib::Response& res) {
        if (overflow_connection) {
            res.set_header("Connection", "close");
            res.set_content(error_body("Servidor de aplicação ocupado: todos os " + std::to_string(options_.threads) +
                                       " atendimentos estão em uso. Tente novamente em instantes."),
                            "application/json");
            return;
        }
        res.set_content(handle_call(req.matches[1], req.body), "application/json");
    });
    if (options_.test_hooks) {
        http.Post("/_test/fail", [this](const httplib::Request& req, httplib::Response& res) {
            json j = json::parse(req.body, nullptr, false);
            if (j.is_discarded() || !j.contains("method") || !j.contains("message")) {
                res.status = 400;
                res.set_content(error_body("Pedido inválido."), "application/json");
                return;
            }
            std::lock_guard<std::mutex> lock(hooks_mutex_);
            failures_[j["method"].get<std::string>()] = j["message"].get<std::string>();
            res.set_content(R"({"result":null})", "application/json");
        });
        http.Post("/_test/reset", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(hooks_mutex_);
            failures_.clear();
            res.set_content(R"({"result":null})", "application/json");
        });
    }
    http.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        std::string text;
        if (res.status == 413)
            text = "Pedido grande demais para o servidor de aplicação.";
        else if (res.status == 404)
            text = "Endereço desconhecido no servidor de aplicação: " + req.path;
        else
            text = "Pedido inválido (HTTP " + std::to_string(res.status) + ").";
        res.set_content(error_body(text), "application/json");
    });
    http.set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
        try {
            if (ep) std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            spdlog::error("{}: {}", req.path, e.what());
        } catch (...) {
        }
        res.status = 500;
        res.set_content(error_body("Erro interno do servidor de aplicação. O erro foi registrado no servidor."),
                        "application/json");
    });
}

AppServer::~AppServer() { stop(); }

int AppServer::bind() {
    if (options_.port == 0)
        port_ = http_->bind_to_any_port(options_.host);
    else
        port_ = http_->bind_to_port(options_.host, options_.port) ? options_.port : -1;
    if (port_ <= 0)
        throw std::runtime_error("Não foi possível escutar em " + options_.host + ":" + std::to_string(options_.port) + ".");
    return port_;
}

void AppServer::run() { http_->listen_after_bind(); }

void AppServer::stop() {
    if (http_ && http_->is_running()) http_->stop();
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
