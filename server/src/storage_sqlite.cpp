// SQLite: WAL, synchronous FULL (a saved line survives a power cut), foreign keys on, a busy
// timeout, BEGIN IMMEDIATE for writes, and prepared statements kept per session.
#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "acerto/platform/errors.h"
#include "acerto/platform/query.h"
#include "acerto/server/storage.h"

namespace acerto::server {

namespace {

class SqliteSession : public Session {
  public:
    explicit SqliteSession(const std::string& path) {
        int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            std::string msg = db_ ? sqlite3_errmsg(db_) : "sem memória";
            sqlite3_close(db_);
            db_ = nullptr;
            throw StorageError("Não foi possível abrir o banco de dados " + path + ": " + msg);
        }
        sqlite3_busy_timeout(db_, 10000);
        sqlite3_extended_result_codes(db_, 1);
        script("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
    }
    ~SqliteSession() override {
        for (auto& [sql, st] : cache_) sqlite3_finalize(st);
        sqlite3_close(db_);
    }

    Dialect dialect() const override { return Dialect::Sqlite; }

    ResultSet query(const std::string& sql, const std::vector<Variant>& params) override {
        sqlite3_stmt* st = prepare(sql, params);
        ResultSet rs;
        int ncol = sqlite3_column_count(st);
        rs.columns.reserve(static_cast<std::size_t>(ncol));
        for (int c = 0; c < ncol; ++c) rs.columns.emplace_back(sqlite3_column_name(st, c));
        for (;;) {
            int rc = sqlite3_step(st);
            if (rc == SQLITE_DONE) break;
            if (rc != SQLITE_ROW) fail(st, rc);
            Row row;
            row.reserve(static_cast<std::size_t>(ncol));
            for (int c = 0; c < ncol; ++c) row.push_back(platform::sqlite_column(st, c));
            rs.rows.push_back(std::move(row));
        }
        sqlite3_reset(st);
        return rs;
    }

    long long execute(const std::string& sql, const std::vector<Variant>& params) override {
        sqlite3_stmt* st = prepare(sql, params);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE) fail(st, rc);
        sqlite3_reset(st);
        return sqlite3_changes(db_);
    }

    void begin_write() override { script("BEGIN IMMEDIATE"); }
    void begin_read() override { script("BEGIN"); }
    void commit() override { script("COMMIT"); }
    void rollback() override {
        if (!sqlite3_get_autocommit(db_)) script("ROLLBACK");
    }

  private:
    void script(const char* sql) {
        char* err = nullptr;
        int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &err);
        if (rc != SQLITE_OK) {
            std::string msg = err ? err : sqlite3_errstr(rc);
            sqlite3_free(err);
            if ((rc & 0xFF) == SQLITE_BUSY) throw BusyError("Banco de dados ocupado: " + msg);
            throw StorageError("Erro no banco de dados: " + msg);
        }
    }

    sqlite3_stmt* prepare(const std::string& sql, const std::vector<Variant>& params) {
        sqlite3_stmt*& st = cache_[sql];
        if (!st) {
            if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
                std::string msg = sqlite3_errmsg(db_);
                cache_.erase(sql);
                throw StorageError("Erro no banco de dados: " + msg);
            }
        }
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        try {
            for (std::size_t i = 0; i < params.size(); ++i)
                platform::bind_sqlite(st, static_cast<int>(i + 1), params[i]);
        } catch (const platform::DatabaseError& e) {
            throw StorageError(e.what());
        }
        return st;
    }

    [[noreturn]] void fail(sqlite3_stmt* st, int rc) {
        std::string msg = sqlite3_errmsg(db_);
        sqlite3_reset(st);
        if ((rc & 0xFF) == SQLITE_CONSTRAINT) throw ConstraintViolation(msg);
        if ((rc & 0xFF) == SQLITE_BUSY) throw BusyError("Banco de dados ocupado: " + msg);
        throw StorageError("Erro no banco de dados: " + msg);
    }

    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

class SqliteDatabase : public Database {
  public:
    explicit SqliteDatabase(std::string path) : path_(std::move(path)) {}
    Dialect dialect() const override { return Dialect::Sqlite; }
    std::string describe() const override { return "SQLite " + path_; }
    std::unique_ptr<Session> connect() override { return std::make_unique<SqliteSession>(path_); }
    ~SqliteDatabase() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        cond_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    // A write on a quiet server runs on the calling thread (no hand-over); while writes keep
    // coming they queue for the writer thread, which runs them one after another.
    void run_write(const std::function<void(Session&)>& work) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!writer_) writer_ = connect();
        auto now = std::chrono::steady_clock::now();
        if (!busy_ && queue_.empty() && now - last_write_ > std::chrono::microseconds(20)) {
            busy_ = true;
            lock.unlock();
            struct Release {
                SqliteDatabase& d;
                ~Release() {
                    std::lock_guard<std::mutex> l(d.mutex_);
                    d.busy_ = false;
                    d.last_write_ = std::chrono::steady_clock::now();
                    if (!d.queue_.empty()) d.cond_.notify_all();
                }
            } release{*this};
            work(*writer_);
            return;
        }
        if (!thread_.joinable()) thread_ = std::thread([this] { serve(); });
        std::packaged_task<void()> task([this, &work] { work(*writer_); });
        auto done = task.get_future();
        queue_.push_back(std::move(task));
        lock.unlock();
        cond_.notify_all();
        done.get();
    }

  private:
    void serve() {
        for (;;) {
            std::packaged_task<void()> task;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                cond_.wait(lock, [this] { return stopping_ || (!busy_ && !queue_.empty()); });
                if (queue_.empty()) return;
                task = std::move(queue_.front());
                queue_.pop_front();
                busy_ = true;
            }
            task();
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
            last_write_ = std::chrono::steady_clock::now();
        }
    }

    std::string path_;
    std::unique_ptr<Session> writer_;
    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<std::packaged_task<void()>> queue_;
    std::thread thread_;
    bool stopping_ = false;
    bool busy_ = false;  // a write is running (inline or on the writer thread)
    std::chrono::steady_clock::time_point last_write_{};
};

}  // namespace

std::unique_ptr<Database> make_sqlite_database(const std::string& path) {
    return std::make_unique<SqliteDatabase>(path);
}

}  // namespace acerto::server
