// The screen module in-process, for what a scenario cannot reach: the catalogue letter by
// letter, the refusal translation, the display-size rule, the 9999-line limit, and commands run
// in states the enabling pass never offers them in.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "acerto/host/errors.h"
#include "acerto/host/services.h"
#include "acerto/platform/text.h"
#include "acerto/settlement/acerto_final.h"
#include "acerto/settlement/catalogue.h"
#include "scripted_ui.h"
#include "test_host.h"

using namespace acerto;
using namespace acerto::settlement;

namespace {

class Screen : public ::testing::Test {
  protected:
    void SetUp() override {
        env = std::make_unique<test::TestHost>(ACERTO_SCENARIO_FIXTURES "/buffet.json", ui);
        env->services.config.operator_code = "TESTE";
        Initialize();
    }
    void TearDown() override {
        Finalize();
        env.reset();
    }
    TfrmAcertoFinal& open() {
        CriaAcertoFinal();
        return *frmAcertoFinal;
    }
    // What an operator error raised by `f` says.
    template <class F>
    std::string error_of(F&& f) {
        try {
            f();
        } catch (const host::OperatorError& e) {
            return e.what();
        }
        return "(no error)";
    }

    test::ScriptedUi ui;
    std::unique_ptr<test::TestHost> env;
};

}  // namespace

TEST(Catalogue, SeventyOneEntriesLetterForLetter) {
    const auto& lines = catalogue_lines();
    ASSERT_EQ(lines.size(), 71u);
    EXPECT_EQ(lines.front(), "Excl|Confirma exclusão?");
    EXPECT_EQ(lines[2], "Del_Acerto|Se confirmar esta operção o acerto também será excluído. Deseja excluir?");
    EXPECT_EQ(lines.back(),
              "N_PARAM_CDEMPRESAORCA|Não foi gravado o código da empresa informada na tela do Contratante.");
    host::TMessages m("msgPadrao", lines);
    // Texts as stored: no final full stop, two spaces, inner quotes.
    EXPECT_EQ(m.Msg("Quant_Inf"), "Quantidade de convidados deve ser informada");
    EXPECT_EQ(m.Msg("N_PARAM_EMPRESARELAC"), "Empresa ou sua Inscrição Estadual  não esta relacionada a filial.");
    EXPECT_EQ(m.Msg("SEM_CDTIPORETI"),
              "Tipo de retirada deve ser informado na tela \"Parâmetros do Orçamento de Eventos\".");
    EXPECT_EQ(m.Msg("N_PARAM_BOLREC_N_CONTAS"),
              "Conta a receber não pode ser cancelada. O boleta da conta está associada à outros boletos.");
    // Keys are unique regardless of case, and looked up that way.
    std::set<std::string> keys;
    for (std::size_t i = 0; i < m.size(); ++i)
        EXPECT_TRUE(keys.insert(platform::to_upper(m.key_at(i))).second) << m.key_at(i);
    EXPECT_EQ(m.Msg("Vr_Zero"), "Valor deve ser maior que zero.");
    EXPECT_EQ(m.Msg("orc"), "ORÇAMENTO");
    // The three texts with a placeholder.
    int placeholders = 0;
    for (std::size_t i = 0; i < m.size(); ++i) placeholders += m.text_at(i).find("%s") != std::string::npos;
    EXPECT_EQ(placeholders, 3);
}

TEST_F(Screen, RefusalTranslation) {
    TfrmAcertoFinal& f = open();
    auto translate = [&](const std::string& server_text) {
        return error_of([&] {
            try {
                throw host::ServerError(server_text);
            } catch (const std::exception& e) {
                f.TraduzRecusa(e);
            }
        });
    };
    EXPECT_EQ(translate("N_PARAM_TPCTREC|05"),
              "Tipo de conta a receber não parametrizado para o tipo de operação (05).");
    EXPECT_EQ(translate("N_PARAM_TIPOOPER"), "Não há tipo de operação parametrizado na tela Parâmetros do Orçamento.");
    EXPECT_EQ(translate("N_PARAM_SERIE|0002"), "Série não parametrizada para o filial (0002).");
    // A text without "%s" is shown unchanged even with an argument.
    EXPECT_EQ(translate("N_PARAM_PRECOMAT|x"),
              "Não há preço base de reposição de materiais parametrizado. Importação não pode ser realizada.");
    // A prefix before the key: the key taken is everything before the bar, prefix included,
    // which is not in the catalogue, so the operator sees it as it came.
    EXPECT_EQ(translate("Erro: N_PARAM_TPCTREC|05"), "Erro: N_PARAM_TPCTREC");
    EXPECT_EQ(translate("Erro: N_PARAM_TIPOOPER"), "Erro: N_PARAM_TIPOOPER");
    // Not a catalogue key: the failure goes on unchanged, as a server error.
    EXPECT_THROW(
        {
            try {
                throw host::ServerError("Banco ocupado");
            } catch (const std::exception& e) {
                f.TraduzRecusa(e);
            }
        },
        host::ServerError);
    EXPECT_GE(ui.busy_calls, 7);  // the busy indicator is switched off by every translation
}

TEST_F(Screen, OneScreenAtATimeAndTheDisplayRule) {
    env->services.config.display_width = 640;
    env->services.config.display_height = 480;
    TfrmAcertoFinal& a = open();
    EXPECT_EQ(a.window_state(), platform::WindowState::Maximized);
    a.set_window_state(platform::WindowState::Normal);
    a.activate();  // maximized again at each activation
    EXPECT_EQ(a.window_state(), platform::WindowState::Maximized);
    env->services.config.display_width = 1024;
    env->services.config.display_height = 768;
    a.set_window_state(platform::WindowState::Minimized);
    TfrmAcertoFinal& b = open();
    EXPECT_EQ(&a, &b);  // the same screen
    EXPECT_EQ(b.window_state(), platform::WindowState::Normal);
    EXPECT_FALSE(b.first_activation());
    b.close();
    EXPECT_FALSE(boStCriado);
    EXPECT_FALSE(b.netAcertoFinal.Connected());
    TfrmAcertoFinal& c = open();
    EXPECT_TRUE(boStCriado);
    EXPECT_TRUE(c.netAcertoFinal.Connected());
    EXPECT_EQ(c.cdsQuebra.field("CDARVPROD").tag, 1);  // the first activation ran again
}

TEST_F(Screen, TheTenThousandthLineIsRefusedWithAClearMessage) {
    TfrmAcertoFinal& f = open();
    f.medCdFilial.set_text("0001");
    f.edtNrOrcamento.set_text("0000000100");
    f.dbgPadrao.set_focus();  // leaves the filter: loads the settlement (lines 1, 2 and 5)
    ASSERT_EQ(f.cdsQuebra.record_count(), 3);
    // A grid whose highest line is 9999: its copy gives no room for a five-digit number.
    platform::DataPacket p(f.cdsQuebra.data_field_defs());
    p.rows() = f.cdsQuebra.data().packet()->rows();
    p.rows().back()[static_cast<std::size_t>(p.index_of("NRACERTOQUEB"))] = platform::Variant("9999");
    f.cdsQuebra.set_data(p);
    std::string text = error_of([&] { f.cdsQuebra.insert(); });
    EXPECT_EQ(text, "Esta aba já tem 9999 linhas, o máximo de um acerto. A linha não pode ser incluída.");
    EXPECT_EQ(f.cdsQuebra.state(), platform::DataSetState::Browse);
    EXPECT_EQ(f.cdsQuebra.record_count(), 3);
}

// Two commands as a stale enabled state could run them (the enabling pass never offers them so):
// Cancel financial on a pending settlement asks the server nothing and only reloads; Withdraw
// with no extras lines withdraws nothing and says nothing.
TEST_F(Screen, CommandsRunInAStaleEnabledStateAskTheServerNothing) {
    std::vector<std::string> calls;
    env->services.on_server_call = [&](const std::string& method, const platform::Variant::Array&,
                                       const host::ServerReply*, const std::string&) { calls.push_back(method); };
    auto called = [&](const char* method) { return std::count(calls.begin(), calls.end(), method); };
    TfrmAcertoFinal& f = open();
    f.medCdFilial.set_text("0001");
    f.edtNrOrcamento.set_text("0000000100");
    f.dbgPadrao.set_focus();
    ASSERT_EQ(f.cdsAcerto.field("IDSITUACERTO").as_string(), "P");
    const int busy_before = ui.busy_depth;
    calls.clear();
    f.sbtCanAcertoClick(f.sbtCanAcerto);
    EXPECT_EQ(called("Cancelar_Acerto"), 0);
    EXPECT_EQ(called("GetOrcamento"), 1);  // the reload through Verify
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(f.cdsQuebra.record_count(), 3);

    ASSERT_TRUE(f.cdsExtras.is_empty());
    calls.clear();
    f.sbtRetProdExtClick(f.sbtRetProdExt);
    EXPECT_EQ(called("RetiraProdExtra"), 0);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(ui.screens.empty());
    EXPECT_EQ(ui.busy_depth, busy_before);  // nothing left on
    env->services.on_server_call = nullptr;
}
