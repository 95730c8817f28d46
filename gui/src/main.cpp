// acerto: the desktop host. Opens the suite's main window; "Acerto Final" loads the screen module.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include <CLI/CLI.hpp>

#include "acerto/host/errors.h"
#include "acerto/host/module_loader.h"
#include "acerto/host/server_queries.h"
#include "acerto/host/services.h"
#include "acerto/host/sign_in.h"
#include "acerto/platform/format.h"
#include "look.h"
#include "main_window.h"
#include "sign_in_dialog.h"

using namespace acerto;

namespace {

// The demo server this window started, stopped when the window closes.
struct DemoServer {
    pid_t pid = -1;
    int port = 0;
    std::string db;
    ~DemoServer() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            int status;
            ::waitpid(pid, &status, 0);
        }
    }
    void start(const std::string& binary, const std::string& database) {
        db = database;
        std::string port_file = database + ".port";
        std::filesystem::remove(port_file);
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // the server goes with the window, however it ends
            ::execl(binary.c_str(), binary.c_str(), "--db", database.c_str(), "--demo", "--listen", "127.0.0.1:0",
                    "--port-file", port_file.c_str(), "--log-level", "warn", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 2000 && port <= 0; ++i) {
            std::ifstream in(port_file);
            if (!(in >> port)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (port <= 0) throw std::runtime_error("o acerto-server de demonstração não iniciou");
    }
};

std::string beside_me(const std::string& rel) {
    std::error_code ec;
    auto self = std::filesystem::canonical("/proc/self/exe", ec).parent_path();
    return (self / rel).lexically_normal().string();
}

// The settings file when none is named: the operator's own, else the machine's.
std::string default_settings() {
    std::vector<std::filesystem::path> candidates;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        candidates.emplace_back(std::filesystem::path(x) / "acerto/acerto.json");
    else if (const char* h = std::getenv("HOME"); h && *h)
        candidates.emplace_back(std::filesystem::path(h) / ".config/acerto/acerto.json");
    candidates.emplace_back("/etc/acerto/acerto.json");
    for (const auto& c : candidates)
        if (std::filesystem::exists(c)) return c.string();
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"acerto: o sistema de eventos com a tela de Acerto Final"};
    std::string config_file, server, operator_code, branch, mask, screenshot, module_path, server_bin;
    int levels = 0;
    bool demo = false;
    app.add_option("--config", config_file,
                   "Arquivo de configuração (JSON; sem ele, ~/.config/acerto/acerto.json ou /etc/acerto/acerto.json)");
    app.add_option("--server", server,
                   "Servidor de aplicação, endereço:porta ou https://endereço:porta (ou ACERTO_SERVER)");
    app.add_option("--operator", operator_code, "Código do operador");
    app.add_option("--branch", branch, "Filial da estação");
    app.add_option("--product-mask", mask, "Máscara do código de produto");
    app.add_option("--product-levels", levels, "Níveis da árvore de produtos");
    app.add_flag("--demo", demo, "Inicia um acerto-server com os dados de demonstração e usa-o");
    app.add_option("--screenshot", screenshot, "Grava uma imagem da tela com um orçamento carregado e sai");
    std::string tab = "tshPadrao", budget = "0000000102";
    app.add_option("--tab", tab, "A aba mostrada na imagem (tshPadrao, tshSobra, tshHorasExtras, tshExtras)");
    app.add_option("--budget", budget, "O orçamento carregado na imagem (filial 0001)");
    app.add_option("--module", module_path, "Biblioteca do módulo da tela");
    app.add_option("--server-bin", server_bin, "O executável acerto-server (para --demo)");
    std::string sign_in_picture;
    app.add_option("--sign-in-picture", sign_in_picture,
                   "Grava a imagem da entrada do operador (com --demo) neste arquivo PNG e sai");
    CLI11_PARSE(app, argc, argv);

    // A variable set but empty names no display either (Qt would abort on it).
    auto set = [](const char* name) { return std::getenv(name) && *std::getenv(name); };
    const bool has_display = set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
    if (!has_display) {
        if (screenshot.empty()) {
            std::cerr << "acerto: não há tela disponível (DISPLAY não está definido ou está vazio).\n"
                         "Para abrir a janela sem monitor, use o Xvfb:\n"
                         "  xvfb-run -a acerto --demo\n";
            return 2;
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    try {
        host::Services services;
        services.config = host::HostConfig::load(config_file.empty() ? default_settings() : config_file);
        if (!server.empty()) services.config.set_server(server);
        if (!operator_code.empty()) services.config.operator_code = operator_code;
        if (!branch.empty()) services.config.branch = branch;
        if (!mask.empty()) services.config.product_mask = mask;
        if (levels > 0) services.config.product_levels = levels;
        DemoServer demo_server;
        if (demo || !screenshot.empty() || !sign_in_picture.empty()) {
            auto dir =
                std::filesystem::path(std::getenv("HOME") ? std::getenv("HOME") : "/tmp") / ".local/share/acerto";
            std::filesystem::create_directories(dir);
            demo_server.start(server_bin.empty() ? beside_me("../server/acerto-server") : server_bin,
                              (dir / "demo.db").string());
            services.config.server_host = "127.0.0.1";
            services.config.server_port = demo_server.port;
            services.config.server_tls = false;  // the private server speaks plain HTTP on loopback
            if (services.config.branch.empty()) services.config.branch = "0001";
        }
        platform::format_settings().decimal_separator = services.config.decimal_separator;
        platform::format_settings().thousand_separator = services.config.decimal_separator == ',' ? '.' : ',';
        // Reference data is read through the server: the workstation needs its address only.
        host::ServerQueries reference;
        services.database = &reference;

        QApplication qapp(argc, argv);
        gui::install_portuguese(qapp);
        gui::apply_look(qapp);
        // The operator signs in before any screen opens; the demonstration signs in as its own
        // operator (the README gives the password).
        if (!sign_in_picture.empty()) {
            services.config.operator_code = "DEMO";
            gui::SignInDialog dialog(services.config);
            dialog.password_box()->setText(QStringLiteral("demo1234"));
            dialog.show();
            qapp.processEvents();
            return dialog.grab().save(QString::fromStdString(sign_in_picture)) ? 0 : 3;
        }
        if (demo || !screenshot.empty()) {
            host::sign_in(services.config, "DEMO", "demo1234");
        } else {
            gui::SignInDialog dialog(services.config);
            if (dialog.exec() != QDialog::Accepted) return 0;
        }
        gui::QtUi ui;
        ui.unattended = !screenshot.empty();
        services.ui = &ui;
        host::install(&services);
        host::ScreenModule module;
        module.load(module_path.empty() ? host::ScreenModule::default_path() : module_path);
        module.Initialize();
        auto window_ptr = std::make_unique<gui::MainWindow>(module, ui);
        gui::MainWindow& window = *window_ptr;
        window.show();
        int rc = 0;
        if (!screenshot.empty()) {
            // A loaded budget, for the documentation: budget 0000000102 of branch 0001.
            window.setWindowState(Qt::WindowNoState);
            window.resize(1024, 720);
            window.open_acerto_final();
            auto* view = window.view();
            if (!view) return 3;
            auto& f = view->form();
            auto& filial = f.get("medCdFilial");
            auto& numero = f.get("edtNrOrcamento");
            view->guard([&] {
                f.focus(&filial);
                filial.set_text("0001");
                f.focus(&numero);
                numero.set_text(budget);
                f.focus(&f.get("dbgPadrao"));
                if (tab != "tshPadrao") f.get(tab).click();
            });
            qapp.processEvents();
            window.grab().save(QString::fromStdString(screenshot));
        } else {
            // A server that cannot be reached is said at once, with its address; the screen opens
            // from the menu once it answers.
            bool reachable = true;
            try {
                reference.connection().Open();
            } catch (const host::ConnectionError& e) {
                reachable = false;
                ui.show_error(e.what());
            }
            if (reachable) window.open_acerto_final();  // the suite opens on its one screen
            rc = qapp.exec();
        }
        // The window and its views go before the screen they show.
        window_ptr.reset();
        module.Finalize();
        host::install(nullptr);
        return rc;
    } catch (const std::exception& e) {
        std::cerr << "acerto: " << e.what() << "\n";
        return 1;
    }
}
