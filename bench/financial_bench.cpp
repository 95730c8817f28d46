// Financial update and cancel figures: Gera_Financeiro and Cancelar_Acerto of a settlement with
// 2,000 lines in each grid, through the screen's connection to a real server process, one
// after the other (each update produces a receivable and an overtime payable, each cancel
// cancels them). SQLite; PostgreSQL with --pg URL.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "acerto/host/consiste.h"
#include "acerto/host/net_connection.h"
#include "acerto/platform/packet.h"
#include "bench_util.h"
#include "server_process.h"

using namespace acerto;
using nlohmann::json;
using platform::Variant;
using Args = Variant::Array;

namespace {

constexpr int kLines = 2000;
constexpr int kRuns = 40;

json settlement_fixture() {
    json f;
    f["FILIAL"] = {{{"CDFILIAL", "0001"}, {"NMFILIAL", "Bench"}, {"CDEMPRESA", "01"}, {"CDSERIE", "1"}}};
    f["EMPRESA"] = {{{"CDEMPRESA", "01"}, {"NRINSCESTA", "110.042.490.114"}}};
    f["FORNECEDOR"] = {{{"CDFORNECEDOR", "FHORA"}}};
    f["CLIENTE"] = {{{"CDCLIENTE", "CLI1"}}};
    f["TIPOOPER"] = {{{"CDTIPOOPER", "001"}, {"CDTPCTREC", "05"}}, {{"CDTIPOOPER", "101"}, {"CDTPCTPAG", "07"}}};
    f["PARAMETRO"] = {{{"CDFILIAL", "0001"},
                       {"CDTIPOOPER", "001"},
                       {"CDTIPOOPERPAG", "101"},
                       {"CDSERIEENTR", "E1"},
                       {"CDFORNPADORC", "FHORA"},
                       {"CDAJCTRECSOB", "SOB"}}};
    f["ORCAMENTO"] = {{{"CDFILIAL", "0001"},
                       {"NRORCAEVENTO", "0000000001"},
                       {"CDEMPRESA", "01"},
                       {"CDCLIENTE", "CLI1"},
                       {"IDTPORCAEVEN", "O"},
                       {"IDTPCOBRVREXTRA", "P"}}};
    f["ACERTO"] = {{{"CDFILIAL", "0001"},
                    {"NRORCAEVENTO", "0000000001"},
                    {"IDSITUACERTO", "P"},
                    {"IDTPVREXTRA", "P"},
                    {"QTCONVEXTRAACER", 0},
                    {"VRCONVEXTRAACER", 0}}};
    for (const char* t : {"ACERTOQUEBRA", "ACERTOSOBRA", "ACERTOHREXTRA", "ACERTOEXTRA"}) f[t] = json::array();
    for (int l = 1; l <= kLines; ++l) {
        char ln[8];
        std::snprintf(ln, sizeof ln, "%04d", l);
        json common = {{"CDFILIAL", "0001"},
                       {"NRORCAEVENTO", "0000000001"},
                       {"CDARVPROD", "101001"},
                       {"NMPRODUTO", "Taça de cristal para vinho tinto"},
                       {"CDPRODUTO", "P1"}};
        // Every line at its own unit value: nothing is summed before it is read.
        const double unit = 5 + l * 0.013;
        json q = common, s = common, h = common, e = common;
        q.update({{"QTACERTOQUEB", 2},
                  {"VRACERTOQUEB", unit},
                  {"VRACREACEQUE", 0.5},
                  {"VRDESCACEQUE", 0},
                  {"NRACERTOQUEB", ln}});
        s.update({{"QTRESACERSOB", 10},
                  {"QTEXTACERSOB", 1},
                  {"QTORCACERSOB", 12},
                  {"VRACERTOSOBR", unit},
                  {"NRACERTOSOBR", ln}});
        h.update({{"QTACERTOHREX", 2}, {"VRACERTOHREX", unit}, {"NRACERTOHREX", ln}});
        e.update({{"QTACERTOEXTR", 4}, {"VRACERTOEXTR", unit}, {"NRACERTOEXTR", ln}});
        f["ACERTOQUEBRA"].push_back(q);
        f["ACERTOSOBRA"].push_back(s);
        f["ACERTOHREXTRA"].push_back(h);
        f["ACERTOEXTRA"].push_back(e);
    }
    return f;
}

void update_and_cancel(const std::string& db, const char* backend) {
    std::string fixture = test::temp_dir() + "/financial_bench.json";
    std::ofstream(fixture) << settlement_fixture().dump();
    test::ServerProcess server(db, fixture);
    host::TNetConnection net;
    net.ServerName = "QLM01200.rdmAcertoFinal";
    net.Host = "127.0.0.1";
    net.Port = server.port();
    net.Token = test::token_for(server.port(), "BENCH");
    net.Open();
    auto budget = std::make_shared<platform::DataPacket>(std::vector<platform::FieldDef>{
        {"CDFILIAL", platform::FieldType::String, 4}, {"NRORCAEVENTO", platform::FieldType::String, 10}});
    budget->rows().push_back({Variant("0001"), Variant("0000000001")});
    const Args update{Variant(std::shared_ptr<const platform::DataPacket>(budget)), Variant("P"), Variant("BENCH")};
    const Args cancel{Variant("0001"), Variant("0000000001"), Variant("00"), Variant("BENCH")};
    auto call = [&](const char* method, const Args& args) {
        Variant header = host::Consiste::CheckResultServ(net.Call(method, args), true, 0);
        if (!header.is_packet() || header.packet()->rows().size() != 1) throw std::runtime_error("no header");
    };
    // Warm: the server's workers (32 by default; any may answer a call) have their sessions
    // open, their statements prepared and the pages cached, as in a server that has been running.
    for (int warm = 0; warm < 32; ++warm) {
        call("Gera_Financeiro", update);
        call("Cancelar_Acerto", cancel);
    }
    std::vector<double> gera, canc;
    for (int i = 0; i < kRuns; ++i) {
        bench::sample(gera, 1, [&] { call("Gera_Financeiro", update); });
        bench::sample(canc, 1, [&] { call("Cancelar_Acerto", cancel); });
    }
    std::string what = std::string("Gera_Financeiro, 4 x 2,000 lines (") + backend + ")";
    bench::report(what.c_str(), bench::figures_of(gera), 50);
    what = std::string("Cancelar_Acerto, 2 live titles (") + backend + ")";
    bench::report(what.c_str(), bench::figures_of(canc), 20);
}

}  // namespace

int main(int argc, char** argv) {
    // --pg URL: run against a PostgreSQL cluster too (a database is created on it).
    std::string pg;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--pg") pg = argv[i + 1];
    std::printf("financial benchmarks (%d runs each)\n", kRuns);
    update_and_cancel(test::fresh_database(), "SQLite");
    if (!pg.empty()) {
        setenv("ACERTO_TEST_PG", pg.c_str(), 1);
        update_and_cancel(test::fresh_database(), "PostgreSQL");
    }
    std::filesystem::remove_all(test::temp_dir());
    return 0;
}
