#pragma once
// Storage: one small connection interface over SQLite and PostgreSQL, with one session per
// worker thread, and a scoped transaction (commit explicitly, roll back when left otherwise).
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "acerto/platform/query.h"
#include "acerto/server/schema.h"

namespace acerto::server {

using platform::ResultSet;
using platform::Row;
using platform::Variant;

// A failure of the database itself (not of the caller's data).
class StorageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A key or reference constraint refused a write.
class ConstraintViolation : public StorageError {
  public:
    using StorageError::StorageError;
};

// Another writer holds the database longer than the busy timeout.
class BusyError : public StorageError {
  public:
    using StorageError::StorageError;
};

class Session {
  public:
    virtual ~Session() = default;
    virtual Dialect dialect() const = 0;
    // SQL uses "?" placeholders in both dialects.
    virtual ResultSet query(const std::string& sql, const std::vector<Variant>& params = {}) = 0;
    // Returns the number of rows changed.
    virtual long long execute(const std::string& sql, const std::vector<Variant>& params = {}) = 0;
    virtual void begin_write() = 0;  // SQLite: BEGIN IMMEDIATE
    virtual void begin_read() = 0;   // a consistent snapshot for a multi-query read
    virtual void commit() = 0;
    virtual void rollback() = 0;
    // Null-safe equality operator of the dialect ("IS" / "IS NOT DISTINCT FROM").
    const char* same() const { return dialect() == Dialect::Sqlite ? "IS" : "IS NOT DISTINCT FROM"; }
};

class Database {
  public:
    virtual ~Database() = default;
    virtual Dialect dialect() const = 0;
    virtual std::string describe() const = 0;
    virtual std::unique_ptr<Session> connect() = 0;

    // The calling thread's session on this database, opened on first use.
    virtual Session& session();

    // Runs a write transaction's work. SQLite: on the process's one writer thread and
    // connection, one after another (no writer sleeps in SQLite's busy handler, the writer's
    // page cache stays warm, and the thread that fsyncs is always ready to run).
    // PostgreSQL: on the calling thread's session. Exceptions reach the caller.
    virtual void run_write(const std::function<void(Session&)>& work) { work(session()); }

    // Creates the schema when missing and upgrades an older one; refuses a newer one.
    void ensure_schema();
    // True when no branch is stored yet (a new database).
    bool empty();

    // "postgresql://..." or "postgres://..." opens PostgreSQL; anything else is a SQLite file.
    static std::unique_ptr<Database> open(const std::string& spec);
    // What open() was given (empty for a database made otherwise): the workstations' reference
    // reads open their own connections on it.
    const std::string& spec() const { return spec_; }

  protected:
    Database();

  private:
    unsigned long long id_;
    std::string spec_;
};

// Commits when asked; rolls back when left without a commit (an exception on the way).
class Transaction {
  public:
    enum class Kind { Write, Read };
    Transaction(Session& s, Kind k = Kind::Write);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

  private:
    Session& s_;
    bool done_ = false;
};

}  // namespace acerto::server
