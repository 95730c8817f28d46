#include "acerto/host/net_connection.h"

#include <chrono>

#include <nlohmann/json.hpp>

#include "acerto/host/errors.h"
#include "acerto/host/services.h"
#include "acerto/platform/errors.h"
#include "acerto/platform/http.h"
#include "acerto/platform/json_io.h"

namespace acerto::host {

using nlohmann::json;
using platform::Variant;

struct TNetConnection::Impl {
    std::unique_ptr<platform::http::Client> client;
};

TNetConnection::TNetConnection(std::string name) : impl_(new Impl), name_(std::move(name)) {}

TNetConnection::~TNetConnection() = default;

void TNetConnection::Open() {
    if (connected_) return;
    if (OnBeforeConnect) OnBeforeConnect(*this);
    platform::http::ClientTls tls;
    if (Tls)
        tls = *Tls;
    else if (Services* s = installed())
        tls = s->config.tls();
    auto client = std::make_unique<platform::http::Client>(Host, Port, std::chrono::milliseconds(ConnectTimeoutMs),
                                                           std::chrono::milliseconds(CallTimeoutMs), tls);
    std::string where = Host + ":" + std::to_string(Port);
    platform::http::Response res;
    try {
        res = client->request("GET", "/" + ServerName);
    } catch (const platform::http::TransportError& e) {
        throw ConnectionError("Não foi possível conectar ao servidor de aplicação " + where + " (" + e.what() + ").");
    }
    if (res.status != 200) {
        // A server that is there but cannot take the connection (busy) says why.
        std::vector<std::pair<std::string, Variant>> members;
        try {
            platform::read_json_object(res.body, members);
        } catch (const platform::Error&) {
        }
        for (const auto& [k, v] : members)
            if (k == "error" && v.is_text()) throw ConnectionError(v.text());
        throw ConnectionError("O servidor de aplicação " + where + " não oferece " + ServerName + ".");
    }
    // Every call carries the signed-in operator's session.
    std::string token = Token;
    if (Services* s = installed(); token.empty() && s) token = s->config.session_token;
    if (!token.empty()) client->set_authorization("Bearer " + token);
    impl_->client = std::move(client);
    connected_ = true;
}

void TNetConnection::Close() {
    impl_->client.reset();
    connected_ = false;
}

ServerReply TNetConnection::Call(const std::string& method, const Variant::Array& args) {
    struct Timer {
        double& total;
        std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        ~Timer() { total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }
    } timer{call_seconds_};
    // One text for every way the transport can fail, so the operator reads the same thing
    // whether the server went away before, during or after the request.
    const std::string failure = "Falha de comunicação com o servidor de aplicação ao chamar " + method + ".";
    auto fail = [&]() -> ServerReply {
        if (Services* s = installed(); s && s->on_server_call) s->on_server_call(method, args, nullptr, failure);
        throw ConnectionError(failure);
    };
    std::string body;
    platform::write_json(body, Variant(args));
    ++calls_;
    const std::string path = "/" + ServerName + "/" + method;
    using platform::http::Failure;
    platform::http::Response res;
    try {
        if (!connected_) Open();
        try {
            res = impl_->client->request("POST", path, body);
        } catch (const platform::http::TransportError& e) {
            // The request never reached the server (it had gone and come back, or dropped the
            // connection): retried once on a fresh connection. A lost answer is not retried,
            // since the server may have acted on the call.
            if (e.failure() != Failure::Refused && e.failure() != Failure::ConnectTimeout &&
                e.failure() != Failure::Write)
                throw;
            Close();
            Open();
            res = impl_->client->request("POST", path, body);
        }
    } catch (const ConnectionError&) {
        return fail();
    } catch (const platform::http::TransportError&) {
        Close();
        return fail();
    }
    ServerReply reply;
    std::vector<std::pair<std::string, Variant>> members;
    bool parsed = false;
    try {
        parsed = platform::read_json_object(res.body, members);
    } catch (const platform::Error& e) {
        reply.ok = false;
        reply.error = "Resposta inválida do servidor de aplicação ao chamar " + method + ": " + e.what();
    }
    const Variant* result = nullptr;
    const Variant* error = nullptr;
    for (const auto& [k, v] : members) {
        if (k == "result") result = &v;
        if (k == "error") error = &v;
    }
    if (!reply.error.empty()) {
    } else if (!parsed || (!result && !error)) {
        reply.ok = false;
        reply.error = "Resposta inválida do servidor de aplicação ao chamar " + method + ".";
    } else if (error) {
        reply.ok = false;
        reply.error = error->is_text() ? error->text() : error->as_string();
    } else {
        reply.payload = *result;
    }
    if (OnAfterCall) OnAfterCall(method, args, reply);
    if (Services* s = installed(); s && s->on_server_call) s->on_server_call(method, args, &reply, {});
    return reply;
}

}  // namespace acerto::host
