#pragma once
// The host framework's services as the screen module calls them (Vantiro, Showavi, Pesquisa,
// Procurar, Qrddlgs, Screen). They reach the operator and the configuration through the
// services the host installed when it loaded the module; a test installs its own.
#include <functional>
#include <optional>
#include <string>

#include "acerto/host/net_connection.h"
#include "acerto/host/ui.h"
#include "acerto/platform/datetime.h"
#include "acerto/platform/http.h"
#include "acerto/platform/query.h"

namespace acerto::host {

// What the host knows of its surroundings, read from a configuration file and the environment.
struct HostConfig {
    std::string operator_code = "OPERADOR";
    std::string server_host = "127.0.0.1";
    int server_port = 8211;
    bool server_tls = false;  // an "https://" address: TLS, with the server's certificate checked
    std::string tls_ca;       // the authorities that certificate is checked against (PEM); empty: the system's
    std::string branch;       // the workstation's branch
    std::string product_mask = "9.99.999;0;_";  // DBPict(0)
    int product_levels = 3;
    int display_width = 1024, display_height = 768;
    char decimal_separator = ',';
    std::optional<platform::DateTime> clock;  // a fixed "now", for tests and scenarios
    // Set by signing in (sign_in.h), never read from a file: the signed-in operator's name and
    // the session token every connection to the server sends.
    std::string operator_name;
    std::string session_token;

    // Reads a JSON file (keys as the members above: "operator", "server", "tls_ca", "branch",
    // "product_mask", "product_levels", "display", "decimal", "clock"), then the environment:
    // ACERTO_OPERATOR, ACERTO_SERVER (host:port or https://host:port), ACERTO_TLS_CA,
    // ACERTO_BRANCH, ACERTO_PRODUCT_MASK, ACERTO_PRODUCT_LEVELS, ACERTO_DISPLAY (WxH),
    // ACERTO_DECIMAL, ACERTO_CLOCK. A missing file is not an error; a bad value is. The
    // workstation needs no database: it reads through the server.
    static HostConfig load(const std::string& path = {});
    void apply_environment();
    void apply_json(const std::string& json_text);
    // "host:port" or "http://host:port" (plain), "https://host:port" (TLS); a host alone keeps the port.
    void set_server(const std::string& address);
    // The configured server as set_server reads it back: "host:port", "https://host:port",
    // brackets around an IPv6 host.
    std::string server_address() const;
    // How a connection to the configured server speaks.
    platform::http::ClientTls tls() const { return {server_tls, tls_ca}; }

  private:
    void apply_json_checked(const std::string& json_text);
};

// Everything the host lends the module while it is loaded.
struct Services {
    OperatorUi* ui = nullptr;
    HostConfig config;
    platform::DbConnection* database = nullptr;  // reference data (read-only queries): a ServerQueries
    // Told of every application-server call (scenario hosts count and trace them): the
    // method, its arguments, and the reply, or null with the transport failure's text.
    std::function<void(const std::string& method, const platform::Variant::Array& args, const ServerReply* reply,
                       const std::string& failure)>
        on_server_call;
};

// The installed services, or null (code that may run without a host checks this).
Services* installed();

// Installs the services the module's calls reach (the host does it before opening a screen).
void install(Services* services);
Services& services();  // throws platform::Error when none are installed
OperatorUi& ui();

// The product-code picture: its mask and number of levels.
class TDBPicture {
  public:
    explicit TDBPicture(std::string mask = {}, int levels = 0) : mask_(std::move(mask)), levels_(levels) {}
    const std::string& GetMascara() const { return mask_; }
    int GetTtNiveis() const { return levels_; }

  private:
    std::string mask_;
    int levels_;
};

namespace Vantiro {
std::string Operador();
std::string WebURL();
int WebPort();
std::string FiliProc();
std::string DBPict(int index);
TDBPicture DBPictObj(int index);
void LoadBPL(const std::string& screen_code, const platform::Variant::Array& params);
// The host's clock (fixed by configuration in tests): now, and today at midnight.
platform::DateTime Now();
platform::DateTime Date();
}  // namespace Vantiro

namespace Screen {
int GetWidth();
int GetHeight();
void SetCursor(Cursor c);
}  // namespace Screen

namespace Showavi {
void ActiveShowAvi(platform::Form& main_form, int kind);
void DeactiveShowAvi();

// The busy indicator for the length of a scope: on when made, off when the scope ends, however
// it ends (a failure included), so no command leaves it on.
class Busy {
  public:
    explicit Busy(platform::Form& form, int kind = 1) { ActiveShowAvi(form, kind); }
    ~Busy() {
        try {
            DeactiveShowAvi();
        } catch (...) {
        }
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
};
}  // namespace Showavi

namespace Pesquisa {
// Opens the pick list over the source's dataset (opening a closed query first); on a pick the
// dataset's cursor is on the picked row and the result is true.
bool Pesquisar(platform::DataSource& source, const std::string& title, bool multi, bool show);
}  // namespace Pesquisa

namespace Procurar {
void Procura(platform::DataSet& dataset);
}  // namespace Procurar

namespace Qrddlgs {
bool ExistParam(platform::Params& params, const std::string& name);
}  // namespace Qrddlgs

}  // namespace acerto::host
