// Include, Alter, Confirm and Cancel: the one saving call sends the change logs of the header
// and the four line datasets together.
#include "acerto/host/consiste.h"
#include "acerto/host/services.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

using platform::Variant;

void TfrmAcertoFinal::sbtIncluirClick(Control& sender) {
    TabSheet* page = pgcPadrao.active_page();
    const bool no_header = cdsAcerto.is_empty();
    if (page == &tshPadrao) {
        Vd_InfPreco(dbePrQuebra.text(), dbePrQuebra);
        if (no_header) {
            cdsAcerto.insert();
            TfrmPadraoGrid::sbtIncluirClick(sender);  // inserts the line through dtsPadrao
        } else {
            cdsQuebra.insert();
        }
        cdsQuebra.field("CDARVPROD").focus_control();
        return;
    }
    ClientDataSet* lines = page == &tshSobra ? &cdsSobra : page == &tshHorasExtras ? &cdsHorasExtras : &cdsExtras;
    if (page == &tshSobra) Vd_InfPreco(dbePrSobra.text(), dbePrSobra);
    if (page == &tshHorasExtras) Vd_InfPreco(dbeCdPrHora.text(), dbeCdPrHora);
    if (no_header) cdsAcerto.insert();
    lines->insert();
    lines->field("CDARVPROD").focus_control();
}

void TfrmAcertoFinal::sbtAlterarClick(Control&) {
    TabSheet* page = pgcPadrao.active_page();
    if (page == &tshPadrao) {
        cdsQuebra.edit();
    } else if (page == &tshSobra || page == &tshHorasExtras) {
        ClientDataSet& lines = page == &tshSobra ? cdsSobra : cdsHorasExtras;
        lines.edit();
        lines.field("CDARVPROD").focus_control();
        Habilita(lines);
    } else if (focused() == &dbgExtras) {
        cdsExtras.edit();
        cdsExtras.field("CDARVPROD").focus_control();
    } else {
        cdsAcerto.edit();  // the per-person fields of the header
    }
}

void TfrmAcertoFinal::Vd_Geral() {
    TabSheet* page = pgcPadrao.active_page();
    if (page == &tshPadrao) {
        Vd_PrcBaseQuebra(true);
        Vd_ProdQuebra(true);
        Vd_QtdQuebra(true);
        Vd_VrQuebra(true);
    } else if (page == &tshSobra) {
        Vd_PrcBaseSobra(true);
        Vd_ProdSobra(true);
        Vd_QtdSobra(true);
        Vd_VrSobra(true);
    } else if (page == &tshHorasExtras) {
        Vd_NomeExtra(true);
    } else if (page == &tshExtras && cdsParam.field("IDTPCOBRVREXTRA").as_string() == "P") {
        Vd_PrcBaseExtra(true);
        Vd_ProdExtra(true);
        Vd_QtdExtra(true);
        Vd_VrExtra(true);
    }
}

void TfrmAcertoFinal::sbtConfirmarClick(Control&) {
    ClientDataSet* const five[] = {&cdsAcerto, &cdsQuebra, &cdsSobra, &cdsHorasExtras, &cdsExtras};
    try {
        // 1. Busy; 2. the activation handler attached again.
        host::Showavi::ActiveShowAvi(*this, 1);
        AttachFormActivate();
        // What the operator typed and still sees in a cell or box counts: it reaches the fields
        // before the checks read them.
        for (ClientDataSet* ds : five)
            if (ds->editing()) ds->update_record();
        // 3. The filter panel and every enabled state for the active tab.
        dtsPadraoStateChange(dtsPadrao);
        // 4, 5. The active tab's line, and the overtime and extras price bases.
        Vd_Geral();
        Vd_PrcBaseHora(true);
        Vd_PrcBaseExtra(true);
        // 6. Whatever is being edited is posted; a line's after-post saves, nested.
        for (ClientDataSet* ds : five)
            if (ds->editing()) ds->post();
        // 7, 8. The five change logs (Null when unchanged) in one call.
        Variant::Array deltas;
        for (ClientDataSet* ds : five) deltas.push_back(ds->change_count() < 1 ? Variant() : ds->delta());
        Chama("SetConfirmar", deltas);
        // 9. Saved: the logs merged.
        for (ClientDataSet* ds : five)
            if (ds->change_count() > 0) ds->merge_change_log();
        // 10. Busy off.
        host::Showavi::DeactiveShowAvi();
    } catch (...) {
        // Anything failed: rows posted but not saved are discarded from every change log.
        try {
            host::Showavi::DeactiveShowAvi();
        } catch (...) {
        }
        for (ClientDataSet* ds : five)
            if (ds->change_count() > 0) ds->cancel_updates();
        throw;
    }
}

void TfrmAcertoFinal::sbtCancelarClick(Control&) {
    // 1. The activation handler attached again.
    AttachFormActivate();
    // 2. The standard question.
    if (msgMensagensPadroes.ShowMsg("Canc", host::MsgType::Confirmation, host::mbYes | host::mbNo) !=
        host::ModalResult::Yes)
        return;
    // 3, 4. The active tab's dataset, then the header: the edit cancelled, the log undone.
    for (ClientDataSet* ds : {&PageDataSet(), &cdsAcerto}) {
        if (ds->editing()) ds->cancel();
        if (ds->change_count() > 0) ds->cancel_updates();
    }
    // 5. Reloaded from the server.
    sbtVerificarClick(sbtVerificar);
}

}  // namespace acerto::settlement
