// The screen's reads through the server, in-process with a real server on loopback (SQLite, or
// PostgreSQL when ACERTO_TEST_PG names a cluster):
//  1. the product pick of a price base with 5,000 products, from the ellipsis to the list
//     handed to the operator interface;
//  2. the product check on leaving a breakage code cell (the product and its price, two reads);
//  3. the number search of a branch with 50,000 budgets, from the button to the list handed to
//     the operator interface.
#include <chrono>
#include <cstdio>
#include <fstream>

#include <nlohmann/json.hpp>

#include "acerto/host/server_queries.h"
#include "acerto/host/services.h"
#include "acerto/settlement/acerto_final.h"
#include "bench_util.h"
#include "scripted_ui.h"
#include "server_process.h"
#include "test_host.h"

using namespace acerto;
using namespace acerto::settlement;
using nlohmann::json;

namespace {

constexpr int kProducts = 5000;
constexpr int kBudgets = 50000;

std::string padded(int i, const char* format) {
    char b[24];
    std::snprintf(b, sizeof b, format, i);
    return b;
}

json fixture() {
    json f;
    f["FILIAL"] = json::array({{{"CDFILIAL", "0001"}, {"NMFILIAL", "Bench"}}});
    f["PRECOBASE"] = json::array({{{"CDPRECOBASE", "01"}, {"DSPRECOBASE", "Tabela"}}});
    f["PRODUTO"] = json::array();
    f["ITEMPREBASE"] = json::array();
    for (int i = 0; i < kProducts; ++i) {
        std::string code = padded(i, "P%06d");
        f["PRODUTO"].push_back({{"CDPRODUTO", code},
                                {"CDARVPROD", padded(i, "1%05d")},
                                {"NMPRODUTO", "Produto " + std::to_string(i)},
                                {"SGUNIDADE", "UN"},
                                {"CDNVPRODUTO", "3"}});
        f["ITEMPREBASE"].push_back(
            {{"CDPRECOBASE", "01"}, {"CDPRODUTO", code}, {"DTINIVALIPB", "2026-01-01"}, {"VRITEPREBASE", 1 + i % 97}});
    }
    f["ORCAMENTO"] = json::array();
    for (int b = 1; b <= kBudgets; ++b)
        f["ORCAMENTO"].push_back({{"CDFILIAL", "0001"},
                                  {"NRORCAEVENTO", padded(b, "%010d")},
                                  {"NMFANTCLIE", "Evento"},
                                  {"IDTPORCAEVEN", b % 5 ? "O" : "E"},
                                  {"QTCONVORCEVE", 100},
                                  {"IDTPCOBRVREXTRA", "P"}});
    f["ACERTO"] = json::array({{{"CDFILIAL", "0001"},
                                {"NRORCAEVENTO", padded(1, "%010d")},
                                {"NRSEQORCAEVE", "00"},
                                {"DTACERTOOREV", "2026-12-07 10:00:00"},
                                {"CDOPERADOR", "BENCH"},
                                {"IDSITUACERTO", "P"},
                                {"CDPRBAQUEBRA", "01"},
                                {"NMPRECOQUEBR", "Tabela"},
                                {"IDTPVREXTRA", "P"}}});
    return f;
}

// Notes when the screen hands a list to the operator, and picks nothing.
class TimedUi : public test::ScriptedUi {
  public:
    std::chrono::steady_clock::time_point shown;
    std::size_t rows = 0;
    std::optional<int> pick_list(platform::DataSet& list, const std::string& title) override {
        shown = std::chrono::steady_clock::now();
        rows = static_cast<std::size_t>(list.record_count());
        return ScriptedUi::pick_list(list, title);
    }
};

// Notes what each read through the server takes, to tell its share of a figure.
class TimedQueries : public host::ServerQueries {
  public:
    std::vector<double> spent;
    platform::ResultSet query(const std::string& sql, const std::vector<platform::Variant>& params) override {
        auto t0 = std::chrono::steady_clock::now();
        platform::ResultSet rs = ServerQueries::query(sql, params);
        spent.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        return rs;
    }
};

double ms_between(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

}  // namespace

int main() {
    std::printf("reference reads through the server (in-process screen, acerto-server on loopback, %s)\n",
                test::using_postgres() ? "PostgreSQL" : "SQLite");
    std::string path = test::temp_dir() + "/reference_bench.json";
    std::ofstream(path) << fixture().dump();
    test::ServerProcess server(test::fresh_database(), path, {});
    TimedUi ui;
    TimedQueries reference;
    host::Services services;
    services.config.branch = "0001";
    services.config.clock = platform::DateTime::parse_iso("2026-12-07 09:30:00");
    test::install_signed_in(services, ui, reference, server.port(), "BENCH");
    Initialize();
    CriaAcertoFinal();
    TfrmAcertoFinal& f = *frmAcertoFinal;
    f.medCdFilial.set_focus();
    f.medCdFilial.set_text("0001");
    f.edtNrOrcamento.set_focus();
    f.edtNrOrcamento.set_text(padded(1, "%010d"));
    f.dbgPadrao.set_focus();
    if (f.cdsAcerto.record_count() != 1 || f.dbePrQuebra.text() != "01") return 2;

    // 1. The product pick: a new line, its code column, the ellipsis.
    f.cdsQuebra.insert();
    f.dbgPadrao.select_field("CDARVPROD");
    std::vector<double> pick;
    reference.spent.clear();
    for (int i = 0; i < 60; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f.ProdutoPesquisa(f.Quebra());
        if (ui.rows != kProducts) return 3;
        pick.push_back(ms_between(t0, ui.shown));
    }
    bench::report("product pick of 5,000 products: ellipsis to list shown", bench::figures_of(pick), 30);
    bench::report("  of which the read through the server", bench::figures_of(reference.spent));

    // 2. The product check on leaving the code cell of a line being edited.
    std::vector<double> check;
    for (int i = 0; i < 500; ++i) {
        f.cdsQuebra.field("CDARVPROD").set_as_string(padded(i * 7 % kProducts, "1%05d"));
        auto t0 = std::chrono::steady_clock::now();
        f.Vd_ProdQuebra(false);
        check.push_back(ms_between(t0, std::chrono::steady_clock::now()));
        if (f.cdsQuebra.field("NMPRODUTO").as_string().empty()) return 4;
    }
    bench::report("product check on leaving a code cell (two reads)", bench::figures_of(check), 1);
    f.cdsQuebra.cancel();

    // 3. The number search of the branch's 50,000 budgets.
    f.medCdFilial.set_focus();
    std::vector<double> search;
    for (int i = 0; i < 15; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f.btnNrOrcamento.click();
        if (ui.rows != kBudgets) return 5;
        search.push_back(ms_between(t0, ui.shown));
    }
    bench::report("number search of 50,000 budgets: button to list shown", bench::figures_of(search), 300);

    Finalize();
    host::install(nullptr);
    return 0;
}
