#pragma once
// A fault-injection seam: a database that passes every statement to a real one, except that a
// chosen statement fails as the database itself would (StorageError). Tests run a method once
// per statement it makes, failing each in turn, to see every failure path leave nothing.
#include <atomic>
#include <memory>

#include "acerto/server/storage.h"

namespace acerto::server {

class FaultInjectingDatabase : public Database {
  public:
    explicit FaultInjectingDatabase(Database& real) : real_(real) {}

    // The n-th statement from now (1 the next one; queries and writes alike, on any session of
    // this database) fails; 0 disarms.
    void fail_statement(long long n) {
        countdown_ = n;
        statements_ = 0;
    }
    // Statements run since the last fail_statement.
    long long statements() const { return statements_; }

    Dialect dialect() const override { return real_.dialect(); }
    std::string describe() const override { return real_.describe() + " (com falhas injetadas)"; }
    std::unique_ptr<Session> connect() override;
    void run_write(const std::function<void(Session&)>& work) override;

    // Called before each statement: throws when it is the armed one.
    void before_statement();

  private:
    Database& real_;
    std::atomic<long long> countdown_{0};
    std::atomic<long long> statements_{0};
};

}  // namespace acerto::server
