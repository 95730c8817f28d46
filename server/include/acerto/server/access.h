#pragma once
// Who may use the server: operators stored with a memory-hard hash of their password and the
// branches each may work in, and the sessions of those signed in (a random token with an
// expiry, sent by the screen with every call).
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "acerto/server/storage.h"

namespace acerto::server {

// "*" among an operator's branches: every branch, those created later included.
constexpr const char* kAllBranches = "*";

struct OperatorInfo {
    std::string code;
    std::string name;
    bool active = true;
    std::vector<std::string> branches;

    bool may_use(const std::string& branch) const;
};

// The operators' table. Refusal (module.h) for what the caller got wrong.
namespace operators {
// How much a password's hash costs to compute and so to try. Operators of a real site get
// libsodium's interactive cost; those of fixtures and --seed-operator exist for tests and
// demonstrations, which sign in hundreds of times, and get its minimum.
enum class HashCost { Interactive, Minimum };
// Adds an operator; refuses a code already stored, an empty password or a branch not stored.
void add(Session& s, const std::string& code, const std::string& name, const std::string& password,
         const std::vector<std::string>& branches);
// Adds the operator, or gives one already stored this password, these branches and the active flag.
void put(Session& s, const std::string& code, const std::string& name, const std::string& password,
         const std::vector<std::string>& branches, HashCost cost = HashCost::Interactive);
void set_password(Session& s, const std::string& code, const std::string& password);
void set_active(Session& s, const std::string& code, bool active);
std::vector<OperatorInfo> list(Session& s);
std::optional<OperatorInfo> find(Session& s, const std::string& code);
// The operator when the password is theirs (active or not); nullopt otherwise. Costs a
// deliberate fraction of a second.
std::optional<OperatorInfo> verify(Session& s, const std::string& code, const std::string& password);
// The stored form of a password (what verify checks against).
std::string hash_password(const std::string& password, HashCost cost = HashCost::Interactive);
}  // namespace operators

// The signed-in operator a call runs for.
struct Caller {
    OperatorInfo who;
    std::string address;
};

// The sessions of this server process: tokens, their expiry, and the slowing down of repeated
// failed sign-ins.
class SessionTable {
  public:
    using Clock = std::chrono::steady_clock;
    explicit SessionTable(std::chrono::seconds lifetime = std::chrono::hours(12)) : lifetime_(lifetime) {}

    // A new random token for this operator.
    std::string open(const OperatorInfo& who);
    // The session of a token, nullopt when unknown or expired (then forgotten).
    std::optional<OperatorInfo> find(const std::string& token);
    // Replaces what a session knows of its operator (re-read from the database).
    void refresh(const std::string& token, const OperatorInfo& who);
    // True when the operator was re-read from the database less than `period` ago.
    bool fresh(const std::string& token, std::chrono::seconds period);
    void close(const std::string& token);
    Clock::time_point expires(const std::string& token);
    std::chrono::seconds lifetime() const { return lifetime_; }

    // Failed sign-ins of one operator code: after a few, each further try must wait longer
    // (doubling, at most a minute). Seconds still to wait, 0 when a try may be made now.
    long long wait_before_try(const std::string& code);
    void failed(const std::string& code);
    void succeeded(const std::string& code);

  private:
    struct Entry {
        OperatorInfo who;
        Clock::time_point expires;
        Clock::time_point checked;
    };
    struct Failures {
        int count = 0;
        Clock::time_point next_try;
    };
    std::chrono::seconds lifetime_;
    std::mutex mutex_;
    std::map<std::string, Entry> sessions_;
    std::map<std::string, Failures> failures_;
};

// Prints a settlement's audit trail, oldest first: when, who, from where, what call, and each
// statement it wrote with its values.
void print_audit(Session& s, const std::string& branch, const std::string& number, std::FILE* out);

}  // namespace acerto::server
