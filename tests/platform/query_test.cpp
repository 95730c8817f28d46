#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "acerto/platform/errors.h"
#include "acerto/platform/query.h"

using namespace acerto::platform;

namespace {
struct Db {
    std::string path =
        (std::filesystem::temp_directory_path() / ("acerto_query_test_" + std::to_string(::getpid()) + ".db")).string();
    Db() {
        std::filesystem::remove(path);
        SqliteConnection w(path, false);
        w.execute(
            "CREATE TABLE ITEMPREBASE (CDPRECOBASE TEXT, CDPRODUTO TEXT, DTINIVALIPB TEXT, VRITEPREBASE REAL);"
            "INSERT INTO ITEMPREBASE VALUES ('01','P1','2026-01-01 00:00:00',12.5);"
            "INSERT INTO ITEMPREBASE VALUES ('01','P1','2026-12-08 00:00:00',13.0);"
            "INSERT INTO ITEMPREBASE VALUES ('02','P1','2026-01-01 00:00:00',99);");
    }
    ~Db() { std::filesystem::remove(path); }
};
}  // namespace

TEST(Query, NamedParametersAndDeclaredFields) {
    auto [sql, names] = parse_sql_params("SELECT * FROM T WHERE A = :P_A AND B = ':not' AND C <= :P_C");
    EXPECT_EQ(sql, "SELECT * FROM T WHERE A = ? AND B = ':not' AND C <= ?");
    EXPECT_EQ(names, (std::vector<std::string>{"P_A", "P_C"}));

    Db db;
    SqliteConnection conn(db.path);
    Query q("qryPreco", &conn);
    q.add_field("CDPRODUTO", FieldType::String, 10);
    q.add_field("VRITEPREBASE", FieldType::Float);
    q.add_field("DTINIVALIPB", FieldType::DateTime);
    q.set_sql(
        "SELECT CDPRODUTO, VRITEPREBASE, DTINIVALIPB FROM ITEMPREBASE "
        "WHERE CDPRECOBASE = :P_CDPRECOBASE AND DTINIVALIPB <= :P_DTINIVALIPB");
    q.param_by_name("P_CDPRECOBASE").set_as_string("01");
    q.param_by_name("p_dtinivalipb").set_as_date_time(DateTime::parse_iso("2026-12-07"));
    q.open();
    ASSERT_EQ(q.record_count(), 1);  // the price valid from tomorrow is not there
    EXPECT_EQ(q["VRITEPREBASE"].as_float(), 12.5);
    EXPECT_EQ(q["DTINIVALIPB"].as_date_time(), DateTime::parse_iso("2026-01-01"));
    // Reopened for each use with new values.
    q.close();
    q.param_by_name("P_DTINIVALIPB").set_as_date_time(DateTime::parse_iso("2026-12-08"));
    q.open();
    EXPECT_EQ(q.record_count(), 2);
    EXPECT_THROW(q.param_by_name("P_NOPE"), DataSetError);
}

TEST(Query, ErrorsAreReportedNotSwallowed) {
    Db db;
    SqliteConnection conn(db.path);
    Query q("qryBad", &conn);
    q.set_sql("SELECT NOPE FROM NOWHERE");
    EXPECT_THROW(q.open(), DatabaseError);
    EXPECT_FALSE(q.active());
    Query orphan("qryOrphan");
    orphan.set_sql("SELECT 1");
    EXPECT_THROW(orphan.open(), DatabaseError);
    EXPECT_THROW(SqliteConnection("/nonexistent/dir/x.db"), DatabaseError);
}
