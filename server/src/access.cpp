#include "acerto/server/access.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

#include "acerto/platform/text.h"
#include "acerto/server/module.h"

namespace acerto::server {

namespace {

void ensure_sodium() {
    static const int ready = sodium_init();
    if (ready < 0) throw std::runtime_error("libsodium não pôde ser iniciada");
}

void check_code(const std::string& code) {
    if (code.empty() || platform::utf8_length(code) > 12 || code.find('\0') != std::string::npos)
        throw Refusal("Código de operador inválido: deve ter de 1 a 12 caracteres.");
}

void check_password(const std::string& password) {
    if (password.size() < 4) throw Refusal("A senha deve ter ao menos 4 caracteres.");
    if (password.size() > 256) throw Refusal("A senha deve ter no máximo 256 caracteres.");
}

std::vector<std::string> branches_of(Session& s, const std::string& code) {
    std::vector<std::string> out;
    for (auto& r :
         s.query("SELECT CDFILIAL FROM OPERADORFILIAL WHERE CDOPERADOR = ? ORDER BY CDFILIAL", {Variant(code)}).rows)
        out.push_back(r[0].as_string());
    return out;
}

void store_branches(Session& s, const std::string& code, const std::vector<std::string>& branches) {
    for (const auto& b : branches) {
        if (b != kAllBranches && s.query("SELECT 1 FROM FILIAL WHERE CDFILIAL = ?", {Variant(b)}).rows.empty())
            throw Refusal("Filial " + b + " não cadastrada.");
    }
    s.execute("DELETE FROM OPERADORFILIAL WHERE CDOPERADOR = ?", {Variant(code)});
    std::vector<std::string> unique = branches;
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    for (const auto& b : unique)
        s.execute("INSERT INTO OPERADORFILIAL (CDOPERADOR, CDFILIAL) VALUES (?, ?)", {Variant(code), Variant(b)});
}

std::string random_token() {
    ensure_sodium();
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[sizeof bytes * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

}  // namespace

bool OperatorInfo::may_use(const std::string& branch) const {
    return std::any_of(branches.begin(), branches.end(),
                       [&](const std::string& b) { return b == kAllBranches || b == branch; });
}

namespace operators {

std::string hash_password(const std::string& password, HashCost cost) {
    ensure_sodium();
    char out[crypto_pwhash_STRBYTES];
    bool minimum = cost == HashCost::Minimum;
    if (crypto_pwhash_str(out, password.data(), password.size(),
                          minimum ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          minimum ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::runtime_error("sem memória para calcular o resumo da senha");
    return out;
}

std::optional<OperatorInfo> find(Session& s, const std::string& code) {
    auto rs = s.query("SELECT CDOPERADOR, NMOPERADOR, IDATIVO FROM OPERADOR WHERE CDOPERADOR = ?", {Variant(code)});
    if (rs.rows.empty()) return std::nullopt;
    OperatorInfo o{rs.rows[0][0].as_string(), rs.rows[0][1].as_string(), rs.rows[0][2].as_string() != "N", {}};
    o.branches = branches_of(s, code);
    return o;
}

void add(Session& s, const std::string& code, const std::string& name, const std::string& password,
         const std::vector<std::string>& branches) {
    check_code(code);
    check_password(password);
    if (find(s, code)) throw Refusal("O operador " + code + " já está cadastrado.");
    s.execute("INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, DSSENHA, IDATIVO) VALUES (?, ?, ?, 'S')",
              {Variant(code), Variant(name), Variant(hash_password(password))});
    store_branches(s, code, branches);
}

void put(Session& s, const std::string& code, const std::string& name, const std::string& password,
         const std::vector<std::string>& branches, HashCost cost) {
    check_code(code);
    check_password(password);
    if (find(s, code))
        s.execute("UPDATE OPERADOR SET NMOPERADOR = ?, DSSENHA = ?, IDATIVO = 'S' WHERE CDOPERADOR = ?",
                  {Variant(name), Variant(hash_password(password, cost)), Variant(code)});
    else
        s.execute("INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, DSSENHA, IDATIVO) VALUES (?, ?, ?, 'S')",
                  {Variant(code), Variant(name), Variant(hash_password(password, cost))});
    store_branches(s, code, branches);
}

void set_password(Session& s, const std::string& code, const std::string& password) {
    check_password(password);
    if (s.execute("UPDATE OPERADOR SET DSSENHA = ? WHERE CDOPERADOR = ?",
                  {Variant(hash_password(password)), Variant(code)}) == 0)
        throw Refusal("Operador " + code + " não cadastrado.");
}

void set_active(Session& s, const std::string& code, bool active) {
    if (s.execute("UPDATE OPERADOR SET IDATIVO = ? WHERE CDOPERADOR = ?",
                  {Variant(std::string(active ? "S" : "N")), Variant(code)}) == 0)
        throw Refusal("Operador " + code + " não cadastrado.");
}

std::vector<OperatorInfo> list(Session& s) {
    std::vector<OperatorInfo> out;
    for (auto& r : s.query("SELECT CDOPERADOR FROM OPERADOR ORDER BY CDOPERADOR").rows)
        if (auto o = find(s, r[0].as_string())) out.push_back(std::move(*o));
    return out;
}

std::optional<OperatorInfo> verify(Session& s, const std::string& code, const std::string& password) {
    ensure_sodium();
    auto rs = s.query("SELECT DSSENHA FROM OPERADOR WHERE CDOPERADOR = ?", {Variant(code)});
    // An unknown code costs what a wrong password costs: the answer's time tells nothing.
    static const std::string decoy = hash_password("senha que ninguém tem");
    std::string stored = rs.rows.empty() || rs.rows[0][0].is_null() ? decoy : rs.rows[0][0].as_string();
    if (password.size() > 256) return std::nullopt;
    bool ok = crypto_pwhash_str_verify(stored.c_str(), password.data(), password.size()) == 0;
    if (!ok || rs.rows.empty()) return std::nullopt;
    return find(s, code);
}

}  // namespace operators

std::string SessionTable::open(const OperatorInfo& who) {
    std::string token = random_token();
    auto now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    // Expired sessions are forgotten as new ones arrive, so the table never grows without bound.
    for (auto it = sessions_.begin(); it != sessions_.end();)
        it = it->second.expires <= now ? sessions_.erase(it) : std::next(it);
    sessions_[token] = Entry{who, now + lifetime_, now};
    return token;
}

std::optional<OperatorInfo> SessionTable::find(const std::string& token) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(token);
    if (it == sessions_.end()) return std::nullopt;
    if (it->second.expires <= Clock::now()) {
        sessions_.erase(it);
        return std::nullopt;
    }
    return it->second.who;
}

void SessionTable::refresh(const std::string& token, const OperatorInfo& who) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(token);
    if (it == sessions_.end()) return;
    it->second.who = who;
    it->second.checked = Clock::now();
}

bool SessionTable::fresh(const std::string& token, std::chrono::seconds period) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(token);
    return it != sessions_.end() && Clock::now() - it->second.checked < period;
}

void SessionTable::close(const std::string& token) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(token);
}

SessionTable::Clock::time_point SessionTable::expires(const std::string& token) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(token);
    return it == sessions_.end() ? Clock::time_point{} : it->second.expires;
}

long long SessionTable::wait_before_try(const std::string& code) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = failures_.find(code);
    if (it == failures_.end()) return 0;
    auto left = std::chrono::ceil<std::chrono::seconds>(it->second.next_try - Clock::now()).count();
    return left > 0 ? left : 0;
}

void SessionTable::failed(const std::string& code) {
    constexpr int kFree = 3;  // tries before the waits begin
    std::lock_guard<std::mutex> lock(mutex_);
    if (failures_.size() > 100000) failures_.clear();  // a flood of invented codes
    auto& f = failures_[code];
    ++f.count;
    if (f.count >= kFree) {
        long long wait = std::min<long long>(60, 1LL << std::min(6, f.count - kFree));
        f.next_try = Clock::now() + std::chrono::seconds(wait);
    }
}

void SessionTable::succeeded(const std::string& code) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.erase(code);
}

}  // namespace acerto::server
