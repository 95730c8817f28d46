// PostgreSQL through libpqxx: the same SQL ("?" placeholders become $n), the same schema.
// Writes run in READ COMMITTED; the conditional updates of the methods make concurrent
// writers safe (a row changed meanwhile no longer matches its original values).
#include <pqxx/pqxx>

#include <cstdio>

#include "acerto/server/storage.h"

namespace acerto::server {

namespace {

std::string to_dollar(const std::string& sql) {
    std::string out;
    out.reserve(sql.size() + 8);
    int n = 0;
    char quote = 0;
    for (char c : sql) {
        if (quote) {
            out.push_back(c);
            if (c == quote) quote = 0;
        } else if (c == '\'') {
            quote = c;
            out.push_back(c);
        } else if (c == '?') {
            out += "$" + std::to_string(++n);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

class PostgresSession : public Session {
  public:
    explicit PostgresSession(const std::string& url) {
        try {
            conn_ = std::make_unique<pqxx::connection>(url);
        } catch (const std::exception& e) {
            throw StorageError(std::string("Não foi possível conectar ao PostgreSQL: ") + e.what());
        }
    }

    Dialect dialect() const override { return Dialect::Postgres; }

    ResultSet query(const std::string& sql, const std::vector<Variant>& params) override {
        pqxx::result r = run(sql, params);
        ResultSet rs;
        const auto ncol = r.columns();
        std::vector<bool> numeric(ncol);
        for (pqxx::row::size_type c = 0; c < ncol; ++c) {
            rs.columns.emplace_back(r.column_name(c));
            auto oid = r.column_type(c);
            numeric[c] = oid == 700 || oid == 701 || oid == 20 || oid == 21 || oid == 23 || oid == 1700;
        }
        rs.rows.reserve(r.size());
        for (const auto& row : r) {
            Row out;
            out.reserve(ncol);
            for (pqxx::row::size_type c = 0; c < ncol; ++c) {
                const auto& f = row[c];
                if (f.is_null())
                    out.emplace_back();
                else if (numeric[c])
                    out.emplace_back(std::strtod(f.c_str(), nullptr));
                else
                    out.emplace_back(std::string(f.c_str(), f.size()));
            }
            rs.rows.push_back(std::move(out));
        }
        return rs;
    }

    long long execute(const std::string& sql, const std::vector<Variant>& params) override {
        return static_cast<long long>(run(sql, params).affected_rows());
    }

    void begin_write() override { begin("BEGIN"); }
    void begin_read() override { begin("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); }
    void commit() override { finish("COMMIT"); }
    void rollback() override {
        if (tx_) finish("ROLLBACK");
    }

  private:
    void begin(const char* sql) {
        if (tx_) finish("ROLLBACK");
        tx_ = std::make_unique<pqxx::nontransaction>(*conn_);
        run_raw(sql);
    }
    void finish(const char* sql) {
        if (!tx_) return;
        try {
            run_raw(sql);
        } catch (...) {
            tx_.reset();
            throw;
        }
        tx_.reset();
    }
    void run_raw(const char* sql) {
        try {
            tx_->exec(sql);
        } catch (const pqxx::broken_connection& e) {
            throw StorageError(std::string("Conexão com o PostgreSQL perdida: ") + e.what());
        } catch (const pqxx::sql_error& e) {
            throw StorageError(std::string("Erro no banco de dados: ") + e.what());
        }
    }

    pqxx::result run(const std::string& sql, const std::vector<Variant>& params) {
        std::vector<std::string> text(params.size());
        std::vector<const char*> ptrs(params.size(), nullptr);
        for (std::size_t i = 0; i < params.size(); ++i) {
            const Variant& v = params[i];
            switch (v.kind()) {
                case Variant::Kind::Null:
                    continue;
                case Variant::Kind::Number: {
                    char buf[40];
                    std::snprintf(buf, sizeof buf, "%.17g", v.number());
                    text[i] = buf;
                    break;
                }
                case Variant::Kind::Boolean:
                    text[i] = v.as_bool() ? "1" : "0";
                    break;
                case Variant::Kind::DateTime:
                    text[i] = v.as_date_time().iso();
                    break;
                case Variant::Kind::Text:
                    // A parameter travels as a C string: a NUL would cut the text silently.
                    if (v.text().find('\0') != std::string::npos)
                        throw StorageError("Texto com caractere nulo não pode ser gravado no PostgreSQL.");
                    text[i] = v.text();
                    break;
                default:
                    throw StorageError("Parâmetro de tipo não suportado.");
            }
            ptrs[i] = text[i].c_str();
        }
        std::unique_ptr<pqxx::nontransaction> own;
        pqxx::nontransaction* tx = tx_.get();
        if (!tx) {
            own = std::make_unique<pqxx::nontransaction>(*conn_);
            tx = own.get();
        }
        try {
            return tx->exec_params(to_dollar(sql), pqxx::prepare::make_dynamic_params(ptrs));
        } catch (const pqxx::integrity_constraint_violation& e) {
            throw ConstraintViolation(e.what());
        } catch (const pqxx::broken_connection& e) {
            throw StorageError(std::string("Conexão com o PostgreSQL perdida: ") + e.what());
        } catch (const pqxx::sql_error& e) {
            if (std::string(e.sqlstate()) == "40001" || std::string(e.sqlstate()) == "40P01") throw BusyError(e.what());
            throw StorageError(std::string("Erro no banco de dados: ") + e.what());
        }
    }

    std::unique_ptr<pqxx::connection> conn_;
    std::unique_ptr<pqxx::nontransaction> tx_;
};

class PostgresDatabase : public Database {
  public:
    explicit PostgresDatabase(std::string url) : url_(std::move(url)) {}
    Dialect dialect() const override { return Dialect::Postgres; }
    std::string describe() const override {
        auto at = url_.find('@');
        return "PostgreSQL " + (at == std::string::npos ? url_ : "postgresql://…" + url_.substr(at));
    }
    std::unique_ptr<Session> connect() override { return std::make_unique<PostgresSession>(url_); }

  private:
    std::string url_;
};

}  // namespace

std::unique_ptr<Database> make_postgres_database(const std::string& url) {
    return std::make_unique<PostgresDatabase>(url);
}

}  // namespace acerto::server
