#include "acerto/server/storage.h"

#include <atomic>
#include <unordered_map>

#include "acerto/platform/format.h"

namespace acerto::server {

std::unique_ptr<Database> make_sqlite_database(const std::string& path);
std::unique_ptr<Database> make_postgres_database(const std::string& url);

namespace {
std::atomic<unsigned long long> next_id{1};
thread_local std::unordered_map<unsigned long long, std::unique_ptr<Session>> thread_sessions;
}  // namespace

Database::Database() : id_(next_id++) {}

Session& Database::session() {
    auto& s = thread_sessions[id_];
    if (!s) s = connect();
    return *s;
}

std::unique_ptr<Database> Database::open(const std::string& spec) {
    auto db = spec.rfind("postgresql://", 0) == 0 || spec.rfind("postgres://", 0) == 0 ? make_postgres_database(spec)
                                                                                       : make_sqlite_database(spec);
    db->spec_ = spec;
    return db;
}

void Database::ensure_schema() {
    Session& s = session();
    Transaction tx(s);
    // Several servers may start together on one PostgreSQL database: one creates the schema.
    if (dialect() == Dialect::Postgres) s.query("SELECT pg_advisory_xact_lock(8211)");
    for (const auto& stmt : create_statements(dialect())) s.execute(stmt);
    ResultSet rs = s.query("SELECT VERSAO FROM SCHEMA_VERSION");
    if (rs.rows.empty()) {
        s.execute("INSERT INTO SCHEMA_VERSION (VERSAO) VALUES (?)", {Variant(kSchemaVersion)});
    } else {
        int v = static_cast<int>(rs.rows[0][0].as_number());
        if (v > kSchemaVersion)
            throw StorageError("O banco de dados está na versão " + std::to_string(v) +
                               " do esquema, mais nova que a deste servidor (" + std::to_string(kSchemaVersion) + ").");
        if (v < kSchemaVersion) {
            for (const auto& stmt : upgrade_statements(v, dialect())) s.execute(stmt);
            s.execute("UPDATE SCHEMA_VERSION SET VERSAO = ?", {Variant(kSchemaVersion)});
        }
    }
    tx.commit();
}

bool Database::empty() {
    ResultSet rs = session().query("SELECT COUNT(*) FROM FILIAL");
    return rs.rows.empty() || rs.rows[0][0].as_number() == 0;
}

Transaction::Transaction(Session& s, Kind k) : s_(s) {
    if (k == Kind::Write)
        s_.begin_write();
    else
        s_.begin_read();
}

Transaction::~Transaction() {
    if (!done_) {
        try {
            s_.rollback();
        } catch (...) {
        }
    }
}

void Transaction::commit() {
    s_.commit();
    done_ = true;
}

}  // namespace acerto::server
