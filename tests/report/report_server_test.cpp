// The server's report method for real: a server process over the report fixture, called through
// the host's connection; then the same rows laid out by the engine.
#include <gtest/gtest.h>

#include "acerto/host/consiste.h"
#include "acerto/host/net_connection.h"
#include "acerto/host/report.h"
#include "server_process.h"

using namespace acerto;
using platform::Variant;
using Args = Variant::Array;

namespace {

const std::string kFixture = ACERTO_REPORT_FIXTURES "/acerto_relatorio.json";

class ReportServer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = new test::ServerProcess(test::fresh_database(), kFixture); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        net.ServerName = "QLM01200.rdmAcertoFinal";
        net.Port = server_->port();
        net.Token = server_->token();
    }
    host::ServerReply call(const Args& args) { return net.Call("GetRelatorio", args); }
    host::report::Data settlement(const std::string& branch, const std::string& number) {
        Variant v = host::Consiste::CheckResultServ(
            call({Variant("AcertoFinal"), Variant("P_CDFILIAL"), Variant(branch), Variant("P_NRORCAEVENTO"),
                  Variant(number), Variant("P_NRSEQORCAEVE"), Variant("00")}),
            true, 0);
        return host::report::data_from_answer(v);
    }
    static double num(const platform::DataPacket& p, std::size_t row, const char* field) {
        return p.value(p.rows().at(row), field).as_number();
    }
    static std::string txt(const platform::DataPacket& p, std::size_t row, const char* field) {
        return p.value(p.rows().at(row), field).as_string();
    }

    static test::ServerProcess* server_;
    host::TNetConnection net;
};

test::ServerProcess* ReportServer::server_ = nullptr;

}  // namespace

TEST_F(ReportServer, EachLineIsValuedAsItsGridValuesItAndTheTotalIsTheirSumInCents) {
    auto d = settlement("0001", "0000000100");
    const auto& h = *d.set("CABECALHO");
    ASSERT_EQ(h.rows().size(), 1u);
    EXPECT_EQ(txt(h, 0, "NMFILIAL"), "Buffet Relatório - Matriz");
    EXPECT_EQ(txt(h, 0, "NMEMPRESA"), "Buffet Relatório Ltda");
    EXPECT_EQ(txt(h, 0, "DSORIGEM"), "Orçamento");
    EXPECT_EQ(txt(h, 0, "NMCLIENTE"), "Maria Souza");
    EXPECT_EQ(txt(h, 0, "HRACERTO"), "16:45:10");
    EXPECT_EQ(txt(h, 0, "DSSITUACAO"), "Pendente");
    const auto& q = *d.set("QUEBRA");
    ASSERT_EQ(q.rows().size(), 2u);
    EXPECT_DOUBLE_EQ(num(q, 0, "VRTOTAL"), 10.51 * 2 + 1 - 0.5);  // unit rounded first
    EXPECT_DOUBLE_EQ(num(q, 1, "VRTOTAL"), 8.13 * 3);
    EXPECT_NEAR(num(*d.set("SOBRA"), 0, "VRTOTAL"), 3 * 3.333, 1e-9);  // (10 + 2 - 9) x unit
    EXPECT_DOUBLE_EQ(num(*d.set("HREXTRA"), 0, "VRTOTAL"), 4 * 25.56);
    EXPECT_DOUBLE_EQ(num(*d.set("EXTRA"), 0, "VRTOTAL"), 5 * 12.0);
    EXPECT_DOUBLE_EQ(num(h, 0, "VRQUEBRA"), 45.91);
    EXPECT_DOUBLE_EQ(num(h, 0, "VRSOBRA"), 10.0);
    EXPECT_DOUBLE_EQ(num(h, 0, "VRDEVIDO"), 218.15);  // 21.52 + 24.39 + 9.999 + 102.24 + 60
}

TEST_F(ReportServer, ExtrasPerPersonAreOneLineOfPersonsTimesValueWhateverLinesAreStored) {
    // Typed as the operator typed it: the number without its zeros.
    auto d = settlement("1", "200");
    const auto& h = *d.set("CABECALHO");
    ASSERT_EQ(h.rows().size(), 1u);
    EXPECT_EQ(txt(h, 0, "NMCLIENTE"), "João Lima");  // the budget's own name
    EXPECT_EQ(txt(h, 0, "DSORIGEM"), "Encomenda");
    EXPECT_EQ(txt(h, 0, "DSSITUACAO"), "Financeiro atualizado");
    const auto& x = *d.set("EXTRA");
    ASSERT_EQ(x.rows().size(), 1u);
    EXPECT_EQ(txt(x, 0, "NMPRODUTO"), "Pessoas adicionais");
    EXPECT_DOUBLE_EQ(num(x, 0, "QTACERTOEXTR"), 10);
    EXPECT_DOUBLE_EQ(num(x, 0, "VRACERTOEXTR"), 35.5);
    EXPECT_DOUBLE_EQ(num(h, 0, "VRDEVIDO"), 355.0);
}

TEST_F(ReportServer, ANumberWithoutSettlementAnswersNoRowsAndThePageSaysSo) {
    for (const char* number : {"0000000300", "0000009999", ""}) {
        auto d = settlement("0001", number);
        EXPECT_TRUE(d.set("CABECALHO")->rows().empty()) << number;
        EXPECT_TRUE(d.set("QUEBRA")->rows().empty()) << number;
    }
    // A parameter the query declares but nobody set reads as empty: no settlement either.
    auto only_branch = host::report::data_from_answer(host::Consiste::CheckResultServ(
        call({Variant("AcertoFinal"), Variant("P_CDFILIAL"), Variant("0001")}), true, 0));
    EXPECT_TRUE(only_branch.set("CABECALHO")->rows().empty());
}

TEST_F(ReportServer, ValuesAreBoundNeverRunAsSql) {
    auto d = settlement("0001", "0000000100' OR '1'='1");
    EXPECT_TRUE(d.set("CABECALHO")->rows().empty());
    auto e = settlement("0001", "100; DROP TABLE ACERTO");
    EXPECT_TRUE(e.set("CABECALHO")->rows().empty());
    EXPECT_EQ(settlement("0001", "0000000100").set("CABECALHO")->rows().size(), 1u);
}

TEST_F(ReportServer, WhatTheQueryDoesNotDeclareIsRefused) {
    auto refusal = [&](const Args& a) {
        host::ServerReply r = call(a);
        EXPECT_FALSE(r.ok);
        return r.error;
    };
    EXPECT_EQ(refusal({}), "GetRelatorio: o primeiro argumento deve ser o nome da consulta do relatório.");
    EXPECT_EQ(refusal({Variant("SELECT * FROM ACERTO")}), "Consulta de relatório desconhecida: SELECT * FROM ACERTO.");
    EXPECT_EQ(refusal({Variant("AcertoFinal"), Variant("P_OUTRO"), Variant("1")}),
              "A consulta AcertoFinal não declara o parâmetro P_OUTRO.");
    EXPECT_EQ(refusal({Variant("AcertoFinal"), Variant("P_CDFILIAL")}),
              "GetRelatorio: cada parâmetro deve vir com o seu valor.");
    EXPECT_EQ(
        refusal({Variant("AcertoFinal"), Variant("P_CDFILIAL"), Variant("1"), Variant("P_CDFILIAL"), Variant("2")}),
        "GetRelatorio: o parâmetro P_CDFILIAL veio mais de uma vez.");
    EXPECT_EQ(refusal({Variant("AcertoFinal"), Variant("P_CDFILIAL"), Variant(3.0)}),
              "GetRelatorio: os parâmetros e seus valores devem ser textos.");
}

TEST_F(ReportServer, TheEngineFetchesOnlyTheDeclaredParametersThatWereSet) {
    host::report::Definition def;
    def.query = "AcertoFinal";
    def.parameters = {"P_CDFILIAL", "P_NRORCAEVENTO", "P_NRSEQORCAEVE"};
    platform::Params params;
    params.add("P_CDFILIAL").set_as_string("0001");
    params.add("P_NRORCAEVENTO").set_as_string("0000000100");
    params.add("P_NRSEQORCAEVE");               // declared, never set
    params.add("P_ALHEIO").set_as_string("x");  // not the query's: not sent
    Args sent;
    net.OnAfterCall = [&](const std::string&, const Args& a, const host::ServerReply&) { sent = a; };
    auto d = host::report::fetch(net, def, params);
    EXPECT_EQ(sent.size(), 5u);
    EXPECT_EQ(d.set("CABECALHO")->rows().size(), 0u);  // the sequence read as "" finds nothing
    params.param_by_name("P_NRSEQORCAEVE").set_as_string("00");
    EXPECT_EQ(host::report::fetch(net, def, params).set("CABECALHO")->rows().size(), 1u);
}
