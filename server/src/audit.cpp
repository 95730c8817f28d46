#include "audit.h"

#include <sodium.h>

#include <atomic>
#include <chrono>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "acerto/platform/json_io.h"

namespace acerto::server {

namespace {

class AuditingSession : public Session {
  public:
    AuditingSession(AuditingDatabase& db, Session& real) : db_(db), real_(real) {}

    Dialect dialect() const override { return real_.dialect(); }
    ResultSet query(const std::string& sql, const std::vector<Variant>& params) override {
        return real_.query(sql, params);
    }
    long long execute(const std::string& sql, const std::vector<Variant>& params) override {
        long long n = real_.execute(sql, params);
        if (n > 0) note(sql, params);
        return n;
    }
    void begin_write() override {
        statements_.clear();
        real_.begin_write();
    }
    void begin_read() override { real_.begin_read(); }
    void commit() override {
        // A call that changed no row has nothing to record, and its commit then writes nothing
        // (the screen saves once more, with no changes, after every line it posts).
        if (!statements_.empty()) {
            finish();
            db_.record(real_);
        }
        real_.commit();
    }
    void rollback() override { real_.rollback(); }

  private:
    void note(const std::string& sql, const std::vector<Variant>& params) {
        statements_ += statements_.empty() ? "[" : ",";
        statements_ += "{\"sql\":";
        platform::write_json_string(statements_, sql);
        statements_ += ",\"values\":";
        platform::write_json(statements_, Variant(Variant::Array(params.begin(), params.end())));
        statements_ += "}";
    }
    void finish() { db_.entry().detail = statements_ + "]"; }

    AuditingDatabase& db_;
    Session& real_;
    std::string statements_;
};

// A key that sorts in the order rows were written on this machine: the moment in microseconds,
// then a random part for rows of the same microsecond on several servers.
std::string audit_key() {
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
                  .count();
    static std::atomic<unsigned> sequence{0};
    char buf[40];
    std::snprintf(buf, sizeof buf, "%017lld%04x%011x", static_cast<long long>(us), sequence++ & 0xffffu,
                  randombytes_uniform(0x7fffffffu));
    return buf;
}

}  // namespace

void AuditingDatabase::run_write(const std::function<void(Session&)>& work) {
    real_.run_write([&](Session& w) {
        AuditingSession s(*this, w);
        work(s);
    });
}

void AuditingDatabase::record(Session& s) {
    const AuditEntry& e = entry_;
    auto text = [](const std::string& v) { return v.empty() ? Variant() : Variant(v); };
    s.execute(
        "INSERT INTO AUDITORIA (NRAUDITORIA, DTREGISTRO, CDOPERADOR, DSENDERECO, NMMETODO, CDFILIAL, NRORCAEVENTO, "
        "DSALTERACAO) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
        {Variant(audit_key()), Variant(clock_.now()), e.caller ? Variant(e.caller->who.code) : Variant(),
         e.caller ? text(e.caller->address) : Variant(), Variant(e.method), text(e.branch), text(e.number),
         Variant(e.detail)});
}

void print_audit(Session& s, const std::string& branch, const std::string& number, std::FILE* out) {
    auto rs = s.query(
        "SELECT DTREGISTRO, CDOPERADOR, DSENDERECO, NMMETODO, DSALTERACAO FROM AUDITORIA WHERE CDFILIAL = ? AND "
        "NRORCAEVENTO = ? ORDER BY NRAUDITORIA",
        {Variant(branch), Variant(number)});
    auto txt = [](const Variant& v) { return v.is_null() ? std::string("-") : v.as_string(); };
    std::fprintf(out, "Trilha de auditoria do orçamento %s (filial %s): %zu registro(s)\n", number.c_str(),
                 branch.c_str(), rs.rows.size());
    for (const auto& r : rs.rows) {
        std::fprintf(out, "\n%s  operador %s  de %s  %s\n", txt(r[0]).c_str(), txt(r[1]).c_str(), txt(r[2]).c_str(),
                     txt(r[3]).c_str());
        auto detail = nlohmann::json::parse(txt(r[4]), nullptr, false);
        if (!detail.is_array()) continue;
        for (const auto& st : detail) {
            std::string values;
            for (const auto& v : st.value("values", nlohmann::json::array()))
                values += (values.empty() ? "" : ", ") + (v.is_string() ? v.get<std::string>() : v.dump());
            std::fprintf(out, "  %s\n    [%s]\n", st.value("sql", "").c_str(), values.c_str());
        }
    }
}

}  // namespace acerto::server
