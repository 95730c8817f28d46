// Stock withdrawal figures: a settlement of 2,000 extras lines over 500 products withdrawn from
// stock (RetiraProdExtra) and the withdrawal cancelled (DeletaReti), each through the transport
// from the screen's own connection, in alternating rounds; then the same calls in-process, to
// tell the database's share from the transport's. SQLite by default; PostgreSQL with --pg URL
// (a database is created on that cluster).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "acerto/host/consiste.h"
#include "acerto/host/net_connection.h"
#include "acerto/server/fixture.h"
#include "acerto/server/module.h"
#include "bench_util.h"
#include "server_process.h"

using namespace acerto;
using nlohmann::json;
using platform::Variant;
using Args = Variant::Array;

namespace {

constexpr int kProducts = 500;
constexpr int kLines = 2000;

// One budget with a pending settlement of kLines extras lines, four per product, every product
// with a dispatch storeroom and more than enough stock.
json make_fixture() {
    json f;
    f["FILIAL"] = json::array({{{"CDFILIAL", "0001"}, {"NMFILIAL", "Bench"}}});
    f["PARAMETRO"] = json::array({{{"CDFILIAL", "0001"}, {"CDTIPORETI", "01"}}});
    f["ALMOXARIFADO"] = json::array({{{"CDFILIAL", "0001"}, {"CDALMOXARIFE", "01"}, {"NMALMOXARIFE", "Expedição"}}});
    f["PRODUTO"] = json::array();
    f["PRODUTOALMOX"] = json::array();
    f["ESTOQUE"] = json::array();
    char code[16], tree[16];
    for (int p = 1; p <= kProducts; ++p) {
        std::snprintf(code, sizeof code, "B%06d", p);
        std::snprintf(tree, sizeof tree, "303%03d", p % 1000);
        f["PRODUTO"].push_back({{"CDPRODUTO", code},
                                {"CDARVPROD", tree},
                                {"NMPRODUTO", std::string("Produto ") + code},
                                {"SGUNIDADE", "UN"},
                                {"CDNVPRODUTO", "3"},
                                {"IDATIVO", "S"}});
        f["PRODUTOALMOX"].push_back({{"CDFILIAL", "0001"}, {"CDPRODUTO", code}, {"CDALMOXARIFE", "01"}});
        f["ESTOQUE"].push_back(
            {{"CDFILIAL", "0001"}, {"CDALMOXARIFE", "01"}, {"CDPRODUTO", code}, {"QTPOSESTPROD", 1e6}});
    }
    f["ORCAMENTO"] = json::array({{{"CDFILIAL", "0001"},
                                   {"NRORCAEVENTO", "0000000001"},
                                   {"IDTPORCAEVEN", "O"},
                                   {"IDTPCOBRVREXTRA", "P"},
                                   {"CDDEPTO", "010"}}});
    f["ACERTO"] = json::array({{{"CDFILIAL", "0001"},
                                {"NRORCAEVENTO", "0000000001"},
                                {"NRSEQORCAEVE", "00"},
                                {"CDOPERADOR", "BENCH"},
                                {"IDSITUACERTO", "P"},
                                {"IDTPVREXTRA", "P"},
                                {"QTCONVEXTRAACER", 0},
                                {"VRCONVEXTRAACER", 0}}});
    f["ACERTOEXTRA"] = json::array();
    for (int l = 1; l <= kLines; ++l) {
        char nr[16];
        std::snprintf(nr, sizeof nr, "%04d", l);
        std::snprintf(code, sizeof code, "B%06d", (l - 1) % kProducts + 1);
        f["ACERTOEXTRA"].push_back({{"CDFILIAL", "0001"},
                                    {"NRORCAEVENTO", "0000000001"},
                                    {"NRSEQORCAEVE", "00"},
                                    {"NRACERTOEXTR", nr},
                                    {"CDARVPROD", "303001"},
                                    {"NMPRODUTO", std::string("Produto ") + code},
                                    {"SGUNIDADE", "UN"},
                                    {"QTACERTOEXTR", 2},
                                    {"VRACERTOEXTR", 8.5},
                                    {"CDPRODUTO", code}});
    }
    return f;
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "stock_bench: %s\n", what.c_str());
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string opt = argv[i];
        if (opt == "--pg")
            setenv("ACERTO_TEST_PG", argv[i + 1], 1);
        else if (opt == "--runs")
            runs = std::atoi(argv[i + 1]);
    }
    const char* backend = test::using_postgres() ? "PostgreSQL" : "SQLite";
    std::printf("stock withdrawal benchmark (%s): %d extras lines over %d products, %d rounds\n", backend, kLines,
                kProducts, runs);
    const std::string fixture = test::temp_dir() + "/stock_bench.json";
    std::ofstream(fixture) << make_fixture().dump();
    const std::string db = test::fresh_database();
    {
        test::ServerProcess proc(db, fixture, {"--threads", "8"});
        host::TNetConnection net;
        net.ServerName = "QLM01200.rdmAcertoFinal";
        net.Port = proc.port();
        net.CallTimeoutMs = 60000;
        net.Token = test::token_for(proc.port(), "BENCH");
        net.Open();
        auto call = [&](const char* method, const Args& args) {
            host::ServerReply r = net.Call(method, args);
            if (!r.ok) fail(std::string(method) + ": " + r.error);
            return r.payload;
        };
        const Variant extras = call("GetOrcamento", {Variant("0001"), Variant("0000000001")}).array().at(4);
        if (extras.packet()->rows().size() != static_cast<std::size_t>(kLines)) fail("the settlement did not load");
        const Args withdraw{extras, Variant("0001"), Variant("BENCH"), Variant("0001")};
        const Args cancel{Variant("0001"), Variant("0000000001"), Variant("00"), Variant("BENCH")};
        // First rounds open the sessions of the server's 8 workers (any may answer a call) and
        // warm their statements: a server that has been running has them all warm.
        for (int warm = 0; warm < 8; ++warm) {
            call("RetiraProdExtra", withdraw);
            call("DeletaReti", cancel);
        }
        std::vector<double> taken, given_back;
        for (int i = 0; i < runs; ++i) {
            bench::sample(taken, 1, [&] {
                if (!call("RetiraProdExtra", withdraw).array().at(4).is_packet()) fail("a withdrawal was refused");
            });
            bench::sample(given_back, 1, [&] { call("DeletaReti", cancel); });
        }
        bench::report("RetiraProdExtra, 2,000 lines / 500 products", bench::figures_of(taken), 100);
        bench::report("DeletaReti of that withdrawal", bench::figures_of(given_back), 50);
    }
    {
        // The same calls in-process, on the database the server left (no withdrawal recorded).
        auto database = server::Database::open(db);
        server::AcertoModule module(*database);
        const Variant extras = module.call("GetOrcamento", {Variant("0001"), Variant("0000000001")}).array().at(4);
        const Args withdraw{extras, Variant("0001"), Variant("BENCH"), Variant("0001")};
        const Args cancel{Variant("0001"), Variant("0000000001"), Variant("00"), Variant("BENCH")};
        std::vector<double> taken, given_back;
        for (int i = 0; i < runs; ++i) {
            bench::sample(taken, 1, [&] { module.call("RetiraProdExtra", withdraw); });
            bench::sample(given_back, 1, [&] { module.call("DeletaReti", cancel); });
        }
        bench::report("  in-process RetiraProdExtra (no transport)", bench::figures_of(taken));
        bench::report("  in-process DeletaReti (no transport)", bench::figures_of(given_back));
    }
    std::filesystem::remove_all(test::temp_dir());
    return 0;
}
