#include "acerto/host/services.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "acerto/platform/errors.h"
#include "acerto/platform/format.h"
#include "acerto/platform/text.h"

namespace acerto::host {

using platform::Variant;

namespace {
Services* g_services = nullptr;

int parse_int(const std::string& s, const char* what) {
    long long v;
    if (!platform::try_str_to_int(s, v))
        throw platform::Error(std::string("Configuração inválida (") + what + "): " + s);
    return static_cast<int>(v);
}
}  // namespace

void install(Services* s) {
    g_services = s;
}

Services* installed() {
    return g_services;
}

Services& services() {
    if (!g_services) throw platform::Error("Os serviços do sistema hospedeiro não foram instalados.");
    return *g_services;
}

OperatorUi& ui() {
    Services& s = services();
    if (!s.ui) throw platform::Error("Não há interface com o operador instalada.");
    return *s.ui;
}

Variant dataset_handle(platform::DataSet& ds) {
    return Variant(static_cast<double>(reinterpret_cast<std::uintptr_t>(&ds)));
}

platform::DataSet* dataset_from_handle(const Variant& v) {
    if (!v.is_number()) return nullptr;
    return reinterpret_cast<platform::DataSet*>(static_cast<std::uintptr_t>(v.number()));
}

// ------------------------------------------------------------------------------- HostConfig

std::string HostConfig::server_address() const {
    const bool v6 = server_host.find(':') != std::string::npos;
    return (server_tls ? "https://" : "") + (v6 ? "[" + server_host + "]" : server_host) + ":" +
           std::to_string(server_port);
}

void HostConfig::set_server(const std::string& address) {
    std::string host_port = address;
    bool tls = false;
    auto scheme = host_port.find("://");
    if (scheme != std::string::npos) {
        std::string name = platform::to_lower(host_port.substr(0, scheme));
        if (name != "http" && name != "https") throw platform::Error("Configuração inválida (server): " + address);
        tls = name == "https";
        host_port.erase(0, scheme + 3);
        if (!host_port.empty() && host_port.back() == '/') host_port.pop_back();
    }
    auto colon = host_port.rfind(':');
    if (colon == std::string::npos || host_port.back() == ']') {
        if (host_port.empty() && scheme != std::string::npos)
            throw platform::Error("Configuração inválida (server): " + address);
        server_host = host_port;
        if (server_host.size() > 1 && server_host.front() == '[' && server_host.back() == ']')
            server_host = server_host.substr(1, server_host.size() - 2);
        server_tls = tls;
        return;
    }
    std::string host = host_port.substr(0, colon);
    if (host.size() > 1 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const int port = parse_int(host_port.substr(colon + 1), "server");
    if (host.empty() || port < 1 || port > 65535) throw platform::Error("Configuração inválida (server): " + address);
    server_host = host;
    server_port = port;
    server_tls = tls;
}

void HostConfig::apply_json(const std::string& text) {
    try {
        apply_json_checked(text);
    } catch (const nlohmann::json::exception&) {
        throw platform::Error("Arquivo de configuração com valores de tipo inválido.");
    }
}

void HostConfig::apply_json_checked(const std::string& text) {
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) throw platform::Error("Arquivo de configuração com JSON inválido.");
    auto str = [&](const char* k, std::string& out) {
        if (j.contains(k)) out = j[k].get<std::string>();
    };
    str("operator", operator_code);
    str("branch", branch);
    str("product_mask", product_mask);
    str("tls_ca", tls_ca);
    if (j.contains("server")) set_server(j["server"].get<std::string>());
    if (j.contains("product_levels")) product_levels = j["product_levels"].get<int>();
    if (j.contains("display")) {
        std::string d = j["display"].get<std::string>();
        auto x = d.find('x');
        if (x == std::string::npos) throw platform::Error("Configuração inválida (display): " + d);
        display_width = parse_int(d.substr(0, x), "display");
        display_height = parse_int(d.substr(x + 1), "display");
    }
    if (j.contains("decimal")) {
        std::string d = j["decimal"].get<std::string>();
        if (d != "," && d != ".") throw platform::Error("Configuração inválida (decimal): " + d);
        decimal_separator = d[0];
    }
    if (j.contains("clock")) clock = platform::DateTime::parse_iso(j["clock"].get<std::string>());
}

void HostConfig::apply_environment() {
    auto env = [](const char* k) -> std::optional<std::string> {
        const char* v = std::getenv(k);
        if (!v || !*v) return std::nullopt;
        return std::string(v);
    };
    if (auto v = env("ACERTO_OPERATOR")) operator_code = *v;
    if (auto v = env("ACERTO_SERVER")) set_server(*v);
    if (auto v = env("ACERTO_TLS_CA")) tls_ca = *v;
    if (auto v = env("ACERTO_BRANCH")) branch = *v;
    if (auto v = env("ACERTO_PRODUCT_MASK")) product_mask = *v;
    if (auto v = env("ACERTO_PRODUCT_LEVELS")) product_levels = parse_int(*v, "ACERTO_PRODUCT_LEVELS");
    if (auto v = env("ACERTO_DISPLAY")) {
        nlohmann::json j = {{"display", *v}};
        apply_json(j.dump());
    }
    if (auto v = env("ACERTO_DECIMAL")) {
        nlohmann::json j = {{"decimal", *v}};
        apply_json(j.dump());
    }
    if (auto v = env("ACERTO_CLOCK")) clock = platform::DateTime::parse_iso(*v);
}

HostConfig HostConfig::load(const std::string& path) {
    HostConfig c;
    if (!path.empty()) {
        std::ifstream in(path);
        if (in) {
            std::stringstream ss;
            ss << in.rdbuf();
            c.apply_json(ss.str());
        }
    }
    c.apply_environment();
    return c;
}

// ---------------------------------------------------------------------------------- Vantiro

namespace Vantiro {
std::string Operador() {
    return services().config.operator_code;
}
std::string WebURL() {
    return services().config.server_host;
}
int WebPort() {
    return services().config.server_port;
}
std::string FiliProc() {
    return services().config.branch;
}
std::string DBPict(int) {
    return services().config.product_mask;
}
TDBPicture DBPictObj(int) {
    return TDBPicture(services().config.product_mask, services().config.product_levels);
}
void LoadBPL(const std::string& screen_code, const Variant::Array& params) {
    ui().open_screen(screen_code, params);
}

platform::DateTime Now() {
    if (services().config.clock) return *services().config.clock;
    return platform::DateTime::now_local();
}

platform::DateTime Date() {
    return Now().date();
}
}  // namespace Vantiro

namespace Screen {
int GetWidth() {
    return services().config.display_width;
}
int GetHeight() {
    return services().config.display_height;
}
void SetCursor(Cursor c) {
    ui().set_cursor(c);
}
}  // namespace Screen

namespace Showavi {
void ActiveShowAvi(platform::Form&, int) {
    ui().busy(true);
}
void DeactiveShowAvi() {
    ui().busy(false);
}
}  // namespace Showavi

namespace Pesquisa {
bool Pesquisar(platform::DataSource& source, const std::string& title, bool, bool) {
    platform::DataSet* ds = source.dataset();
    if (!ds) return false;
    if (!ds->active()) ds->open();
    std::optional<int> row = ui().pick_list(*ds, title);
    if (!row || *row < 0 || *row >= ds->record_count()) return false;
    ds->move_to(*row + 1);
    return true;
}
}  // namespace Pesquisa

namespace Procurar {
void Procura(platform::DataSet& dataset) {
    ui().find_dialog(dataset);
}
}  // namespace Procurar

namespace Qrddlgs {
bool ExistParam(platform::Params& params, const std::string& name) {
    return params.exists(name);
}
}  // namespace Qrddlgs

}  // namespace acerto::host
