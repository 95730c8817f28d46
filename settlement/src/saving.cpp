// Include, Alter, Confirm and Cancel: the one saving call sends the change logs of the header
// and the four line datasets together.
#include "../grids/family.h"
#include "acerto/host/consiste.h"
#include "acerto/host/services.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

using platform::Variant;

void TfrmAcertoFinal::sbtIncluirClick(Control& sender) {
    GridMember& m = MembroAtivo();
    const bool no_header = cdsAcerto.is_empty();
    if (m.price_base_to_add) Vd_InfPreco(m.code_box->text(), *m.code_box);
    if (no_header) cdsAcerto.insert();
    // A new header may already have started the tab's first line (its lines follow the header
    // into editing): that line is the one the operator adds, not a second on top of it.
    if (!m.lines->editing()) {
        if (&m == &Quebra())
            TfrmPadraoGrid::sbtIncluirClick(sender);  // inserts the line through dtsPadrao
        else
            m.lines->insert();
    }
    m.lines->field("CDARVPROD").focus_control();
}

void TfrmAcertoFinal::sbtAlterarClick(Control&) {
    GridMember& m = MembroAtivo();
    if (&m == &Quebra()) {
        cdsQuebra.edit();
    } else if (&m != &Extras()) {
        m.lines->edit();
        m.lines->field("CDARVPROD").focus_control();
        Habilita(*m.lines);
    } else if (focused() == &dbgExtras) {
        cdsExtras.edit();
        cdsExtras.field("CDARVPROD").focus_control();
    } else {
        cdsAcerto.edit();  // the per-person fields of the header
    }
}

// The active tab's current line, every value required.
void TfrmAcertoFinal::Vd_Geral() {
    MembroAtivo().confirm_checks();
}

void TfrmAcertoFinal::sbtConfirmarClick(Control&) {
    ClientDataSet* const five[] = {&cdsAcerto, &cdsQuebra, &cdsSobra, &cdsHorasExtras, &cdsExtras};
    // 1. Busy until the command ends, however it ends.
    host::Showavi::Busy busy(*this);
    try {
        // 2. The activation handler attached again.
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
        // 10. Busy off as the scope ends.
    } catch (...) {
        // Anything failed: rows posted but not saved are discarded from every change log.
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
