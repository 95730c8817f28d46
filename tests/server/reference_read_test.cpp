// The workstations' read method through a real server process: what it answers, what it
// refuses (and logs), its row and time limits; on PostgreSQL also what the reading role may do,
// and the screen's own queries giving the same rows as on SQLite.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "acerto/host/server_queries.h"
#include "acerto/host/services.h"
#include "acerto/platform/errors.h"
#include "acerto/settlement/acerto_final.h"
#include "os_util.h"
#include "server_process.h"

using namespace acerto;
using platform::Variant;

namespace {

// The reference tables with what tells two databases apart: names in mixed case, with accents
// and trailing blanks, codes that sort differently by case, validity dates with and without a
// time, prices with many decimals; and 200 products, enough for a slow cross join.
std::string fixture_path() {
    static const std::string path = [] {
        nlohmann::json j;
        j["FILIAL"] = {{{"CDFILIAL", "0001"}, {"NMFILIAL", "Matriz"}, {"CDEMPRESA", "01"}, {"CDSERIE", "1"}},
                       {{"CDFILIAL", "0002"}, {"NMFILIAL", "Filial Água Branca "}, {"CDEMPRESA", "01"}},
                       {{"CDFILIAL", "000a"}, {"NMFILIAL", "filial minúscula"}, {"CDEMPRESA", "02"}},
                       {{"CDFILIAL", "000B"}, {"NMFILIAL", "Filial B"}, {"CDEMPRESA", "02"}}};
        j["PRECOBASE"] = {{{"CDPRECOBASE", "01"}, {"DSPRECOBASE", "Tabela de Eventos"}},
                          {{"CDPRECOBASE", "02"}, {"DSPRECOBASE", "Reposição"}},
                          {{"CDPRECOBASE", "0a"}, {"DSPRECOBASE", "minúscula"}}};
        nlohmann::json products = nlohmann::json::array(), items = nlohmann::json::array();
        products.push_back(
            {{"CDPRODUTO", "P1"}, {"CDARVPROD", "1"}, {"NMPRODUTO", "Utensílios"}, {"CDNVPRODUTO", "1"}});
        for (int i = 0; i < 200; ++i) {
            char arv[16], code[16];
            std::snprintf(arv, sizeof arv, "1%02d%03d", i / 100, i % 100);
            std::snprintf(code, sizeof code, "P%d", 1000 + i);
            std::string name = i % 3 == 0 ? "Ébano " + std::to_string(i) : i % 3 == 1 ? "abacate " : "Zinco";
            products.push_back({{"CDPRODUTO", code},
                                {"CDARVPROD", arv},
                                {"NMPRODUTO", name},
                                {"SGUNIDADE", "UN"},
                                {"CDNVPRODUTO", "3"}});
            items.push_back({{"CDPRECOBASE", "01"},
                             {"CDPRODUTO", code},
                             {"DTINIVALIPB", i % 2 ? "2026-12-07" : "2026-01-01 08:00:00"},
                             {"VRITEPREBASE", 10.125 + i / 7.0}});
            if (i % 10 == 0)
                items.push_back({{"CDPRECOBASE", "02"},
                                 {"CDPRODUTO", code},
                                 {"DTINIVALIPB", "2026-12-08"},
                                 {"VRITEPREBASE", 99.999}});
        }
        j["PRODUTO"] = products;
        j["ITEMPREBASE"] = items;
        std::string p = test::temp_dir() + "/reference_read.json";
        std::ofstream(p) << j.dump(1);
        return p;
    }();
    return path;
}

// The read method's client on one server, as a workstation holds it.
struct Reader {
    host::ServerQueries queries;
    explicit Reader(int port) {
        queries.connection().OnBeforeConnect = nullptr;
        queries.connection().Port = port;
        queries.connection().Token = test::token_for(port);
    }
    platform::ResultSet read(const std::string& sql, const std::vector<Variant>& values = {}) {
        return queries.query(sql, values);
    }
    // The server's refusal of a statement, or "(answered)".
    std::string refusal(const std::string& sql, const std::vector<Variant>& values = {}) {
        try {
            queries.query(sql, values);
        } catch (const platform::DatabaseError& e) {
            return e.what();
        }
        return "(answered)";
    }
    double count(const std::string& table) { return read("SELECT COUNT(*) FROM " + table).rows.at(0).at(0).number(); }
};

// The rows as one JSON text, to compare two answers whole.
std::string dump(const platform::ResultSet& rs) {
    Variant::Array rows;
    for (const auto& r : rs.rows) rows.push_back(Variant(Variant::Array(r.begin(), r.end())));
    return Variant(rows).to_json().dump();
}

class ReadMethod : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        log_ = test::temp_dir() + "/reference_read.log";
        server_ =
            new test::ServerProcess(test::fresh_database(), fixture_path(),
                                    {"--query-rows", "150", "--query-timeout", "0.3", "--log-level", "warn"}, log_);
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void expect_refused(const std::string& sql, const std::string& why) {
        std::string text = reader.refusal(sql);
        EXPECT_NE(text.find("Consulta recusada pelo servidor de aplicação"), std::string::npos) << sql << ": " << text;
        EXPECT_NE(text.find(why), std::string::npos) << sql << ": " << text;
    }

    static inline test::ServerProcess* server_ = nullptr;
    static inline std::string log_;
    Reader reader{server_->port()};
};

}  // namespace

TEST_F(ReadMethod, AnswersAReferenceReadWithItsValuesBound) {
    auto rs = reader.read("select cdfilial, NmFilial from filial where cdfilial = ?", {Variant("0002")});
    ASSERT_EQ(rs.rows.size(), 1u);
    EXPECT_EQ(rs.columns, (std::vector<std::string>{"CDFILIAL", "NMFILIAL"}));  // as on either database
    EXPECT_EQ(rs.rows[0][1].text(), "Filial Água Branca ");
    // A value is bound, never spliced into the text.
    EXPECT_TRUE(
        reader.read("SELECT CDFILIAL FROM FILIAL WHERE CDFILIAL = ?", {Variant("0002' OR '1'='1")}).rows.empty());
    // A date-time value compares as the stored ISO text; a number as the stored code.
    auto prices = reader.read(
        "SELECT I.CDPRODUTO, I.VRITEPREBASE FROM ITEMPREBASE I, PRODUTO P WHERE P.CDPRODUTO = I.CDPRODUTO AND "
        "I.CDPRECOBASE = ? AND P.CDNVPRODUTO = ? AND I.DTINIVALIPB <= ? ORDER BY P.CDARVPROD",
        {Variant("02"), Variant(3.0), Variant(platform::DateTime::parse_iso("2026-12-08 00:00:00"))});
    ASSERT_EQ(prices.rows.size(), 20u);
    EXPECT_EQ(prices.rows[0][0].text(), "P1000");
    EXPECT_DOUBLE_EQ(prices.rows[0][1].number(), 99.999);
    EXPECT_TRUE(reader
                    .read("SELECT I.CDPRODUTO FROM ITEMPREBASE I WHERE I.CDPRECOBASE = ? AND I.DTINIVALIPB <= ?",
                          {Variant("02"), Variant(platform::DateTime::parse_iso("2026-12-07 23:59:59"))})
                    .rows.empty());
    // A trailing semicolon and comment are no second statement.
    EXPECT_EQ(reader.read("SELECT CDFILIAL FROM FILIAL; -- todas").rows.size(), 4u);
}

TEST_F(ReadMethod, RefusesWritesAndChangesNothing) {
    for (const char* sql : {"DELETE FROM FILIAL", "UPDATE PRODUTO SET NMPRODUTO = 'x'",
                            "INSERT INTO PRECOBASE (CDPRECOBASE, DSPRECOBASE) VALUES ('99', 'x')",
                            "REPLACE INTO FILIAL (CDFILIAL) VALUES ('0009')",
                            "WITH X AS (SELECT CDFILIAL FROM FILIAL) DELETE FROM FILIAL WHERE CDFILIAL IN X"})
        expect_refused(sql, "só uma leitura (SELECT) é permitida");
    EXPECT_EQ(reader.count("FILIAL"), 4);
    EXPECT_EQ(reader.count("PRECOBASE"), 3);
    EXPECT_EQ(reader.read("SELECT NMPRODUTO FROM PRODUTO WHERE CDPRODUTO = 'P1'").rows.at(0).at(0).text(),
              "Utensílios");
}

TEST_F(ReadMethod, RefusesDdl) {
    for (const char* sql : {"CREATE TABLE X (A INTEGER)", "CREATE TEMP TABLE X (A INTEGER)", "DROP TABLE FILIAL",
                            "ALTER TABLE FILIAL ADD COLUMN X INTEGER", "CREATE INDEX IX ON FILIAL (NMFILIAL)",
                            "CREATE VIEW V AS SELECT * FROM FILIAL", "BEGIN", "VACUUM"})
        expect_refused(sql, "só uma leitura (SELECT) é permitida");
    EXPECT_EQ(reader.count("FILIAL"), 4);
}

TEST_F(ReadMethod, RefusesPragmas) {
    expect_refused("PRAGMA table_info(FILIAL)", "PRAGMA");
    expect_refused("PRAGMA journal_mode = DELETE", "PRAGMA");
    expect_refused("SELECT * FROM pragma_table_info('FILIAL')", "");
}

TEST_F(ReadMethod, RefusesAnAttachedDatabase) {
    const std::string other = test::temp_dir() + "/outro.db";
    expect_refused("ATTACH DATABASE '" + other + "' AS outro", "anexar outro banco de dados");
    EXPECT_FALSE(std::filesystem::exists(other));
    expect_refused("SELECT * FROM outro.FILIAL", "outro");
    expect_refused("SELECT * FROM temp.FILIAL", "");
}

TEST_F(ReadMethod, RefusesTablesOutsideTheList) {
    expect_refused("SELECT * FROM ACERTO", "a tabela ACERTO não está entre as que as estações podem ler");
    expect_refused("SELECT * FROM ORCAMENTO", "a tabela ORCAMENTO");
    expect_refused("SELECT F.CDFILIAL FROM FILIAL F JOIN PARAMETRO P ON P.CDFILIAL = F.CDFILIAL", "a tabela PARAMETRO");
    expect_refused("SELECT CDFILIAL FROM FILIAL WHERE EXISTS (SELECT 1 FROM CONTARECEBER)", "a tabela CONTARECEBER");
    expect_refused("SELECT CDFILIAL FROM FILIAL UNION SELECT NRORCAEVENTO FROM ACERTOQUEBRA", "a tabela ACERTOQUEBRA");
    expect_refused("SELECT name FROM sqlite_master", "sqlite_master");
    expect_refused("SELECT * FROM NAOEXISTE", "não é uma consulta SQL válida");
}

TEST_F(ReadMethod, RefusesFunctionsOutsideTheList) {
    expect_refused("SELECT randomblob(100) FROM FILIAL", "a função randomblob não é permitida");
    expect_refused("SELECT zeroblob(1000000000) FROM FILIAL", "a função zeroblob");
    expect_refused("SELECT load_extension('/tmp/x.so') FROM FILIAL", "a função load_extension");
    expect_refused("SELECT sqlite_version()", "a função sqlite_version");
    expect_refused("SELECT pg_sleep(10) FROM FILIAL", "não é uma consulta SQL válida");
    // The plain ones both databases have are allowed.
    auto rs = reader.read("SELECT UPPER(NMFILIAL), COUNT(*) FROM FILIAL WHERE CDFILIAL = ? GROUP BY NMFILIAL",
                          {Variant("000a")});
    ASSERT_EQ(rs.rows.size(), 1u);
    EXPECT_EQ(rs.rows[0][1].number(), 1);
}

TEST_F(ReadMethod, RefusesAStackedSecondStatement) {
    expect_refused("SELECT CDFILIAL FROM FILIAL; DELETE FROM FILIAL", "mais de um comando");
    expect_refused("SELECT CDFILIAL FROM FILIAL; SELECT CDFILIAL FROM FILIAL", "mais de um comando");
    expect_refused("SELECT CDFILIAL FROM FILIAL;;DROP TABLE FILIAL", "mais de um comando");
    EXPECT_EQ(reader.count("FILIAL"), 4);
}

TEST_F(ReadMethod, RefusesAResultOverTheRowLimit) {
    // 201 products, 150 allowed: refused, not cut short.
    expect_refused("SELECT CDPRODUTO FROM PRODUTO", "passou do limite de 150 linhas");
    EXPECT_EQ(reader.read("SELECT CDPRODUTO FROM PRODUTO ORDER BY CDPRODUTO LIMIT 150").rows.size(), 150u);
    expect_refused("SELECT CDPRODUTO FROM PRODUTO ORDER BY CDPRODUTO LIMIT 151", "passou do limite de 150 linhas");
}

TEST_F(ReadMethod, RefusesAReadOverTheTimeLimitAndGoesOnServing) {
    auto start = std::chrono::steady_clock::now();
    expect_refused("SELECT COUNT(*) FROM PRODUTO A, PRODUTO B, PRODUTO C, PRODUTO D", "limite de tempo de 300 ms");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(reader.count("FILIAL"), 4);
}

// What SQLite's judge lets through and PostgreSQL does not take is the caller's fault too.
TEST_F(ReadMethod, AStatementTheDatabaseDoesNotTakeIsRefused) {
    if (!test::using_postgres()) GTEST_SKIP() << "PostgreSQL only: SQLite takes these";
    expect_refused("SELECT CDFILIAL FROM FILIAL LIMIT 1, 1", "o banco de dados não aceitou a consulta");
    expect_refused("SELECT CDFILIAL FROM FILIAL /* sem fim", "o banco de dados não aceitou a consulta");
    EXPECT_EQ(reader.count("FILIAL"), 4);
}

TEST_F(ReadMethod, RefusesValuesThatDoNotFitTheStatement) {
    expect_refused("SELECT CDFILIAL FROM FILIAL WHERE CDFILIAL = ?", "tem 1 parâmetro(s) e recebeu 0 valor(es)");
    EXPECT_NE(reader.refusal("SELECT CDFILIAL FROM FILIAL", {Variant("x")}).find("tem 0 parâmetro(s) e recebeu 1"),
              std::string::npos);
    expect_refused("SELECT CDFILIAL FROM FILIAL WHERE CDFILIAL = :P_CDFILIAL", "deve ser escrito como ?");
    EXPECT_NE(reader.refusal("SELECT CDFILIAL FROM FILIAL WHERE CDFILIAL = ?", {Variant(Variant::Array{Variant("1")})})
                  .find("não é um texto, número, data ou nulo"),
              std::string::npos);
    // Arguments that are not a text and a list are refused as such.
    host::TNetConnection& net = reader.queries.connection();
    host::ServerReply r = net.Call("OpenQuery", {Variant(1.0), Variant(Variant::Array{})});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("espera o texto da consulta"), std::string::npos) << r.error;
}

TEST_F(ReadMethod, RefusalsAreLoggedWithTheStatement) {
    expect_refused("SELECT NRORCAEVENTO FROM ORCAMENTO WHERE 'registro' = 'registro'", "a tabela ORCAMENTO");
    // The log is written as the refusal is answered; give the file a moment.
    std::string log;
    for (int i = 0; i < 100 && log.find("'registro' = 'registro'") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        log = test::slurp(log_);
    }
    EXPECT_NE(log.find("OpenQuery recusada: a tabela ORCAMENTO"), std::string::npos) << log;
    EXPECT_NE(log.find("'registro' = 'registro'"), std::string::npos) << log;
}

// PostgreSQL: the role reads run under may select the reference tables and nothing else, even
// when the statement never passed the server's judge.
TEST_F(ReadMethod, PostgresRoleSelectsOnlyTheReferenceTables) {
    if (!test::using_postgres()) GTEST_SKIP() << "PostgreSQL only";
    // The test cluster's databases share the role; each grants its own tables.
    const std::string db = test::fresh_database();
    test::ServerProcess second(db, fixture_path());
    auto in_db = [&](const std::string& sql) {
        std::string cmd = "psql -q -X -v ON_ERROR_STOP=1 -d '" + db + "' -c 'SET ROLE acerto_leitura' -c \"" + sql +
                          "\" >/dev/null 2>&1";
        return std::system(cmd.c_str()) == 0;
    };
    EXPECT_TRUE(in_db("SELECT COUNT(*) FROM FILIAL"));
    EXPECT_TRUE(in_db("SELECT COUNT(*) FROM ITEMPREBASE"));
    EXPECT_FALSE(in_db("SELECT COUNT(*) FROM ACERTO"));
    EXPECT_FALSE(in_db("SELECT COUNT(*) FROM ORCAMENTO"));
    EXPECT_FALSE(in_db("DELETE FROM FILIAL"));
}

// A reading role that may do more than read the reference tables is not used: the server says
// so and refuses the workstations' reads, while its other methods serve.
TEST(ReadRole, WithMoreThanTheReferenceTablesReadsAreRefused) {
    if (!test::using_postgres()) GTEST_SKIP() << "PostgreSQL only";
    const std::string db = test::fresh_database();
    test::ServerProcess{db, fixture_path()}.stop();  // the schema and the role's grants
    const std::string grant = "psql -q -X -v ON_ERROR_STOP=1 -d '" + db +
                              "' -c 'GRANT SELECT ON ORCAMENTO TO acerto_leitura' >/dev/null 2>&1";
    ASSERT_EQ(std::system(grant.c_str()), 0);
    test::ServerProcess server(db, {});
    Reader reader(server.port());
    const std::string text = reader.refusal("SELECT CDFILIAL FROM FILIAL");
    EXPECT_NE(text.find("não estão disponíveis"), std::string::npos) << text;
    EXPECT_NE(text.find("ORCAMENTO"), std::string::npos) << text;
    host::ServerReply r = reader.queries.connection().Call("GetPesqOrca", {Variant("0001")});
    EXPECT_TRUE(r.ok) << r.error;
}

// The screen's own queries, with the values the screen binds, give the same rows on SQLite and
// on PostgreSQL.
TEST(ModuleQueries, SameRowsOnSqliteAndPostgres) {
    if (!test::using_postgres()) GTEST_SKIP() << "PostgreSQL only: compares it with SQLite";
    const std::string sqlite_db = test::temp_dir() + "/same_rows.sqlite";
    std::filesystem::remove(sqlite_db);
    test::ServerProcess on_sqlite(sqlite_db, fixture_path());
    test::ServerProcess on_postgres(test::fresh_database(), fixture_path());
    Reader a(on_sqlite.port()), b(on_postgres.port());

    // The screen is only built, never opened: its queries' texts are what is compared.
    host::Services services;
    host::install(&services);
    settlement::TfrmAcertoFinal screen;
    const Variant today(platform::DateTime::parse_iso("2026-12-07 00:00:00"));
    struct Case {
        platform::Query* query;
        std::map<std::string, Variant> values;
        std::size_t rows;
    };
    const std::vector<Case> cases = {
        {&screen.qryFilial, {}, 4},
        {&screen.qryVdFilial, {{"P_CDFILIAL", Variant("0002")}}, 1},
        {&screen.qryVdFilial, {{"P_CDFILIAL", Variant("2")}}, 0},
        {&screen.qryPesqProduto,
         {{"P_CDPRECOBASE", Variant("01")}, {"P_CDNVPRODUTO", Variant(3.0)}, {"P_DTINIVALIPB", today}},
         200},
        {&screen.qryPesqProduto,
         {{"P_CDPRECOBASE", Variant("02")}, {"P_CDNVPRODUTO", Variant(3.0)}, {"P_DTINIVALIPB", today}},
         0},
        {&screen.qryVd_Produto, {{"P_CDARVPROD", Variant("100007")}, {"P_CDNVPRODUTO", Variant(3.0)}}, 1},
        {&screen.qryVd_Produto, {{"P_CDARVPROD", Variant("1")}, {"P_CDNVPRODUTO", Variant(3.0)}}, 0},
        {&screen.qryPreco,
         {{"P_CDPRECOBASE", Variant("01")}, {"P_CDARVPROD", Variant("100007")}, {"P_DTINIVALIPB", today}},
         1},
        {&screen.qryPrecoBase, {}, 3},
        {&screen.qryVdPreco, {{"P_CDPRECOBASE", Variant("0a")}}, 1},
    };
    for (const auto& c : cases) {
        auto [sql, names] = platform::parse_sql_params(c.query->sql());
        std::vector<Variant> values;
        for (const auto& n : names) values.push_back(c.values.at(n));
        platform::ResultSet x = a.read(sql, values), y = b.read(sql, values);
        EXPECT_EQ(x.rows.size(), c.rows) << c.query->name();
        EXPECT_EQ(x.columns, y.columns) << c.query->name();
        EXPECT_EQ(dump(x), dump(y)) << c.query->name();
    }
    host::install(nullptr);
}
