#include <gtest/gtest.h>

#include "acerto/host/messages.h"
#include "acerto/host/services.h"
#include "scripted_ui.h"

using namespace acerto;
using namespace acerto::host;

TEST(TMessages, LookupIgnoresCaseAndAMissingKeyReadsAsItself) {
    TMessages m("msgPadrao",
                {"VR_Zero|Valor deve ser maior que zero.",
                 "N_PARAM_TPCTREC|Tipo de conta a receber não parametrizado para o tipo de operação (%s).", "Vazio|"});
    EXPECT_EQ(m.Msg("Vr_Zero"), "Valor deve ser maior que zero.");
    EXPECT_EQ(m.Msg("VR_ZERO"), "Valor deve ser maior que zero.");
    EXPECT_EQ(m.Msg("Vazio"), "");
    EXPECT_EQ(m.Msg("NAO_EXISTE"), "NAO_EXISTE");
    EXPECT_EQ(m.key_at(1), "N_PARAM_TPCTREC");
    EXPECT_TRUE(m.contains("n_param_tpctrec"));
}

TEST(TMessages, ShowMsgAsksTheOperator) {
    test::ScriptedUi operator_ui;
    Services s;
    s.ui = &operator_ui;
    install(&s);
    TMessages m("msgMensagensPadroes", {"Canc|Confirma o cancelamento das alterações?"});
    operator_ui.answers.push_back(ModalResult::Yes);
    EXPECT_EQ(m.ShowMsg("canc", MsgType::Confirmation, mbYes | mbNo), ModalResult::Yes);
    EXPECT_EQ(operator_ui.messages.back(), "Confirma o cancelamento das alterações?");
    install(nullptr);
}
