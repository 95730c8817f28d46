// Update financial and Cancel financial: the server does the accounting; the screen sends the
// budget and the situation, shows the outcome and translates the server's refusals.
#include "acerto/host/consiste.h"
#include "acerto/host/services.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

using platform::Variant;

// The label beside "Financeiro" follows the situation the server returned.
void TfrmAcertoFinal::MostraSituacao() {
    std::string situation = cdsAcerto.field("IDSITUACERTO").as_string();
    lblSituFinanc.set_text(Msg(situation == "F" || situation == "T" ? "ATUA" : "PEND"));
}

void TfrmAcertoFinal::sbtAtuaFinaClick(Control&) {
    // 1. A settlement whose financial is updated never gets a second set of titles.
    const std::string situation = cdsAcerto.field("IDSITUACERTO").as_string();
    if (situation == "T" || situation == "F") Falha("FINANC_JA_CAD");
    try {
        // 2.1 to 2.5: busy, the server's accounting, the header it returns, the notice, the label.
        host::Showavi::Busy busy(*this);
        cdsAcerto.set_data(
            Chama("Gera_Financeiro", {cdsOrcamento.data(), Variant(situation), Variant(host::Vantiro::Operador())}));
        msgPadrao.ShowMsg("SUCESSO", host::MsgType::Information, host::mbOK);
        MostraSituacao();
    } catch (const std::exception& failure) {
        // 3. A refusal naming a catalogue key is shown as its text; anything else goes on.
        TraduzRecusa(failure);
    }
}

void TfrmAcertoFinal::sbtCanAcertoClick(Control&) {
    // 1. Only a settlement with something updated is sent to the server.
    if (cdsAcerto.field("IDSITUACERTO").as_string() != "P") {
        try {
            host::Showavi::Busy busy(*this);
            cdsAcerto.set_data(Chama(
                "Cancelar_Acerto", {cdsOrcamento.field("CDFILIAL").value(), cdsOrcamento.field("NRORCAEVENTO").value(),
                                    cdsOrcamento.field("NRSEQORCAEVE").value()}));
            msgPadrao.ShowMsg("CANC_REALIZADO", host::MsgType::Information, host::mbOK);
            MostraSituacao();
        } catch (const std::exception& failure) {
            TraduzRecusa(failure);
        }
    }
    // 2. Everything reloaded, also when nothing was cancelled.
    sbtVerificarClick(sbtVerificar);
}

}  // namespace acerto::settlement
