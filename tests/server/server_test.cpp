// The application server, for real: a server process on a loopback port over a fresh
// database, called through the screen's own connection.
#include <gtest/gtest.h>

#include <httplib.h>

#include <csignal>

#include <nlohmann/json.hpp>

#include "acerto/host/consiste.h"
#include "acerto/host/errors.h"
#include "acerto/host/net_connection.h"
#include "acerto/platform/client_dataset.h"
#include "server_process.h"

using namespace acerto;
using platform::ClientDataSet;
using platform::DataSetState;
using platform::Variant;
using Args = Variant::Array;

namespace {

const std::string kFixture = ACERTO_TEST_FIXTURES "/basic.json";

struct Client {
    host::TNetConnection net;
    explicit Client(int port) {
        net.ServerName = "QLM01200.rdmAcertoFinal";
        net.Host = "127.0.0.1";
        net.Port = port;
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
};

// The settlement of a budget as the screen holds it: the header and the four line datasets.
struct Settlement {
    ClientDataSet acerto{"cdsAcerto"}, quebra{"cdsQuebra"}, sobra{"cdsSobra"}, horas{"cdsHorasExtras"},
        extras{"cdsExtras"};
    Variant devol, param;
    void load(Client& c, const std::string& branch, const std::string& number) {
        Variant r = c.call("GetOrcamento", {Variant(branch), Variant(number)});
        const auto& a = r.array();
        EXPECT_EQ(a.size(), 7u);
        acerto.set_data(a[0]);
        quebra.set_data(a[1]);
        sobra.set_data(a[2]);
        horas.set_data(a[3]);
        extras.set_data(a[4]);
        devol = a[5];
        param = a[6];
    }
    static Variant delta(ClientDataSet& d) { return d.change_count() > 0 ? d.delta() : Variant(); }
    Args deltas() { return {delta(acerto), delta(quebra), delta(sobra), delta(horas), delta(extras)}; }
    void merge() {
        for (auto* d : {&acerto, &quebra, &sobra, &horas, &extras}) d->merge_change_log();
    }
};

void add_header(ClientDataSet& a, const std::string& number, const std::string& seq) {
    a.append();
    a["CDFILIAL"].set_as_string("0001");
    a["NRORCAEVENTO"].set_as_string(number);
    a["NRSEQORCAEVE"].set_as_string(seq);
    a["DTACERTOOREV"].set_as_date_time(platform::DateTime::parse_iso("2026-12-07 10:00:00"));
    a["CDOPERADOR"].set_as_string("ROBO");
    a["CDPRBAQUEBRA"].set_as_string("01");
    a["NMPRECOQUEBR"].set_as_string("Tabela de Eventos");
    a["IDSITUACERTO"].set_as_string("X");  // the server decides this, not the screen
    a["QTCONVEXTRAACER"].set_as_float(0);
    a["VRCONVEXTRAACER"].set_as_float(0);
    a["IDTPVREXTRA"].set_as_string("P");
    a.post();
}

void add_breakage(ClientDataSet& q, const std::string& number, const std::string& nr, double qt, double vr) {
    q.append();
    q["CDFILIAL"].set_as_string("0001");
    q["NRORCAEVENTO"].set_as_string(number);
    q["NRSEQORCAEVE"].set_as_string("00");
    q["CDARVPROD"].set_as_string("101001");
    q["NMPRODUTO"].set_as_string("Taça de vinho");
    q["SGUNIDADE"].set_as_string("UN");
    q["QTACERTOQUEB"].set_as_float(qt);
    q["VRACERTOQUEB"].set_as_float(vr);
    q["VRACREACEQUE"].set_as_float(0);
    q["VRDESCACEQUE"].set_as_float(0);
    q["NRACERTOQUEB"].set_as_string(nr);
    q["CDPRODUTO"].set_as_string("P101001");
    q.post();
}

class Server : public ::testing::Test {
protected:
    void SetUp() override {
        db = test::fresh_database();
        server = std::make_unique<test::ServerProcess>(db, kFixture,
                                                       std::vector<std::string>{"--clock", "2026-12-07 09:30:00"});
        client = std::make_unique<Client>(server->port());
    }
    const std::string& server_db() const { return db; }
    std::string db;
    std::unique_ptr<test::ServerProcess> server;
    std::unique_ptr<Client> client;
};

}  // namespace

TEST_F(Server, LoadsBudgetsOrdersAndTheirDisplayTexts) {
    Variant p = client->call("GetPesqOrca", {Variant("0001")});
    ASSERT_TRUE(p.is_packet());
    ASSERT_EQ(p.packet()->rows().size(), 4u);
    EXPECT_EQ(p.packet()->rows()[0][0].text(), "0000000042");
    EXPECT_EQ(p.packet()->fields()[2].name, "IDTPORCAEVEN");

    Variant vd = client->call("GetVdOrcaEven", {Variant("0001"), Variant("0000000050")});
    ASSERT_EQ(vd.packet()->rows().size(), 1u);
    EXPECT_EQ(vd.packet()->value(vd.packet()->rows()[0], "IDTPORCAEVEN").text(), "E");
    EXPECT_EQ(client->call("GetVdEncomenda", {Variant("0001"), Variant("0000000050")}).packet()->rows().size(), 1u);
    EXPECT_EQ(client->call("GetVdEncomenda", {Variant("0001"), Variant("0000000042")}).packet()->rows().size(), 0u);
    EXPECT_EQ(client->call("GetVdOrcaEven", {Variant("0001"), Variant("9999999999")}).packet()->rows().size(), 0u);

    ClientDataSet orc("cdsOrcamento");
    orc.set_data(client->call("GetOrcaEvento", {Variant("0001"), Variant("0000000042")}));
    ASSERT_EQ(orc.record_count(), 1);
    EXPECT_EQ(orc["NRSEQORCAEVE"].as_string(), "01");
    EXPECT_EQ(orc["NMCLIEORCEVE"].as_string(), "Ana e Bruno");
    EXPECT_EQ(orc["DTEVENTO"].as_date_time().iso(), "2026-11-28 19:30:00");

    ClientDataSet dados("cdsDados");
    dados.set_data(client->call("GetDados", {Variant("0001"), Variant("0000000042")}));
    EXPECT_EQ(dados["DSDATA"].as_string(), "28/11/2026 19:30");
    EXPECT_EQ(dados["TPEVENTO"].as_string(), "001 - Casamento");
    EXPECT_EQ(dados["TPSERVICO"].as_string(), "01 - Buffet completo");
    dados.set_data(client->call("GetDados", {Variant("0001"), Variant("0000000043")}));
    EXPECT_EQ(dados["DSDATA"].as_string(), "01/12/2026");  // midnight: the date alone

    Settlement s;
    s.load(*client, "0001", "0000000042");
    EXPECT_EQ(s.acerto.record_count(), 0);  // no settlement yet: a header packet without rows
    EXPECT_GT(s.acerto.fields().size(), 10u);
    EXPECT_TRUE(s.devol.is_packet());
    ClientDataSet param("cdsParam");
    param.set_data(s.param);
    EXPECT_EQ(param["QTCONVORCEVE"].as_float(), 150);
    EXPECT_EQ(param["IDTPCOBRVREXTRA"].as_string(), "D");
    s.load(*client, "0001", "0000000043");
    EXPECT_TRUE(s.devol.is_null());  // no returns
}

TEST_F(Server, SavesModifiesAndDeletesASettlement) {
    Settlement s;
    s.load(*client, "0001", "0000000042");
    add_header(s.acerto, "0000000042", "01");
    add_breakage(s.quebra, "0000000042", "0001", 3, 2.5);
    client->call("SetConfirmar", s.deltas());
    s.merge();
    // The header changes again although the screen never learnt what the server wrote into it.
    s.acerto.edit();
    s.acerto["QTCONVEXTRAACER"].set_as_float(5);
    s.acerto.post();
    client->call("SetConfirmar", s.deltas());
    s.merge();

    Settlement t;
    t.load(*client, "0001", "0000000042");
    ASSERT_EQ(t.acerto.record_count(), 1);
    EXPECT_EQ(t.acerto["CDDEPTO"].as_string(), "010");      // from the budget
    EXPECT_EQ(t.acerto["IDSITUACERTO"].as_string(), "P");   // from the server
    EXPECT_EQ(t.acerto["DTACERTOOREV"].as_date_time().iso(), "2026-12-07 10:00:00");
    EXPECT_EQ(t.acerto["QTCONVEXTRAACER"].as_float(), 5);
    ASSERT_EQ(t.quebra.record_count(), 1);
    EXPECT_EQ(t.quebra["QTACERTOQUEB"].as_float(), 3);

    // Change the line and add a second one; then delete one line (code 2).
    t.quebra.edit();
    t.quebra["QTACERTOQUEB"].set_as_float(4);
    t.quebra.post();
    add_breakage(t.quebra, "0000000042", "0002", 1, 10.006);
    client->call("SetConfirmar", t.deltas());
    t.merge();
    t.quebra.first();
    t.quebra.remove();
    client->call("SetDeletar", {Variant("2"), Variant(), t.quebra.delta(), Variant(), Variant(), Variant()});
    t.quebra.merge_change_log();

    Settlement u;
    u.load(*client, "0001", "0000000042");
    ASSERT_EQ(u.quebra.record_count(), 1);
    EXPECT_EQ(u.quebra["NRACERTOQUEB"].as_string(), "0002");
    EXPECT_DOUBLE_EQ(u.quebra["VRACERTOQUEB"].as_float(), 10.006);  // stored as sent

    // The last line goes with the header (code 1).
    u.quebra.remove();
    u.acerto.remove();
    client->call("SetDeletar", {Variant("1"), u.acerto.delta(), u.quebra.delta(), Variant(), Variant(), Variant()});
    Settlement v;
    v.load(*client, "0001", "0000000042");
    EXPECT_EQ(v.acerto.record_count(), 0);
    EXPECT_EQ(v.quebra.record_count(), 0);

    // Five Nulls are a valid, empty save.
    EXPECT_TRUE(client->call("SetConfirmar", {Variant(), Variant(), Variant(), Variant(), Variant()}).is_null());
}

TEST_F(Server, RefusesWhatWouldBreakASettlement) {
    // A settlement whose finance is updated cannot change, on the server too.
    Settlement f;
    f.load(*client, "0001", "0000000070");
    f.quebra.edit();
    f.quebra["QTACERTOQUEB"].set_as_float(9);
    f.quebra.post();
    EXPECT_EQ(client->refusal("SetConfirmar", f.deltas()), "Acerto não pode ser alterado. Financeiro já foi atualizado.");

    // Lines without a header.
    Settlement s;
    s.load(*client, "0001", "0000000043");
    add_breakage(s.quebra, "0000000043", "0001", 1, 1);
    EXPECT_NE(client->refusal("SetConfirmar", s.deltas()).find("não tem cabeçalho"), std::string::npos);

    // A header with lines left behind cannot be deleted alone.
    Settlement t;
    t.load(*client, "0001", "0000000043");
    add_header(t.acerto, "0000000043", "00");
    add_breakage(t.quebra, "0000000043", "0001", 1, 1);
    client->call("SetConfirmar", t.deltas());
    t.merge();
    t.acerto.remove();
    std::string lonely = client->refusal("SetConfirmar", t.deltas());
    EXPECT_NE(lonely.find("não tem cabeçalho"), std::string::npos) << lonely;

    // SetDeletar's codes decide which deltas it takes.
    EXPECT_NE(client->refusal("SetDeletar", {Variant("9"), Variant(), Variant(), Variant(), Variant(), Variant()})
                  .find("código de exclusão inválido"),
              std::string::npos);
    EXPECT_NE(client->refusal("SetDeletar", {Variant("1"), Variant(), t.quebra.delta(), Variant(), Variant(), Variant()})
                  .find("precisa do delta da posição 2"),
              std::string::npos);
    EXPECT_NE(client->refusal("SetDeletar", {Variant("2"), t.acerto.delta(), t.quebra.delta(), Variant(), Variant(), Variant()})
                  .find("não envia o delta da posição 2"),
              std::string::npos);
}

TEST_F(Server, ASaveIsAllOrNothing) {
    Settlement s;
    s.load(*client, "0001", "0000000042");
    add_header(s.acerto, "0000000042", "01");
    add_breakage(s.quebra, "0000000042", "0001", 3, 2.5);
    // The fourth delta changes an overtime line nobody stored: the whole call is refused.
    ClientDataSet ghost("ghost");
    ghost.set_data(s.horas.data());
    ghost.append();
    ghost["CDFILIAL"].set_as_string("0001");
    ghost["NRORCAEVENTO"].set_as_string("0000000042");
    ghost["NRACERTOHREX"].set_as_string("0001");
    ghost.post();
    ghost.merge_change_log();
    ghost.edit();
    ghost["QTACERTOHREX"].set_as_float(2);
    ghost.post();
    Args args = s.deltas();
    args[3] = ghost.delta();
    std::string text = client->refusal("SetConfirmar", args);
    EXPECT_NE(text.find("orçamento 0000000042 (filial 0001)"), std::string::npos) << text;
    EXPECT_NE(text.find("alterado por outro usuário"), std::string::npos) << text;
    Settlement t;
    t.load(*client, "0001", "0000000042");
    EXPECT_EQ(t.acerto.record_count(), 0);
    EXPECT_EQ(t.quebra.record_count(), 0);
}

TEST_F(Server, TwoOperatorsChangingOneLineOneWinsNothingIsLost) {
    Settlement s;
    s.load(*client, "0001", "0000000042");
    add_header(s.acerto, "0000000042", "01");
    add_breakage(s.quebra, "0000000042", "0001", 3, 2.5);
    client->call("SetConfirmar", s.deltas());

    // A second server process on the same database, as a second machine would run.
    test::ServerProcess second(server_db(), "", {});
    Client other(second.port());
    Settlement a, b;
    a.load(*client, "0001", "0000000042");
    b.load(other, "0001", "0000000042");
    a.quebra.edit();
    a.quebra["QTACERTOQUEB"].set_as_float(7);
    a.quebra.post();
    b.quebra.edit();
    b.quebra["QTACERTOQUEB"].set_as_float(8);
    b.quebra.post();
    client->call("SetConfirmar", a.deltas());
    EXPECT_NE(other.refusal("SetConfirmar", b.deltas()).find("alterado por outro usuário"), std::string::npos);
    Settlement c;
    c.load(other, "0001", "0000000042");
    EXPECT_EQ(c.quebra["QTACERTOQUEB"].as_float(), 7);
    // Two operators creating the same settlement: the second is refused too.
    Settlement d, e;
    d.load(*client, "0001", "0000000043");
    e.load(other, "0001", "0000000043");
    add_header(d.acerto, "0000000043", "00");
    add_breakage(d.quebra, "0000000043", "0001", 1, 1);
    add_header(e.acerto, "0000000043", "00");
    add_breakage(e.quebra, "0000000043", "0001", 2, 2);
    client->call("SetConfirmar", d.deltas());
    EXPECT_NE(other.refusal("SetConfirmar", e.deltas()).find("alterado por outro usuário"), std::string::npos);
}

TEST_F(Server, ImportsReturnsOnceAndNamesAMissingParameter) {
    Variant r = client->call("SetImportaDevolucao", {Variant("0001"), Variant("0000000042"), Variant("ROBO")});
    ASSERT_TRUE(r.is_array());
    ASSERT_EQ(r.array().size(), 3u);
    ClientDataSet q("q"), so("s"), a("a");
    q.set_data(r.array()[0]);
    so.set_data(r.array()[1]);
    a.set_data(r.array()[2]);
    ASSERT_EQ(q.record_count(), 1);  // only the glass had breakage
    EXPECT_EQ(q["QTACERTOQUEB"].as_float(), 5);
    EXPECT_EQ(q["VRACERTOQUEB"].as_float(), 15.75);  // replacement price valid today, not tomorrow's
    EXPECT_EQ(q["NRACERTOQUEB"].as_string(), "0001");
    ASSERT_EQ(so.record_count(), 2);
    EXPECT_EQ(so["QTRESACERSOB"].as_float(), 100);
    EXPECT_EQ(so["QTEXTACERSOB"].as_float(), 10);
    EXPECT_EQ(so["QTORCACERSOB"].as_float(), 105);
    EXPECT_EQ(a["CDOPERADOR"].as_string(), "ROBO");
    EXPECT_EQ(a["IDSITUACERTO"].as_string(), "P");
    EXPECT_EQ(a["CDPRBAQUEBRA"].as_string(), "02");
    EXPECT_EQ(a["NMPRECOSOBRA"].as_string(), "Reposição de Materiais");
    EXPECT_EQ(a["DTACERTOOREV"].as_date_time().iso(), "2026-12-07 09:30:00");
    // Stored by the server itself.
    Settlement s;
    s.load(*client, "0001", "0000000042");
    EXPECT_EQ(s.acerto.record_count(), 1);
    EXPECT_EQ(s.sobra.record_count(), 2);
    // Never twice.
    EXPECT_NE(client->refusal("SetImportaDevolucao", {Variant("0001"), Variant("0000000042"), Variant("ROBO")})
                  .find("já existe"),
              std::string::npos);
    EXPECT_EQ(client->refusal("SetImportaDevolucao", {Variant("0002"), Variant("0000000060"), Variant("ROBO")}),
              "N_PARAM_PRECOMAT");
}

TEST_F(Server, WithdrawalRecordsAndMethodsNotYetAvailable) {
    Variant r = client->call("GetAcertoReti", {Variant("0001"), Variant("0000000070"), Variant("00")});
    ASSERT_EQ(r.packet()->rows().size(), 1u);
    EXPECT_EQ(r.packet()->rows()[0][0].text(), "0000001234");
    // An empty header gives Nulls: no records.
    EXPECT_EQ(client->call("GetAcertoReti", {Variant("0001"), Variant(), Variant()}).packet()->rows().size(), 0u);
    EXPECT_NE(client->refusal("Gera_Financeiro", {}).find("ainda não está disponível"), std::string::npos);
}

TEST_F(Server, BadInputGetsAClearAnswerAndTheServerGoesOn) {
    httplib::Client raw("127.0.0.1", server->port());
    auto post = [&](const std::string& path, const std::string& body) {
        auto res = raw.Post(path, body, "application/json");
        EXPECT_TRUE(res) << path;
        if (!res) return std::string();
        auto j = nlohmann::json::parse(res->body, nullptr, false);
        EXPECT_TRUE(j.is_object() && j.contains("error")) << res->body;
        return j.is_object() && j.contains("error") ? j["error"].get<std::string>() : std::string();
    };
    const std::string m = "/QLM01200.rdmAcertoFinal/";
    EXPECT_NE(post(m + "GetPesqOrca", "[\"0001\"").find("não é um JSON válido"), std::string::npos);
    EXPECT_NE(post(m + "GetPesqOrca", "{\"a\":1}").find("devem vir numa lista"), std::string::npos);
    EXPECT_NE(post(m + "Inventado", "[]").find("Método desconhecido"), std::string::npos);
    EXPECT_NE(post(m + "GetPesqOrca", "[]").find("espera 1 argumento"), std::string::npos);
    EXPECT_NE(post(m + "GetPesqOrca", "[12]").find("deve ser um texto"), std::string::npos);
    EXPECT_NE(post(m + "SetConfirmar", "[1,null,null,null,null]").find("deve ser um delta"), std::string::npos);
    std::string bad_delta =
        R"([{"fields":[{"name":"CDFILIAL","type":"string"},{"name":"NOPE","type":"string"}],"delta":[]},null,null,null,null])";
    EXPECT_NE(post(m + "SetConfirmar", bad_delta).find("campo desconhecido NOPE"), std::string::npos);
    std::string no_key = R"([null,{"fields":[{"name":"CDFILIAL","type":"string"}],"delta":[]},null,null,null])";
    EXPECT_NE(post(m + "SetConfirmar", no_key).find("não traz o campo chave"), std::string::npos);
    std::string too_long =
        R"([null,{"fields":[{"name":"CDFILIAL","type":"string"},{"name":"NRORCAEVENTO","type":"string"},{"name":"NRACERTOQUEB","type":"string"}],)"
        R"("delta":[{"op":"insert","new":["0001","0000000042","00001"]}]},null,null,null])";
    EXPECT_NE(post(m + "SetConfirmar", too_long).find("excede o tamanho"), std::string::npos);
    EXPECT_NE(post("/outra/coisa", "[]").find("Endereço desconhecido"), std::string::npos);
    std::string huge(40u << 20, ' ');
    // The server answers 413 and closes while the body is still coming: this client may be
    // writing into a closed connection then.
    std::signal(SIGPIPE, SIG_IGN);
    auto res = raw.Post(m + "GetPesqOrca", huge, "application/json");
    if (res) {
        EXPECT_EQ(res->status, 413);  // or the server closed the connection
    }
    // And then a good call still works, on a fresh and on the kept connection.
    httplib::Client again("127.0.0.1", server->port());
    auto ok = again.Post(m + "GetPesqOrca", "[\"0001\"]", "application/json");
    ASSERT_TRUE(ok);
    EXPECT_NE(ok->body.find("\"result\""), std::string::npos);
    EXPECT_TRUE(client->net.Call("GetPesqOrca", {Variant("0001")}).ok);
}

TEST_F(Server, StopsCleanlyOnSigterm) {
    EXPECT_TRUE(client->net.Call("GetPesqOrca", {Variant("0001")}).ok);
    client->net.Close();
    EXPECT_EQ(server->stop(), 0);
}

TEST_F(Server, ConnectionsBeyondTheBoundAreRefusedAndIdleOnesDoNotHoldUpTheStop) {
    test::ServerProcess small(test::fresh_database(), kFixture, {"--threads", "1", "--max-connections", "1"});
    Client holder(small.port());  // holds the only connection the server takes, not its worker
    ASSERT_TRUE(holder.net.Call("GetPesqOrca", {Variant("0001")}).ok);
    try {
        Client late(small.port());
        ADD_FAILURE() << "a connection beyond the bound was served";
    } catch (const host::ConnectionError& e) {
        EXPECT_NE(std::string(e.what()).find("Servidor de aplicação ocupado"), std::string::npos) << e.what();
    }
    // The kept connection is idle: SIGTERM ends the server at once, not after the keep-alive
    // (60 s; the helper kills a server that takes over 10 s and reports -1).
    EXPECT_EQ(small.stop(), 0);
    EXPECT_THROW(holder.net.Call("GetPesqOrca", {Variant("0001")}), host::ConnectionError);
}
