// acerto-server: the application server of the settlement screen.
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <regex>
#include <thread>

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "acerto/platform/errors.h"
#include "acerto/server/access.h"
#include "acerto/server/fixture.h"
#include "acerto/server/http.h"

using namespace acerto::server;

namespace {

// A password given as a URL parameter is masked as the user:password@ form already is.
std::string masked(const std::string& description) {
    static const std::regex secret(R"(((?:^|[?&])[a-z]*password=)[^&]*)", std::regex::icase);
    return std::regex_replace(description, secret, "$1…");
}

// Every connection holds a descriptor: the soft limit goes up to the hard one, and the
// connection bound stays below what is left once the database and the workers have theirs.
std::size_t connection_bound(std::size_t wanted, int threads, bool asked) {
    rlimit rl{};
    if (::getrlimit(RLIMIT_NOFILE, &rl) != 0) return wanted;
    if (rl.rlim_cur < rl.rlim_max) {
        rlimit raised = rl;
        raised.rlim_cur = rl.rlim_max == RLIM_INFINITY ? rlim_t(1) << 20 : rl.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) rl = raised;
    }
    const std::size_t reserve = 64 + 4 * static_cast<std::size_t>(threads);
    const std::size_t soft = static_cast<std::size_t>(rl.rlim_cur);
    // The transport accepts an eighth more (at least 16) only to refuse them.
    std::size_t fit = soft > reserve + 16 ? (soft - reserve - 16) * 8 / 9 : 1;
    if (wanted <= fit) return wanted;
    spdlog::log(asked ? spdlog::level::warn : spdlog::level::info,
                "--max-connections reduzido de {} para {}: o processo pode abrir {} arquivos", wanted, fit, soft);
    return std::max<std::size_t>(1, fit);
}

// Whether every address the listening host names is a loopback one (a wildcard is not).
bool loopback_only(const std::string& host) {
    if (host.empty()) return false;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return false;
    bool loopback = list != nullptr;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET) {
            auto a = ntohl(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
            loopback = loopback && (a >> 24) == 127;
        } else if (ai->ai_family == AF_INET6) {
            const auto& a = reinterpret_cast<const sockaddr_in6*>(ai->ai_addr)->sin6_addr;
            bool mapped_v4 = IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127;
            loopback = loopback && (IN6_IS_ADDR_LOOPBACK(&a) || mapped_v4);
        } else {
            loopback = false;
        }
    }
    ::freeaddrinfo(list);
    return loopback;
}

// A password from standard input: typed without echo at a terminal, or the first line of a pipe.
std::string read_password() {
    bool tty = ::isatty(STDIN_FILENO);
    termios saved{};
    if (tty) {
        std::fprintf(stderr, "Senha: ");
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (tty) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fprintf(stderr, "\n");
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"acerto-server: servidor de aplicação do Acerto Final (QLM01200.rdmAcertoFinal)"};
    std::string db = "acerto.db";
    std::string listen = "127.0.0.1:8211";
    int threads = 32;
    std::string log_level = "info";
    std::string fixture;
    bool demo = false;
    std::string clock;
    bool test_hooks = false;
    std::string port_file;
    int keep_alive = 60;
    double request_timeout = 10;
    int max_connections = 4000;
    app.add_option("--db", db, "Banco de dados: arquivo SQLite ou URL postgresql://")->capture_default_str();
    app.add_option("--listen", listen, "Endereço e porta (porta 0: qualquer porta livre)")->capture_default_str();
    app.add_option("--threads", threads, "Chamadas atendidas ao mesmo tempo (uma conexão ociosa não ocupa nenhuma)")
        ->check(CLI::Range(1, 1024))
        ->capture_default_str();
    app.add_option("--log-level", log_level, "trace, debug, info, warn, error ou off")
        ->check(CLI::IsMember({"trace", "debug", "info", "warn", "error", "off"}))
        ->capture_default_str();
    auto* fx = app.add_option("--fixture", fixture, "Carrega uma fixture num banco novo e então atende")
                   ->check(CLI::ExistingFile);
    app.add_flag("--demo", demo, "Carrega os dados de demonstração num banco novo e então atende")->excludes(fx);
    app.add_option("--clock", clock, "Relógio fixo do servidor, AAAA-MM-DD HH:MM:SS (testes e roteiros)");
    app.add_flag("--test-hooks", test_hooks, "Habilita /_test/fail para roteiros de teste");
    app.add_option("--keep-alive", keep_alive,
                   "Segundos que a conexão de uma tela ociosa é mantida (o encerramento espera até isso)")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    app.add_option("--request-timeout", request_timeout,
                   "Segundos para um pedido chegar inteiro (cabeçalho e corpo); depois a conexão é encerrada")
        ->check(CLI::Range(0.05, 3600.0))
        ->capture_default_str();
    app.add_option("--max-connections", max_connections,
                   "Conexões abertas ao mesmo tempo; além delas o servidor responde que está ocupado")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    double query_timeout = 5;
    std::size_t query_rows = 20000;
    std::string read_role = "acerto_leitura";
    app.add_option("--query-timeout", query_timeout, "Segundos que uma consulta de uma estação pode levar")
        ->check(CLI::Range(0.001, 600.0))
        ->capture_default_str();
    app.add_option("--query-rows", query_rows, "Linhas que uma consulta de uma estação pode trazer")
        ->check(CLI::Range(std::size_t(1), std::size_t(1000000)))
        ->capture_default_str();
    app.add_option("--read-role", read_role,
                   "PostgreSQL: a função (role) que só lê as tabelas de referência, sob a qual correm as "
                   "consultas das estações")
        ->check([](const std::string& r) {
            static const std::regex name("[a-z_][a-z0-9_]{0,62}");
            return std::regex_match(r, name) ? std::string() : std::string("nome de função inválido: ") + r;
        })
        ->capture_default_str();
    app.add_option("--port-file", port_file, "Escreve a porta escutada neste arquivo quando pronto");
    std::string tls_cert, tls_key;
    auto* cert_opt = app.add_option("--tls-cert", tls_cert,
                                    "Certificado do servidor (PEM, com os intermediários): só aceita conexões TLS "
                                    "(https://)")
                         ->check(CLI::ExistingFile);
    auto* key_opt =
        app.add_option("--tls-key", tls_key, "Chave privada do certificado (PEM, sem senha)")->check(CLI::ExistingFile);
    cert_opt->needs(key_opt);
    key_opt->needs(cert_opt);
    std::vector<std::string> seed_operators;
    app.add_option("--seed-operator", seed_operators,
                   "CODIGO:SENHA: cadastra (ou redefine) este operador com acesso a todas as filiais ao iniciar "
                   "(roteiros e testes; num banco real use o comando operator)");
    int session_seconds = 12 * 3600;
    app.add_option("--session-seconds", session_seconds, "Segundos de validade de uma sessão de operador")
        ->check(CLI::Range(1, 30 * 24 * 3600))
        ->capture_default_str();

    // Administration: the operators and the audit trail, on the database named by --db.
    app.require_subcommand(0, 1);
    auto* op_cmd = app.add_subcommand("operator", "Administra os operadores: add, passwd, disable, enable, list");
    op_cmd->require_subcommand(1);
    std::string op_code, op_name;
    std::vector<std::string> op_branches;
    auto* op_add = op_cmd->add_subcommand("add", "Cadastra um operador (a senha é lida da entrada padrão)");
    op_add->add_option("code", op_code, "Código do operador")->required();
    op_add->add_option("--name", op_name, "Nome do operador");
    op_add->add_option("--branch", op_branches, "Filial em que pode trabalhar (repita; * para todas)")->required();
    auto* op_passwd = op_cmd->add_subcommand("passwd", "Troca a senha (lida da entrada padrão)");
    op_passwd->add_option("code", op_code, "Código do operador")->required();
    auto* op_disable = op_cmd->add_subcommand("disable", "Desativa o operador (suas sessões deixam de valer)");
    op_disable->add_option("code", op_code, "Código do operador")->required();
    auto* op_enable = op_cmd->add_subcommand("enable", "Reativa o operador");
    op_enable->add_option("code", op_code, "Código do operador")->required();
    auto* op_list = op_cmd->add_subcommand("list", "Lista os operadores");
    auto* audit_cmd = app.add_subcommand("audit", "Mostra a trilha de auditoria de um acerto");
    std::string audit_branch, audit_number;
    audit_cmd->add_option("--branch", audit_branch, "Filial")->required();
    audit_cmd->add_option("--number", audit_number, "Número do orçamento ou encomenda")->required();
    CLI11_PARSE(app, argc, argv);

    // What this server creates (the SQLite database, its -wal and -shm, the port file) is its
    // owner's alone.
    ::umask(077);

    auto logger = spdlog::stderr_color_mt("acerto-server");
    spdlog::set_default_logger(logger);
    spdlog::set_level(spdlog::level::from_str(log_level));

    // SIGPIPE must not kill the server; SIGTERM and SIGINT stop it after the requests in
    // flight. They are taken by one thread with sigwait, so no handler runs inside a request.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    if (op_cmd->parsed() || audit_cmd->parsed()) {
        try {
            auto database = Database::open(db);
            database->ensure_schema();
            Session& s = database->session();
            if (audit_cmd->parsed()) {
                print_audit(s, audit_branch, audit_number, stdout);
                return 0;
            }
            if (op_list->parsed()) {
                for (const auto& o : operators::list(s)) {
                    std::string branches;
                    for (const auto& b : o.branches) branches += (branches.empty() ? "" : ",") + b;
                    std::printf("%-12s %-30s %-10s %s\n", o.code.c_str(), o.name.c_str(),
                                o.active ? "ativo" : "desativado", branches.c_str());
                }
                return 0;
            }
            Transaction tx(s);
            if (op_add->parsed())
                operators::add(s, op_code, op_name, read_password(), op_branches);
            else if (op_passwd->parsed())
                operators::set_password(s, op_code, read_password());
            else
                operators::set_active(s, op_code, op_enable->parsed());
            tx.commit();
            std::printf("operador %s: feito\n", op_code.c_str());
            return 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "acerto-server: %s\n", masked(e.what()).c_str());
            return 1;
        }
    }

    try {
        Clock server_clock;
        if (!clock.empty()) server_clock.fixed = acerto::platform::DateTime::parse_iso(clock);
        auto database = Database::open(db);
        database->ensure_schema();
        if (!fixture.empty()) load_fixture_file(*database, fixture);
        if (demo) {
            if (database->empty())
                load_fixture(*database, demo_fixture());
            else
                spdlog::info("o banco {} já tem dados; os dados de demonstração não foram carregados",
                             masked(database->describe()));
        }
        for (const auto& seed : seed_operators) {
            auto colon = seed.find(':');
            if (colon == std::string::npos) throw std::runtime_error("--seed-operator deve ser CODIGO:SENHA");
            Session& s = database->session();
            Transaction tx(s);
            operators::put(s, seed.substr(0, colon), seed.substr(0, colon), seed.substr(colon + 1), {kAllBranches},
                           operators::HashCost::Minimum);
            tx.commit();
        }
        ReadOptions reads;
        reads.max_rows = query_rows;
        reads.timeout = std::chrono::milliseconds(static_cast<long long>(query_timeout * 1000));
        reads.role = read_role;
        reads.unavailable = prepare_reference_reads(*database, reads);
        if (!reads.unavailable.empty()) spdlog::error("consultas das estações indisponíveis: {}", reads.unavailable);
        AcertoModule module(*database, server_clock, reads);
        ServerOptions options;
        auto colon = listen.rfind(':');
        if (colon == std::string::npos) throw std::runtime_error("--listen deve ser endereço:porta");
        options.host = listen.substr(0, colon);
        if (options.host.size() > 1 && options.host.front() == '[' && options.host.back() == ']')
            options.host = options.host.substr(1, options.host.size() - 2);  // [::1]:8211
        options.port = std::stoi(listen.substr(colon + 1));
        options.threads = threads;
        options.test_hooks = test_hooks;
        options.tls_cert = tls_cert;
        options.tls_key = tls_key;
        options.session_lifetime = std::chrono::seconds(session_seconds);
        options.keep_alive_seconds = keep_alive;
        options.request_timeout = std::chrono::milliseconds(static_cast<long long>(request_timeout * 1000));
        options.max_connections =
            connection_bound(static_cast<std::size_t>(max_connections), threads, app.count("--max-connections") > 0);
        AppServer server(module, options);
        int port = server.bind();
        if (!port_file.empty()) {
            std::string tmp = port_file + ".tmp";
            if (FILE* f = std::fopen(tmp.c_str(), "w")) {
                std::fprintf(f, "%d\n", port);
                std::fclose(f);
                std::rename(tmp.c_str(), port_file.c_str());
            }
        }
        spdlog::info("{} atendendo em {}:{} {} sobre {} ({} atendimentos, até {} conexões)", kModuleName, options.host,
                     port, tls_cert.empty() ? "sem TLS" : "com TLS", masked(database->describe()), threads,
                     options.max_connections);
        if (tls_cert.empty() && !loopback_only(options.host))
            spdlog::warn(
                "escutando em {} sem TLS: senhas, sessões e dados trafegam abertos na rede; use --tls-cert "
                "e --tls-key",
                options.host.empty() ? "todas as interfaces" : options.host);
        std::thread waiter([&] {
            int sig = 0;
            sigwait(&stop_signals, &sig);
            spdlog::info("sinal {} recebido: encerrando após os pedidos em andamento", sig);
            server.stop();
        });
        server.run();
        if (waiter.joinable()) {
            // Stopped by the signal thread; if run() ended for another reason, wake it.
            pthread_kill(waiter.native_handle(), SIGTERM);
            waiter.join();
        }
        spdlog::info("encerrado; {} pedidos atendidos", server.requests());
        return 0;
    } catch (const std::exception& e) {
        spdlog::error("{}", masked(e.what()));
        return 1;
    }
}
