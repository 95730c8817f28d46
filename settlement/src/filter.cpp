// The filter panel: the branch and the number of the budget or order to settle.
#include "acerto/host/consiste.h"
#include "acerto/host/errors.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

using host::Consiste::Ajusta;
using host::Consiste::EmptyString;
using platform::Variant;

// Entering the branch box clears the number: a new branch means a new number.
void TfrmAcertoFinal::medCdFilialEnter(Control&) {
    edtNrOrcamento.set_text("");
}

void TfrmAcertoFinal::medCdFilialChange(Control&) {
    edtNmFilial.set_text("");
}

void TfrmAcertoFinal::medCdFilialExit(Control&) {
    Vd_Filial(true);
}

void TfrmAcertoFinal::btnFilialAfterPesq(host::TBtnPesquisa&) {
    medCdFilial.set_text(qryFilial.field("CDFILIAL").as_string());
    edtNmFilial.set_text(qryFilial.field("NMFILIAL").as_string());
}

void TfrmAcertoFinal::edtNrOrcamentoChange(Control&) {
    edtOrigem.set_text("");
}

void TfrmAcertoFinal::edtNrOrcamentoExit(Control&) {
    edtNrOrcamento.set_text(Ajusta(edtNrOrcamento.text(), 10));
    Vd_Orcamento(false);
}

// Fills the number search list, each row with its origin word.
void TfrmAcertoFinal::btnNrOrcamentoBeforePesq(host::TBtnPesquisa&, bool&) {
    // 1. The branch's budgets and orders.
    cdsPesqOrca.set_data(Chama("GetPesqOrca", {Variant(medCdFilial.text())}));
    // 2. The origin word of every row.
    for (cdsPesqOrca.first(); !cdsPesqOrca.eof(); cdsPesqOrca.next()) {
        cdsPesqOrca.edit();
        std::string tp = cdsPesqOrca.field("IDTPORCAEVEN").as_string();
        if (tp == "O")
            cdsPesqOrca.field("IDTESTE").set_as_string("ORÇAMENTO");
        else if (tp == "E")
            cdsPesqOrca.field("IDTESTE").set_as_string("ENCOMENDA");
        cdsPesqOrca.post();
    }
    cdsPesqOrca.first();
}

void TfrmAcertoFinal::btnNrOrcamentoAfterPesq(host::TBtnPesquisa&) {
    edtNrOrcamento.set_text(cdsPesqOrca.field("NRORCAEVENTO").as_string());
}

void TfrmAcertoFinal::cdsPesqOrcaIDTPORCAEVENGetText(platform::Field& sender, std::string& text, bool) {
    std::string v = sender.is_null() ? std::string() : sender.value().as_string();
    text = v == "O" ? "ORÇAMENTO" : v == "E" ? "ENCOMENDA" : "";
}

void TfrmAcertoFinal::Vd_Filial(bool required) {
    // 1. Blank: an error only when required.
    if (EmptyString(medCdFilial.text())) {
        if (!required) return;
        medCdFilial.set_focus();
        Falha("FILI_N_INF");
    }
    // 2. The code adjusted to four characters.
    medCdFilial.set_text(Ajusta(medCdFilial.text(), 4));
    // 3. Looked up.
    qryVdFilial.close();
    qryVdFilial.param_by_name("P_CDFILIAL").set_as_string(medCdFilial.text());
    qryVdFilial.open();
    // 4. Not registered.
    if (qryVdFilial.is_empty()) {
        medCdFilial.set_focus();
        Falha("FILI_N_CAD");
    }
    // 5. The stored code and the branch name.
    medCdFilial.set_text(qryVdFilial.field("CDFILIAL").as_string());
    edtNmFilial.set_text(qryVdFilial.field("NMFILIAL").as_string());
}

void TfrmAcertoFinal::Vd_Orcamento(bool required) {
    try {
        // 1. Blank: an error only when required.
        if (EmptyString(edtNrOrcamento.text())) {
            if (!required) return;
            Falha("ORCA_N_INF");
        }
        // 2. The budget or order with this number.
        cdsVdOrcaEven.set_data(Chama("GetVdOrcaEven", {Variant(medCdFilial.text()), Variant(edtNrOrcamento.text())}));
        // 3. Its origin.
        std::string tp = cdsVdOrcaEven.field("IDTPORCAEVEN").as_string();
        if (tp == "O")
            edtOrigem.set_text(Msg("ORC"));
        else if (tp == "E")
            edtOrigem.set_text(Msg("ENC"));
        // 4. Not a budget: it must be a valid order.
        if (tp != "O") {
            cdsVdEnc.set_data(Chama("GetVdEncomenda", {Variant(medCdFilial.text()), Variant(edtNrOrcamento.text())}));
            if (cdsVdEnc.is_empty()) Falha("ENC_N_CAD");
        }
    } catch (...) {
        // 5. Whatever failed, the focus goes to the number first.
        if (edtNrOrcamento.usable() && !edtNrOrcamento.focused()) edtNrOrcamento.set_focus();
        throw;
    }
}

// Entering the filter panel discards what was loaded.
void TfrmAcertoFinal::panFiltroEnter(Control&) {
    // 1. The "Quebra" tab.
    pgcPadrao.set_active_page(&tshPadrao);
    pgcPadraoChange(pgcPadrao);
    // 2. The settlement datasets closed; pending changes go with them.
    for (ClientDataSet* ds : {&cdsQuebra, &cdsSobra, &cdsHorasExtras, &cdsExtras, &cdsDevol, &cdsAcerto}) ds->close();
    // 3. No header, so nothing to cancel.
    mnuCanAcerto.set_enabled(false);
    sbtCanAcerto.set_enabled(false);
}

}  // namespace acerto::settlement
