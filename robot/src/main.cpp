// acerto-robot [--trace] [--keep] [--connect [https://]HOST:PORT [--tls-ca FILE]] [--sync-dir DIR]
//              FILE.scn [FILE.scn ...]
#include <filesystem>
#include <iostream>

#include <CLI/CLI.hpp>

#include "acerto/host/module_loader.h"
#include "robot.h"

namespace {
std::string beside_me(const char* argv0, const std::string& relative) {
    std::error_code ec;
    auto self = std::filesystem::canonical("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv0);
    return (self.parent_path() / relative).lexically_normal().string();
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"acerto-robot: roteiros de operador contra a tela de Acerto Final"};
    acerto::robot::Options options;
    std::vector<std::string> files;
    app.add_flag("--trace", options.trace, "Mostra cada ação, os eventos, as chamadas ao servidor e os diálogos");
    app.add_flag("--keep", options.keep, "Guarda o banco de dados temporário e mostra onde está");
    app.add_option("--module", options.module_path, "Biblioteca do módulo da tela (libqlm01200.so)");
    app.add_option("--server", options.server_binary, "O executável acerto-server");
    app.add_option("--connect", options.connect,
                   "Usa este servidor em execução ([https://]endereço:porta) em vez de iniciar um para o roteiro");
    app.add_option(
        "--tls-ca", options.tls_ca,
        "Certificados (PEM) em que confiar no servidor https:// (padrão: ACERTO_TLS_CA, senão os do sistema)");
    app.add_option("--sync-dir", options.sync_dir, "Pasta dos sinais (signal, wait) entre robôs que rodam juntos");
    app.add_option("files", files, "Roteiros .scn")->required();
    CLI11_PARSE(app, argc, argv);

    auto pick = [&](std::string& value, const char* env, std::vector<std::string> candidates) {
        if (!value.empty()) return;
        if (const char* e = std::getenv(env); e && *e) {
            value = e;
            return;
        }
        for (const auto& c : candidates)
            if (std::filesystem::exists(c)) {
                value = c;
                return;
            }
        value = candidates.back();
    };
    pick(options.module_path, "ACERTO_MODULE", {acerto::host::ScreenModule::default_path()});
    pick(options.server_binary, "ACERTO_SERVER_BIN",
         {beside_me(argv[0], "../server/acerto-server"), beside_me(argv[0], "acerto-server"),
          "/usr/local/bin/acerto-server"});

    if (const char* ca = std::getenv("ACERTO_TLS_CA"); options.tls_ca.empty() && ca) options.tls_ca = ca;

    int passed = 0, failed = 0;
    for (const auto& file : files) {
        std::string name = std::filesystem::path(file).filename().string();
        if (options.trace) std::cout << "scenario " << name << "\n";
        auto outcome = acerto::robot::run_scenario(file, options, std::cout);
        if (outcome.ok) {
            std::cout << "ok " << name << "\n";
            ++passed;
        } else {
            std::cout << "FAIL " << name << ":" << outcome.line << ": " << outcome.message << "\n";
            ++failed;
        }
        std::cout.flush();
    }
    std::cout << passed << " passed, " << failed << " failed\n";
    return failed == 0 ? 0 : 1;
}
