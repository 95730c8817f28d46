// TLS on the transport: a real server process with a certificate made for the run by the
// openssl command, the host's connection configured with an https:// address, and the ways a
// secure connection fails (a plain peer on either side, a certificate not trusted, a socket
// that never handshakes).
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <tuple>

#include "acerto/host/errors.h"
#include "acerto/host/net_connection.h"
#include "acerto/host/services.h"
#include "acerto/host/sign_in.h"
#include "acerto/platform/errors.h"
#include "acerto/platform/http.h"
#include "acerto/platform/packet.h"
#include "os_util.h"
#include "raw_socket.h"
#include "server_process.h"
#include "tls_certificate.h"

using namespace acerto;
using namespace std::chrono_literals;
using platform::Variant;
using platform::http::Client;
using platform::http::ClientTls;
using platform::http::Failure;
using platform::http::TransportError;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kFixture = ACERTO_TEST_FIXTURES "/basic.json";
const std::string kModule = "QLM01200.rdmAcertoFinal";

using test::Certificate;
using test::loopback_certificate;
using test::make_certificate;
using test::tls_args;
using test::trusting;

// The installed services of a workstation whose settings name the server by an address.
struct Workstation {
    host::Services services;
    Workstation(const std::string& address, const std::string& ca) {
        services.config.set_server(address);
        services.config.tls_ca = ca;
        host::install(&services);
    }
    // Signs in as the host does, over the configured transport: its connections send the token.
    void sign_in() { host::sign_in(services.config, test::kTestOperator, test::kTestPassword); }
    ~Workstation() { host::install(nullptr); }
    Workstation(const Workstation&) = delete;
    Workstation& operator=(const Workstation&) = delete;

    // A connection as the screen makes one: the address comes from the configuration.
    std::unique_ptr<host::TNetConnection> connection() const {
        auto net = std::make_unique<host::TNetConnection>();
        net->ServerName = kModule;
        net->OnBeforeConnect = [](host::TNetConnection& n) {
            n.Host = host::Vantiro::WebURL();
            n.Port = host::Vantiro::WebPort();
        };
        return net;
    }
};

bool lists_budgets(host::TNetConnection& net) {
    host::ServerReply r = net.Call("GetPesqOrca", {Variant("0001")});
    EXPECT_TRUE(r.ok) << r.error;
    return r.ok && r.payload.is_packet() && !r.payload.packet()->rows().empty();
}

// The ConnectionError text of opening `net`, or "" when it opened.
std::string open_failure(host::TNetConnection& net) {
    try {
        net.Open();
    } catch (const host::ConnectionError& e) {
        return e.what();
    }
    return {};
}

// The failure of a client's first request, or nullopt when it was answered.
std::optional<TransportError> request_failure(Client& client) {
    try {
        client.request("GET", "/" + kModule);
    } catch (const TransportError& e) {
        return e;
    }
    return std::nullopt;
}

using test::cpu_seconds;
using test::RawSocket;
using test::slurp;
using test::status_field;

// A TLS client whose records go through memory, so that the test sends them as it likes.
class MemoryTls {
  public:
    MemoryTls() : ctx_(SSL_CTX_new(TLS_client_method())) {
        ssl_ = SSL_new(ctx_);
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_connect_state(ssl_);
    }
    ~MemoryTls() {
        SSL_free(ssl_);
        SSL_CTX_free(ctx_);
    }
    MemoryTls(const MemoryTls&) = delete;
    MemoryTls& operator=(const MemoryTls&) = delete;

    bool handshake(RawSocket& socket) {
        for (int round = 0; round < 20; ++round) {
            int rc = SSL_do_handshake(ssl_);
            if (!socket.send(take())) return false;
            if (rc == 1) return true;
            if (SSL_get_error(ssl_, rc) != SSL_ERROR_WANT_READ) return false;
            put(socket.receive(3s));
        }
        return false;
    }
    // The records of `plain`, ready to send.
    std::string seal(const std::string& plain) {
        SSL_write(ssl_, plain.data(), static_cast<int>(plain.size()));
        return take();
    }
    std::string open(const std::string& records) {
        put(records);
        std::string plain(65536, '\0');
        int n = SSL_read(ssl_, plain.data(), static_cast<int>(plain.size()));
        plain.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return plain;
    }

  private:
    std::string take() {
        std::string bytes(static_cast<std::size_t>(BIO_ctrl_pending(out_)), '\0');
        if (!bytes.empty()) BIO_read(out_, bytes.data(), static_cast<int>(bytes.size()));
        return bytes;
    }
    void put(const std::string& bytes) {
        if (!bytes.empty()) BIO_write(in_, bytes.data(), static_cast<int>(bytes.size()));
    }
    SSL_CTX* ctx_;
    SSL* ssl_;
    BIO *in_, *out_;
};

// The server's log from its start until it listens (or ends), run with `args` on its own
// listening address: what ServerProcess cannot do, since it listens on loopback.
std::string start_log(std::vector<std::string> args) {
    static int n = 0;
    const std::string dir = test::temp_dir();
    const std::string log = dir + "/start" + std::to_string(++n) + ".log";
    const std::string port_file = dir + "/start" + std::to_string(n) + ".port";
    std::filesystem::remove(port_file);
    std::vector<std::string> all = {ACERTO_SERVER_BIN, "--db",   test::fresh_database(), "--log-level", "warn",
                                    "--port-file",     port_file};
    all.insert(all.end(), args.begin(), args.end());
    pid_t pid = ::fork();
    if (pid == 0) {
        FILE* f = std::freopen(log.c_str(), "w", stderr);
        (void)f;
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    auto until = Clock::now() + 20s;
    int status = 0;
    bool ended = false;
    while (Clock::now() < until && !std::filesystem::exists(port_file)) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    if (!ended) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, &status, 0);
    }
    return slurp(log);
}

}  // namespace

TEST(Tls, SignInAndCallsTravelOverTlsOnTheConnectionsOfAnHttpsWorkstation) {
    const std::string log = test::temp_dir() + "/calls.log";
    auto args = tls_args();
    args.insert(args.end(), {"--log-level", "info"});
    test::ServerProcess proc(test::fresh_database(), kFixture, args, log);
    Workstation ws("https://127.0.0.1:" + std::to_string(proc.port()), loopback_certificate().cert);
    EXPECT_TRUE(ws.services.config.server_tls);
    // Without a session the call is refused over TLS as over plain HTTP, and the log names the
    // client's address, read from the socket under the TLS stream.
    {
        auto anonymous = ws.connection();
        host::ServerReply r = anonymous->Call("GetPesqOrca", {Variant("0001")});
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find("Sessão inválida"), std::string::npos) << r.error;
    }
    ws.sign_in();
    EXPECT_FALSE(ws.services.config.session_token.empty());
    auto net = ws.connection();
    net->Open();
    EXPECT_TRUE(lists_budgets(*net));
    EXPECT_TRUE(lists_budgets(*net));  // the kept connection, no second handshake needed

    // The same address by name: the certificate names both.
    Client by_name("localhost", proc.port(), 3s, 10s, trusting());
    by_name.set_authorization("Bearer " + ws.services.config.session_token);
    EXPECT_EQ(by_name.request("GET", "/" + kModule).status, 200);

    // A request of many TLS records is read whole (and refused as what it is: not JSON).
    std::string big(3u << 20, 'a');
    auto r = by_name.request("POST", "/" + kModule + "/GetPesqOrca", big);
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("JSON"), std::string::npos) << r.body;
    EXPECT_EQ(by_name.request("GET", "/" + kModule).status, 200);
    proc.stop();
    EXPECT_NE(slurp(log).find("GetPesqOrca recusado de 127.0.0.1"), std::string::npos) << slurp(log);
}

TEST(Tls, AnIdleConnectionClosedByTheServerIsOpenedAgainWithANewHandshake) {
    test::ServerProcess proc(test::fresh_database(), kFixture, test::tls_args_and({"--keep-alive", "1"}));
    Workstation ws("https://127.0.0.1:" + std::to_string(proc.port()), loopback_certificate().cert);
    ws.sign_in();
    auto net = ws.connection();
    net->Open();
    EXPECT_TRUE(lists_budgets(*net));
    std::this_thread::sleep_for(1600ms);  // the server has closed it, with a close_notify
    EXPECT_TRUE(lists_budgets(*net));
    EXPECT_TRUE(lists_budgets(*net));
}

TEST(Tls, APlainPeerOnEitherSideFailsWithAClearMessage) {
    test::ServerProcess secure(test::fresh_database(), kFixture, tls_args());
    test::ServerProcess plain(test::fresh_database(), kFixture);
    {
        // A workstation still on http:// reads the server's own answer, in plain HTTP.
        Workstation ws("127.0.0.1:" + std::to_string(secure.port()), {});
        auto net = ws.connection();
        EXPECT_NE(open_failure(*net).find("só aceita conexões seguras"), std::string::npos);
        try {
            ws.sign_in();
            ADD_FAILURE() << "signed in over plain HTTP";
        } catch (const host::SignInRefused& e) {
            ADD_FAILURE() << "taken for a wrong password: " << e.what();
        } catch (const host::ConnectionError& e) {
            EXPECT_NE(std::string(e.what()).find("só aceita conexões seguras"), std::string::npos) << e.what();
        }
        Client client("127.0.0.1", secure.port(), 3s, 10s);
        auto r = client.request("GET", "/" + kModule);
        EXPECT_EQ(r.status, 400);
        EXPECT_NE(r.body.find("https://"), std::string::npos) << r.body;
    }
    {
        // A workstation on https:// against a plain server is told the server is not secure.
        Workstation ws("https://127.0.0.1:" + std::to_string(plain.port()), loopback_certificate().cert);
        auto net = ws.connection();
        std::string why = open_failure(*net);
        EXPECT_NE(why.find("Não foi possível conectar ao servidor de aplicação"), std::string::npos) << why;
        EXPECT_NE(why.find("não usa conexão segura"), std::string::npos) << why;
        EXPECT_THROW(ws.sign_in(), host::ConnectionError);
        Client client("127.0.0.1", plain.port(), 3s, 10s, trusting());
        auto failure = request_failure(client);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->failure(), Failure::Tls);
        EXPECT_FALSE(client.is_open());
    }
    // Both servers go on serving their own kind of client.
    Client good("127.0.0.1", secure.port(), 3s, 10s, trusting());
    EXPECT_EQ(good.request("GET", "/" + kModule).status, 200);
    Client plain_client("127.0.0.1", plain.port(), 3s, 10s);
    EXPECT_EQ(plain_client.request("GET", "/" + kModule).status, 200);
}

TEST(Tls, AServerWhoseCertificateIsNotTrustedIsRefusedBeforeAnyRequest) {
    test::ServerProcess proc(test::fresh_database(), kFixture, tls_args());
    const int port = proc.port();
    auto refusal = [&](const std::string& host, ClientTls tls) {
        Client client(host, port, 3s, 10s, std::move(tls));
        auto failure = request_failure(client);
        EXPECT_TRUE(failure) << host;
        EXPECT_FALSE(client.is_open());
        return failure ? std::make_pair(failure->failure(), std::string(failure->what()))
                       : std::make_pair(Failure::Read, std::string());
    };
    // The system's store does not hold a certificate made a moment ago.
    auto [kind, why] = refusal("127.0.0.1", {true, ""});
    EXPECT_EQ(kind, Failure::Certificate);
    EXPECT_NE(why.find("não foi emitido por uma autoridade"), std::string::npos) << why;
    // Nor does another self-signed certificate with the same names.
    Certificate other = make_certificate("other", "IP:127.0.0.1,DNS:localhost");
    std::tie(kind, why) = refusal("127.0.0.1", trusting(other));
    EXPECT_EQ(kind, Failure::Certificate);
    // A trusted certificate for other names is not this server's.
    Certificate elsewhere = make_certificate("elsewhere", "DNS:outro.exemplo");
    test::ServerProcess impostor(test::fresh_database(), kFixture, tls_args(elsewhere));
    {
        Client client("127.0.0.1", impostor.port(), 3s, 10s, trusting(elsewhere));
        auto failure = request_failure(client);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->failure(), Failure::Certificate);
        EXPECT_NE(std::string(failure->what()).find("não é do endereço 127.0.0.1"), std::string::npos)
            << failure->what();
    }
    // An authorities file that cannot be read says so.
    std::tie(kind, why) = refusal("127.0.0.1", {true, test::temp_dir() + "/nao-existe.pem"});
    EXPECT_EQ(kind, Failure::Certificate);
    EXPECT_NE(why.find("nao-existe.pem"), std::string::npos) << why;

    // The operator reads it in Portuguese, through the workstation's connection.
    Workstation ws("https://127.0.0.1:" + std::to_string(port), "");
    auto net = ws.connection();
    std::string text = open_failure(*net);
    EXPECT_NE(text.find("certificado do servidor não foi emitido"), std::string::npos) << text;
}

TEST(Tls, SocketsThatNeverFinishAHandshakeHoldNoWorkerAndAreCutAtTheRequestDeadline) {
    test::ServerProcess proc(test::fresh_database(), kFixture,
                             test::tls_args_and({"--threads", "1", "--request-timeout", "1.5"}));
    Workstation ws("https://127.0.0.1:" + std::to_string(proc.port()), loopback_certificate().cert);
    ws.sign_in();
    const long threads = status_field(proc.pid(), "Threads");

    std::vector<std::unique_ptr<RawSocket>> silent;
    for (int i = 0; i < 30; ++i) {
        silent.push_back(std::make_unique<RawSocket>(proc.port()));
        ASSERT_TRUE(silent.back()->connected());
    }
    // One that starts a handshake record and stops.
    RawSocket halfway(proc.port());
    ASSERT_TRUE(halfway.send(std::string("\x16\x03\x01\x02\x00\x01", 6)));
    auto start = Clock::now();

    // Meanwhile a workstation is served by the one worker, well before those are cut.
    auto net = ws.connection();
    net->Open();
    EXPECT_TRUE(lists_budgets(*net));
    EXPECT_LT(Clock::now() - start, 1200ms);
    EXPECT_EQ(status_field(proc.pid(), "Threads"), threads);

    std::size_t received = 0;
    EXPECT_TRUE(halfway.closed_within(6s, received));
    auto cut = Clock::now() - start;
    EXPECT_GE(cut, 1300ms);
    EXPECT_LT(cut, 4s);
    for (auto& s : silent) EXPECT_TRUE(s->closed_within(2s, received));
    EXPECT_EQ(received, 0u);  // nothing to say to a peer that never spoke TLS
    // The served connection was not cut with them.
    EXPECT_TRUE(lists_budgets(*net));
}

TEST(Tls, ARequestRecordArrivingAByteAtATimeCostsTheServerNoBusyWaiting) {
    test::ServerProcess proc(test::fresh_database(), kFixture, tls_args());
    RawSocket socket(proc.port());
    ASSERT_TRUE(socket.connected());
    MemoryTls client;
    ASSERT_TRUE(client.handshake(socket));
    std::string records = client.seal("GET /" + kModule + " HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_FALSE(records.empty());
    const double cpu = cpu_seconds(proc.pid());
    const auto step = std::chrono::microseconds(1200000 / records.size());
    for (char byte : records) {
        ASSERT_TRUE(socket.send(std::string(1, byte)));
        std::this_thread::sleep_for(step);
    }
    // Waiting for the rest of a record is waiting on the socket, not going round a loop.
    EXPECT_LT(cpu_seconds(proc.pid()) - cpu, 0.4);
    std::string answer = client.open(socket.receive(3s));
    EXPECT_NE(answer.find("HTTP/1.1 200"), std::string::npos) << answer;
}

TEST(Tls, ConnectionsBeyondTheBoundAreToldSoOverTls) {
    test::ServerProcess proc(test::fresh_database(), kFixture, test::tls_args_and({"--max-connections", "1"}));
    Workstation ws("https://127.0.0.1:" + std::to_string(proc.port()), loopback_certificate().cert);
    ws.sign_in();
    std::this_thread::sleep_for(100ms);  // the sign-in's connection is gone
    Client first("127.0.0.1", proc.port(), 3s, 10s, trusting());
    EXPECT_EQ(first.request("GET", "/" + kModule).status, 200);
    auto net = ws.connection();
    std::string why = open_failure(*net);
    EXPECT_NE(why.find("limite de 1 conexões"), std::string::npos) << why;
    first.close();
    std::this_thread::sleep_for(100ms);
    auto again = ws.connection();
    again->Open();
    EXPECT_TRUE(lists_budgets(*again));
}

TEST(Tls, TheServerWarnsWhenItListensBeyondLoopbackWithoutTls) {
    const std::string warning = "sem TLS: senhas, sessões e dados trafegam abertos na rede";
    std::string open_log = start_log({"--listen", "0.0.0.0:0"});
    EXPECT_NE(open_log.find(warning), std::string::npos) << open_log;
    EXPECT_NE(open_log.find("[warning]"), std::string::npos) << open_log;
    std::vector<std::string> secure = {"--listen", "0.0.0.0:0"};
    for (auto& a : tls_args()) secure.push_back(a);
    EXPECT_EQ(start_log(secure).find(warning), std::string::npos);
    EXPECT_EQ(start_log({"--listen", "127.0.0.1:0"}).find(warning), std::string::npos);
    EXPECT_EQ(start_log({"--listen", "localhost:0"}).find(warning), std::string::npos);
}

TEST(Tls, AKeyThatIsNotTheCertificatesStopsTheServerAtStart) {
    Certificate other = make_certificate("other", "IP:127.0.0.1,DNS:localhost");
    std::string log =
        start_log({"--listen", "127.0.0.1:0", "--tls-cert", loopback_certificate().cert, "--tls-key", other.key});
    EXPECT_NE(log.find("não é a do certificado"), std::string::npos) << log;
    log = start_log(
        {"--listen", "127.0.0.1:0", "--tls-cert", loopback_certificate().key, "--tls-key", loopback_certificate().key});
    EXPECT_NE(log.find("Não foi possível ler o certificado TLS"), std::string::npos) << log;
    // One without the other is refused by the command line.
    log = start_log({"--listen", "127.0.0.1:0", "--tls-cert", loopback_certificate().cert});
    EXPECT_NE(log.find("--tls-key"), std::string::npos) << log;
}

TEST(Tls, HttpsAddressesAndTheAuthoritiesFileComeFromTheSettingsAndTheEnvironment) {
    host::HostConfig c;
    c.set_server("https://servidor1.exemplo:8443");
    EXPECT_EQ(c.server_host, "servidor1.exemplo");
    EXPECT_EQ(c.server_port, 8443);
    EXPECT_TRUE(c.server_tls);
    c.set_server("HTTPS://[::1]:9/");
    EXPECT_EQ(c.server_host, "::1");
    EXPECT_EQ(c.server_port, 9);
    EXPECT_TRUE(c.server_tls);
    c.set_server("https://servidor2");  // a name alone keeps the port
    EXPECT_EQ(c.server_host, "servidor2");
    EXPECT_EQ(c.server_port, 9);
    EXPECT_TRUE(c.server_tls);
    c.set_server("http://servidor3:80");
    EXPECT_FALSE(c.server_tls);
    c.set_server("https://servidor3:443");
    c.set_server("servidor4:8211");  // an address without a scheme is plain, as it always was
    EXPECT_FALSE(c.server_tls);
    EXPECT_EQ(c.server_host, "servidor4");
    for (const char* bad : {"ftp://servidor5:21", "https://", "https://:8211", "https://servidor5:porta",
                            "https://servidor5:8211/caminho"})
        EXPECT_THROW(c.set_server(bad), platform::Error) << bad;
    EXPECT_EQ(c.server_host, "servidor4");  // a refused address changes nothing
    EXPECT_FALSE(c.server_tls);

    c.apply_json(R"({"server":"https://servidor6:8211","tls_ca":"/etc/acerto/servidor.pem"})");
    EXPECT_TRUE(c.tls().enabled);
    EXPECT_EQ(c.tls().ca_file, "/etc/acerto/servidor.pem");
    setenv("ACERTO_SERVER", "servidor7:8211", 1);
    setenv("ACERTO_TLS_CA", "/outro/ca.pem", 1);
    c.apply_environment();
    unsetenv("ACERTO_SERVER");
    unsetenv("ACERTO_TLS_CA");
    EXPECT_FALSE(c.tls().enabled);
    EXPECT_EQ(c.tls().ca_file, "/outro/ca.pem");
}

// The transport alone, in-process: answers from a worker thread larger than the socket
// takes at once, so that TLS writes are resumed from where they stopped.
TEST(Tls, LargeAnswersFromAnotherThreadTravelWholeOverTls) {
    using namespace platform::http;
    ServerLimits limits;
    std::vector<std::thread> workers;
    std::mutex mutex;
    Server server(
        limits,
        [&](Request&& r, Reply reply) {
            std::lock_guard lock(mutex);
            workers.emplace_back([body = std::move(r.body), reply = std::move(reply)]() mutable {
                std::string answer = body + body;
                reply.send(200, std::move(answer));
            });
        },
        [](Refusal) {
            return Answer{400, "x"};
        });
    server.use_tls(loopback_certificate().cert, loopback_certificate().key);
    EXPECT_TRUE(server.uses_tls());
    int port = server.bind("127.0.0.1", 0);
    std::thread io([&] { server.run(); });
    // The threads are joined however the exchange ends.
    try {
        Client client("127.0.0.1", port, 3s, 20s, trusting());
        for (std::size_t size : {std::size_t(10), std::size_t(70000), std::size_t(6u << 20)}) {
            std::string body(size, 'x');
            for (std::size_t i = 0; i < size; i += 4093) body[i] = static_cast<char>('a' + i % 26);
            auto r = client.request("POST", "/eco", body);
            EXPECT_EQ(r.status, 200);
            EXPECT_EQ(r.body.size(), 2 * size);
            EXPECT_TRUE(r.body == body + body) << size;
        }
        // All on the one kept connection: nothing the server sent after its handshake (such as
        // session tickets) made the client take it for closed.
        EXPECT_EQ(server.accepted(), 1u);
    } catch (const TransportError& e) {
        ADD_FAILURE() << e.what();
    }
    server.stop();
    io.join();
    for (auto& w : workers) w.join();
}
