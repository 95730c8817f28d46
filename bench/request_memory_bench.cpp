// What requests of the largest size cost the server in memory: 32 clients send them without
// pause, in several shapes, and the server's resident and peak memory are read from /proc.
// acerto-server is the one built beside this program, or the one named as the first argument.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "acerto/platform/http.h"
#include "acerto/platform/json_io.h"

using namespace acerto;
using namespace std::chrono_literals;

namespace {

// A figure of /proc/<pid>/status ("VmRSS", "VmHWM"), in MB.
double status_mb(pid_t pid, const char* name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(std::string(name) + ":", 0) == 0)
            return std::atof(line.c_str() + std::strlen(name) + 1) / 1024.0;
    return -1;
}

// Empty arrays up to `size` bytes.
std::string empty_arrays(std::size_t size) {
    std::string t = "[";
    while (t.size() + 4 < size) t += "[],";
    return t + "[]]";
}

// The most values a request may hold, as empty arrays.
std::string most_values() {
    std::string t = "[";
    for (std::size_t i = 0; i < platform::JsonLimits::request().max_values / 2 - 1; ++i) t += i ? ",[]" : "[]";
    return t + "]";
}

// Texts of 1,000 characters up to `size` bytes.
std::string long_texts(std::size_t size) {
    std::string item = "\"" + std::string(1000, 'x') + "\"";
    std::string t = "[" + item;
    while (t.size() + item.size() + 2 < size) t += "," + item;
    return t + "]";
}

// A breakage delta of as many full lines as a delta may change (two grids' worth).
std::string largest_delta() {
    std::string t =
        R"([null,{"fields":[{"name":"CDFILIAL"},{"name":"NRORCAEVENTO"},{"name":"NRSEQORCAEVE"},{"name":"CDDEPTO"},)"
        R"({"name":"CDARVPROD"},{"name":"NMPRODUTO"},{"name":"SGUNIDADE"},{"name":"QTACERTOQUEB","type":"float"},)"
        R"({"name":"VRACERTOQUEB","type":"float"},{"name":"VRACREACEQUE","type":"float"},{"name":"VRDESCACEQUE","type":"float"},)"
        R"({"name":"NRACERTOQUEB"},{"name":"CDPRODUTO"}],"delta":[)";
    for (int i = 0; i < 19998; ++i) {
        char nr[8];
        std::snprintf(nr, sizeof nr, "%04d", i % 9999 + 1);
        t += std::string(i ? "," : "") +
             R"({"op":"insert","new":["0001","0000000901","00",null,"101001",)"
             R"("Taça de cristal para vinho tinto","UN",12.5,3.25,0,0,")" +
             nr + R"(","P101001"]})";
    }
    return t + "]},null,null,null]";
}

// acerto-server on the demo data in a fresh SQLite file, on a free port.
struct Server {
    pid_t pid = -1;
    int port = 0;
    explicit Server(const char* binary) {
        auto dir = std::filesystem::temp_directory_path() / ("acerto-memory-bench-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::string db = (dir / "db.sqlite").string(), port_file = (dir / "port").string();
        pid = ::fork();
        if (pid == 0) {
            ::execl(binary, binary, "--db", db.c_str(), "--demo", "--listen", "127.0.0.1:0", "--port-file",
                    port_file.c_str(), "--log-level", "error", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 2000 && port <= 0; ++i) {
            std::ifstream in(port_file);
            if (!(in >> port)) std::this_thread::sleep_for(10ms);
        }
    }
    ~Server() {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
};

struct Shape {
    const char* what;
    const char* method;
    std::string body;
};

}  // namespace

int main(int argc, char** argv) {
    const char* binary = argc > 1 ? argv[1] : ACERTO_SERVER_BIN;
    constexpr int kClients = 32;
    const auto kRun = 15s;
    std::printf(
        "request memory benchmark: %d clients sending requests of the largest size for %lld s "
        "each\n",
        kClients, static_cast<long long>(kRun.count()));
    std::vector<Shape> shapes = {
        {"8 MiB of empty arrays", "GetPesqOrca", empty_arrays(8u << 20)},
        {"the most values a request may hold (empty arrays)", "GetPesqOrca", most_values()},
        {"8 MiB of long texts", "GetPesqOrca", long_texts(8u << 20)},
        {"a delta of 19,998 full lines", "SetConfirmar", largest_delta()},
        {"30 MiB of empty arrays", "GetPesqOrca", empty_arrays(30u << 20)},
    };
    Server server(binary);
    if (server.port <= 0) {
        std::printf("%s did not start\n", binary);
        return 1;
    }
    std::string token;
    {
        platform::http::Client c("127.0.0.1", server.port, 5s, 30s);
        auto j = nlohmann::json::parse(c.request("POST", "/session", R"(["DEMO","demo1234"])").body, nullptr, false);
        if (!j.is_object() || !j.contains("result")) {
            std::printf("the demo operator could not sign in\n");
            return 1;
        }
        token = j["result"]["token"].get<std::string>();
    }
    std::printf("%-52s %9s %10s %10s %9s\n", "shape", "body MB", "requests", "RSS MB", "peak MB");
    for (const auto& shape : shapes) {
        std::atomic<int> done{0};
        std::vector<std::thread> clients;
        auto end = std::chrono::steady_clock::now() + kRun;
        for (int c = 0; c < kClients; ++c)
            clients.emplace_back([&] {
                platform::http::Client client("127.0.0.1", server.port, 5s, 120s);
                // Signed in, so that each body is read whole, as a screen's would be.
                client.set_authorization("Bearer " + token);
                while (std::chrono::steady_clock::now() < end) {
                    try {
                        client.request("POST", std::string("/QLM01200.rdmAcertoFinal/") + shape.method, shape.body);
                        ++done;
                    } catch (const std::exception&) {
                        client.close();
                    }
                }
            });
        for (auto& t : clients) t.join();
        std::printf("%-52s %9.1f %10d %10.0f %9.0f\n", shape.what, shape.body.size() / 1048576.0, done.load(),
                    status_mb(server.pid, "VmRSS"), status_mb(server.pid, "VmHWM"));
    }
    std::printf("peak resident memory of the server over the run: %.0f MB (target < 2048 MB)\n",
                status_mb(server.pid, "VmHWM"));
    return 0;
}
