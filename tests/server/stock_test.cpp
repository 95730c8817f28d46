// The stock withdrawal of a settlement's extras and its cancellation, through a real server
// process over a real database (SQLite, or PostgreSQL with ACERTO_TEST_PG): the postings and
// positions written, the three lists, the refusals, concurrent withdrawals, a failure at every
// statement and a crash half-way.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <nlohmann/json.hpp>

#include "acerto/host/consiste.h"
#include "acerto/host/errors.h"
#include "acerto/host/net_connection.h"
#include "acerto/platform/client_dataset.h"
#include "acerto/server/fault.h"
#include "acerto/server/fixture.h"
#include "acerto/server/module.h"
#include "server_process.h"

using namespace acerto;
using namespace acerto::server;
using nlohmann::json;
using platform::ClientDataSet;
using Args = Variant::Array;

namespace {

// The screen's catalogue texts the server answers with.
const std::string kExists = "Já existe retirada para o orçamento informado. Operação Bloqueada.";
const std::string kNone = "Não existe retirada para o orçamento informado. Operação bloqueada.";

std::string nr10(int n) {
    char b[16];
    std::snprintf(b, sizeof b, "%010d", n);
    return b;
}

json extra(const std::string& branch, const std::string& number, int line, const std::string& product,
           double quantity) {
    char nr[16];
    std::snprintf(nr, sizeof nr, "%04d", line);
    return {{"CDFILIAL", branch},  {"NRORCAEVENTO", number},     {"NRSEQORCAEVE", "00"},
            {"NRACERTOEXTR", nr},  {"CDARVPROD", "T" + product}, {"NMPRODUTO", "Nome " + product},
            {"SGUNIDADE", "UN"},   {"QTACERTOEXTR", quantity},   {"VRACERTOEXTR", 2.5},
            {"CDPRODUTO", product}};
}

// A budget with a stored settlement (unless `settled` is false).
void add_budget(json& f, const std::string& branch, const std::string& number, const char* charging,
                bool settled = true) {
    f["ORCAMENTO"].push_back(
        {{"CDFILIAL", branch}, {"NRORCAEVENTO", number}, {"IDTPORCAEVEN", "O"}, {"IDTPCOBRVREXTRA", charging}});
    if (settled)
        f["ACERTO"].push_back({{"CDFILIAL", branch},
                               {"NRORCAEVENTO", number},
                               {"IDSITUACERTO", "P"},
                               {"IDTPVREXTRA", "P"},
                               {"QTCONVEXTRAACER", 0},
                               {"VRCONVEXTRAACER", 0}});
}

// Branch 0001 has a withdrawal type, 0002 none. Products: P1 active, dispatched from the cellar
// (100; 999 more in another storeroom that is not its dispatch one); P2 inactive; P3 without a
// dispatch storeroom; P4 with 5 only; P5 active by default (no flag). In 0002 P1 has 30 and P5
// a storeroom but no position.
json stock_fixture() {
    json f;
    f["FILIAL"] = {{{"CDFILIAL", "0001"}}, {{"CDFILIAL", "0002"}}};
    f["PRODUTO"] = json::array();
    for (auto [code, active] : std::vector<std::pair<const char*, const char*>>{
             {"P1", "S"}, {"P2", "N"}, {"P3", "S"}, {"P4", "S"}, {"P5", nullptr}}) {
        json p = {{"CDPRODUTO", code},
                  {"CDARVPROD", std::string("T") + code},
                  {"NMPRODUTO", std::string("Nome ") + code},
                  {"CDNVPRODUTO", "3"}};
        if (active) p["IDATIVO"] = active;
        f["PRODUTO"].push_back(p);
    }
    f["ALMOXARIFADO"] = {{{"CDFILIAL", "0001"}, {"CDALMOXARIFE", "01"}, {"NMALMOXARIFE", "Expedição"}},
                         {{"CDFILIAL", "0001"}, {"CDALMOXARIFE", "02"}, {"NMALMOXARIFE", "Adega"}},
                         {{"CDFILIAL", "0002"}, {"CDALMOXARIFE", "01"}, {"NMALMOXARIFE", "Expedição"}}};
    f["PRODUTOALMOX"] = {{{"CDFILIAL", "0001"}, {"CDPRODUTO", "P1"}, {"CDALMOXARIFE", "02"}},
                         {{"CDFILIAL", "0001"}, {"CDPRODUTO", "P2"}, {"CDALMOXARIFE", "02"}},
                         {{"CDFILIAL", "0001"}, {"CDPRODUTO", "P4"}, {"CDALMOXARIFE", "02"}},
                         {{"CDFILIAL", "0001"}, {"CDPRODUTO", "P5"}, {"CDALMOXARIFE", "01"}},
                         {{"CDFILIAL", "0002"}, {"CDPRODUTO", "P1"}, {"CDALMOXARIFE", "01"}},
                         {{"CDFILIAL", "0002"}, {"CDPRODUTO", "P5"}, {"CDALMOXARIFE", "01"}}};
    auto pos = [](const char* b, const char* s, const char* p, double q) {
        return json{{"CDFILIAL", b}, {"CDALMOXARIFE", s}, {"CDPRODUTO", p}, {"QTPOSESTPROD", q}};
    };
    f["ESTOQUE"] = {pos("0001", "02", "P1", 100), pos("0001", "01", "P1", 999), pos("0001", "02", "P2", 50),
                    pos("0001", "02", "P4", 5),   pos("0001", "01", "P5", 40),  pos("0002", "01", "P1", 30)};
    f["PARAMETRO"] = {{{"CDFILIAL", "0001"}, {"CDTIPORETI", "01"}}, {{"CDFILIAL", "0002"}}};
    f["ORCAMENTO"] = json::array();
    f["ACERTO"] = json::array();
    f["ACERTOEXTRA"] = json::array();
    auto lines = [&](const std::string& branch, int n, const char* charging,
                     std::vector<std::pair<const char*, double>> items) {
        add_budget(f, branch, nr10(n), charging);
        int line = 0;
        for (auto [p, q] : items) f["ACERTOEXTRA"].push_back(extra(branch, nr10(n), ++line, p, q));
    };
    lines("0001", 1, "D", {{"P1", 10}, {"P5", 3}, {"P1", 5}});                        // withdraws
    lines("0001", 2, "P", {{"P2", 1}});                                               // inactive
    lines("0001", 3, "P", {{"P3", 2}});                                               // without storeroom
    lines("0001", 4, "P", {{"P4", 4}, {"P4", 2}});                                    // short: 6 of 5
    lines("0001", 5, "P", {{"P4", 6}, {"P3", 1}, {"P1", 1}, {"P2", 1}, {"P5", 50}});  // all three
    lines("0001", 6, "S", {{"P1", 1}});                                               // charges per person
    add_budget(f, "0001", nr10(7), "P", false);                                       // no settlement
    add_budget(f, "0001", nr10(8), "P");                                              // no extras lines
    lines("0001", 9, "P", {{"P1", 1}, {"P5", 0}});                                    // a line of nothing
    lines("0001", 10, "P", {{"P1", 20}});                                             // taken in 0002
    lines("0002", 20, "P", {{"P2", 1}, {"P1", 1}});                                   // no withdrawal type
    return f;
}

struct Client {
    host::TNetConnection net;
    // Signed in as ROBO, who withdraws; ANA cancels in the tests that check who cancelled.
    explicit Client(int port, const std::string& op = "ROBO") {
        net.ServerName = "QLM01200.rdmAcertoFinal";
        net.Host = "127.0.0.1";
        net.Port = port;
        net.CallTimeoutMs = 120000;
        net.Token = test::token_for(port, op);
        net.Open();
    }
    Variant call(const std::string& method, const Args& args) {
        return host::Consiste::CheckResultServ(net.Call(method, args), true, 0);
    }
    std::string refusal(const std::string& method, const Args& args) {
        host::ServerReply r = net.Call(method, args);
        EXPECT_FALSE(r.ok) << method << " was accepted";
        return r.error;
    }
    // The extras lines of a settlement as the screen holds them.
    Variant extras(const std::string& number, const std::string& branch = "0001") {
        return call("GetOrcamento", {Variant(branch), Variant(number)}).array().at(4);
    }
    Variant withdraw(const std::string& number, const std::string& proc = "0001", const std::string& branch = "0001") {
        return call("RetiraProdExtra", {extras(number, branch), Variant(branch), Variant("ROBO"), Variant(proc)});
    }
};

// The rows of one of the lists a withdrawal answers with, as "field=value;..." texts.
std::vector<std::string> rows_of(const Variant& list) {
    std::vector<std::string> out;
    const auto& p = *list.packet();
    for (const auto& r : p.rows()) {
        std::string t;
        for (std::size_t i = 0; i < p.fields().size(); ++i)
            t += (i ? ";" : "") + p.fields()[i].name + "=" + (r[i].is_null() ? "null" : r[i].as_string());
        out.push_back(t);
    }
    return out;
}

class Stock : public ::testing::Test {
  protected:
    void SetUp() override { start(stock_fixture()); }

    void start(const json& fixture) {
        spec = test::fresh_database();
        db = Database::open(spec);
        db->ensure_schema();
        load_fixture(*db, fixture);
        restart();
    }
    void restart() {
        client.reset();
        server =
            std::make_unique<test::ServerProcess>(spec, "", std::vector<std::string>{"--clock", "2026-12-07 09:30:00"});
        client = std::make_unique<Client>(server->port());
    }

    Session& s() { return db->session(); }
    double number(const std::string& sql, const std::vector<Variant>& params = {}) {
        auto rs = s().query(sql, params);
        return rs.rows.empty() || rs.rows[0][0].is_null() ? -1 : rs.rows[0][0].as_number();
    }
    double position(const char* branch, const char* storeroom, const char* product) {
        return number("SELECT QTPOSESTPROD FROM ESTOQUE WHERE CDFILIAL = ? AND CDALMOXARIFE = ? AND CDPRODUTO = ?",
                      {Variant(branch), Variant(storeroom), Variant(product)});
    }
    // Everything a withdrawal or its cancellation writes, as one text.
    std::string snapshot() {
        std::string out;
        for (const char* sql :
             {"SELECT CDFILIAL, CDALMOXARIFE, CDPRODUTO, QTPOSESTPROD FROM ESTOQUE ORDER BY 1, 2, 3",
              "SELECT CDFILIAL, NRLANCESTQ, DTCANCEL, CDOPERCANC FROM LANCESTQ ORDER BY 1, 2",
              "SELECT CDFILIAL, NRLANCESTQ, NRSEQUITEM, QTLANCESTQ FROM ITEMLANCESTQ ORDER BY 1, 2, 3",
              "SELECT CDFILIAL, NRORCAEVENTO, NRLANCESTQ FROM ACERTORETI ORDER BY 1, 2, 3",
              "SELECT CDFILIAL, NRORCAEVENTO, NRACERTOEXTR, CDFILIALEST, NRLANCESTQ, NRSEQUITEM FROM ACERTOEXTRA "
              "ORDER BY 1, 2, 3"}) {
            for (const auto& r : s().query(sql).rows) {
                for (const auto& v : r) out += (v.is_null() ? std::string("null") : v.as_string()) + "|";
                out += "\n";
            }
            out += "--\n";
        }
        return out;
    }

    std::string spec;
    std::unique_ptr<Database> db;
    std::unique_ptr<test::ServerProcess> server;
    std::unique_ptr<Client> client;
};

}  // namespace

TEST_F(Stock, WithdrawsCancelsAndWithdrawsAgain) {
    const std::string n1 = nr10(1);
    // A screen that loaded the lines before the withdrawal.
    ClientDataSet stale("cdsExtras");
    stale.set_data(client->extras(n1));

    Variant r = client->withdraw(n1);
    ASSERT_TRUE(r.is_array());
    const auto& a = r.array();
    ASSERT_EQ(a.size(), 5u);
    EXPECT_TRUE(rows_of(a[0]).empty());
    EXPECT_TRUE(rows_of(a[1]).empty());
    EXPECT_EQ(a[2].text(), "S");
    EXPECT_TRUE(rows_of(a[3]).empty());
    ClientDataSet extras("cdsExtras");
    extras.set_data(a[4]);
    ASSERT_EQ(extras.record_count(), 3);
    for (extras.first(); !extras.eof(); extras.next()) {
        EXPECT_EQ(extras["CDFILIALEST"].as_string(), "0001");
        EXPECT_EQ(extras["NRLANCESTQ"].as_string(), "0000000001");
        EXPECT_EQ(extras["NRSEQUITEM"].as_string(), extras["NRACERTOEXTR"].as_string());
    }
    // The dispatch storerooms' positions, not the other one's.
    EXPECT_EQ(position("0001", "02", "P1"), 85);
    EXPECT_EQ(position("0001", "01", "P1"), 999);
    EXPECT_EQ(position("0001", "01", "P5"), 37);
    auto posting = s().query(
        "SELECT CDTIPORETI, DTLANCESTQ, CDOPERADOR, NRORCAEVENTO, NRSEQORCAEVE, DTCANCEL, CDFILIALORC FROM LANCESTQ "
        "WHERE CDFILIAL = '0001' AND NRLANCESTQ = '0000000001'");
    ASSERT_EQ(posting.rows.size(), 1u);
    EXPECT_EQ(posting.rows[0][0].as_string(), "01");
    EXPECT_EQ(posting.rows[0][1].as_string(), "2026-12-07 09:30:00");
    EXPECT_EQ(posting.rows[0][2].as_string(), "ROBO");
    EXPECT_EQ(posting.rows[0][3].as_string(), n1);
    EXPECT_EQ(posting.rows[0][4].as_string(), "00");
    EXPECT_TRUE(posting.rows[0][5].is_null());
    EXPECT_EQ(posting.rows[0][6].as_string(), "0001");
    auto items = s().query("SELECT NRSEQUITEM, CDPRODUTO, CDALMOXARIFE, QTLANCESTQ FROM ITEMLANCESTQ ORDER BY 1");
    ASSERT_EQ(items.rows.size(), 3u);
    EXPECT_EQ(items.rows[2][0].as_string(), "0003");
    EXPECT_EQ(items.rows[2][1].as_string(), "P1");
    EXPECT_EQ(items.rows[2][2].as_string(), "02");
    EXPECT_EQ(items.rows[2][3].as_number(), 5);
    Variant records = client->call("GetAcertoReti", {Variant("0001"), Variant(n1), Variant("00")});
    ASSERT_EQ(records.packet()->rows().size(), 1u);
    EXPECT_EQ(records.packet()->rows()[0][0].text(), "0000000001");

    // Never twice, and the withdrawn lines stay as they were taken, whatever a stale screen sends.
    EXPECT_EQ(
        client->refusal("RetiraProdExtra", {client->extras(n1), Variant("0001"), Variant("ROBO"), Variant("0001")}),
        kExists);
    stale.first();
    stale.edit();
    stale["QTACERTOEXTR"].set_as_float(1);
    stale.post();
    EXPECT_EQ(client->refusal("SetConfirmar", {Variant(), Variant(), Variant(), Variant(), stale.delta()}), kExists);
    stale.cancel_updates();
    stale.append();
    for (auto [f, v] :
         {std::pair{"CDFILIAL", "0001"}, {"NRSEQORCAEVE", "00"}, {"NRACERTOEXTR", "0004"}, {"CDPRODUTO", "P5"}})
        stale[f].set_as_string(v);
    stale["NRORCAEVENTO"].set_as_string(n1);
    stale["QTACERTOEXTR"].set_as_float(1);
    stale.post();
    EXPECT_EQ(client->refusal("SetConfirmar", {Variant(), Variant(), Variant(), Variant(), stale.delta()}), kExists);
    stale.cancel_updates();
    extras.first();
    extras.remove();
    EXPECT_EQ(client->refusal("SetDeletar", {Variant("8"), Variant(), Variant(), Variant(), Variant(), extras.delta()}),
              kExists);
    extras.cancel_updates();
    // The header's per-person fields are not withdrawn lines.
    ClientDataSet header("cdsAcerto");
    header.set_data(client->call("GetOrcamento", {Variant("0001"), Variant(n1)}).array().at(0));
    header.edit();
    header["QTCONVEXTRAACER"].set_as_float(3);
    header.post();
    client->call("SetConfirmar", {header.delta(), Variant(), Variant(), Variant(), Variant()});

    // Cancelled: positions back, the posting kept and marked, the links cleared, the record gone.
    Variant back =
        Client(server->port(), "ANA").call("DeletaReti", {Variant("0001"), Variant(n1), Variant("00"), Variant("ANA")});
    ClientDataSet after("cdsExtras");
    after.set_data(back);
    ASSERT_EQ(after.record_count(), 3);
    for (after.first(); !after.eof(); after.next())
        for (const char* f : {"CDFILIALEST", "NRLANCESTQ", "NRSEQUITEM"}) EXPECT_TRUE(after[f].is_null()) << f;
    EXPECT_EQ(position("0001", "02", "P1"), 100);
    EXPECT_EQ(position("0001", "01", "P5"), 40);
    EXPECT_EQ(number("SELECT COUNT(*) FROM ITEMLANCESTQ"), 3);
    auto cancelled = s().query("SELECT DTCANCEL, CDOPERCANC FROM LANCESTQ WHERE NRLANCESTQ = '0000000001'");
    EXPECT_EQ(cancelled.rows.at(0)[0].as_string(), "2026-12-07 09:30:00");
    EXPECT_EQ(cancelled.rows.at(0)[1].as_string(), "ANA");
    EXPECT_EQ(number("SELECT COUNT(*) FROM ACERTORETI"), 0);
    EXPECT_EQ(client->refusal("DeletaReti", {Variant("0001"), Variant(n1), Variant("00")}), kNone);
    EXPECT_EQ(client->refusal("DeletaReti", {Variant("0001"), Variant(), Variant()}), kNone);

    // The lines are the screen's again: the cancellation's packet saves a change.
    after.first();
    after.edit();
    after["QTACERTOEXTR"].set_as_float(12);
    after.post();
    client->call("SetConfirmar", {Variant(), Variant(), Variant(), Variant(), after.delta()});

    // Withdrawn again: the next number, the new quantity.
    Variant again = client->withdraw(n1);
    EXPECT_TRUE(again.array().at(4).is_packet());
    EXPECT_EQ(position("0001", "02", "P1"), 83);
    EXPECT_EQ(number("SELECT COUNT(*) FROM LANCESTQ WHERE NRLANCESTQ = '0000000002' AND DTCANCEL IS NULL"), 1);
    // Cancelled without an operator: the posting says when, not by whom.
    client->call("DeletaReti", {Variant("0001"), Variant(n1), Variant("00")});
    EXPECT_TRUE(s().query("SELECT CDOPERCANC FROM LANCESTQ WHERE NRLANCESTQ = '0000000002'").rows.at(0)[0].is_null());
    EXPECT_EQ(position("0001", "02", "P1"), 100);
}

TEST_F(Stock, EachListAloneAndAllThreeInTheirOrderWriteNothing) {
    const std::string before = snapshot();
    // Inactive.
    Variant r = client->withdraw(nr10(2));
    EXPECT_EQ(rows_of(r.array()[3]), std::vector<std::string>{"CDPRODUTO=P2;CDARVPROD=TP2;NMPRODUTO=Nome P2"});
    EXPECT_TRUE(rows_of(r.array()[0]).empty());
    EXPECT_TRUE(rows_of(r.array()[1]).empty());
    EXPECT_EQ(r.array()[2].text(), "S");
    EXPECT_TRUE(r.array()[4].is_null());
    // Without a dispatch storeroom.
    r = client->withdraw(nr10(3));
    EXPECT_EQ(rows_of(r.array()[1]), std::vector<std::string>{"CDARVPROD=TP3;NMPRODUTO=Nome P3"});
    EXPECT_TRUE(rows_of(r.array()[0]).empty());
    EXPECT_TRUE(rows_of(r.array()[3]).empty());
    EXPECT_TRUE(r.array()[4].is_null());
    // Short: two lines of 4 and 2 against 5, each enough alone.
    r = client->withdraw(nr10(4));
    EXPECT_EQ(rows_of(r.array()[0]),
              std::vector<std::string>{"CDPRODUTO=P4;CDARVPROD=TP4;NMPRODUTO=Nome P4;QTPOSESTPROD=5"});
    EXPECT_TRUE(rows_of(r.array()[1]).empty());
    EXPECT_TRUE(rows_of(r.array()[3]).empty());
    // All three, each product in one list only; the product that had enough is in none.
    r = client->withdraw(nr10(5));
    EXPECT_EQ(rows_of(r.array()[3]), std::vector<std::string>{"CDPRODUTO=P2;CDARVPROD=TP2;NMPRODUTO=Nome P2"});
    EXPECT_EQ(rows_of(r.array()[1]), std::vector<std::string>{"CDARVPROD=TP3;NMPRODUTO=Nome P3"});
    EXPECT_EQ(rows_of(r.array()[0]),
              (std::vector<std::string>{"CDPRODUTO=P4;CDARVPROD=TP4;NMPRODUTO=Nome P4;QTPOSESTPROD=5",
                                        "CDPRODUTO=P5;CDARVPROD=TP5;NMPRODUTO=Nome P5;QTPOSESTPROD=40"}));
    EXPECT_TRUE(r.array()[4].is_null());
    // No withdrawal type in the budget's branch: the lists are still there, nothing written.
    r = client->withdraw(nr10(20), "0002", "0002");
    EXPECT_EQ(r.array()[2].text(), "N");
    EXPECT_EQ(rows_of(r.array()[3]).size(), 1u);
    EXPECT_TRUE(r.array()[4].is_null());
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(client->call("GetAcertoReti", {Variant("0001"), Variant(nr10(5)), Variant("00")}).packet()->rows().size(),
              0u);
}

TEST_F(Stock, StockIsTakenInTheProcessingBranchNumberedThere) {
    // The budget is of 0001; the workstation is of 0002, where P5 has a storeroom and no stock.
    Variant r = client->withdraw(nr10(10), "0002");
    ASSERT_TRUE(r.array()[4].is_packet());
    EXPECT_EQ(position("0002", "01", "P1"), 10);
    EXPECT_EQ(position("0001", "02", "P1"), 100);
    ClientDataSet extras("cdsExtras");
    extras.set_data(r.array()[4]);
    EXPECT_EQ(extras["CDFILIALEST"].as_string(), "0002");
    EXPECT_EQ(number("SELECT COUNT(*) FROM LANCESTQ WHERE CDFILIAL = '0002' AND NRLANCESTQ = '0000000001' AND "
                     "CDFILIALORC = '0001'"),
              1);
    // There P1 has 10 left, and P5 a storeroom without a position: both short.
    r = client->withdraw(nr10(1), "0002");
    EXPECT_EQ(rows_of(r.array()[0]),
              (std::vector<std::string>{"CDPRODUTO=P1;CDARVPROD=TP1;NMPRODUTO=Nome P1;QTPOSESTPROD=10",
                                        "CDPRODUTO=P5;CDARVPROD=TP5;NMPRODUTO=Nome P5;QTPOSESTPROD=0"}));
    // P4 has no dispatch storeroom there.
    r = client->withdraw(nr10(4), "0002");
    EXPECT_EQ(rows_of(r.array()[1]), std::vector<std::string>{"CDARVPROD=TP4;NMPRODUTO=Nome P4"});
    // Branch 0001 numbers its own postings from 1.
    client->withdraw(nr10(1));
    EXPECT_EQ(number("SELECT COUNT(*) FROM LANCESTQ WHERE CDFILIAL = '0001' AND NRLANCESTQ = '0000000001'"), 1);
    // Cancelling gives back where it was taken.
    Client(server->port(), "ANA")
        .call("DeletaReti", {Variant("0001"), Variant(nr10(10)), Variant("00"), Variant("ANA")});
    EXPECT_EQ(position("0002", "01", "P1"), 30);
    EXPECT_EQ(position("0001", "02", "P1"), 85);
}

// A position removed after the withdrawal is stored again by the cancellation; a withdrawal
// recorded without its posting (as older data holds it) cancels without giving stock back.
TEST_F(Stock, CancellingRestoresAPositionGoneAndToleratesARecordWithoutPosting) {
    client->withdraw(nr10(1));
    s().execute("DELETE FROM ESTOQUE WHERE CDFILIAL = '0001' AND CDALMOXARIFE = '01' AND CDPRODUTO = 'P5'");
    client->call("DeletaReti", {Variant("0001"), Variant(nr10(1)), Variant("00")});
    EXPECT_EQ(position("0001", "01", "P5"), 3);
    EXPECT_EQ(position("0001", "02", "P1"), 100);

    json f = stock_fixture();
    json linked = extra("0001", nr10(2), 2, "P1", 4);
    linked.update({{"CDFILIALEST", "0001"}, {"NRLANCESTQ", "0000000007"}, {"NRSEQUITEM", "0002"}});
    f["ACERTOEXTRA"].push_back(linked);
    f["ACERTORETI"] = {
        {{"CDFILIAL", "0001"}, {"NRORCAEVENTO", nr10(2)}, {"NRSEQORCAEVE", "00"}, {"NRLANCESTQ", "0000000007"}}};
    start(f);
    const std::string stock = snapshot().substr(0, snapshot().find("--"));
    EXPECT_EQ(client->refusal("RetiraProdExtra",
                              {client->extras(nr10(2)), Variant("0001"), Variant("ROBO"), Variant("0001")}),
              kExists);
    ClientDataSet extras("cdsExtras");
    extras.set_data(client->call("DeletaReti", {Variant("0001"), Variant(nr10(2)), Variant("00")}));
    extras.last();
    EXPECT_TRUE(extras["NRLANCESTQ"].is_null());
    EXPECT_EQ(number("SELECT COUNT(*) FROM ACERTORETI"), 0);
    EXPECT_EQ(snapshot().substr(0, snapshot().find("--")), stock);
}

TEST_F(Stock, RefusesWhatNamesNoSettlementItMayWithdraw) {
    const std::string before = snapshot();
    auto refused = [&](const Variant& packet, const char* branch, const char* op, const char* proc) {
        return client->refusal("RetiraProdExtra", {packet, Variant(branch), Variant(op), Variant(proc)});
    };
    Variant one = client->extras(nr10(1));
    EXPECT_NE(
        refused(one, "0002", "ROBO", "0001").find("traz uma linha da filial '0001', e a filial informada é '0002'"),
        std::string::npos);
    EXPECT_NE(refused(client->extras(nr10(8)), "0001", "ROBO", "0001").find("não traz linhas"), std::string::npos);
    EXPECT_NE(refused(one, "0001", "ROBO", "0009").find("filial de processamento '0009' não está cadastrada"),
              std::string::npos);
    EXPECT_NE(refused(one, "0001", "OPERADOR-LONGO", "0001").find("não é o operador conectado (ROBO)"),
              std::string::npos);
    EXPECT_NE(refused(one, "0001", "", "0001").find("operador deve ser informado"), std::string::npos);
    EXPECT_NE(refused(client->extras(nr10(6)), "0001", "ROBO", "0001").find("não cobra extras por produto"),
              std::string::npos);
    EXPECT_NE(refused(client->extras(nr10(9)), "0001", "ROBO", "0001")
                  .find("A linha 0002 dos extras do orçamento 0000000009 (filial 0001) tem quantidade 0"),
              std::string::npos);
    // Lines of two budgets in one packet; a delta where the rows go.
    ClientDataSet mixed("cdsExtras");
    mixed.set_data(one);
    mixed.append();
    mixed["CDFILIAL"].set_as_string("0001");
    mixed["NRORCAEVENTO"].set_as_string(nr10(2));
    mixed.post();
    EXPECT_NE(refused(mixed.data(), "0001", "ROBO", "0001").find("mais de um orçamento"), std::string::npos);
    EXPECT_NE(refused(mixed.delta(), "0001", "ROBO", "0001").find("deve ser um pacote de dados"), std::string::npos);
    // A budget without a stored settlement, named by a packet the server did not give.
    mixed.cancel_updates();
    ClientDataSet ghost("cdsExtras");
    ghost.set_data(one);
    for (ghost.first(); !ghost.eof(); ghost.next()) {
        ghost.edit();
        ghost["NRORCAEVENTO"].set_as_string(nr10(7));
        ghost.post();
    }
    ghost.merge_change_log();
    EXPECT_NE(refused(ghost.data(), "0001", "ROBO", "0001").find("não está gravado"), std::string::npos);
    EXPECT_EQ(snapshot(), before);
}

namespace {

// Settlements 1..n, each drawing `each` of C1 (and 1 of C2, on lines in alternating order, so
// that each takes the two positions in a different line order).
json contention_fixture(int settlements, double stock, double each) {
    json f;
    f["FILIAL"] = {{{"CDFILIAL", "0001"}}};
    f["PRODUTO"] = {{{"CDPRODUTO", "C1"}, {"CDARVPROD", "TC1"}, {"NMPRODUTO", "Nome C1"}},
                    {{"CDPRODUTO", "C2"}, {"CDARVPROD", "TC2"}, {"NMPRODUTO", "Nome C2"}}};
    f["ALMOXARIFADO"] = {{{"CDFILIAL", "0001"}, {"CDALMOXARIFE", "01"}}};
    f["PRODUTOALMOX"] = {{{"CDFILIAL", "0001"}, {"CDPRODUTO", "C1"}, {"CDALMOXARIFE", "01"}},
                         {{"CDFILIAL", "0001"}, {"CDPRODUTO", "C2"}, {"CDALMOXARIFE", "01"}}};
    f["ESTOQUE"] = {{{"CDFILIAL", "0001"}, {"CDALMOXARIFE", "01"}, {"CDPRODUTO", "C1"}, {"QTPOSESTPROD", stock}},
                    {{"CDFILIAL", "0001"}, {"CDALMOXARIFE", "01"}, {"CDPRODUTO", "C2"}, {"QTPOSESTPROD", 1000}}};
    f["PARAMETRO"] = {{{"CDFILIAL", "0001"}, {"CDTIPORETI", "01"}}};
    f["ORCAMENTO"] = json::array();
    f["ACERTO"] = json::array();
    f["ACERTOEXTRA"] = json::array();
    for (int i = 1; i <= settlements; ++i) {
        add_budget(f, "0001", nr10(i), "P");
        bool swap = i % 2 == 0;
        f["ACERTOEXTRA"].push_back(extra("0001", nr10(i), 1, swap ? "C2" : "C1", swap ? 1 : each));
        f["ACERTOEXTRA"].push_back(extra("0001", nr10(i), 2, swap ? "C1" : "C2", swap ? each : 1));
    }
    return f;
}

}  // namespace

class StockContention : public Stock, public ::testing::WithParamInterface<int> {
  protected:
    void SetUp() override {}
};

// Every client withdraws its own settlement at once, all drawing 7 of C1: as many as the stock
// holds succeed, every other one sees the position they left and lands in the short list.
TEST_P(StockContention, NeverTakesAPositionBelowZero) {
    const int clients = GetParam();
    const double stock = clients == 2 ? 10 : 50;
    start(contention_fixture(clients, stock, 7));
    std::vector<Variant> packets;
    for (int i = 1; i <= clients; ++i) packets.push_back(client->extras(nr10(i)));
    std::vector<std::unique_ptr<Client>> each;
    for (int i = 0; i < clients; ++i) each.push_back(std::make_unique<Client>(server->port()));
    std::vector<Variant> answers(clients);
    std::vector<std::string> errors(clients);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([&, i] {
            ++ready;
            while (ready < clients) std::this_thread::yield();
            host::ServerReply r =
                each[i]->net.Call("RetiraProdExtra", {packets[i], Variant("0001"), Variant("ROBO"), Variant("0001")});
            if (r.ok)
                answers[i] = r.payload;
            else
                errors[i] = r.error;
        });
    for (auto& t : threads) t.join();

    const int fit = static_cast<int>(stock / 7);
    int withdrawn = 0, short_of = 0;
    for (int i = 0; i < clients; ++i) {
        ASSERT_EQ(errors[i], "") << "client " << i;
        const auto& a = answers[i].array();
        if (a.at(4).is_packet()) {
            ++withdrawn;
            EXPECT_TRUE(rows_of(a[0]).empty());
        } else {
            ++short_of;
            // The position the withdrawals before it left.
            EXPECT_EQ(rows_of(a[0]),
                      std::vector<std::string>{"CDPRODUTO=C1;CDARVPROD=TC1;NMPRODUTO=Nome C1;QTPOSESTPROD=" +
                                               platform::Variant(stock - 7 * fit).as_string()});
        }
    }
    EXPECT_EQ(withdrawn, fit);
    EXPECT_EQ(short_of, clients - fit);
    EXPECT_EQ(position("0001", "01", "C1"), stock - 7 * fit);
    EXPECT_EQ(position("0001", "01", "C2"), 1000 - fit);
    EXPECT_EQ(number("SELECT SUM(QTLANCESTQ) FROM ITEMLANCESTQ WHERE CDPRODUTO = 'C1'"), 7 * fit);
    // One posting each, numbered 1 to n without a gap or a repeat.
    EXPECT_EQ(number("SELECT COUNT(DISTINCT NRLANCESTQ) FROM LANCESTQ"), fit);
    EXPECT_EQ(number("SELECT MAX(NRLANCESTQ) FROM LANCESTQ"), fit);
    EXPECT_EQ(number("SELECT COUNT(*) FROM ACERTORETI"), fit);

    // Cancelled all at once, the stock comes back whole.
    threads.clear();
    ready = 0;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([&, i] {
            ++ready;
            while (ready < clients) std::this_thread::yield();
            host::ServerReply r =
                each[i]->net.Call("DeletaReti", {Variant("0001"), Variant(nr10(i + 1)), Variant("00")});
            errors[i] = r.ok || r.error == kNone ? "" : r.error;
        });
    for (auto& t : threads) t.join();
    for (int i = 0; i < clients; ++i) EXPECT_EQ(errors[i], "") << "client " << i;
    EXPECT_EQ(position("0001", "01", "C1"), stock);
    EXPECT_EQ(position("0001", "01", "C2"), 1000);
}

INSTANTIATE_TEST_SUITE_P(Clients, StockContention, ::testing::Values(2, 16));

// A database failure at any statement of a withdrawal or a cancellation leaves nothing of it.
TEST(StockFaults, AFailureAtAnyStatementLeavesEverythingAsItWas) {
    auto real = Database::open(test::fresh_database());
    real->ensure_schema();
    load_fixture(*real, stock_fixture());
    FaultInjectingDatabase db(*real);
    AcertoModule m(db, Clock{platform::DateTime::parse_iso("2026-12-07 09:30:00")});
    auto snapshot = [&] {
        std::string out;
        for (const char* t : {"ESTOQUE", "LANCESTQ", "ITEMLANCESTQ", "ACERTORETI", "ACERTOEXTRA"}) {
            for (const auto& r : real->session().query(std::string("SELECT * FROM ") + t + " ORDER BY 1, 2, 3").rows) {
                for (const auto& v : r) out += (v.is_null() ? std::string("null") : v.as_string()) + "|";
                out += "\n";
            }
        }
        return out;
    };
    const Variant packet = m.call("GetOrcamento", {Variant("0001"), Variant(nr10(1))}).array().at(4);
    const Args withdraw{packet, Variant("0001"), Variant("ROBO"), Variant("0001")};
    const Args cancel{Variant("0001"), Variant(nr10(1)), Variant("00"), Variant("ANA")};
    for (const Args* call : {&withdraw, &cancel}) {
        const std::string method = call == &withdraw ? "RetiraProdExtra" : "DeletaReti";
        const std::string before = snapshot();
        long long failures = 0;
        for (long long n = 1;; ++n) {
            db.fail_statement(n);
            try {
                m.call(method, *call);
            } catch (const StorageError&) {
                ++failures;
                EXPECT_EQ(snapshot(), before) << method << ", statement " << n;
                continue;
            }
            break;  // past the last statement: the call went through
        }
        db.fail_statement(0);
        EXPECT_GE(failures, 8) << method;
        EXPECT_NE(snapshot(), before) << method;
    }
    EXPECT_EQ(real->session()
                  .query("SELECT QTPOSESTPROD FROM ESTOQUE WHERE CDALMOXARIFE = '02' AND CDPRODUTO = 'P1'")
                  .rows.at(0)[0]
                  .as_number(),
              100);
}

// The server killed while a withdrawal is half-written: on restart the positions, the postings
// and the lines' links are as they were, and the withdrawal goes through.
TEST_F(Stock, ACrashHalfWayLeavesPositionsAndLinksAsBefore) {
    const std::string before = snapshot();
    // The last write of a withdrawal made slow, so that the server dies in the middle of it.
    if (test::using_postgres()) {
        s().execute(
            "CREATE FUNCTION LENTO() RETURNS trigger AS $$ BEGIN PERFORM pg_sleep(3); RETURN NEW; END $$ "
            "LANGUAGE plpgsql");
        s().execute("CREATE TRIGGER LENTO BEFORE INSERT ON ACERTORETI FOR EACH ROW EXECUTE FUNCTION LENTO()");
    } else {
        s().execute("CREATE TABLE T_LENTO (X INTEGER)");
        s().execute(
            "INSERT INTO T_LENTO WITH RECURSIVE C(X) AS (SELECT 1 UNION ALL SELECT X + 1 FROM C WHERE X < 3000) "
            "SELECT X FROM C");
        s().execute(
            "CREATE TRIGGER LENTO BEFORE INSERT ON ACERTORETI BEGIN SELECT COUNT(*) FROM T_LENTO A, T_LENTO B, "
            "T_LENTO C; END");
    }
    Variant packet = client->extras(nr10(1));
    std::thread call([&] {
        EXPECT_THROW(client->net.Call("RetiraProdExtra", {packet, Variant("0001"), Variant("ROBO"), Variant("0001")}),
                     host::ConnectionError);
    });
    // Until the write is under way: PostgreSQL shows the sleeping statement; SQLite gets time.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const char* kSleeping =
        "SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event = 'PgSleep' AND datname = current_database()";
    if (test::using_postgres()) {
        while (std::chrono::steady_clock::now() < deadline && number(kSleeping) < 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(number(kSleeping), 1);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
    }
    ::kill(server->pid(), SIGKILL);
    call.join();
    server->stop();
    EXPECT_EQ(snapshot(), before);
    s().execute("DROP TRIGGER LENTO" + std::string(test::using_postgres() ? " ON ACERTORETI" : ""));
    restart();
    EXPECT_TRUE(client->withdraw(nr10(1)).array().at(4).is_packet());
    EXPECT_EQ(position("0001", "02", "P1"), 85);
}

// The demo's settlements show what the stock commands do: 102 withdraws its beer, 106 answers
// the three lists.
TEST(StockDemo, TheDemoWithdrawsOneSettlementAndListsEveryRefusalForAnother) {
    auto db = Database::open(test::fresh_database());
    db->ensure_schema();
    load_fixture(*db, demo_fixture());
    AcertoModule m(*db);
    auto withdraw = [&](const char* number) {
        Variant extras = m.call("GetOrcamento", {Variant("0001"), Variant(number)}).array().at(4);
        return m.call("RetiraProdExtra", {extras, Variant("0001"), Variant("ANA"), Variant("0001")}).array();
    };
    auto lists = withdraw("0000000106");
    EXPECT_EQ(rows_of(lists.at(3)).size(), 1u);
    EXPECT_EQ(rows_of(lists.at(1)).size(), 1u);
    EXPECT_EQ(rows_of(lists.at(0)).size(), 1u);
    EXPECT_TRUE(lists.at(4).is_null());
    EXPECT_TRUE(withdraw("0000000102").at(4).is_packet());
    EXPECT_EQ(m.call("GetAcertoReti", {Variant("0001"), Variant("0000000102"), Variant("00")}).packet()->rows().size(),
              1u);
}
