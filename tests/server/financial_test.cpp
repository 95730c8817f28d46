// The financial update and its cancellation, on a real database (SQLite, or PostgreSQL with
// ACERTO_TEST_PG): amounts, titles, refusals in their order, failures half-way, concurrency.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include <nlohmann/json.hpp>

#include "acerto/host/consiste.h"
#include "acerto/host/net_connection.h"
#include "acerto/platform/client_dataset.h"
#include "acerto/platform/refusal_keys.h"
#include "acerto/server/fault.h"
#include "acerto/server/fixture.h"
#include "acerto/server/module.h"
#include "server_process.h"

using namespace acerto;
using namespace acerto::server;
using nlohmann::json;
using platform::DateTime;
using Args = Variant::Array;

namespace {

const std::string kAlreadyUpdated(refusal::kFinancialAlreadyUpdatedText);

json line(const char* table, const std::string& number, int nr, json values) {
    static const std::map<std::string, std::string> key = {{"ACERTOQUEBRA", "NRACERTOQUEB"},
                                                           {"ACERTOSOBRA", "NRACERTOSOBR"},
                                                           {"ACERTOHREXTRA", "NRACERTOHREX"},
                                                           {"ACERTOEXTRA", "NRACERTOEXTR"}};
    char nr_text[8];
    std::snprintf(nr_text, sizeof nr_text, "%04d", nr);
    values["CDFILIAL"] = "0001";
    values["NRORCAEVENTO"] = number;
    values[key.at(table)] = nr_text;
    return values;
}

// Branch 0001 with every parameter; budgets 1.. of client CLI1 (supplier FCLI), each with a
// pending settlement, charging as given.
json base_fixture(const std::vector<std::string>& charging) {
    json f;
    f["FILIAL"] = {{{"CDFILIAL", "0001"}, {"CDEMPRESA", "01"}, {"CDSERIE", "1"}},
                   {{"CDFILIAL", "0002"}, {"CDEMPRESA", "01"}, {"CDSERIE", "2"}}};
    f["EMPRESA"] = {{{"CDEMPRESA", "01"}, {"NRINSCESTA", "110.042.490.114"}}, {{"CDEMPRESA", "02"}}};
    f["FORNECEDOR"] = {{{"CDFORNECEDOR", "FCLI"}}, {{"CDFORNECEDOR", "FHORA"}}};
    f["CLIENTE"] = {{{"CDCLIENTE", "CLI1"}, {"CDFORNECEDOR", "FCLI"}}};
    f["TIPOOPER"] = {{{"CDTIPOOPER", "001"}, {"CDTPCTREC", "05"}}, {{"CDTIPOOPER", "101"}, {"CDTPCTPAG", "07"}}};
    f["PARAMETRO"] = {{{"CDFILIAL", "0001"},
                       {"CDTIPOOPER", "001"},
                       {"CDTIPOOPERPAG", "101"},
                       {"CDSERIEENTR", "E1"},
                       {"CDFORNPADORC", "FHORA"},
                       {"CDAJCTRECSOB", "SOB"}}};
    f["ORCAMENTO"] = json::array();
    f["ACERTO"] = json::array();
    for (std::size_t i = 0; i < charging.size(); ++i) {
        std::string nr = "000000000" + std::to_string(i + 1);
        f["ORCAMENTO"].push_back({{"CDFILIAL", "0001"},
                                  {"NRORCAEVENTO", nr},
                                  {"CDEMPRESA", "01"},
                                  {"CDCLIENTE", "CLI1"},
                                  {"IDTPCOBRVREXTRA", charging[i]}});
        f["ACERTO"].push_back({{"CDFILIAL", "0001"},
                               {"NRORCAEVENTO", nr},
                               {"IDSITUACERTO", "P"},
                               {"IDTPVREXTRA", "P"},
                               {"QTCONVEXTRAACER", 0},
                               {"VRCONVEXTRAACER", 0}});
    }
    return f;
}

const char* const kFirst = "0000000001";

Variant budget_packet(const std::string& number, const std::string& branch = "0001") {
    auto p = std::make_shared<platform::DataPacket>(std::vector<platform::FieldDef>{
        {"CDFILIAL", platform::FieldType::String, 4}, {"NRORCAEVENTO", platform::FieldType::String, 10}});
    p->rows().push_back({Variant(branch), Variant(number)});
    return Variant(std::shared_ptr<const platform::DataPacket>(p));
}

// The text a call was refused with, or "(accepted)".
template <typename F>
std::string refusal_of(F&& f) {
    try {
        f();
    } catch (const Refusal& r) {
        return r.what();
    }
    return "(accepted)";
}

class Financial : public ::testing::Test {
  protected:
    void load(const json& fixture) {
        db_ = Database::open(test::fresh_database());
        db_->ensure_schema();
        load_fixture(*db_, fixture);
        module_ = std::make_unique<AcertoModule>(*db_, Clock{DateTime::parse_iso("2026-12-07 10:00:00")});
    }
    Variant update(const std::string& number = kFirst, const char* situation = "P") {
        return module_->call("Gera_Financeiro", {budget_packet(number), Variant(situation), Variant("ANA")});
    }
    Variant cancel(const std::string& number = kFirst) {
        return module_->call("Cancelar_Acerto", {Variant("0001"), Variant(number), Variant("00"), Variant("BETO")});
    }
    void sql(const std::string& statement) { db_->session().execute(statement); }
    double scalar(const std::string& query) {
        auto rs = db_->session().query(query);
        return rs.rows.empty() || rs.rows[0][0].is_null() ? -1 : rs.rows[0][0].as_number();
    }
    std::string situation(const std::string& number = kFirst) {
        return db_->session()
            .query("SELECT IDSITUACERTO FROM ACERTO WHERE NRORCAEVENTO = ?", {Variant(number)})
            .rows.at(0)[0]
            .as_string();
    }
    long long live(const char* table) {
        return static_cast<long long>(scalar(std::string("SELECT COUNT(*) FROM ") + table + " WHERE DTCANCEL IS NULL"));
    }
    long long titles() {
        return static_cast<long long>(scalar("SELECT COUNT(*) FROM CONTARECEBER") +
                                      scalar("SELECT COUNT(*) FROM CONTAPAGAR"));
    }

    std::unique_ptr<Database> db_;
    std::unique_ptr<AcertoModule> module_;
};

TEST_F(Financial, EachLineIsValuedAsItsGridValuesItAndTheTitlesCarryTheParameters) {
    json f = base_fixture({"P"});
    f["ACERTOQUEBRA"] = {
        line("ACERTOQUEBRA", kFirst, 1,
             {{"QTACERTOQUEB", 3}, {"VRACERTOQUEB", 8.126}, {"VRACREACEQUE", 1.5}, {"VRDESCACEQUE", 0.5}})};
    f["ACERTOSOBRA"] = {
        line("ACERTOSOBRA", kFirst, 1,
             {{"QTRESACERSOB", 10}, {"QTEXTACERSOB", 2}, {"QTORCACERSOB", 3}, {"VRACERTOSOBR", 1.004}})};
    f["ACERTOHREXTRA"] = {line("ACERTOHREXTRA", kFirst, 1, {{"QTACERTOHREX", 2.5}, {"VRACERTOHREX", 35.555}})};
    f["ACERTOEXTRA"] = {line("ACERTOEXTRA", kFirst, 1, {{"QTACERTOEXTR", 3}, {"VRACERTOEXTR", 4.005}})};
    load(f);
    // 8.13 × 3 + 1.5 − 0.5 = 25.39; 9 × 1.004 = 9.036; 2.5 × 35.56 = 88.9; 3 × 4.01 = 12.03.
    Variant header = update();
    EXPECT_EQ(header.packet()->value(header.packet()->rows().at(0), "IDSITUACERTO").as_string(), "F");
    auto r = db_->session().query(
        "SELECT NRTITULO, CDCLIENTE, NRORCAEVENTO, NRSEQORCAEVE, CDTIPOOPER, CDTPCTREC, CDSERIE, VRTITULO, CDAJUSTE, "
        "DTEMISSAO, CDOPERADOR FROM CONTARECEBER");
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0].as_string() + r.rows[0][1].as_string() + r.rows[0][2].as_string() +
                  r.rows[0][3].as_string() + r.rows[0][4].as_string() + r.rows[0][5].as_string() +
                  r.rows[0][6].as_string(),
              "0000000001CLI1000000000100001051");
    EXPECT_DOUBLE_EQ(r.rows[0][7].as_number(), 135.36);
    EXPECT_TRUE(r.rows[0][8].is_null());
    EXPECT_EQ(r.rows[0][9].as_string().substr(0, 19), "2026-12-07 10:00:00");
    EXPECT_EQ(r.rows[0][10].as_string(), "ANA");
    auto p =
        db_->session().query("SELECT NRTITULO, CDFORNECEDOR, CDTIPOOPER, CDTPCTPAG, CDSERIE, VRTITULO FROM CONTAPAGAR");
    ASSERT_EQ(p.rows.size(), 1u);
    EXPECT_EQ(p.rows[0][0].as_string() + p.rows[0][1].as_string() + p.rows[0][2].as_string() +
                  p.rows[0][3].as_string() + p.rows[0][4].as_string(),
              "0000000001FHORA10107E1");
    EXPECT_DOUBLE_EQ(p.rows[0][5].as_number(), 88.9);
}

TEST_F(Financial, LeftoversOwedToTheClientAdjustTheReceivableOrBecomeAPayable) {
    json f = base_fixture({"P", "P"});
    f["ACERTOQUEBRA"] = {line("ACERTOQUEBRA", kFirst, 1, {{"QTACERTOQUEB", 1}, {"VRACERTOQUEB", 100}})};
    f["ACERTOSOBRA"] = {
        line("ACERTOSOBRA", kFirst, 1, {{"QTRESACERSOB", 0}, {"QTORCACERSOB", 5}, {"VRACERTOSOBR", 3.002}}),
        line("ACERTOSOBRA", "0000000002", 1, {{"QTRESACERSOB", 2}, {"QTORCACERSOB", 7}, {"VRACERTOSOBR", 3}})};
    load(f);
    update();
    // 100 less 15.01 of leftovers: a title of 100 with an adjustment, netting to 84.99.
    auto r = db_->session().query("SELECT VRTITULO, CDAJUSTE, VRAJUSTE FROM CONTARECEBER");
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_DOUBLE_EQ(r.rows[0][0].as_number(), 100);
    EXPECT_EQ(r.rows[0][1].as_string(), "SOB");
    EXPECT_DOUBLE_EQ(r.rows[0][2].as_number(), -15.01);
    // Only leftovers owed: no receivable, a payable of 15 to the client's supplier.
    update("0000000002");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM CONTARECEBER"), 1);
    EXPECT_EQ(scalar("SELECT VRTITULO FROM CONTAPAGAR WHERE CDFORNECEDOR = 'FCLI' AND NRORCAEVENTO = '0000000002'"),
              15);
}

TEST_F(Financial, ExtrasArePerPersonOrPerProductAsTheBudgetIsConfigured) {
    // Budget S with the header saying P (as the screen stores it), D with S, D with P, P with S.
    json f = base_fixture({"S", "D", "D", "P"});
    for (int i = 0; i < 4; ++i) {
        std::string nr = "000000000" + std::to_string(i + 1);
        f["ACERTO"][i]["QTCONVEXTRAACER"] = 4;
        f["ACERTO"][i]["VRCONVEXTRAACER"] = 25.5;
        f["ACERTO"][i]["IDTPVREXTRA"] = i == 0 || i == 2 ? "P" : "S";
        f["ACERTOEXTRA"].push_back(line("ACERTOEXTRA", nr, 1, {{"QTACERTOEXTR", 2}, {"VRACERTOEXTR", 7}}));
    }
    load(f);
    const double expected[] = {102, 102, 14, 14};
    for (int i = 0; i < 4; ++i) {
        std::string nr = "000000000" + std::to_string(i + 1);
        update(nr);
        EXPECT_EQ(scalar("SELECT VRTITULO FROM CONTARECEBER WHERE NRORCAEVENTO = '" + nr + "'"), expected[i]) << nr;
    }
}

TEST_F(Financial, OnlyOvertimeOrNothingToCharge) {
    json f = base_fixture({"P", "P"});
    f["ACERTOHREXTRA"] = {line("ACERTOHREXTRA", kFirst, 1, {{"QTACERTOHREX", 2}, {"VRACERTOHREX", 40}})};
    f["ACERTO"][1]["IDSITUACERTO"] = "E";
    load(f);
    update();
    EXPECT_EQ(scalar("SELECT VRTITULO FROM CONTARECEBER"), 80);
    EXPECT_EQ(scalar("SELECT VRTITULO FROM CONTAPAGAR WHERE CDFORNECEDOR = 'FHORA'"), 80);
    // No line at all: no title, and stock updated becomes both updated.
    update("0000000002", "E");
    EXPECT_EQ(titles(), 2);
    EXPECT_EQ(situation("0000000002"), "T");
    // Its cancel has no title to cancel, yet gives the settlement back.
    cancel("0000000002");
    EXPECT_EQ(situation("0000000002"), "E");
}

TEST_F(Financial, RefusalsComeInTheirOrderAndWriteNothing) {
    json f = base_fixture({"P", "P", "P"});
    // 1: receivable due with leftovers owed; 2: the client owed; 3: overtime due.
    f["ACERTOQUEBRA"] = {line("ACERTOQUEBRA", kFirst, 1, {{"QTACERTOQUEB", 1}, {"VRACERTOQUEB", 50}})};
    f["ACERTOSOBRA"] = {line("ACERTOSOBRA", kFirst, 1, {{"QTORCACERSOB", 1}, {"VRACERTOSOBR", 5}}),
                        line("ACERTOSOBRA", "0000000002", 1, {{"QTORCACERSOB", 1}, {"VRACERTOSOBR", 5}})};
    f["ACERTOHREXTRA"] = {line("ACERTOHREXTRA", "0000000003", 1, {{"QTACERTOHREX", 1}, {"VRACERTOHREX", 30}})};
    f["ACERTO"][0]["IDSITUACERTO"] = "F";
    f["ORCAMENTO"][0].erase("CDEMPRESA");
    f["EMPRESA"][0].erase("NRINSCESTA");
    f["FILIAL"][0].erase("CDSERIE");
    f["PARAMETRO"] = {{{"CDFILIAL", "0001"}}};
    f["TIPOOPER"] = json::array();
    f["CLIENTE"][0].erase("CDFORNECEDOR");
    load(f);
    // Each refusal in turn, then the fix that lets the next one show.
    const std::vector<std::pair<std::string, std::string>> first = {
        {kAlreadyUpdated, "UPDATE ACERTO SET IDSITUACERTO = 'P'"},
        {"N_PARAM_CDEMPRESAORCA", "UPDATE ORCAMENTO SET CDEMPRESA = '02'"},
        {"N_PARAM_EMPRESARELAC", "UPDATE ORCAMENTO SET CDEMPRESA = '01'"},
        {"N_PARAM_NRINSCESTA", "UPDATE EMPRESA SET NRINSCESTA = '1'"},
        {"N_PARAM_TIPOOPER", "UPDATE PARAMETRO SET CDTIPOOPER = '001'"},
        {"N_PARAM_TPCTREC|001", "INSERT INTO TIPOOPER (CDTIPOOPER, CDTPCTREC) VALUES ('001', '05')"},
        {"N_PARAM_SERIE|0001", "UPDATE FILIAL SET CDSERIE = '1'"},
        {"N_PARAM_AJCTRECSOB", "UPDATE PARAMETRO SET CDAJCTRECSOB = 'SOB'"},
    };
    for (const auto& [text, fix] : first) {
        EXPECT_EQ(refusal_of([&] { update(kFirst, "P"); }), text);
        EXPECT_EQ(titles(), 0);
        sql(fix);
    }
    update();
    const std::vector<std::pair<std::string, std::string>> owed = {
        {"N_PARAM_FORN_N_CLIE", "UPDATE CLIENTE SET CDFORNECEDOR = 'FCLI'"},
        {"N_PARAM_TIPOOPERPAG", "UPDATE PARAMETRO SET CDTIPOOPERPAG = '101'"},
        {"N_PARAM_TPCTPAG|101", "INSERT INTO TIPOOPER (CDTIPOOPER, CDTPCTPAG) VALUES ('101', '07')"},
        {"N_PARAM_SERIEENTR", "UPDATE PARAMETRO SET CDSERIEENTR = 'E1'"},
    };
    for (const auto& [text, fix] : owed) {
        EXPECT_EQ(refusal_of([&] { update("0000000002"); }), text);
        sql(fix);
    }
    update("0000000002");
    // Overtime: receivable 30, then no default supplier (also one that names nobody).
    sql("UPDATE PARAMETRO SET CDFORNPADORC = 'NINGUEM'");
    EXPECT_EQ(refusal_of([&] { update("0000000003"); }), "N_PARAM_CDFORNPADORC");
    EXPECT_EQ(situation("0000000003"), "P");
    EXPECT_EQ(titles(), 2);
    sql("UPDATE PARAMETRO SET CDFORNPADORC = 'FHORA'");
    update("0000000003");
    EXPECT_EQ(titles(), 4);
    // The situation sent by the screen is not believed.
    EXPECT_EQ(refusal_of([&] { update("0000000003", "P"); }), kAlreadyUpdated);
}

TEST_F(Financial, UpdateCancelUpdateKeepsOneLiveSetAndCancelledTitlesAreMarked) {
    json f = base_fixture({"P"});
    f["ACERTOHREXTRA"] = {line("ACERTOHREXTRA", kFirst, 1, {{"QTACERTOHREX", 2}, {"VRACERTOHREX", 40}})};
    load(f);
    update();
    Variant header = cancel();
    EXPECT_EQ(header.packet()->value(header.packet()->rows().at(0), "IDSITUACERTO").as_string(), "P");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM CONTARECEBER WHERE DTCANCEL IS NOT NULL AND CDOPERCANC = 'BETO'"), 1);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM CONTAPAGAR WHERE DTCANCEL IS NOT NULL AND CDOPERCANC = 'BETO'"), 1);
    cancel();  // nothing live: nothing changes, no error
    EXPECT_EQ(situation(), "P");
    update();
    EXPECT_EQ(live("CONTARECEBER"), 1);
    EXPECT_EQ(live("CONTAPAGAR"), 1);
    EXPECT_EQ(titles(), 4);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM CONTARECEBER WHERE DTCANCEL IS NULL AND NRTITULO = '0000000002'"), 1);
}

TEST_F(Financial, PaidTitlesAndSharedSlipsAreNotCancelledReceivablesFirst) {
    json f = base_fixture({"P", "P"});
    f["ACERTOHREXTRA"] = {line("ACERTOHREXTRA", kFirst, 1, {{"QTACERTOHREX", 2}, {"VRACERTOHREX", 40}}),
                          line("ACERTOHREXTRA", "0000000002", 1, {{"QTACERTOHREX", 1}, {"VRACERTOHREX", 40}})};
    load(f);
    update();
    update("0000000002");
    auto refused_with = [&](const std::string& change, const std::string& text) {
        sql(change);
        EXPECT_EQ(refusal_of([&] { cancel(); }), text) << change;
        EXPECT_EQ(situation(), "F");
        EXPECT_EQ(live("CONTARECEBER") + live("CONTAPAGAR"), 4);
    };
    refused_with("UPDATE CONTAPAGAR SET DTBAIXA = '2026-12-08' WHERE NRORCAEVENTO = '0000000001'",
                 "N_PARAM_CONTABAIXADA");
    refused_with("UPDATE CONTARECEBER SET DTBAIXA = '2026-12-08' WHERE NRORCAEVENTO = '0000000001'",
                 "N_PARAM_CONTARECBAIXADA");
    sql("UPDATE CONTARECEBER SET DTBAIXA = NULL");
    sql("UPDATE CONTAPAGAR SET DTBAIXA = NULL");
    refused_with("UPDATE CONTAPAGAR SET NRBOLETO = 'B7'", "N_PARAM_BOL_N_CONTAS");
    refused_with("UPDATE CONTARECEBER SET NRBOLETO = 'B7'", "N_PARAM_BOLREC_N_CONTAS");
    // A slip shared only with this settlement's titles, or with cancelled ones, is no obstacle.
    sql("UPDATE CONTARECEBER SET NRBOLETO = NULL WHERE NRORCAEVENTO = '0000000002'");
    sql("UPDATE CONTAPAGAR SET DTCANCEL = '2026-12-08' WHERE NRORCAEVENTO = '0000000002'");
    cancel();
    EXPECT_EQ(situation(), "P");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM CONTARECEBER WHERE DTCANCEL IS NULL AND NRORCAEVENTO = '0000000001'"), 0);
    EXPECT_EQ(live("CONTARECEBER"), 1);  // the other settlement's
}

TEST_F(Financial, AStaleScreenNeitherChangesLinesNorGetsASecondSet) {
    json f = base_fixture({"P"});
    f["ACERTOQUEBRA"] = {
        line("ACERTOQUEBRA", kFirst, 1, {{"QTACERTOQUEB", 1}, {"VRACERTOQUEB", 50}, {"NRSEQORCAEVE", "00"}})};
    load(f);
    Variant loaded = module_->call("GetOrcamento", {Variant("0001"), Variant(kFirst)});
    update();
    platform::ClientDataSet quebra("cdsQuebra");
    quebra.set_data(loaded.array()[1]);
    quebra.edit();
    quebra["QTACERTOQUEB"].set_as_float(9);
    quebra.post();
    EXPECT_EQ(refusal_of([&] {
                  module_->call("SetConfirmar", {Variant(), quebra.delta(), Variant(), Variant(), Variant()});
              }),
              "Acerto não pode ser alterado. Financeiro já foi atualizado.");
    EXPECT_EQ(refusal_of([&] { update(); }), kAlreadyUpdated);
    EXPECT_EQ(scalar("SELECT QTACERTOQUEB FROM ACERTOQUEBRA"), 1);
    EXPECT_EQ(titles(), 1);
}

TEST_F(Financial, ASaveWaitsForAnUpdateInProgressAndIsThenRefused) {
    if (!test::using_postgres()) GTEST_SKIP() << "PostgreSQL row locks (SQLite has one writer)";
    json f = base_fixture({"P"});
    f["ACERTOQUEBRA"] = {line("ACERTOQUEBRA", kFirst, 1, {{"QTACERTOQUEB", 1}, {"VRACERTOQUEB", 50}})};
    load(f);
    platform::ClientDataSet quebra("cdsQuebra");
    quebra.set_data(module_->call("GetOrcamento", {Variant("0001"), Variant(kFirst)}).array()[1]);
    quebra.edit();
    quebra["QTACERTOQUEB"].set_as_float(9);
    quebra.post();
    // Another server's update holds the header; the save must wait for it, then see "F".
    auto updater = db_->connect();
    Transaction tx(*updater);
    updater->query("SELECT 1 FROM ACERTO WHERE CDFILIAL = '0001' FOR UPDATE");
    std::atomic<bool> finished{false};
    std::string result;
    std::thread saver([&] {
        result = refusal_of([&] {
            module_->call("SetConfirmar", {Variant(), quebra.delta(), Variant(), Variant(), Variant()});
        });
        finished = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(finished);
    updater->execute("UPDATE ACERTO SET IDSITUACERTO = 'F'");
    tx.commit();
    saver.join();
    EXPECT_EQ(result, "Acerto não pode ser alterado. Financeiro já foi atualizado.");
    EXPECT_EQ(scalar("SELECT QTACERTOQUEB FROM ACERTOQUEBRA"), 1);
}

TEST_F(Financial, TwoSavesOfOneHeaderWaitForEachOtherInsteadOfDeadlocking) {
    if (!test::using_postgres()) GTEST_SKIP() << "PostgreSQL row locks (SQLite has one writer)";
    load(base_fixture({"D"}));
    // Two screens loaded the settlement; each changes the extra persons in its header.
    auto header_change = [&](double persons) {
        platform::ClientDataSet acerto("cdsAcerto");
        acerto.set_data(module_->call("GetOrcamento", {Variant("0001"), Variant(kFirst)}).array()[0]);
        acerto.edit();
        acerto["QTCONVEXTRAACER"].set_as_float(persons);
        acerto.post();
        return acerto.delta();
    };
    const Variant first = header_change(5), second = header_change(7);
    // A reader holds the header shared while both saves start, so that they reach the header
    // together once it lets go.
    auto reader = db_->connect();
    Transaction held(*reader);
    reader->query("SELECT 1 FROM ACERTO WHERE CDFILIAL = '0001' FOR SHARE");
    std::vector<std::string> outcome(2);
    std::vector<std::thread> savers;
    for (int i = 0; i < 2; ++i)
        savers.emplace_back([&, i] {
            try {
                module_->call("SetConfirmar", {i == 0 ? first : second, Variant(), Variant(), Variant(), Variant()});
                outcome[i] = "(accepted)";
            } catch (const Refusal& r) {
                outcome[i] = r.what();
            } catch (const std::exception& e) {
                outcome[i] = std::string("(failed) ") + e.what();
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    held.commit();
    for (auto& t : savers) t.join();
    // One save lands; the other waited for it and is refused as stale, not as a deadlock.
    const int winner = outcome[0] == "(accepted)" ? 0 : 1;
    EXPECT_EQ(outcome[winner], "(accepted)") << outcome[0] << " / " << outcome[1];
    EXPECT_NE(outcome[1 - winner].find("alterado por outro usuário"), std::string::npos) << outcome[1 - winner];
    EXPECT_EQ(scalar("SELECT QTCONVEXTRAACER FROM ACERTO"), winner == 0 ? 5 : 7);
}

TEST_F(Financial, WhatTheCallsCarryIsChecked) {
    load(base_fixture({"P"}));
    auto delta = std::make_shared<platform::DataPacket>();
    delta->set_delta(true);
    EXPECT_NE(refusal_of([&] {
                  module_->call("Gera_Financeiro", {Variant(std::shared_ptr<const platform::DataPacket>(delta)),
                                                    Variant("P"), Variant("ANA")});
              }).find("pacote de dados"),
              std::string::npos);
    auto empty = std::make_shared<platform::DataPacket>(
        std::vector<platform::FieldDef>{{"CDFILIAL", platform::FieldType::String, 4}});
    EXPECT_NE(refusal_of([&] {
                  module_->call("Gera_Financeiro", {Variant(std::shared_ptr<const platform::DataPacket>(empty)),
                                                    Variant("P"), Variant("ANA")});
              }).find("CDFILIAL e NRORCAEVENTO"),
              std::string::npos);
    EXPECT_NE(refusal_of([&] {
                  module_->call("Gera_Financeiro", {budget_packet(kFirst), Variant("P"), Variant("OPERADORLONGO")});
              }).find("longo demais"),
              std::string::npos);
    EXPECT_NE(refusal_of([&] { update("0000000099"); }).find("não está cadastrado"), std::string::npos);
    EXPECT_NE(refusal_of([&] { cancel("0000000099"); }).find("não está gravado"), std::string::npos);
    EXPECT_NE(refusal_of([&] { module_->call("Cancelar_Acerto", {Variant("0001")}); }).find("argumento"),
              std::string::npos);
    EXPECT_EQ(titles(), 0);
}

TEST_F(Financial, AFailureAtAnyStatementLeavesNoTitleAndTheSituationUnchanged) {
    json f = base_fixture({"P"});
    f["ACERTOQUEBRA"] = {line("ACERTOQUEBRA", kFirst, 1, {{"QTACERTOQUEB", 1}, {"VRACERTOQUEB", 50}})};
    f["ACERTOSOBRA"] = {line("ACERTOSOBRA", kFirst, 1, {{"QTORCACERSOB", 1}, {"VRACERTOSOBR", 5}})};
    f["ACERTOHREXTRA"] = {line("ACERTOHREXTRA", kFirst, 1, {{"QTACERTOHREX", 1}, {"VRACERTOHREX", 30}})};
    load(f);
    FaultInjectingDatabase faulty(*db_);
    AcertoModule m(faulty);
    auto attempt = [&](const char* method, Args args, const std::string& before) {
        for (long long n = 1;; ++n) {
            faulty.fail_statement(n);
            try {
                m.call(method, args);
                return n;
            } catch (const StorageError&) {
                EXPECT_EQ(situation(), before) << method << " failing at " << n;
                EXPECT_EQ(live("CONTARECEBER") + live("CONTAPAGAR"), before == "P" ? 0 : 2) << n;
            }
        }
    };
    EXPECT_GT(attempt("Gera_Financeiro", {budget_packet(kFirst), Variant("P"), Variant("ANA")}, "P"), 8);
    EXPECT_EQ(live("CONTARECEBER") + live("CONTAPAGAR"), 2);
    EXPECT_GT(attempt("Cancelar_Acerto", {Variant("0001"), Variant(kFirst), Variant("00")}, "F"), 4);
    EXPECT_EQ(situation(), "P");
    EXPECT_EQ(live("CONTARECEBER") + live("CONTAPAGAR"), 0);
}

TEST_F(Financial, OperatorsAtOnceGetOneSetAndTitlesNumberedPerBranch) {
    json f = base_fixture({"P", "P", "P", "P"});
    for (int i = 1; i <= 4; ++i)
        f["ACERTOHREXTRA"].push_back(
            line("ACERTOHREXTRA", "000000000" + std::to_string(i), 1, {{"QTACERTOHREX", i}, {"VRACERTOHREX", 10}}));
    f["CONTARECEBER"] = {{{"CDFILIAL", "0001"}, {"NRTITULO", "0000000041"}},
                         {{"CDFILIAL", "0002"}, {"NRTITULO", "0000000900"}},
                         {{"CDFILIAL", "0001"}, {"NRTITULO", "77"}}};
    load(f);
    // Eight operators on the first settlement, and one on each of the others, all at once.
    std::atomic<int> ready{0}, done{0}, refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 11; ++t)
        threads.emplace_back([&, t] {
            std::string nr = "000000000" + std::to_string(t < 8 ? 1 : t - 6);
            ++ready;
            while (ready < 11) std::this_thread::yield();
            try {
                update(nr);
                ++done;
            } catch (const Refusal& r) {
                if (r.what() == kAlreadyUpdated) ++refused;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(done, 4);
    EXPECT_EQ(refused, 7);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM CONTARECEBER WHERE NRORCAEVENTO = '0000000001'"), 1);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM CONTAPAGAR WHERE NRORCAEVENTO = '0000000001'"), 1);
    // Branch 0001 numbers on from its highest ten-digit number; distinct under concurrency.
    EXPECT_EQ(scalar("SELECT COUNT(DISTINCT NRTITULO) FROM CONTARECEBER WHERE CDFILIAL = '0001' AND LENGTH(NRTITULO) = "
                     "10 AND NRTITULO > '0000000041'"),
              4);
    EXPECT_EQ(scalar("SELECT MAX(NRTITULO) FROM CONTARECEBER WHERE CDFILIAL = '0001' AND LENGTH(NRTITULO) = 10"), 45);
    EXPECT_EQ(scalar("SELECT MAX(NRTITULO) FROM CONTAPAGAR"), 4);
}

TEST(FinancialServer, TwoOperatorsThroughTheServerUpdateAndCancelAtOnce) {
    std::string fixture = test::temp_dir() + "/financial.json";
    json f = base_fixture({"P"});
    f["ACERTOHREXTRA"] = {line("ACERTOHREXTRA", kFirst, 1, {{"QTACERTOHREX", 2}, {"VRACERTOHREX", 40}})};
    std::ofstream(fixture) << f.dump();
    std::string db = test::fresh_database();
    test::ServerProcess server(db, fixture, {"--threads", "8"});
    // Rounds of two operators updating at once, then two cancelling at once.
    for (int round = 0; round < 5; ++round) {
        for (const char* method : {"Gera_Financeiro", "Cancelar_Acerto"}) {
            std::atomic<int> ok{0}, ready{0};
            std::vector<std::string> errors(2);
            std::vector<std::thread> ops;
            for (int i = 0; i < 2; ++i)
                ops.emplace_back([&, i] {
                    host::TNetConnection net;
                    net.ServerName = kModuleName;
                    net.Host = "127.0.0.1";
                    net.Port = server.port();
                    net.Token = test::token_for(server.port(), "ANA");
                    net.Open();
                    Args args = std::string(method) == "Gera_Financeiro"
                                    ? Args{budget_packet(kFirst), Variant("P"), Variant("ANA")}
                                    : Args{Variant("0001"), Variant(kFirst), Variant("00")};
                    ++ready;
                    while (ready < 2) std::this_thread::yield();
                    host::ServerReply r = net.Call(method, args);
                    if (r.ok)
                        ++ok;
                    else
                        errors[i] = r.error;
                });
            for (auto& t : ops) t.join();
            if (std::string(method) == "Gera_Financeiro") {
                EXPECT_EQ(ok, 1);
                EXPECT_EQ(errors[0] + errors[1], kAlreadyUpdated);
            } else {
                EXPECT_EQ(ok, 2);  // the second finds nothing live: not an error
            }
        }
    }
    auto store = Database::open(db);
    Session& s = store->session();
    EXPECT_EQ(s.query("SELECT COUNT(*) FROM CONTARECEBER").rows[0][0].as_number(), 5);
    EXPECT_EQ(s.query("SELECT COUNT(*) FROM CONTARECEBER WHERE DTCANCEL IS NULL").rows[0][0].as_number(), 0);
    EXPECT_EQ(s.query("SELECT COUNT(*) FROM CONTAPAGAR WHERE DTCANCEL IS NOT NULL").rows[0][0].as_number(), 5);
}

TEST(FinancialSchema, AVersionOneDatabaseIsUpgradedWithItsParametersKept) {
    auto db = Database::open(test::fresh_database());
    Session& s = db->session();
    s.execute("CREATE TABLE SCHEMA_VERSION (VERSAO INTEGER NOT NULL)");
    s.execute("INSERT INTO SCHEMA_VERSION VALUES (1)");
    s.execute(
        "CREATE TABLE FILIAL (CDFILIAL VARCHAR(4) NOT NULL, NMFILIAL VARCHAR(50), CDEMPRESA VARCHAR(2), "
        "CDSERIE VARCHAR(5), PRIMARY KEY (CDFILIAL))");
    s.execute(
        "CREATE TABLE ORCAMENTO (CDFILIAL VARCHAR(4) NOT NULL, NRORCAEVENTO VARCHAR(10) NOT NULL, "
        "PRIMARY KEY (CDFILIAL, NRORCAEVENTO))");
    s.execute(
        "CREATE TABLE PARAMETRO (CDFILIAL VARCHAR(4) NOT NULL, CDPRBAREPMAT VARCHAR(2), CDTIPOOPER VARCHAR(3), "
        "CDTPCTREC VARCHAR(3), CDTIPOOPERPAG VARCHAR(3), CDTPCTPAG VARCHAR(3), CDSERIE VARCHAR(5), "
        "CDSERIEENTR VARCHAR(5), CDFORNPADORC VARCHAR(10), CDTIPORETI VARCHAR(3), CDAJCTRECSOB VARCHAR(3), "
        "PRIMARY KEY (CDFILIAL))");
    s.execute("INSERT INTO FILIAL (CDFILIAL) VALUES ('0001')");
    s.execute("INSERT INTO ORCAMENTO VALUES ('0001', '0000000001')");
    s.execute(
        "INSERT INTO PARAMETRO (CDFILIAL, CDPRBAREPMAT, CDTIPOOPER, CDTPCTREC, CDTIPOOPERPAG, CDTPCTPAG, CDSERIE) "
        "VALUES ('0001', '02', '001', '05', '101', '07', '9')");
    db->ensure_schema();
    EXPECT_EQ(s.query("SELECT VERSAO FROM SCHEMA_VERSION").rows[0][0].as_number(), kSchemaVersion);
    EXPECT_EQ(s.query("SELECT CDTPCTREC FROM TIPOOPER WHERE CDTIPOOPER = '001'").rows.at(0)[0].as_string(), "05");
    EXPECT_EQ(s.query("SELECT CDTPCTPAG FROM TIPOOPER WHERE CDTIPOOPER = '101'").rows.at(0)[0].as_string(), "07");
    EXPECT_EQ(s.query("SELECT CDSERIE FROM FILIAL").rows.at(0)[0].as_string(), "9");
    EXPECT_EQ(s.query("SELECT CDPRBAREPMAT FROM PARAMETRO").rows.at(0)[0].as_string(), "02");
    EXPECT_TRUE(s.query("SELECT CDEMPRESA FROM ORCAMENTO").rows.at(0)[0].is_null());
    EXPECT_THROW(s.query("SELECT CDTPCTREC FROM PARAMETRO"), StorageError);
}

TEST(FinancialDemo, TheDemoUpdatesCancelsAndShowsARefusal) {
    auto db = Database::open(test::fresh_database());
    db->ensure_schema();
    load_fixture(*db, demo_fixture());
    AcertoModule m(*db);
    m.call("Gera_Financeiro", {budget_packet("0000000102"), Variant("P"), Variant("ANA")});
    Session& s = db->session();
    EXPECT_EQ(s.query("SELECT VRTITULO FROM CONTARECEBER WHERE NRORCAEVENTO = '0000000102'").rows.at(0)[0].as_number(),
              1981.1);
    EXPECT_EQ(s.query("SELECT VRTITULO FROM CONTAPAGAR WHERE NRORCAEVENTO = '0000000102'").rows.at(0)[0].as_number(),
              369.6);
    m.call("Cancelar_Acerto", {Variant("0001"), Variant("0000000105"), Variant("00")});
    EXPECT_EQ(s.query("SELECT COUNT(*) FROM CONTARECEBER WHERE NRORCAEVENTO = '0000000105' AND DTCANCEL IS NOT NULL")
                  .rows[0][0]
                  .as_number(),
              1);
    EXPECT_EQ(refusal_of([&] {
                  m.call("Gera_Financeiro", {budget_packet("0000000302", "0002"), Variant("P"), Variant("ANA")});
              }),
              "N_PARAM_TIPOOPER");
}

}  // namespace
