#pragma once
// Parameters, database connections and read-only queries with named ":PARAM" parameters.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "acerto/platform/dataset.h"

struct sqlite3_stmt;

namespace acerto::platform {

class Param {
  public:
    explicit Param(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }
    const Variant& value() const { return value_; }
    void set_as_string(std::string_view s) { value_ = Variant(std::string(s)); }
    void set_as_date_time(DateTime t) { value_ = Variant(t); }
    void set_as_integer(long long i) { value_ = Variant(i); }
    void set_as_float(double d) { value_ = Variant(d); }
    void set_as_variant(const Variant& v) { value_ = v; }
    std::string as_string() const { return value_.as_string(); }
    void clear() { value_ = Variant(); }

  private:
    std::string name_;
    Variant value_;
};

class Params {
  public:
    Param& add(std::string name);
    Param& param_by_name(std::string_view name);  // throws DataSetError when missing
    Param* find(std::string_view name);
    const Param* find(std::string_view name) const;
    bool exists(std::string_view name) const { return find(name) != nullptr; }
    std::size_t size() const { return list_.size(); }
    Param& operator[](std::size_t i) { return *list_[i]; }
    void clear() { list_.clear(); }

  private:
    std::vector<std::unique_ptr<Param>> list_;
};

// The result of a statement: column names and rows of plain values (text, number, null).
struct ResultSet {
    std::vector<std::string> columns;
    std::vector<Row> rows;
};

// A database the screen reads reference data from. SQL uses positional "?" parameters; a
// date-time parameter travels as ISO text "YYYY-MM-DD HH:MM:SS".
class DbConnection {
  public:
    virtual ~DbConnection() = default;
    virtual ResultSet query(const std::string& sql, const std::vector<Variant>& params) = 0;
};

// Binds a variant to parameter `index` (from 1) of a SQLite statement: whole numbers as
// integers (a text column then compares them as "3"), date-times as ISO text. Throws
// DatabaseError for a kind SQL has no place for. Shared by every SQLite user of the system.
void bind_sqlite(sqlite3_stmt* statement, int index, const Variant& value);
// The value of result column `column` (from 0) of the current row: integers as doubles, as the
// rest of the system reads numbers; any text or blob as text.
Variant sqlite_column(sqlite3_stmt* statement, int column);

// SQLite connection (read-only unless asked otherwise).
class SqliteConnection : public DbConnection {
  public:
    explicit SqliteConnection(const std::string& path, bool read_only = true);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;
    ResultSet query(const std::string& sql, const std::vector<Variant>& params) override;
    void execute(const std::string& sql);  // statements without result, for set-up

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Splits ":NAME" parameters out of SQL text (outside quotes): the SQL with "?" in their place
// and the names in order of appearance.
std::pair<std::string, std::vector<std::string>> parse_sql_params(std::string_view sql);

// A read-only query: declared fields (or the result's columns), parameters by name, reopened
// for each use. Columns are matched to declared fields by name; values take the field's type.
class Query : public DataSet {
  public:
    explicit Query(std::string name, DbConnection* connection = nullptr);

    void set_connection(DbConnection* c) { connection_ = c; }
    DbConnection* connection() const { return connection_; }
    void set_sql(std::string sql);
    const std::string& sql() const { return sql_; }
    Params& params() { return params_; }
    Param& param_by_name(std::string_view name) { return params_.param_by_name(name); }

    void open() override;  // throws DatabaseError

  private:
    DbConnection* connection_;
    std::string sql_;
    std::string positional_sql_;
    std::vector<std::string> order_;
    Params params_;
};

}  // namespace acerto::platform
