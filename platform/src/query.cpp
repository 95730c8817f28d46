#include "acerto/platform/query.h"

#include <sqlite3.h>

#include <cmath>
#include <unordered_map>

#include "acerto/platform/errors.h"
#include "acerto/platform/text.h"

namespace acerto::platform {

Param& Params::add(std::string name) {
    if (Param* p = find(name)) return *p;
    list_.push_back(std::make_unique<Param>(std::move(name)));
    return *list_.back();
}

Param* Params::find(std::string_view name) {
    for (auto& p : list_)
        if (iequals(p->name(), name)) return p.get();
    return nullptr;
}

const Param* Params::find(std::string_view name) const {
    for (const auto& p : list_)
        if (iequals(p->name(), name)) return p.get();
    return nullptr;
}

Param& Params::param_by_name(std::string_view name) {
    Param* p = find(name);
    if (!p) throw DataSetError("Parâmetro '" + std::string(name) + "' não encontrado.");
    return *p;
}

std::pair<std::string, std::vector<std::string>> parse_sql_params(std::string_view sql) {
    std::string out;
    std::vector<std::string> names;
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        char c = sql[i];
        if (quote) {
            out.push_back(c);
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out.push_back(c);
            continue;
        }
        if (c == ':' && i + 1 < sql.size() &&
            (std::isalpha(static_cast<unsigned char>(sql[i + 1])) || sql[i + 1] == '_')) {
            std::size_t j = i + 1;
            while (j < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_')) ++j;
            names.emplace_back(sql.substr(i + 1, j - i - 1));
            out.push_back('?');
            i = j - 1;
            continue;
        }
        out.push_back(c);
    }
    return {out, names};
}

// ---------------------------------------------------------------------------------------------

void bind_sqlite(sqlite3_stmt* st, int idx, const Variant& v) {
    switch (v.kind()) {
        case Variant::Kind::Null:
            sqlite3_bind_null(st, idx);
            break;
        case Variant::Kind::Number:
            // Whole numbers within 64 bits bind as integers; the cast is checked first.
            if (std::fabs(v.number()) < 9.2e18 && v.number() == std::trunc(v.number()))
                sqlite3_bind_int64(st, idx, static_cast<long long>(v.number()));
            else
                sqlite3_bind_double(st, idx, v.number());
            break;
        case Variant::Kind::Boolean:
            sqlite3_bind_int(st, idx, v.as_bool() ? 1 : 0);
            break;
        case Variant::Kind::DateTime: {
            std::string s = v.as_date_time().iso();
            sqlite3_bind_text(st, idx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
            break;
        }
        case Variant::Kind::Text:
            sqlite3_bind_text(st, idx, v.text().c_str(), static_cast<int>(v.text().size()), SQLITE_TRANSIENT);
            break;
        default:
            throw DatabaseError("Parâmetro de tipo não suportado numa consulta.");
    }
}

Variant sqlite_column(sqlite3_stmt* st, int c) {
    switch (sqlite3_column_type(st, c)) {
        case SQLITE_NULL:
            return Variant();
        case SQLITE_INTEGER:
            return Variant(static_cast<double>(sqlite3_column_int64(st, c)));
        case SQLITE_FLOAT:
            return Variant(sqlite3_column_double(st, c));
        default:
            return Variant(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, c)),
                                       static_cast<std::size_t>(sqlite3_column_bytes(st, c))));
    }
}

struct SqliteConnection::Impl {
    sqlite3* db = nullptr;
    // Prepared statements, kept: the screen reopens the same few queries all the time.
    std::unordered_map<std::string, sqlite3_stmt*> statements;
};

SqliteConnection::SqliteConnection(const std::string& path, bool read_only) : impl_(new Impl) {
    int flags = read_only ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    flags |= SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &impl_->db, flags, nullptr) != SQLITE_OK) {
        std::string msg = impl_->db ? sqlite3_errmsg(impl_->db) : "sem memória";
        sqlite3_close(impl_->db);
        impl_->db = nullptr;
        throw DatabaseError("Não foi possível abrir o banco de dados " + path + ": " + msg);
    }
    sqlite3_busy_timeout(impl_->db, 5000);
}

SqliteConnection::~SqliteConnection() {
    for (auto& [sql, st] : impl_->statements) sqlite3_finalize(st);
    if (impl_->db) sqlite3_close(impl_->db);
}

void SqliteConnection::execute(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(impl_->db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "erro";
        sqlite3_free(err);
        throw DatabaseError("Erro no banco de dados: " + msg);
    }
}

ResultSet SqliteConnection::query(const std::string& sql, const std::vector<Variant>& params) {
    sqlite3_stmt*& st = impl_->statements[sql];
    if (!st && sqlite3_prepare_v3(impl_->db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
        impl_->statements.erase(sql);
        throw DatabaseError("Erro no banco de dados: " + std::string(sqlite3_errmsg(impl_->db)));
    }
    struct Reset {
        sqlite3_stmt* s;
        ~Reset() {
            sqlite3_reset(s);
            sqlite3_clear_bindings(s);
        }
    } reset{st};
    for (std::size_t i = 0; i < params.size(); ++i) bind_sqlite(st, static_cast<int>(i + 1), params[i]);
    ResultSet rs;
    int ncol = sqlite3_column_count(st);
    for (int c = 0; c < ncol; ++c) rs.columns.emplace_back(sqlite3_column_name(st, c));
    for (;;) {
        int rc = sqlite3_step(st);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) throw DatabaseError("Erro no banco de dados: " + std::string(sqlite3_errmsg(impl_->db)));
        Row row;
        row.reserve(static_cast<std::size_t>(ncol));
        for (int c = 0; c < ncol; ++c) row.push_back(sqlite_column(st, c));
        rs.rows.push_back(std::move(row));
    }
    return rs;
}

// ---------------------------------------------------------------------------------------------

Query::Query(std::string name, DbConnection* connection) : DataSet(std::move(name)), connection_(connection) {}

void Query::set_sql(std::string sql) {
    if (active()) close();
    sql_ = std::move(sql);
    auto [positional, names] = parse_sql_params(sql_);
    positional_sql_ = std::move(positional);
    order_ = std::move(names);
    Params fresh;
    for (const auto& n : order_) {
        Param& p = fresh.add(n);
        if (const Param* old = params_.find(n)) p.set_as_variant(old->value());
    }
    params_ = std::move(fresh);
}

void Query::open() {
    if (active()) return;
    if (!connection_) throw DatabaseError("A consulta " + name() + " não tem conexão com o banco de dados.");
    std::vector<Variant> values;
    values.reserve(order_.size());
    for (const auto& n : order_) values.push_back(params_.param_by_name(n).value());
    ResultSet rs = connection_->query(positional_sql_, values);

    if (fields().empty()) {
        for (std::size_t c = 0; c < rs.columns.size(); ++c) {
            FieldType t = FieldType::String;
            for (const auto& r : rs.rows) {
                if (r[c].is_null()) continue;
                t = r[c].is_number() ? FieldType::Float : FieldType::String;
                break;
            }
            add_field(rs.columns[c], t);
        }
    }
    std::vector<Field*> data_fields;
    for (const auto& f : fields())
        if (!f->calculated()) data_fields.push_back(f.get());
    std::vector<int> column(data_fields.size(), -1);
    for (std::size_t k = 0; k < data_fields.size(); ++k)
        for (std::size_t c = 0; c < rs.columns.size(); ++c)
            if (iequals(rs.columns[c], data_fields[k]->name())) {
                column[k] = static_cast<int>(c);
                break;
            }
    std::vector<Row> rows;
    rows.reserve(rs.rows.size());
    for (auto& src : rs.rows) {
        Row r(data_fields.size());
        for (std::size_t k = 0; k < data_fields.size(); ++k)
            if (column[k] >= 0) r[k] = data_fields[k]->coerce(std::move(src[static_cast<std::size_t>(column[k])]));
        rows.push_back(std::move(r));
    }
    load_rows(std::move(rows));
}

}  // namespace acerto::platform
