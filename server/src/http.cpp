#include "acerto/server/http.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include <spdlog/spdlog.h>
#include <nlohmann/json.hpp>

#include "acerto/platform/errors.h"
#include "acerto/platform/json_io.h"

namespace acerto::server {

using nlohmann::json;
using platform::http::Answer;
using TransportRefusal = platform::http::Refusal;
using platform::http::Reply;
using platform::http::Request;

namespace {

// The transport's texts for the operator, in one place.
namespace text {

std::string busy_workers(int threads) {
    return "Servidor de aplicação ocupado: todos os " + std::to_string(threads) +
           " atendimentos estão em uso. Tente novamente em instantes.";
}
std::string busy_connections(std::size_t limit) {
    return "Servidor de aplicação ocupado: o limite de " + std::to_string(limit) +
           " conexões foi atingido. Tente novamente em instantes.";
}
const char* const too_large = "Pedido grande demais para o servidor de aplicação.";
const char* const malformed = "Pedido inválido (HTTP 400).";
const char* const too_slow = "O pedido não chegou inteiro ao servidor de aplicação a tempo; a conexão foi encerrada.";
const char* const unknown_address = "Endereço desconhecido no servidor de aplicação: ";
const char* const internal = "Erro interno do servidor de aplicação. O erro foi registrado no servidor.";
const char* const needs_tls =
    "Este servidor de aplicação só aceita conexões seguras: configure o endereço do servidor como https://.";
const char* const no_session =
    "Sessão inválida ou expirada: entre novamente no sistema com o seu operador e a sua senha.";
const char* const bad_sign_in = "Operador ou senha inválidos.";
const char* const disabled = "Operador desativado. Procure o administrador do sistema.";
std::string wait_sign_in(long long seconds) {
    return "Muitas tentativas de entrada sem sucesso para este operador. Tente novamente em " +
           std::to_string(seconds) + " segundo(s).";
}

}  // namespace text

// Never throws: a text that is not UTF-8 (a request's target, say) travels with its bad
// bytes replaced.
std::string error_body(const std::string& message) {
    return json{{"error", message}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

// The length of the UTF-8 sequence at the front of `s`, or 0 when it is not one.
std::size_t utf8_sequence(std::string_view s) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = byte(0);
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;  // overlong
        if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() < n || byte(1) < lo || byte(1) > hi) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return n;
}

std::string hex_escape(unsigned value, int digits, const char* prefix) {
    static const char hex[] = "0123456789abcdef";
    std::string out = prefix;
    for (int d = digits - 1; d >= 0; --d) out.push_back(hex[(value >> (4 * d)) & 0xF]);
    return out;
}

// A call's body goes to one of a fixed number of workers; as many calls again may wait for
// one. Beyond that the call is refused at once rather than left hanging.
struct Call {
    std::string method;
    std::string body;
    Reply reply;
    std::string authorization;
    std::string peer;
};

// Not a method name (those are letters, digits and "_"): the sign-in's call in the pool.
const char* const kSignInCall = "/session";

}  // namespace

std::string loggable(std::string_view in, std::size_t limit) {
    std::string out;
    out.reserve(std::min(in.size(), limit) + 8);
    std::size_t chars = 0;
    for (std::size_t i = 0; i < in.size(); ++chars) {
        if (chars == limit) {
            out += "…";
            break;
        }
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (c == '\n') {
            out += "\\n";
            ++i;
        } else if (c == '\r') {
            out += "\\r";
            ++i;
        } else if (c == '\t') {
            out += "\\t";
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            out += hex_escape(c, 2, "\\x");
            ++i;
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (std::size_t n = utf8_sequence(in.substr(i)); n == 0) {
            out += hex_escape(c, 2, "\\x");
            ++i;
        } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(in[i + 1]) < 0xA0) {
            // U+0080..U+009F: control characters a terminal may act on.
            out += hex_escape(static_cast<unsigned char>(in[i + 1]), 4, "\\u");
            i += 2;
        } else {
            out.append(in.substr(i, n));
            i += n;
        }
    }
    return out;
}

class MethodPool {
  public:
    using Run = std::function<void(Call&)>;
    MethodPool(std::size_t workers, std::size_t queue, Run run)
        : capacity_(workers + queue), run_(std::move(run)), slots_(workers) {
        for (std::size_t i = 0; i < workers; ++i) threads_.emplace_back([this, i] { work(slots_[i]); });
    }
    ~MethodPool() { shutdown(); }

    // False when every worker is busy and the queue is full: the call stays with the caller.
    bool submit(Call& call) {
        Slot* wake = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_ || busy_ + calls_.size() >= capacity_) return false;
            calls_.push_back(std::move(call));
            if (!idle_.empty()) {
                wake = idle_.back();
                idle_.pop_back();
                wake->woken = true;
            }
        }
        if (wake) wake->cond.notify_one();
        return true;
    }

    // Runs the calls already queued, then joins the workers.
    void shutdown() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            for (Slot* s : idle_) s->woken = true;
            idle_.clear();
        }
        for (auto& s : slots_) s.cond.notify_one();
        for (auto& t : threads_) t.join();
        threads_.clear();
    }

  private:
    struct Slot {
        std::condition_variable cond;
        bool woken = false;
    };

    // The worker idle the shortest time takes the next call: under a light load the same few
    // threads serve, their read connections and caches warm, instead of every worker in turn.
    void work(Slot& me) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (calls_.empty()) {
                if (stopping_) return;
                me.woken = false;
                idle_.push_back(&me);
                me.cond.wait(lock, [&] { return me.woken; });
                continue;
            }
            Call call = std::move(calls_.front());
            calls_.pop_front();
            ++busy_;
            lock.unlock();
            try {
                run_(call);
            } catch (const std::exception& e) {
                spdlog::error("{}: {}", call.method, loggable(e.what(), 1000));
            }
            lock.lock();
            --busy_;
        }
    }

    const std::size_t capacity_;
    Run run_;
    std::deque<Slot> slots_;   // never resized: each worker keeps its own
    std::vector<Slot*> idle_;  // most recently idle last
    std::vector<std::thread> threads_;
    std::deque<Call> calls_;
    std::mutex mutex_;
    std::size_t busy_ = 0;
    bool stopping_ = false;
};

namespace {

platform::http::ServerLimits limits_of(const ServerOptions& o) {
    platform::http::ServerLimits l;
    l.max_body = o.max_body;
    l.request_timeout = o.request_timeout;
    l.idle_timeout = std::chrono::seconds(o.keep_alive_seconds);
    l.max_connections = std::max<std::size_t>(1, o.max_connections);
    return l;
}

}  // namespace

AppServer::AppServer(AcertoModule& module, ServerOptions options)
    : module_(module),
      options_(std::move(options)),
      transport_(
          limits_of(options_), [this](Request&& r, Reply reply) { dispatch(std::move(r), std::move(reply)); },
          [this](TransportRefusal why) { return refusal(why); }),
      sessions_(options_.session_lifetime) {
    if (!options_.tls_cert.empty()) transport_.use_tls(options_.tls_cert, options_.tls_key);
}

AppServer::~AppServer() {
    stop();
}

int AppServer::bind() {
    port_ = transport_.bind(options_.host, options_.port);
    return port_;
}

void AppServer::run() {
    auto threads = static_cast<std::size_t>(std::max(1, options_.threads));
    pool_ = std::make_unique<MethodPool>(threads, threads, [this](Call& c) {
        c.reply.send(200, c.method == kSignInCall ? handle_sign_in(c.body, c.peer)
                                                  : handle_call(c.method, c.body, c.authorization, c.peer));
    });
    transport_.run();
    pool_->shutdown();
}

void AppServer::stop() {
    transport_.stop();
}

Answer AppServer::refusal(TransportRefusal why) const {
    switch (why) {
        case TransportRefusal::TooLarge:
            return {413, error_body(text::too_large)};
        case TransportRefusal::Malformed:
            return {400, error_body(text::malformed)};
        case TransportRefusal::Timeout:
            return {408, error_body(text::too_slow)};
        case TransportRefusal::NotTls:
            return {400, error_body(text::needs_tls)};
        case TransportRefusal::Full:
            break;
    }
    return {503, error_body(text::busy_connections(options_.max_connections))};
}

void AppServer::dispatch(Request&& request, Reply reply) {
    const std::string base = std::string("/") + kModuleName + "/";
    std::string_view path = std::string_view(request.target).substr(0, request.target.find('?'));
    bool call = request.method == "POST" && path.size() > base.size() && path.compare(0, base.size(), base) == 0 &&
                std::all_of(path.begin() + static_cast<std::ptrdiff_t>(base.size()), path.end(), [](char c) {
                    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
                });
    if (request.method == "POST" && path == kSignInCall) {
        // Hashing the password takes a worker for a fraction of a second, never the I/O thread.
        Call c{kSignInCall, std::move(request.body), std::move(reply), {}, std::move(request.peer)};
        if (!pool_->submit(c)) c.reply.send(503, error_body(text::busy_workers(options_.threads)));
        return;
    }
    if (!call) {
        auto [status, body] = route(request);
        reply.send(status, std::move(body));
        return;
    }
    Call c{std::string(path.substr(base.size())), std::move(request.body), std::move(reply),
           std::move(request.authorization), std::move(request.peer)};
    if (!pool_->submit(c)) c.reply.send(503, error_body(text::busy_workers(options_.threads)));
}

std::pair<int, std::string> AppServer::route(const Request& request) {
    const std::string base = std::string("/") + kModuleName;
    std::string path = request.target.substr(0, request.target.find('?'));
    try {
        if (request.method == "GET" && path == base) return {200, json{{"server", kModuleName}}.dump()};
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
        return {404, error_body(text::unknown_address + loggable(path))};
    } catch (const std::exception& e) {
        spdlog::error("{}: {}", loggable(path), loggable(e.what(), 1000));
        return {500, error_body(text::internal)};
    }
}

std::string AppServer::handle_sign_in(const std::string& body, const std::string& peer) {
    ++requests_;
    json j = json::parse(body, nullptr, false);
    if (j.is_discarded() || !j.is_array() || j.size() != 2 || !j[0].is_string() || !j[1].is_string())
        return error_body("Pedido inválido: a entrada leva o código do operador e a senha.");
    const std::string code = j[0].get<std::string>(), password = j[1].get<std::string>();
    try {
        if (long long wait = sessions_.wait_before_try(code); wait > 0) {
            spdlog::warn("entrada de {} recusada de {}: espera de {} s após falhas", loggable(code), loggable(peer),
                         wait);
            return error_body(text::wait_sign_in(wait));
        }
        auto who = operators::verify(module_.database().session(), code, password);
        if (!who) {
            sessions_.failed(code);
            spdlog::warn("entrada recusada para o operador {} de {}", loggable(code), loggable(peer));
            return error_body(text::bad_sign_in);
        }
        if (!who->active) {
            spdlog::warn("entrada recusada para o operador desativado {} de {}", loggable(code), loggable(peer));
            return error_body(text::disabled);
        }
        sessions_.succeeded(code);
        std::string token = sessions_.open(*who);
        spdlog::info("operador {} entrou de {}", loggable(code), loggable(peer));
        json out{{"result",
                  {{"token", token},
                   {"operator", who->code},
                   {"name", who->name},
                   {"seconds", static_cast<long long>(sessions_.lifetime().count())}}}};
        return out.dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const Refusal& r) {
        return error_body(r.what());
    } catch (const std::exception& e) {
        spdlog::error("entrada: {}", loggable(e.what(), 1000));
        return error_body(text::internal);
    }
}

std::optional<Caller> AppServer::signed_in(const std::string& authorization, const std::string& peer) {
    constexpr std::string_view bearer = "Bearer ";
    if (authorization.size() <= bearer.size() || authorization.compare(0, bearer.size(), bearer) != 0)
        return std::nullopt;
    const std::string token = authorization.substr(bearer.size());
    auto who = sessions_.find(token);
    if (!who) return std::nullopt;
    // A disabled operator, or one whose branches changed, is known within seconds, without a
    // read of the database on every call.
    if (!sessions_.fresh(token, std::chrono::seconds(2))) {
        auto now = operators::find(module_.database().session(), who->code);
        if (!now || !now->active) {
            sessions_.close(token);
            return std::nullopt;
        }
        sessions_.refresh(token, *now);
        who = now;
    }
    return Caller{std::move(*who), peer};
}

std::string AppServer::handle_call(const std::string& method, const std::string& body, const std::string& authorization,
                                   const std::string& peer) {
    ++requests_;
    std::optional<Caller> caller;
    if (options_.require_sign_in) {
        try {
            caller = signed_in(authorization, peer);
        } catch (const std::exception& e) {
            spdlog::error("{}: {}", method, loggable(e.what(), 1000));
            return error_body(text::internal);
        }
        if (!caller) {
            spdlog::info("{} recusado de {}: sem sessão válida", method, loggable(peer));
            return error_body(text::no_session);
        }
    }
    {
        std::lock_guard<std::mutex> lock(hooks_mutex_);
        auto it = failures_.find(method);
        if (it != failures_.end()) {
            std::string t = it->second;
            failures_.erase(it);
            return error_body(t);
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
        Variant result = module_.call(method, args.array(), caller ? &*caller : nullptr);
        std::string out = "{\"result\":";
        platform::write_json(out, result);
        out.push_back('}');
        return out;
    } catch (const Refusal& r) {
        spdlog::debug("{} recusado: {}", method, loggable(r.what()));
        return error_body(r.what());
    } catch (const BusyError& e) {
        spdlog::warn("{}: {}", method, loggable(e.what(), 1000));
        return error_body("O banco de dados está ocupado. Tente novamente em instantes.");
    } catch (const std::exception& e) {
        spdlog::error("{}: {}", method, loggable(e.what(), 1000));
        return error_body("Erro interno do servidor de aplicação ao executar " + method +
                          ". O erro foi registrado no servidor.");
    }
}

}  // namespace acerto::server
