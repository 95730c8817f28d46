// The server's transport under connections that misbehave: silent, slow, too many, and
// requests with bytes that must not reach the log raw. A real server process each time.
#include <gtest/gtest.h>

#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "acerto/host/errors.h"
#include "acerto/host/net_connection.h"
#include "acerto/platform/packet.h"
#include "os_util.h"
#include "raw_socket.h"
#include "server_process.h"

using namespace acerto;
using namespace std::chrono_literals;
using platform::Variant;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kFixture = ACERTO_TEST_FIXTURES "/basic.json";
const std::string kModule = "/QLM01200.rdmAcertoFinal";

using test::open_files;
using test::RawSocket;
using test::slurp;
using test::status_field;

std::string post(const std::string& method, const std::string& body, const std::string& token = {}) {
    return "POST " + kModule + "/" + method + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
           (token.empty() ? "" : "Authorization: Bearer " + token + "\r\n") +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::unique_ptr<host::TNetConnection> connect(int port) {
    auto net = std::make_unique<host::TNetConnection>();
    net->ServerName = "QLM01200.rdmAcertoFinal";
    net->Port = port;
    net->CallTimeoutMs = 15000;
    // A server at its connection bound refuses the sign-in too; then Open says why.
    try {
        net->Token = test::token_for(port);
    } catch (const std::exception&) {
    }
    net->Open();
    return net;
}

bool lists_budgets(host::TNetConnection& net) {
    host::ServerReply r = net.Call("GetPesqOrca", {Variant("0001")});
    EXPECT_TRUE(r.ok) << r.error;
    return r.ok && r.payload.is_packet() && !r.payload.packet()->rows().empty();
}

// The lines of a log that contain `what`.
std::vector<std::string> log_lines(const std::string& path, const std::string& what) {
    std::vector<std::string> out;
    std::istringstream in(slurp(path));
    for (std::string line; std::getline(in, line);)
        if (line.find(what) != std::string::npos) out.push_back(line);
    return out;
}

}  // namespace

TEST(Transport, SilentAndIdleConnectionsHoldNoWorkerAndNoThread) {
    test::ServerProcess server(test::fresh_database(), kFixture, {"--threads", "2"});
    auto first = connect(server.port());
    ASSERT_TRUE(lists_budgets(*first));
    long threads_before = status_field(server.pid(), "Threads");

    // Kept-alive screens that went quiet after a call, and sockets that never said anything.
    std::vector<std::unique_ptr<host::TNetConnection>> quiet;
    for (int i = 0; i < 10; ++i) {
        quiet.push_back(connect(server.port()));
        ASSERT_TRUE(lists_budgets(*quiet.back()));
    }
    std::vector<std::unique_ptr<RawSocket>> silent;
    for (int i = 0; i < 50; ++i) {
        silent.push_back(std::make_unique<RawSocket>(server.port()));
        ASSERT_TRUE(silent.back()->connected());
    }
    // One that sent half a header and stopped.
    RawSocket half(server.port());
    ASSERT_TRUE(half.send("POST " + kModule + "/GetPesqOrca HTTP/1.1\r\nHost: x\r\n"));

    // Two workers, sixty-one connections held open: a new screen is served, and so is an old one.
    auto fresh = connect(server.port());
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(lists_budgets(*fresh));
    EXPECT_TRUE(lists_budgets(*quiet.front()));
    EXPECT_TRUE(lists_budgets(*first));
    long threads_after = status_field(server.pid(), "Threads");
    EXPECT_GT(threads_before, 0);
    EXPECT_LE(threads_after, threads_before) << "threads grew with the connections";
    EXPECT_LE(threads_after, 2 + 6);
}

TEST(Transport, ASlowRequestIsCutAtItsDeadlineAndAQuietConnectionAfterTheKeepAlive) {
    test::ServerProcess server(test::fresh_database(), kFixture,
                               {"--threads", "1", "--request-timeout", "1", "--keep-alive", "2"});
    // Clients that send a byte every 200 ms: their whole request would take over 20 s.
    const std::string request = post("GetPesqOrca", R"(["0001"])") + std::string(60, ' ');
    constexpr int kSlow = 4;
    std::vector<std::unique_ptr<RawSocket>> slow;
    for (int i = 0; i < kSlow; ++i) slow.push_back(std::make_unique<RawSocket>(server.port()));
    std::atomic<bool> done{false};
    std::vector<double> cut_after(kSlow, -1);
    std::vector<std::string> answers(kSlow);
    std::thread trickle([&] {
        auto start = Clock::now();
        std::vector<bool> open(kSlow, true);
        for (std::size_t at = 0; at < request.size() && !done; ++at) {
            for (int i = 0; i < kSlow; ++i) {
                if (!open[i]) continue;
                if (!slow[i]->send(request.substr(at, 1))) open[i] = false;
                std::string got = slow[i]->read(0ms);
                if (!got.empty() || !open[i]) {
                    answers[i] += got;
                    answers[i] += slow[i]->read(500ms);
                    open[i] = false;
                    cut_after[i] = std::chrono::duration<double>(Clock::now() - start).count();
                }
            }
            if (std::none_of(open.begin(), open.end(), [](bool o) { return o; })) break;
            std::this_thread::sleep_for(200ms);
        }
    });
    // Meanwhile a screen's calls go through on the one worker.
    auto net = connect(server.port());
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(lists_budgets(*net));
    trickle.join();
    for (int i = 0; i < kSlow; ++i) {
        EXPECT_GT(cut_after[i], 0.5) << i;
        EXPECT_LT(cut_after[i], 5.0) << "slow client " << i << " was not cut at its deadline";
        EXPECT_EQ(answers[i].rfind("HTTP/1.1 408", 0), 0u) << answers[i];
        EXPECT_NE(answers[i].find("não chegou inteiro"), std::string::npos) << answers[i];
    }

    // A connection that says nothing, and a kept one after its call, are closed after the
    // keep-alive; the screen's client opens a new one on its own.
    RawSocket silent(server.port());
    EXPECT_FALSE(silent.closed_within(1000ms));
    EXPECT_TRUE(silent.closed_within(4000ms));
    std::this_thread::sleep_for(2500ms);
    EXPECT_TRUE(lists_budgets(*net));
}

TEST(Transport, ConnectionsBeyondTheBoundAreRefusedClearlyAndServedOnceThereIsRoom) {
    test::ServerProcess server(test::fresh_database(), kFixture, {"--max-connections", "4"});
    std::vector<std::unique_ptr<RawSocket>> held;
    for (int i = 0; i < 4; ++i) held.push_back(std::make_unique<RawSocket>(server.port()));

    // A raw client reads the refusal in place of its answer, and the connection closes.
    RawSocket raw(server.port());
    raw.send(post("GetPesqOrca", R"(["0001"])"));
    std::string answer = raw.read(3000ms);
    EXPECT_EQ(answer.rfind("HTTP/1.1 503", 0), 0u) << answer;
    EXPECT_NE(answer.find("Servidor de aplicação ocupado"), std::string::npos) << answer;
    EXPECT_NE(answer.find("4 conexões"), std::string::npos) << answer;
    EXPECT_TRUE(raw.closed_within(3000ms));

    // The screen's connection tells the operator the same.
    try {
        connect(server.port());
        ADD_FAILURE() << "a connection beyond the bound was served";
    } catch (const host::ConnectionError& e) {
        EXPECT_NE(std::string(e.what()).find("Servidor de aplicação ocupado"), std::string::npos) << e.what();
    }
    httplib::Client other("127.0.0.1", server.port());
    auto res = other.Get(kModule);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 503);

    // Room again once the held ones go.
    held.clear();
    std::unique_ptr<host::TNetConnection> net;
    for (auto until = Clock::now() + 3s; !net && Clock::now() < until;) {
        try {
            net = connect(server.port());
            // The sign-in may have met the bound before the server saw the held ones go.
            if (net->Token.empty()) net.reset();
        } catch (const host::ConnectionError&) {
        }
        if (!net) std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(net);
    EXPECT_TRUE(lists_budgets(*net));
}

TEST(Transport, CallsBeyondBusyWorkersAndAFullQueueAreRefusedAtOnce) {
    if (test::using_postgres()) GTEST_SKIP() << "the worker is held by a SQLite write lock";
    std::string db = test::fresh_database();
    test::ServerProcess server(db, kFixture, {"--threads", "1"});
    // Another process holds the write lock: a save waits for it on the only worker.
    sqlite3* lock = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &lock), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(lock, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const Variant::Array nothing{Variant(), Variant(), Variant(), Variant(), Variant()};
    auto a = connect(server.port()), b = connect(server.port()), c = connect(server.port());
    host::ServerReply ra, rb;
    std::thread ta([&] { ra = a->Call("SetConfirmar", nothing); });
    std::this_thread::sleep_for(300ms);  // a is on the worker
    std::thread tb([&] { rb = b->Call("SetConfirmar", nothing); });
    std::this_thread::sleep_for(300ms);  // b waits in the queue
    host::ServerReply rc = c->Call("SetConfirmar", nothing);
    EXPECT_FALSE(rc.ok);
    EXPECT_NE(rc.error.find("Servidor de aplicação ocupado: todos os 1 atendimentos"), std::string::npos) << rc.error;
    sqlite3_exec(lock, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(lock);
    ta.join();
    tb.join();
    EXPECT_TRUE(ra.ok) << ra.error;
    EXPECT_TRUE(rb.ok) << rb.error;
    EXPECT_TRUE(c->Call("SetConfirmar", nothing).ok);
}

TEST(Transport, StoppingAnswersWhatHasArrivedAndClosesTheRest) {
    if (test::using_postgres()) GTEST_SKIP() << "the worker is held by a SQLite write lock";
    std::string db = test::fresh_database();
    test::ServerProcess server(db, kFixture, {"--threads", "2"});
    sqlite3* lock = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &lock), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(lock, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    // A save on a worker, waiting for the lock; a request whole in the socket; a silent
    // connection; half a request.
    auto busy = connect(server.port());
    host::ServerReply saved;
    std::thread saving([&] {
        saved = busy->Call("SetConfirmar", {Variant(), Variant(), Variant(), Variant(), Variant()});
    });
    std::this_thread::sleep_for(300ms);
    // The whole request is a second save: it waits behind the first one for the database, so it
    // is surely still being handled when the stop arrives (a read could be answered before).
    RawSocket whole(server.port()), silent(server.port()), half(server.port());
    const std::string token = test::token_for(server.port());
    std::string request = post("SetConfirmar", "[null,null,null,null,null]", token);
    ASSERT_TRUE(half.send(request.substr(0, 30)));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(whole.send(request));
    std::this_thread::sleep_for(100ms);
    ::kill(server.pid(), SIGTERM);
    EXPECT_TRUE(silent.closed_within(3000ms));
    EXPECT_TRUE(half.closed_within(3000ms));
    sqlite3_exec(lock, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(lock);
    std::string answer = whole.read(3000ms);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_NE(answer.find("Connection: close"), std::string::npos) << answer;
    saving.join();
    EXPECT_TRUE(saved.ok) << saved.error;
    EXPECT_EQ(server.stop(), 0);
}

TEST(Transport, TheDatabaseAndThePortFileAreTheOwnersAlone) {
    if (test::using_postgres()) GTEST_SKIP() << "no database file";
    mode_t old = ::umask(022);  // what a login shell usually has
    std::string db = test::fresh_database();
    test::ServerProcess server(db, kFixture);
    ::umask(old);
    auto net = connect(server.port());
    ASSERT_TRUE(net->Call("SetConfirmar", {Variant(), Variant(), Variant(), Variant(), Variant()}).ok);
    for (const std::string& path : {db, db + "-wal", db + "-shm", server.port_file()}) {
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
    }
}

TEST(Transport, ATargetThatIsNotTextIsAnsweredAndNothingRawReachesTheLog) {
    std::string log = test::temp_dir() + "/escaped.log";
    test::ServerProcess server(test::fresh_database(), kFixture, {"--log-level", "debug"}, log);
    // Targets with bytes that are not UTF-8 and with control characters.
    for (std::string target : {std::string("/\xff"), kModule + "/\xff\xfe", std::string("/a\x1b[2Jb")}) {
        RawSocket raw(server.port());
        raw.send("POST " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 2\r\n\r\n[]");
        std::string answer = raw.read(2000ms);
        bool not_found = answer.rfind("HTTP/1.1 404", 0) == 0, bad = answer.rfind("HTTP/1.1 400", 0) == 0;
        EXPECT_TRUE(not_found || bad) << answer;
        if (not_found) {
            EXPECT_NE(answer.find("Endereço desconhecido"), std::string::npos) << answer;
        }
    }
    // A refusal that echoes what the request brought: an escape sequence and 5,000 letters.
    auto net = connect(server.port());
    std::string body = R"([null,{"fields":[{"name":"CDFILIAL","type":"string"},{"name":")" +
                       std::string("\\u001b[31m") + std::string(5000, 'N') +
                       R"(","type":"string"}],"delta":[]},null,null,null])";
    httplib::Client raw("127.0.0.1", server.port());
    raw.set_bearer_token_auth(test::token_for(server.port()));
    auto res = raw.Post(kModule + "/SetConfirmar", body, "application/json");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("campo desconhecido"), std::string::npos) << res->body.substr(0, 300);
    ASSERT_TRUE(lists_budgets(*net));
    EXPECT_EQ(server.stop(), 0);

    std::string text = slurp(log);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find('\xff'), std::string::npos) << "a raw byte reached the log";
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << "an escape sequence reached the log";
    auto refused = log_lines(log, "SetConfirmar recusado");
    ASSERT_EQ(refused.size(), 1u) << text.substr(0, 2000);
    EXPECT_NE(refused[0].find("\\x1b[31mNNN"), std::string::npos) << refused[0];
    EXPECT_LT(refused[0].size(), 400u) << "the refused value was logged whole";
    EXPECT_NE(refused[0].find("…"), std::string::npos) << refused[0];
}

TEST(Transport, APasswordGivenInTheDatabaseUrlIsMaskedInTheLog) {
    if (!test::using_postgres()) GTEST_SKIP() << "PostgreSQL only";
    std::string log = test::temp_dir() + "/masked.log";
    test::ServerProcess server(test::fresh_database() + "?password=segredo123&application_name=acerto", kFixture,
                               {"--log-level", "info"}, log);
    auto net = connect(server.port());
    ASSERT_TRUE(lists_budgets(*net));
    EXPECT_EQ(server.stop(), 0);
    std::string text = slurp(log);
    EXPECT_EQ(text.find("segredo123"), std::string::npos) << text;
    EXPECT_NE(text.find("password=…&application_name=acerto"), std::string::npos) << text;
}

// Last: it lowers this process's descriptor limit for good, so that the server it starts
// inherits a small one.
TEST(Transport, ClientsNeverExhaustTheServersDescriptors) {
    rlimit rl{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &rl), 0);
    if (rl.rlim_max < 512) GTEST_SKIP() << "descriptor limit already small";
    rlimit small{400, 400};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &small), 0);
    test::ServerProcess server(test::fresh_database(), kFixture, {"--threads", "2"});
    // The server takes about 290 connections and refuses some 35 more: the rest of these are
    // closed at once rather than left waiting, and its own descriptors stay below the limit.
    std::vector<std::unique_ptr<RawSocket>> silent;
    for (int i = 0; i < 360; ++i) {
        silent.push_back(std::make_unique<RawSocket>(server.port()));
        ASSERT_TRUE(silent.back()->connected()) << i;
    }
    std::string last = silent.back()->read(3000ms);
    EXPECT_TRUE(silent.back()->closed_within(0ms)) << "a connection beyond every bound was left waiting";
    if (!last.empty()) {
        EXPECT_EQ(last.rfind("HTTP/1.1 503", 0), 0u) << last;
    }
    EXPECT_LT(open_files(server.pid()), 400);
    EXPECT_EQ(::kill(server.pid(), 0), 0) << "the server died";
    silent.clear();
    std::unique_ptr<host::TNetConnection> net;
    for (auto until = Clock::now() + 3s; !net && Clock::now() < until;) {
        try {
            net = connect(server.port());
            // The sign-in may have met the bound before the server saw the held ones go.
            if (net->Token.empty()) net.reset();
        } catch (const host::ConnectionError&) {
        }
        if (!net) std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(net);
    EXPECT_TRUE(lists_budgets(*net));
}
