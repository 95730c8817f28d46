#pragma once
// The audit trail of write calls. A write method's database is wrapped for the call: every
// statement that writes is noted with its values, and the trail's row goes in just before the
// call's own commit, so a call that fails leaves no row and a row never lacks its change.
#include <string>
#include <vector>

#include "acerto/server/access.h"
#include "acerto/server/module.h"
#include "acerto/server/storage.h"

namespace acerto::server {

// What the trail's row says of one call.
struct AuditEntry {
    std::string method;
    const Caller* caller = nullptr;
    std::string branch, number;
    std::string detail;  // JSON: the statements written, each with its values
};

class AuditingDatabase : public Database {
  public:
    AuditingDatabase(Database& real, const Clock& clock, AuditEntry& entry)
        : real_(real), clock_(clock), entry_(entry) {}

    Dialect dialect() const override { return real_.dialect(); }
    std::string describe() const override { return real_.describe(); }
    std::unique_ptr<Session> connect() override { return real_.connect(); }
    // Reads outside the write transaction use the real database's session of this thread.
    Session& session() override { return real_.session(); }
    void run_write(const std::function<void(Session&)>& work) override;

    // Called by the wrapped session just before it commits: inserts the trail's row.
    void record(Session& s);
    AuditEntry& entry() { return entry_; }

  private:
    Database& real_;
    const Clock& clock_;
    AuditEntry& entry_;
};

}  // namespace acerto::server
