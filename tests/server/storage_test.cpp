// The server's storage and fixtures, in-process.
#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "acerto/server/fixture.h"
#include "acerto/server/module.h"
#include "server_process.h"

using namespace acerto;
using namespace acerto::server;
using nlohmann::json;

namespace {
std::unique_ptr<Database> fresh() {
    auto db = Database::open(test::fresh_database());
    db->ensure_schema();
    return db;
}
}  // namespace

TEST(Storage, SqliteIsDurableAndChecksReferences) {
    if (test::using_postgres()) GTEST_SKIP() << "SQLite settings";
    auto db = fresh();
    Session& s = db->session();
    EXPECT_EQ(s.query("PRAGMA journal_mode").rows[0][0].as_string(), "wal");
    EXPECT_EQ(s.query("PRAGMA synchronous").rows[0][0].as_number(), 2);  // FULL
    EXPECT_EQ(s.query("PRAGMA foreign_keys").rows[0][0].as_number(), 1);
    // The writer connection has the same settings.
    db->run_write([](Session& w) { EXPECT_EQ(w.query("PRAGMA synchronous").rows[0][0].as_number(), 2); });
}

TEST(Storage, ANewerSchemaIsRefusedAndARepeatedStartIsHarmless) {
    auto db = fresh();
    db->ensure_schema();  // again: nothing changes
    db->session().execute("UPDATE SCHEMA_VERSION SET VERSAO = 99");
    EXPECT_THROW(db->ensure_schema(), StorageError);
}

TEST(Storage, AFailedWriteLeavesNothingBehind) {
    auto db = fresh();
    load_fixture(*db, {{"FILIAL", json::array({{{"CDFILIAL", "0001"}}})}});
    EXPECT_THROW(db->run_write([](Session& w) {
        Transaction tx(w);
        w.execute("INSERT INTO PRECOBASE (CDPRECOBASE) VALUES ('01')");
        throw Refusal("no meio");
    }),
                 Refusal);
    EXPECT_TRUE(db->session().query("SELECT * FROM PRECOBASE").rows.empty());
}

TEST(Fixture, UnknownNamesAndBadRowsAreRefusedByName) {
    auto db = fresh();
    auto message = [&](const json& f) {
        try {
            load_fixture(*db, f);
        } catch (const FixtureError& e) {
            return std::string(e.what());
        }
        return std::string("(loaded)");
    };
    EXPECT_EQ(message({{"FATURA", json::array()}}), "Fixture: tabela desconhecida FATURA.");
    EXPECT_EQ(message({{"FILIAL", json::array({{{"CDFILIAL", "1"}, {"NMFILAL", "x"}}})}}),
              "Fixture: a tabela FILIAL não tem a coluna NMFILAL.");
    EXPECT_EQ(message({{"FILIAL", json::array({{{"NMFILIAL", "x"}}})}}),
              "Fixture: a linha 1 de FILIAL não tem a coluna chave CDFILIAL.");
    EXPECT_NE(message({{"ORCAMENTO", json::array({{{"CDFILIAL", "9"}, {"NRORCAEVENTO", "1"}}})}})
                  .find("cita o que não existe"),
              std::string::npos);
    EXPECT_NE(message({{"ORCAMENTO", json::array({{{"CDFILIAL", "9"}, {"NRORCAEVENTO", "1"}, {"DTEVENTO", "ontem"}}})}})
                  .find("valor inválido na coluna DTEVENTO"),
              std::string::npos);
    // A date given as a number of days that names no day is refused like any bad value.
    EXPECT_NE(message({{"ORCAMENTO", json::array({{{"CDFILIAL", "9"}, {"NRORCAEVENTO", "1"}, {"DTEVENTO", 1e308}}})}})
                  .find("valor inválido na coluna DTEVENTO"),
              std::string::npos);
    EXPECT_TRUE(db->empty());  // nothing of the refused loads stayed
    load_fixture(*db, {{"FILIAL", json::array({{{"CDFILIAL", "0001"}}})}});
    EXPECT_NE(message({{"FILIAL", json::array()}}).find("banco novo"), std::string::npos);
}

TEST(Fixture, TheDemoDataIsWhatACatererWouldRecognise) {
    auto db = fresh();
    load_fixture(*db, demo_fixture());
    Session& s = db->session();
    EXPECT_GE(s.query("SELECT COUNT(*) FROM PRODUTO WHERE CDNVPRODUTO = '3'").rows[0][0].as_number(), 100);
    EXPECT_EQ(s.query("SELECT COUNT(*) FROM PRECOBASE").rows[0][0].as_number(), 3);
    EXPECT_EQ(s.query("SELECT COUNT(DISTINCT DTINIVALIPB) FROM ITEMPREBASE").rows[0][0].as_number() >= 3, true);
    EXPECT_EQ(s.query("SELECT COUNT(DISTINCT IDTPCOBRVREXTRA) FROM ORCAMENTO").rows[0][0].as_number(), 3);
    EXPECT_GT(s.query("SELECT COUNT(*) FROM ORCAMENTO WHERE IDTPORCAEVEN = 'E'").rows[0][0].as_number(), 0);
    EXPECT_GT(s.query("SELECT COUNT(*) FROM ACERTO").rows[0][0].as_number(), 0);
    EXPECT_GT(s.query("SELECT COUNT(*) FROM DEVOLUCAO").rows[0][0].as_number(), 0);
    // Every settlement line names a product that exists with that tree code.
    EXPECT_EQ(s.query("SELECT COUNT(*) FROM ACERTOQUEBRA Q LEFT JOIN PRODUTO P ON P.CDPRODUTO = Q.CDPRODUTO "
                      "AND P.CDARVPROD = Q.CDARVPROD WHERE P.CDPRODUTO IS NULL")
                  .rows[0][0]
                  .as_number(),
              0);
    // The demo's import works: branch 0001 has its replacement price base.
    AcertoModule m(*db);
    auto r = m.call("SetImportaDevolucao",
                    {platform::Variant("0001"), platform::Variant("0000000101"), platform::Variant("ANA")});
    EXPECT_GT(r.array()[0].packet()->rows().size(), 0u);
}

TEST(Storage, NumbersBeyondSixtyFourBitsBindAsTheyAreAndANulNeverReachesPostgres) {
    auto db = fresh();
    Session& s = db->session();
    s.execute("CREATE TABLE T_VALORES (V DOUBLE PRECISION, S VARCHAR(20))");
    // Whole numbers outside 64 bits once went through a cast to long long.
    for (double v : {1e308, -1e308, 9.3e18, -9.3e18, 42.0, 0.5})
        s.execute("INSERT INTO T_VALORES (V) VALUES (?)", {Variant(v)});
    auto rs = s.query("SELECT V FROM T_VALORES ORDER BY V");
    ASSERT_EQ(rs.rows.size(), 6u);
    std::vector<double> got;
    for (const auto& r : rs.rows) got.push_back(r[0].as_number());
    EXPECT_EQ(got, (std::vector<double>{-1e308, -9.3e18, 0.5, 42.0, 9.3e18, 1e308}));
    // A parameter reaches PostgreSQL as a C string: a NUL would cut the text, so it is refused.
    Variant nul(std::string("a\0b", 3));
    if (test::using_postgres()) {
        EXPECT_THROW(s.execute("INSERT INTO T_VALORES (S) VALUES (?)", {nul}), StorageError);
    } else {
        s.execute("INSERT INTO T_VALORES (S) VALUES (?)", {nul});
        EXPECT_EQ(s.query("SELECT LENGTH(CAST(S AS BLOB)) FROM T_VALORES WHERE S IS NOT NULL").rows[0][0].as_number(),
                  3);
    }
}
