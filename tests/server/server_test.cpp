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
#include "acerto/platform/json_io.h"
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
        // A server at its connection bound refuses the sign-in too; then Open says why.
        try {
            net.Token = test::token_for(port, "ROBO");
        } catch (const std::exception&) {
        }
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
    EXPECT_EQ(t.acerto["CDDEPTO"].as_string(), "010");     // from the budget
    EXPECT_EQ(t.acerto["IDSITUACERTO"].as_string(), "P");  // from the server
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
    EXPECT_EQ(client->refusal("SetConfirmar", f.deltas()),
              "Acerto não pode ser alterado. Financeiro já foi atualizado.");

    // Lines without a header.
    Settlement s;
    s.load(*client, "0001", "0000000043");
    add_breakage(s.quebra, "0000000043", "0001", 1, 1);
    EXPECT_NE(client->refusal("SetConfirmar", s.deltas()).find("não tem cabeçalho"), std::string::npos);

    // A line that came without its branch and number says so, instead of naming a budget of
    // empty values.
    Settlement k;
    k.load(*client, "0001", "0000000043");
    k.sobra.insert();
    k.sobra["NRACERTOSOBR"].set_as_string("0001");
    k.sobra["QTORCACERSOB"].set_as_float(1);
    k.sobra.post();
    std::string keyless = client->refusal("SetConfirmar", k.deltas());
    EXPECT_NE(keyless.find("ACERTOSOBRA chegou sem a filial e o número do orçamento"), std::string::npos) << keyless;
    EXPECT_EQ(keyless.find("(filial )"), std::string::npos) << keyless;

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
    EXPECT_NE(
        client->refusal("SetDeletar", {Variant("1"), Variant(), t.quebra.delta(), Variant(), Variant(), Variant()})
            .find("precisa do delta da posição 2"),
        std::string::npos);
    EXPECT_NE(
        client
            ->refusal("SetDeletar", {Variant("2"), t.acerto.delta(), t.quebra.delta(), Variant(), Variant(), Variant()})
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
    // The financial update checks what it is given like any method.
    EXPECT_NE(client->refusal("Gera_Financeiro", {}).find("espera 3 argumento"), std::string::npos);
}

TEST_F(Server, BadInputGetsAClearAnswerAndTheServerGoesOn) {
    httplib::Client raw("127.0.0.1", server->port());
    raw.set_bearer_token_auth(test::token_for(server->port(), "ROBO"));
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
    again.set_bearer_token_auth(test::token_for(server->port(), "ROBO"));
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
    // The sign-in's own connection is closed before the holder's opens, but the server may not
    // have seen it go yet: the holder tries again for a moment.
    std::unique_ptr<Client> held;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3); !held;) {
        try {
            held = std::make_unique<Client>(small.port());
        } catch (const host::ConnectionError&) {
            if (std::chrono::steady_clock::now() > until) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    Client& holder = *held;  // holds the only connection the server takes, not its worker
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

namespace {

// Saves a settlement of budget 42 with its header and one breakage line (quantity 3), and
// loads it into `t`.
void save_settlement(Client& c, Settlement& t) {
    Settlement s;
    s.load(c, "0001", "0000000042");
    add_header(s.acerto, "0000000042", "01");
    add_breakage(s.quebra, "0000000042", "0001", 3, 2.5);
    c.call("SetConfirmar", s.deltas());
    t.load(c, "0001", "0000000042");
}

// The JSON of a call's arguments, as the screen's connection writes them.
std::string json_of(const Args& args) {
    std::string out;
    platform::write_json(out, Variant(args));
    return out;
}

// Posts a request's text as it stands; the answer's error text ("" when it was accepted).
std::string raw_refusal(int port, const std::string& method, const std::string& body) {
    httplib::Client raw("127.0.0.1", port);
    raw.set_bearer_token_auth(test::token_for(port, "ROBO"));
    raw.set_read_timeout(60, 0);
    auto res = raw.Post("/QLM01200.rdmAcertoFinal/" + method, body, "application/json");
    if (!res) return "(no answer)";
    auto j = nlohmann::json::parse(res->body, nullptr, false);
    return j.is_object() && j.contains("error") && j["error"].is_string() ? j["error"].get<std::string>() : "";
}

// What the settlement of budget 42 holds, as one text to compare before and after a refusal.
std::string stored(Client& c) {
    return json_of(c.call("GetOrcamento", {Variant("0001"), Variant("0000000042")}).array());
}

}  // namespace

TEST_F(Server, ADeltaHoldsOnlyValuesTheScreenCouldHold) {
    Settlement s;
    save_settlement(*client, s);
    const std::string before = stored(*client);
    auto refused = [&](const Args& args) { return client->refusal("SetConfirmar", args); };

    // A date no screen could give, nor any real date fit.
    s.acerto.edit();
    s.acerto["DTACERTOOREV"].set_as_date_time(platform::DateTime::from_date(1899, 12, 31));
    s.acerto.post();
    EXPECT_NE(refused(s.deltas()).find("fora do intervalo aceito (anos de 1900 a 2200)"), std::string::npos);
    s.acerto.cancel_updates();
    s.acerto.edit();
    s.acerto["DTACERTOOREV"].set_as_date_time(platform::DateTime::from_date(2201, 1, 1));
    s.acerto.post();
    EXPECT_NE(refused(s.deltas()).find("fora do intervalo"), std::string::npos);
    s.acerto.cancel_updates();
    // As days since 1899-12-30, a date of year -292275125.
    s.acerto.edit();
    s.acerto["CDOPERADOR"].set_as_string("DATA");
    s.acerto.post();
    std::string text = json_of(s.deltas());
    std::string date = "\"2026-12-07 10:00:00\",\"DATA\"";
    ASSERT_NE(text.rfind(date), std::string::npos);
    text.replace(text.rfind(date), date.size(), "-106751991167300,\"DATA\"");
    EXPECT_NE(raw_refusal(server->port(), "SetConfirmar", text).find("Valor inválido para um campo do tipo datetime"),
              std::string::npos);
    s.acerto.cancel_updates();

    // A one-letter code the screen reads.
    s.acerto.edit();
    s.acerto["IDTPVREXTRA"].set_as_string("X");
    s.acerto.post();
    EXPECT_NE(refused(s.deltas()).find("IDTPVREXTRA de ACERTO só aceita P"), std::string::npos);
    s.acerto.cancel_updates();

    // Amounts beyond the screen's nine nines, as a number and as the probe's text.
    s.quebra.edit();
    s.quebra["QTACERTOQUEB"].set_as_float(1e9);
    s.quebra.post();
    EXPECT_NE(refused(s.deltas()).find("QTACERTOQUEB de ACERTOQUEBRA passa de 999999999"), std::string::npos);
    s.quebra.cancel_updates();
    s.quebra.edit();
    s.quebra["QTACERTOQUEB"].set_as_float(123456);
    s.quebra.post();
    text = json_of(s.deltas());
    ASSERT_NE(text.find("123456"), std::string::npos);
    text.replace(text.find("123456"), 6, "99999999999199991e3");
    EXPECT_NE(raw_refusal(server->port(), "SetConfirmar", text).find("passa de 999999999"), std::string::npos);
    s.quebra.cancel_updates();
    s.quebra.edit();
    s.quebra["VRACERTOQUEB"].set_as_float(-1e9 - 1);
    s.quebra.post();
    EXPECT_NE(refused(s.deltas()).find("VRACERTOQUEB de ACERTOQUEBRA passa de 999999999"), std::string::npos);
    s.quebra.cancel_updates();

    // A NUL inside a text: PostgreSQL would cut it there, SQLite would keep it.
    s.quebra.edit();
    s.quebra["NMPRODUTO"].set_as_string(std::string("Taça\0 de vinho", 14));
    s.quebra.post();
    EXPECT_NE(refused(s.deltas()).find("NMPRODUTO de ACERTOQUEBRA traz um caractere nulo"), std::string::npos);
    s.quebra.cancel_updates();
    EXPECT_NE(client
                  ->refusal("GetPesqOrca", {Variant(std::string("00\0"
                                                                "01",
                                                                5))})
                  .find("caractere nulo"),
              std::string::npos);

    // Nothing of it was written, and the settlement still loads.
    EXPECT_EQ(stored(*client), before);
    s.quebra.edit();
    s.quebra["QTACERTOQUEB"].set_as_float(999999999);
    s.quebra.post();
    client->call("SetConfirmar", s.deltas());
    Settlement t;
    t.load(*client, "0001", "0000000042");
    EXPECT_EQ(t.quebra["QTACERTOQUEB"].as_float(), 999999999);
}

TEST_F(Server, KeysAndTheServersOwnColumnsCannotBeChangedThroughADelta) {
    Settlement s;
    save_settlement(*client, s);
    const std::string before = stored(*client);
    auto refused = [&](const Args& args) { return client->refusal("SetConfirmar", args); };
    auto change = [](ClientDataSet& d, const char* field, const std::string& value) {
        d.edit();
        d[field].set_as_string(value);
        d.post();
    };

    // A line moved to another branch's settlement, or to another number; a header's sequence.
    change(s.quebra, "CDFILIAL", "0002");
    EXPECT_NE(refused(s.deltas()).find("campo chave CDFILIAL de ACERTOQUEBRA não pode ser alterado"),
              std::string::npos);
    s.quebra.cancel_updates();
    change(s.quebra, "NRORCAEVENTO", "0000000043");
    EXPECT_NE(refused(s.deltas()).find("campo chave NRORCAEVENTO"), std::string::npos);
    s.quebra.cancel_updates();
    change(s.quebra, "NRACERTOQUEB", "0002");
    EXPECT_NE(refused(s.deltas()).find("campo chave NRACERTOQUEB"), std::string::npos);
    s.quebra.cancel_updates();
    change(s.quebra, "NRSEQORCAEVE", "01");
    EXPECT_NE(refused(s.deltas()).find("campo chave NRSEQORCAEVE de ACERTOQUEBRA"), std::string::npos);
    s.quebra.cancel_updates();
    change(s.acerto, "NRSEQORCAEVE", "02");
    EXPECT_NE(refused(s.deltas()).find("campo chave NRSEQORCAEVE de ACERTO "), std::string::npos);
    s.acerto.cancel_updates();

    // The situation and the department are the server's: refused, not silently dropped.
    change(s.acerto, "IDSITUACERTO", "F");
    EXPECT_NE(refused(s.deltas()).find("IDSITUACERTO de ACERTO é gravado só pelo servidor"), std::string::npos);
    s.acerto.cancel_updates();
    change(s.acerto, "CDDEPTO", "999");
    EXPECT_NE(refused(s.deltas()).find("CDDEPTO de ACERTO é gravado só pelo servidor"), std::string::npos);
    s.acerto.cancel_updates();
    Settlement n;
    n.load(*client, "0001", "0000000043");
    add_header(n.acerto, "0000000043", "00");
    n.acerto.edit();
    n.acerto["IDSITUACERTO"].set_as_string("T");
    n.acerto.post();
    add_breakage(n.quebra, "0000000043", "0001", 1, 1);
    EXPECT_NE(refused(n.deltas()).find("IDSITUACERTO de ACERTO é gravado só pelo servidor"), std::string::npos);
    n.acerto.cancel_updates();
    n.quebra.cancel_updates();
    // So are what a stock withdrawal records on an extras line.
    add_header(n.acerto, "0000000043", "00");
    n.extras.append();
    for (auto [f, v] : {std::pair{"CDFILIAL", "0001"},
                        {"NRORCAEVENTO", "0000000043"},
                        {"NRSEQORCAEVE", "00"},
                        {"NRACERTOEXTR", "0001"},
                        {"CDARVPROD", "101001"},
                        {"NRLANCESTQ", "0000009999"}})
        n.extras[f].set_as_string(v);
    n.extras["QTACERTOEXTR"].set_as_float(1);
    n.extras.post();
    EXPECT_NE(refused(n.deltas()).find("NRLANCESTQ de ACERTOEXTRA é gravado só pelo servidor"), std::string::npos);
    n.acerto.cancel_updates();
    n.extras.cancel_updates();

    // A modify compares every column the screen writes: a rename that leaves out the
    // quantity's original is refused, not applied over another operator's quantity.
    ClientDataSet rename("cdsQuebra");
    for (const auto& f : s.quebra.fields())
        if (f->name() != "QTACERTOQUEB") rename.add_field(f->def());
    rename.create_dataset();
    rename.append();
    for (const auto& f : rename.fields()) f->set_value(s.quebra[f->name()].value());
    rename.post();
    rename.merge_change_log();
    change(rename, "NMPRODUTO", "Taça renomeada");
    EXPECT_NE(refused({Variant(), rename.delta(), Variant(), Variant(), Variant()})
                  .find("sem o valor original do campo QTACERTOQUEB"),
              std::string::npos);

    // Every row of a call belongs to one settlement, under its budget's sequence.
    s.quebra.edit();
    s.quebra["QTACERTOQUEB"].set_as_float(4);
    s.quebra.post();
    add_breakage(s.quebra, "0000000043", "0002", 1, 1);
    EXPECT_NE(refused(s.deltas()).find("Um pedido grava um só acerto"), std::string::npos);
    s.quebra.cancel_updates();
    add_breakage(s.quebra, "0000000042", "0002", 1, 1);
    change(s.quebra, "NRSEQORCAEVE", "07");
    EXPECT_NE(refused(s.deltas()).find("A sequência '07' de ACERTOQUEBRA não é a do orçamento 0000000042"),
              std::string::npos);
    s.quebra.cancel_updates();

    // Line numbers are four digits.
    for (const char* nr : {"12KW", "0000", "12 3", "-001"}) {
        add_breakage(s.quebra, "0000000042", nr, 1, 1);
        EXPECT_NE(refused(s.deltas()).find("uma linha é numerada com quatro algarismos"), std::string::npos) << nr;
        s.quebra.cancel_updates();
    }
    EXPECT_EQ(stored(*client), before);
}

TEST_F(Server, SetDeletarOnlyDeletesAndADeltaIsBoundedByTheLineLimit) {
    Settlement s;
    save_settlement(*client, s);
    add_breakage(s.quebra, "0000000042", "0002", 1, 1);
    client->call("SetConfirmar", s.deltas());
    s.merge();
    const std::string before = stored(*client);
    auto deletar = [&](const char* code, Variant header, Variant lines) {
        return client->refusal("SetDeletar", {Variant(code), header, lines, Variant(), Variant(), Variant()});
    };

    // Code "2" deletes one line: an insert or a change in its delta is refused.
    add_breakage(s.quebra, "0000000042", "0003", 1, 1);
    EXPECT_NE(deletar("2", Variant(), s.quebra.delta())
                  .find("SetDeletar só exclui, e o delta de ACERTOQUEBRA traz uma inclusão"),
              std::string::npos);
    s.quebra.cancel_updates();
    s.quebra.edit();
    s.quebra["QTACERTOQUEB"].set_as_float(8);
    s.quebra.post();
    EXPECT_NE(deletar("2", Variant(), s.quebra.delta()).find("traz uma alteração"), std::string::npos);
    s.quebra.cancel_updates();
    // An even code never takes the settlement's last line, and an odd one needs the header.
    s.quebra.first();
    s.quebra.remove();
    s.quebra.remove();
    EXPECT_NE(deletar("2", Variant(), s.quebra.delta()).find("é a última do acerto"), std::string::npos);
    EXPECT_NE(deletar("1", s.acerto.delta(), s.quebra.delta()).find("o delta da posição 2 não traz exclusão"),
              std::string::npos);
    s.quebra.cancel_updates();
    EXPECT_EQ(stored(*client), before);

    // A delta of 100,000 lines is refused before anything is built from it; one of more
    // changes than two grids' worth of lines is refused by the server's rule.
    auto lines = [](int n, const char* nr) {
        std::string t =
            R"([null,{"fields":[{"name":"CDFILIAL"},{"name":"NRORCAEVENTO"},{"name":"NRACERTOQUEB"}],"delta":[)";
        for (int i = 0; i < n; ++i)
            t += std::string(i ? "," : "") + R"({"op":"insert","new":["0001","0000000042",")" + nr + "\"]}";
        return t + "]},null,null,null]";
    };
    EXPECT_NE(raw_refusal(server->port(), "SetConfirmar", lines(100000, "12KW")).find("mais de 500000 valores"),
              std::string::npos);
    EXPECT_NE(raw_refusal(server->port(), "SetConfirmar", lines(19999, "0005"))
                  .find("o limite é 19998 (9999 linhas por aba)"),
              std::string::npos);
    EXPECT_EQ(stored(*client), before);
}
