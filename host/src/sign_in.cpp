#include "acerto/host/sign_in.h"

#include <chrono>
#include <nlohmann/json.hpp>

#include "acerto/platform/http.h"

namespace acerto::host {

using nlohmann::json;

SignedIn sign_in(const std::string& host, int port, const std::string& code, const std::string& password,
                 const platform::http::ClientTls& tls) {
    const std::string where = host + ":" + std::to_string(port);
    // Hashing a password is deliberately slow on the server: the answer may take a second.
    platform::http::Client client(host, port, std::chrono::seconds(3), std::chrono::seconds(30), tls);
    platform::http::Response res;
    try {
        res = client.request("POST", "/session", json::array({code, password}).dump());
    } catch (const platform::http::TransportError& e) {
        throw ConnectionError("Não foi possível conectar ao servidor de aplicação " + where + " (" + e.what() + ").");
    }
    json j = json::parse(res.body, nullptr, false);
    const bool told = j.is_object() && j.contains("error") && j["error"].is_string();
    // A refusal of the connection itself (busy, plain HTTP to a TLS server) is not one of the
    // operator's password.
    if (told && res.status != 200) throw ConnectionError(j["error"].get<std::string>());
    if (told) throw SignInRefused(j["error"].get<std::string>());
    if (res.status != 200 || !j.is_object() || !j.contains("result") || !j["result"].is_object() ||
        !j["result"].value("token", json()).is_string())
        throw ConnectionError("O servidor de aplicação " + where + " não respondeu à entrada do operador.");
    const json& r = j["result"];
    return SignedIn{r["token"].get<std::string>(), r.value("operator", code), r.value("name", std::string())};
}

void sign_in(HostConfig& config, const std::string& code, const std::string& password) {
    SignedIn s = sign_in(config.server_host, config.server_port, code, password, config.tls());
    config.operator_code = s.operator_code;
    config.operator_name = s.name;
    config.session_token = s.token;
}

}  // namespace acerto::host
