// The robot itself: its parser, and scenarios that must fail, failing at the right line with
// a message in the operator's terms.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include <sys/wait.h>

#include "script.h"

using namespace acerto::robot;

TEST(Script, TokensQuotesEscapesAndComments) {
    auto cmds = parse_script(
        "# a comment line\n"
        "\n"
        "type medCdFilial \"0 1\"   # the branch\n"
        "expect error \"say \\\"hi\\\" \\\\ there\"\n"
        "key dbgPadrao \"#\"\n");
    ASSERT_EQ(cmds.size(), 3u);
    EXPECT_EQ(cmds[0].line, 3);
    ASSERT_EQ(cmds[0].size(), 3u);
    EXPECT_EQ(cmds[0].word(2), "0 1");
    EXPECT_TRUE(cmds[0].tokens[2].quoted);
    EXPECT_FALSE(cmds[0].tokens[1].quoted);
    EXPECT_EQ(cmds[1].word(2), "say \"hi\" \\ there");
    EXPECT_EQ(cmds[2].word(2), "#");
    EXPECT_EQ(cmds[2].word(9), "");
}

TEST(Script, AnUnclosedQuoteNamesItsLine) {
    try {
        parse_script("open\n\ntype edtNrOrcamento \"42\n");
        FAIL() << "parsed";
    } catch (const ScriptError& e) {
        EXPECT_EQ(e.line(), 3);
    }
}

namespace {

struct RobotRun {
    int status;
    std::string output;
};

struct ScenarioFile {
    std::string name, text;
};

// Runs acerto-robot on the scenarios (.scn) written to temporary files beside the other files
// given (fixtures), in one run.
RobotRun robot(const std::vector<ScenarioFile>& files, const std::string& options = "") {
    auto dir = std::filesystem::temp_directory_path() / ("acerto-robot-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(ACERTO_SCENARIO_FIXTURES "/buffet.json", dir / "buffet.json",
                               std::filesystem::copy_options::overwrite_existing);
    std::string cmd = std::string(ACERTO_ROBOT_BIN) + " " + options;
    for (const auto& f : files) {
        std::ofstream(dir / f.name) << f.text;
        if (f.name.ends_with(".scn")) cmd += " " + (dir / f.name).string();
    }
    cmd += " 2>&1";
    RobotRun r{0, {}};
    FILE* p = popen(cmd.c_str(), "r");
    std::array<char, 4096> buf{};
    while (fgets(buf.data(), buf.size(), p)) r.output += buf.data();
    r.status = pclose(p);
    return r;
}

RobotRun robot(const std::string& name, const std::string& text, const std::string& options = "") {
    return robot(std::vector<ScenarioFile>{{name, text}}, options);
}

}  // namespace

TEST(Robot, AnExpectedErrorThatDidNotHappenFailsAtItsLine) {
    RobotRun r = robot("filtro.scn",
                       "fixture buffet.json\n"
                       "open\n"
                       "type medCdFilial \"1\"\n"
                       "focus edtNrOrcamento\n"
                       "expect error key FILI_N_CAD\n");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("FAIL filtro.scn:5: expected error \"Filial não cadastrada.\" but the action ended "
                            "normally; focus is in edtNrOrcamento"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("0 passed, 1 failed"), std::string::npos);
}

TEST(Robot, AnUnexpectedErrorFailsAtTheNextAction) {
    RobotRun r = robot("inesperado.scn",
                       "fixture buffet.json\n"
                       "open\n"
                       "type medCdFilial \"9\"\n"
                       "focus edtNrOrcamento\n"
                       "expect focus medCdFilial\n"
                       "focus edtNrOrcamento\n");
    EXPECT_NE(r.output.find("FAIL inesperado.scn:6: the action at line 4 ended with the error \"Filial não "
                            "cadastrada.\" and nothing expected it"),
              std::string::npos)
        << r.output;
}

TEST(Robot, QuestionsAndAnswersMustMatch) {
    RobotRun unanswered = robot("sem_resposta.scn",
                                "fixture buffet.json\n"
                                "open\n"
                                "type medCdFilial \"1\"\n"
                                "type edtNrOrcamento \"42\"\n"
                                "key edtNrOrcamento Tab\n");
    EXPECT_NE(unanswered.output.find("FAIL sem_resposta.scn:5: a question was asked with no answer queued"),
              std::string::npos)
        << unanswered.output;
    RobotRun unused = robot("resposta_sobrando.scn",
                            "fixture buffet.json\n"
                            "answer yes\n"
                            "open\n");
    EXPECT_NE(unused.output.find("FAIL resposta_sobrando.scn:2: an answer was queued and not used by the next action"),
              std::string::npos)
        << unused.output;
}

TEST(Robot, AnOperatorCannotTouchWhatIsDisabledOrHidden) {
    RobotRun r = robot("desabilitado.scn",
                       "fixture buffet.json\n"
                       "open\n"
                       "click sbtConfirmar\n");
    EXPECT_NE(r.output.find("FAIL desabilitado.scn:3: cannot click sbtConfirmar: it is disabled"), std::string::npos)
        << r.output;
    RobotRun hidden = robot("oculto.scn",
                            "fixture buffet.json\n"
                            "open\n"
                            "focus dbgSobra\n");
    EXPECT_NE(hidden.output.find("FAIL oculto.scn:3: cannot focus dbgSobra: it is hidden"), std::string::npos)
        << hidden.output;
}

TEST(Robot, UnknownWordsAndWrongValuesAreNamed) {
    RobotRun r = robot("desconhecido.scn", "open\nexpect rows cdsNada 1\n");
    EXPECT_NE(r.output.find("FAIL desconhecido.scn:2: the screen has no dataset cdsNada"), std::string::npos)
        << r.output;
    RobotRun w = robot("valor.scn",
                       "fixture buffet.json\n"
                       "open\n"
                       "type medCdFilial \"1\"\n"
                       "expect text medCdFilial \"0001\"\n");
    EXPECT_NE(w.output.find("FAIL valor.scn:4: expected medCdFilial to show \"0001\", found \"1\""), std::string::npos)
        << w.output;
    RobotRun v = robot("verbo.scn", "dance\n");
    EXPECT_NE(v.output.find("FAIL verbo.scn:1: unknown command dance"), std::string::npos) << v.output;
}

TEST(Robot, APassingScenarioExitsWithZero) {
    RobotRun r = robot("passa.scn", "fixture buffet.json\nopen\nexpect focus medCdFilial\n");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("ok passa.scn\n1 passed, 0 failed"), std::string::npos) << r.output;
}

TEST(Robot, NoticesAndTheProductListAreSeen) {
    const std::string module = std::string("--module ") + ACERTO_TEST_MODULE;
    RobotRun r = robot("dialogos.scn",
                       "# A notice and the product list, then an action that shows neither.\n"
                       "open\n"
                       "click btnAviso\n"
                       "expect info key AVISO\n"
                       "expect info \"Operação realizada com sucesso.\"\n"
                       "click btnLista\n"
                       "expect list \"Produtos recusados.\" 3\n"
                       "focus dbgPadrao\n"
                       "expect nodialog\n",
                       module);
    EXPECT_EQ(r.status, 0) << r.output;
    RobotRun wrong = robot("lista.scn",
                           "open\n"
                           "click btnLista\n"
                           "expect list \"Produtos recusados.\" 2\n",
                           module);
    EXPECT_NE(wrong.output.find("FAIL lista.scn:3: expected list \"Produtos recusados.\" with 2 rows, found 3"),
              std::string::npos)
        << wrong.output;
    RobotRun none = robot("sem_aviso.scn",
                          "open\n"
                          "click btnLista\n"
                          "expect info key AVISO\n",
                          module);
    EXPECT_NE(
        none.output.find(
            "FAIL sem_aviso.scn:3: expected info \"Operação realizada com sucesso.\", found \"Produtos recusados.\""),
        std::string::npos)
        << none.output;
}

TEST(Robot, HowManyDialogsAnActionShowedAndInWhichOrder) {
    const std::string module = std::string("--module ") + ACERTO_TEST_MODULE;
    RobotRun r = robot("ordem.scn",
                       "open\n"
                       "click btnAmbos\n"
                       "expect dialogs 2\n"
                       "expect dialog 1 \"Produtos recusados.\"\n"
                       "expect dialog 2 key AVISO\n"
                       "focus dbgPadrao\n"
                       "expect dialogs 0\n",
                       module);
    EXPECT_EQ(r.status, 0) << r.output;
    RobotRun many = robot("muitos.scn", "open\nclick btnLista\nexpect dialogs 2\n", module);
    EXPECT_NE(many.output.find("FAIL muitos.scn:3: expected 2 dialogs, found 1: \"Produtos recusados.\""),
              std::string::npos)
        << many.output;
    RobotRun order = robot("ordem_trocada.scn", "open\nclick btnAmbos\nexpect dialog 1 key AVISO\n", module);
    EXPECT_NE(order.output.find("FAIL ordem_trocada.scn:3: expected dialog 1 \"Operação realizada com sucesso.\", "
                                "found \"Produtos recusados.\""),
              std::string::npos)
        << order.output;
    RobotRun beyond = robot("alem.scn", "open\nclick btnAviso\nexpect dialog 2 key AVISO\n", module);
    EXPECT_NE(beyond.output.find("FAIL alem.scn:3: expected dialog 2 \"Operação realizada com sucesso.\", found only 1 "
                                 "dialogs"),
              std::string::npos)
        << beyond.output;
}

// Another workstation's call: the screen's last call of a method sent again, straight to the
// server, not counted as the screen's; a call never made, or one the server refuses, fails.
TEST(Robot, ServerRepeatSendsTheScreensLastCallAgainAsAnotherWorkstation) {
    const std::string load =
        "fixture buffet.json\n"
        "open\n"
        "type medCdFilial \"1\"\n"
        "type edtNrOrcamento \"43\"\n"
        "key edtNrOrcamento Tab\n";
    RobotRun r = robot("repete.scn", load + "mark\nserver repeat GetOrcamento\nexpect calls GetOrcamento 0\n");
    EXPECT_EQ(r.status, 0) << r.output;
    RobotRun never = robot("nunca.scn", load + "server repeat Gera_Financeiro\n");
    EXPECT_NE(never.output.find("FAIL nunca.scn:6: server repeat: Gera_Financeiro was never called"), std::string::npos)
        << never.output;
    RobotRun refused =
        robot("recusa.scn", load + "server fail GetOrcamento \"Sem acesso.\"\nserver repeat GetOrcamento\n");
    EXPECT_NE(refused.output.find("FAIL recusa.scn:7: server repeat GetOrcamento: the server refused it: \"Sem "
                                  "acesso.\""),
              std::string::npos)
        << refused.output;
}

TEST(Robot, AServerThatDoesNotStartFailsItsScenarioAndTheRunGoesOn) {
    // A fixture naming a table the loader does not know: the scenario's server refuses to start.
    RobotRun r = robot({{"tabela.json", "{\"FILIAL\": [], \"TABELA_QUE_NAO_HA\": []}\n"},
                        {"sem_servidor.scn", "fixture tabela.json\nopen\n"},
                        {"com_servidor.scn", "fixture buffet.json\nopen\nexpect focus medCdFilial\n"}});
    ASSERT_TRUE(WIFEXITED(r.status)) << "the robot died: " << r.output;
    EXPECT_EQ(WEXITSTATUS(r.status), 1);
    // The failure is the scenario's, at the action that needed the server, naming the table.
    EXPECT_NE(r.output.find("FAIL sem_servidor.scn:2: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("TABELA_QUE_NAO_HA"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("ok com_servidor.scn"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("1 passed, 1 failed"), std::string::npos) << r.output;
}

TEST(Robot, AServerThatEndsBadlyFailsAScenarioThatPassed) {
    // A stand-in for a server that reports a fault on its way out (as a sanitizer does): the
    // real server, whose exit status on SIGTERM is replaced by 3.
    auto dir = std::filesystem::temp_directory_path() / ("acerto-robot-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto wrapper = dir / "servidor_com_falha.sh";
    std::ofstream(wrapper) << "#!/bin/sh\n"
                              "\"" ACERTO_SERVER_BIN
                              "\" \"$@\" &\n"
                              "pid=$!\n"
                              "trap 'kill -TERM $pid; wait $pid; echo \"SUMMARY: falha simulada\" >&2; exit 3' TERM\n"
                              "wait $pid\n";
    std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all);
    RobotRun r =
        robot("passa.scn", "fixture buffet.json\nopen\nexpect focus medCdFilial\n", "--server " + wrapper.string());
    EXPECT_NE(r.output.find("FAIL passa.scn:3: o acerto-server terminou com o status 3: SUMMARY: falha simulada"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("0 passed, 1 failed"), std::string::npos) << r.output;
}
