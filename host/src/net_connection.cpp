#include "acerto/host/net_connection.h"

#include <httplib.h>

#include <chrono>

#include <nlohmann/json.hpp>

#include "acerto/host/errors.h"
#include "acerto/host/services.h"
#include "acerto/platform/errors.h"
#include "acerto/platform/json_io.h"

namespace acerto::host {

using nlohmann::json;
using platform::Variant;

namespace {
std::string transport_text(httplib::Error e) {
    switch (e) {
        case httplib::Error::Connection: return "o servidor não aceitou a conexão";
        case httplib::Error::Read: return "a resposta não pôde ser lida";
        case httplib::Error::Write: return "o pedido não pôde ser enviado";
        case httplib::Error::ConnectionTimeout: return "tempo de conexão esgotado";
        case httplib::Error::ExceedRedirectCount: return "redirecionamentos demais";
        case httplib::Error::Canceled: return "chamada cancelada";
        default: return "falha de comunicação";
    }
}
}  // namespace

struct TNetConnection::Impl {
    std::unique_ptr<httplib::Client> client;
};

TNetConnection::TNetConnection(std::string name) : impl_(new Impl), name_(std::move(name)) {}

TNetConnection::~TNetConnection() = default;

void TNetConnection::Open() {
    if (connected_) return;
    if (OnBeforeConnect) OnBeforeConnect(*this);
    auto client = std::make_unique<httplib::Client>(Host, Port);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    client->set_connection_timeout(ConnectTimeoutMs / 1000, (ConnectTimeoutMs % 1000) * 1000);
    client->set_read_timeout(CallTimeoutMs / 1000, (CallTimeoutMs % 1000) * 1000);
    client->set_write_timeout(CallTimeoutMs / 1000, (CallTimeoutMs % 1000) * 1000);
    auto res = client->Get("/" + ServerName);
    std::string where = Host + ":" + std::to_string(Port);
    if (!res)
        throw ConnectionError("Não foi possível conectar ao servidor de aplicação " + where + " (" +
                              transport_text(res.error()) + ").");
    if (res->status != 200)
        throw ConnectionError("O servidor de aplicação " + where + " não oferece " + ServerName + ".");
    impl_->client = std::move(client);
    connected_ = true;
}

void TNetConnection::Close() {
    if (impl_->client) impl_->client->stop();
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
    httplib::Result res{nullptr, httplib::Error::Unknown};
    try {
        if (!connected_) Open();
        res = impl_->client->Post(path, body, "application/json");
        if (!res && (res.error() == httplib::Error::Connection || res.error() == httplib::Error::Write)) {
            // The request never reached the server (a kept-alive connection it had dropped):
            // retried once on a fresh connection. A lost answer is not retried, since the
            // server may have acted on the call.
            Close();
            Open();
            res = impl_->client->Post(path, body, "application/json");
        }
    } catch (const ConnectionError&) {
        return fail();
    }
    if (!res) {
        Close();
        return fail();
    }
    ServerReply reply;
    std::vector<std::pair<std::string, Variant>> members;
    bool parsed = false;
    try {
        parsed = platform::read_json_object(res->body, members);
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
