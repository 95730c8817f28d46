// The workstations' read method. A statement is judged by SQLite itself: prepared on a
// connection whose authorizer allows a SELECT, reads of the reference tables and a few plain
// functions, and nothing else. On SQLite that connection is a read-only one on the database
// file and runs the statement; on PostgreSQL it is an empty copy of the schema in memory, and
// the statement then runs in a read-only transaction under a role that may only select the
// reference tables, so a statement that slipped past one guard still meets the other.
#include "reference_read.h"

#include <spdlog/spdlog.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <unordered_map>

#include "acerto/platform/errors.h"
#include "acerto/platform/text.h"
#include "acerto/server/http.h"

namespace acerto::server {

using platform::DataPacket;
using platform::FieldDef;
using platform::FieldType;
using Clock_ = std::chrono::steady_clock;

const std::vector<std::string>& reference_tables() {
    static const std::vector<std::string> names = {"FILIAL", "PRECOBASE", "PRODUTO", "ITEMPREBASE"};
    return names;
}

namespace {

constexpr std::size_t kMaxSql = 20000;
constexpr std::size_t kMaxValues = 100;
constexpr std::size_t kCachedStatements = 64;

// Functions both databases have and that cost no more than the rows they read.
bool allowed_function(std::string_view name) {
    static const char* const names[] = {"coalesce", "nullif", "upper",  "lower",   "trim", "ltrim",
                                        "rtrim",    "length", "substr", "replace", "abs",  "round",
                                        "max",      "min",    "count",  "sum",     "avg",  "like"};
    for (const char* n : names)
        if (platform::iequals(name, n)) return true;
    return false;
}

bool is_reference(std::string_view table) {
    for (const auto& t : reference_tables())
        if (platform::iequals(t, table)) return true;
    return false;
}

// A refusal of the read: logged on the server with the statement, answered in Portuguese.
[[noreturn]] void refuse(const std::string& why, const std::string& sql) {
    spdlog::warn("OpenQuery recusada: {} [{}]", why, loggable(sql, 400));
    throw Refusal("Consulta recusada pelo servidor de aplicação: " + why);
}

// The authorizer: remembers the first thing it refused, in words an operator reads.
int authorize(void* context, int action, const char* a, const char* b, const char* database, const char*) {
    auto& why = *static_cast<std::string*>(context);
    auto deny = [&](std::string text) {
        if (why.empty()) why = std::move(text);
        return SQLITE_DENY;
    };
    switch (action) {
        case SQLITE_SELECT:
            return SQLITE_OK;
        case SQLITE_READ:
            if (database && std::strcmp(database, "main") != 0)
                return deny(std::string("lê o banco de dados \"") + database + "\".");
            if (a && is_reference(a)) return SQLITE_OK;
            return deny(std::string("a tabela ") + (a ? a : "?") + " não está entre as que as estações podem ler.");
        case SQLITE_FUNCTION:
            if (b && allowed_function(b)) return SQLITE_OK;
            return deny(std::string("a função ") + (b ? b : "?") + " não é permitida.");
        case SQLITE_PRAGMA:
            return deny("um PRAGMA não é permitido.");
        case SQLITE_ATTACH:
        case SQLITE_DETACH:
            return deny("anexar outro banco de dados não é permitido.");
        case SQLITE_RECURSIVE:
            return deny("uma consulta recursiva não é permitida.");
        default:
            return deny("só uma leitura (SELECT) é permitida.");
    }
}

// A SQLite connection that judges statements and, on a database file, runs them. One per
// worker thread and database.
class Judge {
  public:
    // An empty path: an in-memory database with the schema and no rows (it only judges).
    explicit Judge(const std::string& path) {
        const bool memory = path.empty();
        int flags = (memory ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(memory ? ":memory:" : path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            std::string msg = db_ ? sqlite3_errmsg(db_) : "sem memória";
            sqlite3_close(db_);
            throw StorageError("Não foi possível abrir o banco de dados para leitura: " + msg);
        }
        if (memory)
            for (const auto& stmt : create_statements(Dialect::Sqlite))
                sqlite3_exec(db_, stmt.c_str(), nullptr, nullptr, nullptr);
        sqlite3_busy_timeout(db_, 2000);
        sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
        sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, 1 << 20);
        sqlite3_limit(db_, SQLITE_LIMIT_SQL_LENGTH, static_cast<int>(kMaxSql));
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        // "X" is a name, never a text, as PostgreSQL reads it.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
        sqlite3_set_authorizer(db_, authorize, &why_);
        sqlite3_progress_handler(db_, 1000, &Judge::past_deadline, this);
    }
    ~Judge() {
        for (auto& [sql, st] : cache_) sqlite3_finalize(st.statement);
        sqlite3_close(db_);
    }
    Judge(const Judge&) = delete;
    Judge& operator=(const Judge&) = delete;

    struct Judged {
        sqlite3_stmt* statement = nullptr;
        std::string text;  // the statement alone: no trailing semicolon or comment
    };

    // The statement, judged (kept for the next time); refuses anything but one allowed SELECT
    // whose parameters are plain "?" as many as the values.
    const Judged& judge(const std::string& sql, std::size_t values) {
        auto found = cache_.find(sql);
        if (found == cache_.end()) {
            if (cache_.size() >= kCachedStatements) {
                for (auto& [text, st] : cache_) sqlite3_finalize(st.statement);
                cache_.clear();
            }
            found = cache_.emplace(sql, prepare(sql)).first;
        }
        sqlite3_stmt* st = found->second.statement;
        const int count = sqlite3_bind_parameter_count(st);
        if (static_cast<std::size_t>(count) != values)
            refuse("a consulta tem " + std::to_string(count) + " parâmetro(s) e recebeu " + std::to_string(values) +
                       " valor(es).",
                   sql);
        return found->second;
    }

    // Runs a judged statement on this connection's database file.
    ResultSet run(const std::string& sql, const std::vector<Variant>& values, const ReadOptions& limits) {
        sqlite3_stmt* st = judge(sql, values.size()).statement;
        struct Reset {
            sqlite3_stmt* s;
            ~Reset() {
                sqlite3_reset(s);
                sqlite3_clear_bindings(s);
            }
        } reset{st};
        for (std::size_t i = 0; i < values.size(); ++i) platform::bind_sqlite(st, static_cast<int>(i + 1), values[i]);
        ResultSet rs;
        const int ncol = sqlite3_column_count(st);
        for (int c = 0; c < ncol; ++c) rs.columns.emplace_back(sqlite3_column_name(st, c));
        deadline_ = Clock_::now() + limits.timeout;
        for (;;) {
            int rc = sqlite3_step(st);
            if (rc == SQLITE_DONE) break;
            if ((rc & 0xFF) == SQLITE_INTERRUPT) refuse_time(sql, limits);
            if (rc != SQLITE_ROW) throw StorageError("Erro no banco de dados: " + std::string(sqlite3_errmsg(db_)));
            if (rs.rows.size() == limits.max_rows) refuse_rows(sql, limits);
            Row row;
            row.reserve(static_cast<std::size_t>(ncol));
            for (int c = 0; c < ncol; ++c) row.push_back(platform::sqlite_column(st, c));
            rs.rows.push_back(std::move(row));
        }
        return rs;
    }

    [[noreturn]] static void refuse_time(const std::string& sql, const ReadOptions& limits) {
        refuse("a consulta passou do limite de tempo de " + std::to_string(limits.timeout.count()) + " ms.", sql);
    }
    [[noreturn]] static void refuse_rows(const std::string& sql, const ReadOptions& limits) {
        refuse("a consulta passou do limite de " + std::to_string(limits.max_rows) + " linhas.", sql);
    }

  private:
    static int past_deadline(void* self) { return Clock_::now() > static_cast<Judge*>(self)->deadline_ ? 1 : 0; }

    Judged prepare(const std::string& sql) {
        // 1. One statement, which the authorizer lets through.
        why_.clear();
        const char* tail = nullptr;
        sqlite3_stmt* st = nullptr;
        deadline_ = Clock_::time_point::max();
        int rc =
            sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &st, &tail);
        if (rc != SQLITE_OK) {
            std::string detail = sqlite3_errmsg(db_);
            sqlite3_finalize(st);
            if (!why_.empty()) refuse(why_, sql);
            spdlog::debug("OpenQuery: {}", detail);
            refuse("o texto não é uma consulta SQL válida (" + loggable(detail, 120) + ").", sql);
        }
        if (!st) refuse("a consulta está vazia.", sql);
        Judged out{st, std::string(sql.c_str(), static_cast<std::size_t>(tail - sql.c_str()))};
        auto guard = [&](const std::string& why) {
            sqlite3_finalize(st);
            refuse(why, sql);
        };
        // 2. Nothing after it but blanks and comments (a second statement, even one that would
        // be allowed, is refused).
        for (const char* rest = tail; rest && *rest;) {
            sqlite3_stmt* next = nullptr;
            const char* after = nullptr;
            why_.clear();
            int r = sqlite3_prepare_v2(db_, rest, -1, &next, &after);
            sqlite3_finalize(next);
            if (r != SQLITE_OK || next) guard("a consulta traz mais de um comando.");
            if (after == rest) break;
            rest = after;
        }
        // 3. A read, and only through plain "?" parameters (PostgreSQL numbers them itself).
        if (!sqlite3_stmt_readonly(st) || sqlite3_stmt_isexplain(st)) guard("só uma leitura (SELECT) é permitida.");
        for (int i = 1, n = sqlite3_bind_parameter_count(st); i <= n; ++i)
            if (const char* name = sqlite3_bind_parameter_name(st, i))
                guard(std::string("o parâmetro ") + name + " deve ser escrito como ?.");
        while (!out.text.empty() &&
               (std::isspace(static_cast<unsigned char>(out.text.back())) || out.text.back() == ';'))
            out.text.pop_back();
        return out;
    }

    sqlite3* db_ = nullptr;
    std::string why_;
    Clock_::time_point deadline_ = Clock_::time_point::max();
    std::unordered_map<std::string, Judged> cache_;
};

// The calling thread's judge for a database file (or, with an empty path, the in-memory one).
Judge& judge_for(const std::string& path) {
    thread_local std::unordered_map<std::string, std::unique_ptr<Judge>> judges;
    auto& j = judges[path];
    if (!j) j = std::make_unique<Judge>(path);
    return *j;
}

// The values of the statement's parameters, checked: plain values only.
std::vector<Variant> values_of(const Variant& list, const std::string& sql) {
    std::vector<Variant> out;
    if (list.is_null()) return out;
    if (list.array().size() > kMaxValues)
        refuse("a consulta traz mais de " + std::to_string(kMaxValues) + " valores.", sql);
    for (const auto& v : list.array()) {
        switch (v.kind()) {
            case Variant::Kind::Text:
                if (v.text().find('\0') != std::string::npos) refuse("um valor traz um caractere nulo.", sql);
                [[fallthrough]];
            case Variant::Kind::Null:
            case Variant::Kind::Number:
            case Variant::Kind::Boolean:
            case Variant::Kind::DateTime:
                out.push_back(v);
                break;
            default:
                refuse("um valor da consulta não é um texto, número, data ou nulo.", sql);
        }
    }
    return out;
}

// The rows as a packet: upper-case column names (PostgreSQL gives them in lower case), a
// column of numbers only as a float, any other as text.
Variant packet_of_result(ResultSet& rs) {
    std::vector<FieldDef> fields;
    for (std::size_t c = 0; c < rs.columns.size(); ++c) {
        bool numbers = false, texts = false;
        for (const auto& r : rs.rows) {
            if (r[c].is_number()) numbers = true;
            if (r[c].is_text()) texts = true;
        }
        fields.push_back(
            {platform::to_upper(rs.columns[c]), numbers && !texts ? FieldType::Float : FieldType::String, 0});
    }
    auto p = std::make_shared<DataPacket>(std::move(fields));
    const auto& defs = p->fields();
    p->rows().reserve(rs.rows.size());
    for (auto& r : rs.rows) {
        for (std::size_t c = 0; c < r.size(); ++c) {
            // Most cells are already of their column's kind; only the others are converted.
            Variant& v = r[c];
            if (v.is_null() || (defs[c].type == FieldType::Float ? v.is_number() : v.is_text())) continue;
            v = from_db(v, defs[c].type);
        }
        p->rows().push_back(std::move(r));
    }
    return Variant(std::shared_ptr<const DataPacket>(std::move(p)));
}

// PostgreSQL: the judged statement in a read-only transaction, under the reading role, with
// the time limit on the server's side and one row more than the limit asked for.
ResultSet run_postgres(const Call& c, const Judge::Judged& judged, const std::string& sql,
                       const std::vector<Variant>& values) {
    const ReadOptions& limits = c.reads;
    // The thread's own session: the role and the time limit are the transaction's alone, so the
    // session is the server's again when the read ends, and a server needs no more connections.
    Session& s = c.db.session();
    const auto start = Clock_::now();
    try {
        Transaction tx(s, Transaction::Kind::Read);
        s.execute("SET LOCAL ROLE " + limits.role);
        s.execute("SET LOCAL statement_timeout = " + std::to_string(std::max<long long>(1, limits.timeout.count())));
        ResultSet rs = s.query(
            "SELECT * FROM (\n" + judged.text + "\n) AS acerto_consulta LIMIT " + std::to_string(limits.max_rows + 1),
            values);
        tx.commit();
        if (rs.rows.size() > limits.max_rows) Judge::refuse_rows(sql, limits);
        return rs;
    } catch (const BusyError&) {
        throw;
    } catch (const StorageError& e) {
        // The server cancels a statement at its timeout; its text depends on its language.
        if (Clock_::now() - start >= limits.timeout) Judge::refuse_time(sql, limits);
        // A statement SQLite accepts that PostgreSQL does not ("LIMIT 1, 1"): the caller's
        // fault, not the server's. A lost connection stays an error of the server.
        if (std::string_view(e.what()).starts_with("Erro no banco de dados")) {
            spdlog::warn("OpenQuery: {}", loggable(e.what(), 400));
            refuse("o banco de dados não aceitou a consulta.", sql);
        }
        throw;
    }
}

}  // namespace

Variant open_query(const Call& c, const Args& args) {
    // 1. The arguments: the statement's text and the list of its values.
    if (args.size() != 2 || !args[0].is_text() || !(args[1].is_array() || args[1].is_null()))
        refuse(c.method + " espera o texto da consulta e a lista dos seus valores.", "");
    const std::string& sql = args[0].text();
    if (sql.size() > kMaxSql) refuse("o texto da consulta passa de " + std::to_string(kMaxSql) + " caracteres.", "");
    if (sql.find('\0') != std::string::npos) refuse("o texto da consulta traz um caractere nulo.", sql);
    const std::vector<Variant> values = values_of(args[1], sql);
    if (!c.reads.unavailable.empty()) {
        spdlog::error("OpenQuery: {}", c.reads.unavailable);
        throw Refusal("As consultas das estações não estão disponíveis neste servidor de aplicação: " +
                      c.reads.unavailable);
    }
    if (c.db.spec().empty())
        throw Refusal("As consultas das estações não estão disponíveis neste servidor de aplicação.");

    // 2. Judged and run where the data is.
    ResultSet rs;
    if (c.db.dialect() == Dialect::Sqlite) {
        rs = judge_for(c.db.spec()).run(sql, values, c.reads);
    } else {
        const Judge::Judged& judged = judge_for({}).judge(sql, values.size());
        rs = run_postgres(c, judged, sql, values);
    }
    return packet_of_result(rs);
}

std::string prepare_reference_reads(Database& db, const ReadOptions& options) {
    if (db.dialect() != Dialect::Postgres) return {};
    const std::string& role = options.role;
    Session& s = db.session();
    auto one = [&](const std::string& sql, const std::vector<Variant>& params) {
        ResultSet r = s.query(sql, params);
        return r.rows.empty() || r.rows[0].empty() ? std::string() : r.rows[0][0].as_string();
    };
    // 1. The role, its grants and the server's membership; servers starting together on one
    // cluster may collide on the role, so a failed attempt is tried again.
    std::string failure;
    for (int attempt = 0; attempt < 4; ++attempt) {
        try {
            Transaction tx(s);
            std::string super = one("SELECT rolsuper::text FROM pg_roles WHERE rolname = ?", {Variant(role)});
            if (super.empty()) s.execute("CREATE ROLE " + role + " NOLOGIN");
            // Granted only when missing: servers restarting one by one write no catalogue rows.
            std::string tables;
            bool granted = true;
            for (const auto& t : reference_tables()) {
                tables += (tables.empty() ? "" : ", ") + t;
                if (one("SELECT has_table_privilege(?, ?, 'SELECT')::text", {Variant(role), Variant(t)}) != "true")
                    granted = false;
            }
            if (!granted) s.execute("GRANT SELECT ON " + tables + " TO " + role);
            if (one("SELECT pg_has_role(current_user, ?, 'MEMBER')::text", {Variant(role)}) != "true")
                s.execute("GRANT " + role + " TO CURRENT_USER");
            tx.commit();
            failure.clear();
            break;
        } catch (const StorageError& e) {
            failure = e.what();
            std::this_thread::sleep_for(std::chrono::milliseconds(50 * (attempt + 1)));
        }
    }
    if (!failure.empty())
        return "a função " + role + " não pôde ser preparada (" + failure + "); veja em docs/deploy.md como criá-la.";
    // 2. Texts sort as on SQLite (byte by byte) only under the C collation.
    const std::string collation =
        one("SELECT datcollate::text FROM pg_database WHERE datname = current_database()", {});
    if (collation != "C" && collation != "POSIX")
        spdlog::warn(
            "o banco PostgreSQL ordena textos pela colação {}; as consultas das estações podem vir noutra "
            "ordem que no SQLite: crie o banco com LC_COLLATE 'C' (veja docs/deploy.md)",
            collation);
    // 3. It reads the reference tables and nothing else.
    if (one("SELECT rolsuper::text FROM pg_roles WHERE rolname = ?", {Variant(role)}) == "true")
        return "a função " + role + " é superusuário; ela deve poder apenas ler as tabelas de referência.";
    for (const auto& t : tables()) {
        const bool reference = is_reference(t.name);
        const std::string wanted = reference ? "INSERT,UPDATE,DELETE,TRUNCATE" : "SELECT,INSERT,UPDATE,DELETE,TRUNCATE";
        if (one("SELECT has_table_privilege(?, ?, ?)::text", {Variant(role), Variant(t.name), Variant(wanted)}) ==
            "true")
            return "a função " + role + " tem na tabela " + t.name +
                   " mais que a leitura das tabelas de referência; retire esses direitos.";
    }
    return {};
}

}  // namespace acerto::server
