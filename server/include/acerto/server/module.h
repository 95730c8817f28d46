#pragma once
// The remote data module "QLM01200.rdmAcertoFinal": the settlement screen's server methods.
// Each call is one request; each write method is one transaction (all of it or nothing).
#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "acerto/platform/datetime.h"
#include "acerto/platform/variant.h"
#include "acerto/server/storage.h"

namespace acerto::server {
struct Caller;
}

namespace acerto::server {

constexpr const char* kModuleName = "QLM01200.rdmAcertoFinal";

// A refusal: the call is answered with this text, unchanged, and nothing of it is written.
class Refusal : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The server's clock: the machine's, or a fixed one (scenarios, tests).
struct Clock {
    std::optional<platform::DateTime> fixed;
    platform::DateTime now() const;
};

// The limits of a workstation's read of the reference tables (OpenQuery).
struct ReadOptions {
    std::size_t max_rows = 20000;
    std::chrono::milliseconds timeout{5000};
    // PostgreSQL: the role that may only select the reference tables; reads run under it.
    std::string role = "acerto_leitura";
    // Why reads cannot run on this database (the role could not be made ready), or empty.
    std::string unavailable;
};

// PostgreSQL: makes ready the role reads run under (created when missing, granted SELECT on
// the reference tables, granted to the server's user) and checks that it can read nothing else.
// Returns why reads cannot run, or empty. Nothing to do on SQLite.
std::string prepare_reference_reads(Database& db, const ReadOptions& options);

class AcertoModule {
  public:
    AcertoModule(Database& db, Clock clock = {}, ReadOptions reads = {});

    // Runs a method by name for a signed-in operator (null: no sign-in asked, as in-process
    // tools and tests); throws Refusal for the caller's errors. The operator must work in the
    // branch the call is about, and an operator code it carries must be theirs. A write call
    // that commits leaves one row in the audit trail, in its own transaction.
    platform::Variant call(const std::string& method, const platform::Variant::Array& args,
                           const Caller* caller = nullptr);
    static const std::vector<std::string>& methods();

    Database& database() { return db_; }

  private:
    Database& db_;
    Clock clock_;
    ReadOptions reads_;
};

}  // namespace acerto::server
