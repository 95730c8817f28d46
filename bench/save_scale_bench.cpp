// Save latency against the size of the database: one breakage line of a small settlement
// changed, saved and merged from the screen (in-process, acerto-server on loopback), first on
// a database holding only that settlement, then on the same database after 1,000,000 lines of
// 10,000 other settlements were added. The keys and indexes should make both the same.
// SQLite, or PostgreSQL when ACERTO_TEST_PG names a cluster.
#include <chrono>
#include <cstdio>
#include <fstream>

#include <nlohmann/json.hpp>

#include "acerto/host/server_queries.h"
#include "acerto/host/services.h"
#include "acerto/server/storage.h"
#include "acerto/settlement/acerto_final.h"
#include "bench_util.h"
#include "scripted_ui.h"
#include "server_process.h"
#include "test_host.h"

using namespace acerto;
using namespace acerto::settlement;
using nlohmann::json;

namespace {

constexpr int kOtherBudgets = 10000;
constexpr int kLinesEach = 100;

json fixture() {
    json f;
    f["FILIAL"] = json::array({{{"CDFILIAL", "0001"}, {"NMFILIAL", "Bench"}}});
    f["PRECOBASE"] = json::array({{{"CDPRECOBASE", "01"}, {"DSPRECOBASE", "Tabela"}}});
    f["PRODUTO"] = json::array({{{"CDPRODUTO", "P1"},
                                 {"CDARVPROD", "101001"},
                                 {"NMPRODUTO", "Taça"},
                                 {"SGUNIDADE", "UN"},
                                 {"CDNVPRODUTO", "3"}}});
    f["ORCAMENTO"] = json::array(
        {{{"CDFILIAL", "0001"}, {"NRORCAEVENTO", "0000000001"}, {"IDTPORCAEVEN", "O"}, {"IDTPCOBRVREXTRA", "P"}}});
    f["ACERTO"] = json::array({{{"CDFILIAL", "0001"},
                                {"NRORCAEVENTO", "0000000001"},
                                {"NRSEQORCAEVE", "00"},
                                {"DTACERTOOREV", "2026-12-07 10:00:00"},
                                {"CDOPERADOR", "BENCH"},
                                {"IDSITUACERTO", "P"},
                                {"CDPRBAQUEBRA", "01"},
                                {"NMPRECOQUEBR", "Tabela"},
                                {"IDTPVREXTRA", "P"}}});
    json lines = json::array();
    for (int l = 1; l <= 3; ++l)
        lines.push_back({{"CDFILIAL", "0001"},
                         {"NRORCAEVENTO", "0000000001"},
                         {"NRSEQORCAEVE", "00"},
                         {"CDARVPROD", "101001"},
                         {"NMPRODUTO", "Taça"},
                         {"CDPRODUTO", "P1"},
                         {"SGUNIDADE", "UN"},
                         {"QTACERTOQUEB", 1},
                         {"VRACERTOQUEB", 12.5},
                         {"VRACREACEQUE", 0},
                         {"VRDESCACEQUE", 0},
                         {"NRACERTOQUEB", "000" + std::to_string(l)}});
    f["ACERTOQUEBRA"] = lines;
    return f;
}

// 10,000 other budgets with their settlements and 100 breakage lines each, written in the
// database's own SQL (numbers padded by each dialect's function).
void add_million_lines(const std::string& spec) {
    auto db = server::Database::open(spec);
    server::Session& s = db->session();
    const bool pg = db->dialect() == server::Dialect::Postgres;
    auto pad = [&](const std::string& expr, int width) {
        return pg ? "lpad((" + expr + ")::text, " + std::to_string(width) + ", '0')"
                  : "printf('%0" + std::to_string(width) + "d', " + expr + ")";
    };
    const std::string budgets = "WITH RECURSIVE N(I) AS (SELECT 2 UNION ALL SELECT I + 1 FROM N WHERE I < " +
                                std::to_string(kOtherBudgets + 1) + ") ";
    server::Transaction tx(s);
    s.execute(budgets + "INSERT INTO ORCAMENTO (CDFILIAL, NRORCAEVENTO, NRSEQORCAEVE, IDTPORCAEVEN) SELECT '0001', " +
              pad("I", 10) + ", '00', 'O' FROM N");
    s.execute(budgets +
              "INSERT INTO ACERTO (CDFILIAL, NRORCAEVENTO, NRSEQORCAEVE, IDSITUACERTO, CDPRBAQUEBRA) SELECT "
              "'0001', " +
              pad("I", 10) + ", '00', 'P', '01' FROM N");
    s.execute("WITH RECURSIVE N(I) AS (SELECT 0 UNION ALL SELECT I + 1 FROM N WHERE I < " +
              std::to_string(kOtherBudgets * kLinesEach - 1) +
              ") INSERT INTO ACERTOQUEBRA (CDFILIAL, NRORCAEVENTO, NRSEQORCAEVE, CDARVPROD, NMPRODUTO, SGUNIDADE, "
              "QTACERTOQUEB, VRACERTOQUEB, VRACREACEQUE, VRDESCACEQUE, NRACERTOQUEB, CDPRODUTO) SELECT '0001', " +
              pad("I / " + std::to_string(kLinesEach) + " + 2", 10) +
              ", '00', '101001', 'Taça', 'UN', 1, 12.5, 0, 0, " + pad("I % " + std::to_string(kLinesEach) + " + 1", 4) +
              ", 'P1' FROM N");
    tx.commit();
    if (pg) s.execute("ANALYZE");
}

// The median of saving one changed line of settlement 1, from the command to the merged log.
bench::Figures saves(const std::string& spec, const std::string& fixture_path) {
    test::ServerProcess server(spec, fixture_path, {});
    test::ScriptedUi ui;
    host::ServerQueries reference;
    host::Services services;
    services.config.clock = platform::DateTime::parse_iso("2026-12-07 09:30:00");
    test::install_signed_in(services, ui, reference, server.port(), "BENCH");
    Initialize();
    CriaAcertoFinal();
    TfrmAcertoFinal& f = *frmAcertoFinal;
    f.medCdFilial.set_focus();
    f.medCdFilial.set_text("0001");
    f.edtNrOrcamento.set_focus();
    f.edtNrOrcamento.set_text("0000000001");
    f.dbgPadrao.set_focus();
    std::vector<double> ms;
    for (int i = 0; i < 300; ++i) {
        f.cdsQuebra.first();
        f.cdsQuebra.edit();
        f.cdsQuebra.field("QTACERTOQUEB").set_as_float(2 + i);
        auto t0 = std::chrono::steady_clock::now();
        f.sbtConfirmar.click();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        if (f.cdsQuebra.change_count() != 0) std::abort();
    }
    Finalize();
    host::install(nullptr);
    return bench::figures_of(ms);
}

}  // namespace

int main() {
    std::printf("save latency against the database's size (in-process screen, acerto-server on loopback, %s)\n",
                test::using_postgres() ? "PostgreSQL" : "SQLite");
    std::string path = test::temp_dir() + "/save_scale_bench.json";
    std::ofstream(path) << fixture().dump();
    const std::string spec = test::fresh_database();

    bench::Figures empty = saves(spec, path);
    bench::report("save one line: the settlement alone in the database", empty);
    auto t0 = std::chrono::steady_clock::now();
    add_million_lines(spec);
    std::printf("   (1,000,000 lines of 10,000 other settlements added in %.1f s)\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    bench::Figures full = saves(spec, {});
    bench::report("save one line: among 1,000,000 settlement lines", full);
    const double ratio = full.median_ms / empty.median_ms;
    std::printf("   median ratio %.2f (target: no worse than alone, <= 1.25 allowing for noise: %s)\n", ratio,
                ratio <= 1.25 ? "met" : "NOT MET");
    return 0;
}
