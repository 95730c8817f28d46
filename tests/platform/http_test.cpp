// The transport of both ends, against each other on a loopback port.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "acerto/platform/http.h"

using namespace acerto::platform::http;
using namespace std::chrono_literals;

namespace {

// A server that answers each request with `answer`, on its I/O thread.
struct EchoServer {
    std::function<void(const Request&, Reply&)> answer;
    Server server;
    int port = 0;
    std::thread thread;

    static ServerLimits limits(std::size_t max_body, std::chrono::seconds idle) {
        ServerLimits l;
        l.max_body = max_body;
        l.idle_timeout = idle;
        return l;
    }
    explicit EchoServer(std::size_t limit = 64u << 20, std::chrono::seconds idle = 30s)
        : server(
              limits(limit, idle), [this](Request&& r, Reply reply) { answer(r, reply); },
              [](Refusal why) {
                  return why == Refusal::TooLarge ? Answer{413, "grande"} : Answer{400, "inválido"};
              }) {
        port = server.bind("127.0.0.1", 0);
        answer = [](const Request& r, Reply& c) { c.send(200, r.method + " " + r.target + " " + r.body); };
        thread = std::thread([this] { server.run(); });
    }
    unsigned long long connections() const { return server.accepted(); }
    ~EchoServer() {
        server.stop();
        thread.join();
    }
};

// Sends `out` in pieces of `piece` bytes, a moment apart, then reads until the server closes.
std::string exchange(int port, const std::string& out, std::size_t piece) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    for (std::size_t at = 0; at < out.size(); at += piece) {
        EXPECT_GT(::send(fd, out.data() + at, std::min(piece, out.size() - at), MSG_NOSIGNAL), 0);
        if (piece < out.size()) std::this_thread::sleep_for(1ms);
    }
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return got;
}

}  // namespace

TEST(Http, CallsShareOneConnectionAndLargeBodiesTravelWhole) {
    EchoServer server;
    Client client("127.0.0.1", server.port, 2s, 10s);
    EXPECT_EQ(client.request("GET", "/modulo").body, "GET /modulo ");
    // Over the parser's default limits for a request (1 MB) and an answer (8 MB).
    std::string big(12u << 20, 'x');
    big.back() = 'y';
    Response r = client.request("POST", "/modulo/Metodo", big);
    EXPECT_EQ(r.status, 200);
    ASSERT_EQ(r.body.size(), big.size() + std::string("POST /modulo/Metodo ").size());
    EXPECT_EQ(r.body.back(), 'y');
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(client.request("POST", "/m", std::to_string(i)).body, "POST /m " + std::to_string(i));
    EXPECT_EQ(server.connections(), 1u);
}

TEST(Http, AConnectionTheServerClosedIsReopenedBeforeTheRequest) {
    EchoServer server(1024, 1s);
    Client client("127.0.0.1", server.port, 2s, 10s);
    EXPECT_EQ(client.request("POST", "/a", "1").status, 200);
    std::this_thread::sleep_for(1300ms);  // the server drops the idle connection
    EXPECT_EQ(client.request("POST", "/a", "2").body, "POST /a 2");
    EXPECT_EQ(server.connections(), 2u);
    // An answer that closes the connection leaves the client closed; the next call reopens.
    server.answer = [](const Request& r, Reply& c) { c.send(200, r.body, false); };
    EXPECT_EQ(client.request("POST", "/a", "3").body, "3");
    EXPECT_FALSE(client.is_open());
    EXPECT_EQ(client.request("POST", "/a", "4").body, "4");
}

TEST(Http, LimitsAndFailuresAreToldApart) {
    EchoServer server(1024);
    Client client("127.0.0.1", server.port, 2s, 300ms);
    EXPECT_EQ(client.request("POST", "/a", std::string(4096, 'x')).status, 413);
    EXPECT_EQ(client.request("POST", "/a", "ok").status, 200);

    // A server that does not answer in time.
    server.answer = [](const Request&, Reply&) { std::this_thread::sleep_for(600ms); };
    try {
        client.request("POST", "/a", "x");
        FAIL() << "no timeout";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.failure(), Failure::Timeout);
    }
    EXPECT_FALSE(client.is_open());

    // Nothing listening.
    int port;
    {
        Server gone({}, nullptr, nullptr);
        port = gone.bind("127.0.0.1", 0);
    }
    Client nowhere("127.0.0.1", port, 1s, 1s);
    try {
        nowhere.request("GET", "/");
        FAIL() << "connected to nothing";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.failure(), Failure::Refused);
    }
}

TEST(Http, TheServerSideAnswersGarbageAndWaitsForContinue) {
    EchoServer server;
    auto raw = [&](const std::string& out, bool half_then_rest = false) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(server.port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        std::string got;
        char buf[4096];
        if (half_then_rest) {
            // Headers first; the body only after the server's 100 Continue.
            auto cut = out.find("\r\n\r\n") + 4;
            EXPECT_GT(::write(fd, out.data(), cut), 0);
            ssize_t n = ::read(fd, buf, sizeof buf);
            got.assign(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
            EXPECT_EQ(got, "HTTP/1.1 100 Continue\r\n\r\n");
            EXPECT_GT(::write(fd, out.data() + cut, out.size() - cut), 0);
            got.clear();
        } else {
            EXPECT_GT(::write(fd, out.data(), out.size()), 0);
        }
        ::shutdown(fd, SHUT_WR);
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
        ::close(fd);
        return got;
    };
    EXPECT_EQ(raw("nada disso\r\n\r\n").rfind("HTTP/1.1 400", 0), 0u);
    std::string answer = raw(
        "POST /x HTTP/1.1\r\nHost: a\r\nExpect: 100-continue\r\nContent-Length: 5\r\nConnection: close\r\n\r\ncorpo",
        true);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_NE(answer.find("POST /x corpo"), std::string::npos);
}

TEST(Http, TheServerSideReadsRequestsSplitAnywhereAndSeveralAtOnce) {
    EchoServer server;
    const std::string one = "POST /a HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc";
    const std::string two = "POST /b HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\nConnection: close\r\n\r\nde";
    // Two requests in one segment: both answered, in order, on the one connection.
    std::string both = exchange(server.port, one + two, one.size() + two.size());
    auto first = both.find("POST /a abc"), second = both.find("POST /b de");
    ASSERT_NE(first, std::string::npos) << both;
    ASSERT_NE(second, std::string::npos) << both;
    EXPECT_LT(first, second);
    // The same, a byte at a time: the header arrives in pieces, and the next request's start
    // comes with the end of the last one's body.
    std::string trickled = exchange(server.port, one + two, 1);
    EXPECT_NE(trickled.find("POST /a abc"), std::string::npos) << trickled;
    EXPECT_NE(trickled.find("POST /b de"), std::string::npos) << trickled;
    std::string pairs = exchange(server.port, one + two, 7);
    EXPECT_NE(pairs.find("POST /b de"), std::string::npos) << pairs;
    EXPECT_EQ(server.connections(), 3u);
}

TEST(Http, AnswersFromAnotherThreadTravelWholeAndTheConnectionGoesOn) {
    EchoServer server;
    std::mutex mutex;
    std::vector<std::thread> workers;
    // As the application server does: the reply goes to a worker, which answers later; the
    // answer is larger than the socket takes at once.
    server.answer = [&](const Request& r, Reply& reply) {
        std::lock_guard<std::mutex> lock(mutex);
        workers.emplace_back([body = r.body, reply = std::move(reply)]() mutable {
            std::this_thread::sleep_for(20ms);
            reply.send(200, std::string(20u << 20, 'z') + body);
        });
    };
    Client client("127.0.0.1", server.port, 2s, 10s);
    for (int i = 0; i < 3; ++i) {
        Response r = client.request("POST", "/m", std::to_string(i));
        EXPECT_EQ(r.status, 200);
        ASSERT_EQ(r.body.size(), (20u << 20) + 1);
        EXPECT_EQ(r.body.back(), '0' + i);
    }
    EXPECT_EQ(server.connections(), 1u);
    // A reply dropped unanswered closes its connection instead of leaving the client waiting.
    server.answer = [](const Request&, Reply&) {};
    EXPECT_THROW(client.request("POST", "/m", "x"), TransportError);
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& t : workers) t.join();
}
