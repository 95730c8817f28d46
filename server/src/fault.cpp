#include "acerto/server/fault.h"

namespace acerto::server {

namespace {

// A session of the real database, owned or borrowed (the writer connection), that asks the
// seam before each statement.
class FaultInjectingSession : public Session {
  public:
    FaultInjectingSession(FaultInjectingDatabase& seam, Session& real, std::unique_ptr<Session> owned = {})
        : seam_(seam), real_(real), owned_(std::move(owned)) {}

    Dialect dialect() const override { return real_.dialect(); }
    ResultSet query(const std::string& sql, const std::vector<Variant>& params) override {
        seam_.before_statement();
        return real_.query(sql, params);
    }
    long long execute(const std::string& sql, const std::vector<Variant>& params) override {
        seam_.before_statement();
        return real_.execute(sql, params);
    }
    void begin_write() override { real_.begin_write(); }
    void begin_read() override { real_.begin_read(); }
    void commit() override { real_.commit(); }
    void rollback() override { real_.rollback(); }

  private:
    FaultInjectingDatabase& seam_;
    Session& real_;
    std::unique_ptr<Session> owned_;
};

}  // namespace

std::unique_ptr<Session> FaultInjectingDatabase::connect() {
    auto real = real_.connect();
    Session& ref = *real;
    return std::make_unique<FaultInjectingSession>(*this, ref, std::move(real));
}

void FaultInjectingDatabase::run_write(const std::function<void(Session&)>& work) {
    real_.run_write([&](Session& w) {
        FaultInjectingSession s(*this, w);
        work(s);
    });
}

void FaultInjectingDatabase::before_statement() {
    ++statements_;
    if (countdown_ > 0 && --countdown_ == 0)
        throw StorageError("Erro no banco de dados: falha injetada no comando " + std::to_string(statements_.load()) +
                           ".");
}

}  // namespace acerto::server
