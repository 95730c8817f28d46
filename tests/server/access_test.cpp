// Operators signing in, what each may touch, and the audit trail, against a real server
// process on the demonstration data (SQLite, or PostgreSQL with the pg label), each test over
// plain HTTP and again over TLS.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "acerto/platform/http.h"
#include "os_util.h"
#include "server_process.h"
#include "tls_certificate.h"

using namespace acerto;
using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const char* const kNoSession =
    "Sessão inválida ou expirada: entre novamente no sistema com o seu operador e a sua senha.";
const char* const kBadSignIn = "Operador ou senha inválidos.";

// A settlement the demo data can import (budget 101 of branch 0001 has returns).
const char* const kBranch = "0001";
const char* const kBudget = "0000000101";

// Whether this test's server and clients speak TLS (the suite's parameter).
bool over_tls = false;

platform::http::ClientTls client_tls() {
    return over_tls ? test::trusting() : platform::http::ClientTls{};
}

json post(int port, const std::string& path, const std::string& body, const std::string& token = {}) {
    platform::http::Client c("127.0.0.1", port, 3s, 30s, client_tls());
    if (!token.empty()) c.set_authorization("Bearer " + token);
    return json::parse(c.request("POST", path, body).body);
}

json call(int port, const std::string& token, const std::string& method, const json& args) {
    return post(port, "/QLM01200.rdmAcertoFinal/" + method, args.dump(), token);
}

std::string sign_in(int port, const std::string& code, const std::string& password) {
    return test::sign_in(port, code, password, client_tls());
}

std::string error_of(const json& answer) {
    return answer.contains("error") ? answer["error"].get<std::string>() : std::string();
}

// The administration command on the server's database.
std::string admin(const std::string& db, const std::string& args, const std::string& input = {}) {
    return test::run_command("printf '%s\\n' '" + input + "' | " + ACERTO_SERVER_BIN + " --db '" + db + "' " + args);
}

int audit_rows(const std::string& db, const std::string& who) {
    std::string out = admin(db, std::string("audit --branch ") + kBranch + " --number " + kBudget);
    int n = 0;
    for (auto at = out.find("operador " + who + " "); at != std::string::npos;
         at = out.find("operador " + who + " ", at + 1))
        ++n;
    return n;
}

struct DemoServer {
    std::string db = test::fresh_database();
    test::ServerProcess server;
    explicit DemoServer(std::vector<std::string> extra = {}) : server(db, "", with_demo(std::move(extra))) {}
    static std::vector<std::string> with_demo(std::vector<std::string> extra) {
        extra.push_back("--demo");
        if (over_tls)
            for (auto& a : test::tls_args()) extra.push_back(a);
        return extra;
    }
    int port() const { return server.port(); }
    std::string token() { return sign_in(port(), test::kTestOperator, test::kTestPassword); }
};

class Access : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override { over_tls = GetParam(); }
    void TearDown() override { over_tls = false; }
};

}  // namespace

TEST_P(Access, EveryMethodNeedsAValidSessionAndTheWrongPasswordGetsNone) {
    DemoServer s;
    EXPECT_EQ(error_of(call(s.port(), "", "GetPesqOrca", {kBranch})), kNoSession);
    EXPECT_EQ(error_of(call(s.port(), "not-a-token", "GetPesqOrca", {kBranch})), kNoSession);
    EXPECT_EQ(error_of(post(s.port(), "/session", R"(["DEMO","errada"])")), kBadSignIn);
    EXPECT_EQ(error_of(post(s.port(), "/session", R"(["NINGUEM","demo1234"])")), kBadSignIn);
    EXPECT_EQ(error_of(post(s.port(), "/session", R"(["DEMO"])")),
              "Pedido inválido: a entrada leva o código do operador e a senha.");
    // Nothing was written by the refused calls, and a write without a session writes nothing.
    EXPECT_EQ(error_of(call(s.port(), "", "SetImportaDevolucao", {kBranch, kBudget, "DEMO"})), kNoSession);
    std::string token = sign_in(s.port(), "DEMO", "demo1234");
    json rows = call(s.port(), token, "GetPesqOrca", {kBranch});
    ASSERT_TRUE(rows.contains("result")) << rows.dump();
    EXPECT_FALSE(rows["result"]["rows"].empty());
    EXPECT_EQ(audit_rows(s.db, "DEMO"), 0);
}

TEST_P(Access, ASessionExpires) {
    DemoServer s({"--session-seconds", "1"});
    std::string token = s.token();
    EXPECT_TRUE(call(s.port(), token, "GetPesqOrca", {kBranch}).contains("result"));
    std::this_thread::sleep_for(1300ms);
    EXPECT_EQ(error_of(call(s.port(), token, "GetPesqOrca", {kBranch})), kNoSession);
}

TEST_P(Access, AnotherOperatorsCodeIsRefusedAndWritesNothing) {
    DemoServer s;
    std::string token = s.token();  // TESTE
    EXPECT_EQ(error_of(call(s.port(), token, "SetImportaDevolucao", {kBranch, kBudget, "DEMO"})),
              "O operador informado (DEMO) não é o operador conectado (TESTE). Entre novamente no sistema.");
    json loaded = call(s.port(), token, "GetOrcamento", {kBranch, kBudget});
    ASSERT_TRUE(loaded.contains("result")) << loaded.dump();
    EXPECT_TRUE(loaded["result"][0]["rows"].empty()) << "a settlement was written";
    EXPECT_EQ(audit_rows(s.db, "TESTE") + audit_rows(s.db, "DEMO"), 0);

    // A header written under another operator's code is refused the same way.
    json header = {{"fields", {{{"name", "CDFILIAL"}}, {{"name", "NRORCAEVENTO"}}, {{"name", "CDOPERADOR"}}}},
                   {"delta", {{{"op", "insert"}, {"new", {kBranch, kBudget, "DEMO"}}}}}};
    EXPECT_EQ(error_of(call(s.port(), token, "SetConfirmar", {header, nullptr, nullptr, nullptr, nullptr})),
              "O operador informado (DEMO) não é o operador conectado (TESTE). Entre novamente no sistema.");
}

TEST_P(Access, ABranchTheOperatorMayNotUseIsRefusedOnReadsAndWrites) {
    DemoServer s;
    EXPECT_NE(admin(s.db, "operator add CAIO --name Caio --branch 0002", "senha-do-caio").find("feito"),
              std::string::npos);
    std::string ana = sign_in(s.port(), "CAIO", "senha-do-caio");
    const std::string refused = "O operador CAIO não tem acesso à filial 0001.";
    EXPECT_EQ(error_of(call(s.port(), ana, "GetPesqOrca", {kBranch})), refused);
    EXPECT_EQ(error_of(call(s.port(), ana, "GetOrcamento", {kBranch, kBudget})), refused);
    EXPECT_EQ(error_of(call(s.port(), ana, "GetRelatorio", {"AcertoFinal", "P_CDFILIAL", kBranch})), refused);
    EXPECT_EQ(error_of(call(s.port(), ana, "SetImportaDevolucao", {kBranch, kBudget, "CAIO"})), refused);
    EXPECT_TRUE(call(s.port(), ana, "GetPesqOrca", {"0002"}).contains("result"));
    EXPECT_EQ(audit_rows(s.db, "CAIO"), 0);
}

TEST_P(Access, ADisabledOperatorCannotSignInAndTheirSessionStops) {
    DemoServer s;
    admin(s.db, "operator add DORA --branch '*'", "senha-da-dora");
    std::string beto = sign_in(s.port(), "DORA", "senha-da-dora");
    EXPECT_TRUE(call(s.port(), beto, "GetPesqOrca", {kBranch}).contains("result"));
    EXPECT_NE(admin(s.db, "operator disable DORA").find("feito"), std::string::npos);
    EXPECT_EQ(error_of(post(s.port(), "/session", R"(["DORA","senha-da-dora"])")),
              "Operador desativado. Procure o administrador do sistema.");
    // The session already open stops within the server's re-read period (2 s).
    std::this_thread::sleep_for(2200ms);
    EXPECT_EQ(error_of(call(s.port(), beto, "GetPesqOrca", {kBranch})), kNoSession);
    admin(s.db, "operator enable DORA");
    EXPECT_NO_THROW(sign_in(s.port(), "DORA", "senha-da-dora"));
    // A new password replaces the old one.
    admin(s.db, "operator passwd DORA", "outra-senha");
    EXPECT_EQ(error_of(post(s.port(), "/session", R"(["DORA","senha-da-dora"])")), kBadSignIn);
    EXPECT_NO_THROW(sign_in(s.port(), "DORA", "outra-senha"));
    std::string list = admin(s.db, "operator list");
    EXPECT_NE(list.find("DORA"), std::string::npos);
    EXPECT_NE(list.find("DEMO"), std::string::npos);
}

TEST_P(Access, RepeatedFailedSignInsAreSlowedDown) {
    DemoServer s;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(error_of(post(s.port(), "/session", R"(["DEMO","errada"])")), kBadSignIn);
    // Now even the right password waits.
    std::string wait = error_of(post(s.port(), "/session", R"(["DEMO","demo1234"])"));
    EXPECT_EQ(wait.rfind("Muitas tentativas de entrada sem sucesso para este operador.", 0), 0u) << wait;
    // Another operator is not held up by DEMO's failures.
    EXPECT_NO_THROW(s.token());
    std::this_thread::sleep_for(1100ms);
    EXPECT_NO_THROW(sign_in(s.port(), "DEMO", "demo1234"));
}

TEST_P(Access, EachWriteLeavesOneAuditRowWithItsOperatorAndAFailedWriteNone) {
    DemoServer s;
    std::string token = s.token();
    json imported = call(s.port(), token, "SetImportaDevolucao", {kBranch, kBudget, "TESTE"});
    ASSERT_TRUE(imported.contains("result")) << imported.dump();
    // The same import again is refused (the settlement exists): no second row.
    EXPECT_FALSE(error_of(call(s.port(), token, "SetImportaDevolucao", {kBranch, kBudget, "TESTE"})).empty());
    EXPECT_EQ(audit_rows(s.db, "TESTE"), 1);
    std::string trail = admin(s.db, std::string("audit --branch ") + kBranch + " --number " + kBudget);
    EXPECT_NE(trail.find("de 127.0.0.1  SetImportaDevolucao"), std::string::npos) << trail;
    EXPECT_NE(trail.find("INSERT INTO ACERTO "), std::string::npos) << trail;
    EXPECT_NE(trail.find("INSERT INTO ACERTOQUEBRA"), std::string::npos) << trail;
    // A read leaves none, nor a save that carries no change (the screen sends one after each line).
    call(s.port(), token, "GetOrcamento", {kBranch, kBudget});
    json empty = call(s.port(), token, "SetConfirmar", {nullptr, nullptr, nullptr, nullptr, nullptr});
    ASSERT_TRUE(empty.contains("result")) << empty.dump();
    EXPECT_EQ(audit_rows(s.db, "TESTE"), 1);
}

INSTANTIATE_TEST_SUITE_P(Transport, Access, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Tls" : "Plain"; });
