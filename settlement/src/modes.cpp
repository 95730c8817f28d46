// The screen's modes: which commands, tabs and grids are enabled, read from the datasets'
// states every time something changes; tab switching; search and print.
#include "acerto/host/consiste.h"
#include "acerto/host/services.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

using platform::DataSetState;

namespace {
bool editing(const DataSet& ds) { return ds.editing(); }
bool browsing(const DataSet& ds) { return ds.state() == DataSetState::Browse; }
}  // namespace

// The enabling pass, its rules in order; a control that copies another takes the state the
// other holds at that moment.
void TfrmAcertoFinal::Habilita(DataSet& P) {
    const DataSet& H = cdsAcerto;
    Control* focused = this->focused();
    const bool A = focused != &edtNrOrcamento;
    const bool X = pgcPadrao.active_page() == &tshExtras;
    const bool G = focused == &dbgExtras;
    const bool filter_focus = focused == &medCdFilial || focused == &edtNrOrcamento;
    const bool order = cdsPesqOrca.field("IDTPORCAEVEN").as_string() == "E" || edtOrigem.text() == "ENCOMENDA";
    const bool V = X && editing(H);
    const bool P_empty = P.is_empty();

    // 1. Include.
    sbtIncluir.set_enabled(A && browsing(P) && browsing(H));
    // 2. Alter.
    sbtAlterar.set_enabled(A && browsing(P) &&
                           ((!X && !P_empty) || (X && G && !P_empty) || (X && !G && browsing(H))));
    // 3. Delete; 4. Search copies it.
    sbtExcluir.set_enabled(A && browsing(P) && !P_empty && (!X || G));
    sbtProcurar.set_enabled(sbtExcluir.enabled());
    // 5. Verify.
    sbtVerificar.set_enabled(A && browsing(P) && (!X || browsing(H)));
    // 6. Confirm; Cancel copies it.
    sbtConfirmar.set_enabled(A && (editing(P) || editing(H)));
    sbtCancelar.set_enabled(sbtConfirmar.enabled());
    // 7. The menu mirrors.
    mnuIncluir.set_enabled(sbtIncluir.enabled());
    mnuAlterar.set_enabled(sbtAlterar.enabled());
    mnuExcluir.set_enabled(sbtExcluir.enabled());
    mnuProcurar.set_enabled(sbtProcurar.enabled());
    mnuVerificar.set_enabled(sbtVerificar.enabled());
    mnuConfirmar.set_enabled(sbtConfirmar.enabled());
    mnuCancelar.set_enabled(sbtCancelar.enabled());
    // 8-11. The tabs.
    tshPadrao.set_enabled(!V && !editing(cdsSobra) && !editing(cdsHorasExtras) && !editing(cdsExtras));
    tshSobra.set_enabled(!V && !filter_focus && !editing(cdsQuebra) && !editing(cdsHorasExtras) && !editing(cdsExtras));
    tshHorasExtras.set_enabled(!V && !filter_focus && !editing(cdsQuebra) && !editing(cdsSobra) &&
                               !editing(cdsExtras) && !order);
    tshExtras.set_enabled(!filter_focus && !editing(cdsQuebra) && !editing(cdsSobra) && !editing(cdsHorasExtras) &&
                          !order);
    // 12. Their menu items.
    mnuPadrao.set_enabled(tshPadrao.enabled());
    mnuSobra.set_enabled(tshSobra.enabled());
    mnuHorasExtras.set_enabled(tshHorasExtras.enabled());
    mnuExtras.set_enabled(tshExtras.enabled());
    // 13. Update financial reads Cancel financial's state before this pass recomputes it.
    sbtAtuaFina.set_enabled(A && browsing(P) && !P_empty && browsing(H) && !sbtCanAcerto.enabled());
    mnuAtuaFina.set_enabled(sbtAtuaFina.enabled());
    // 14. Cancel financial.
    sbtCanAcerto.set_enabled(!cdsOrcamento.is_empty() && cdsAcerto.field("IDSITUACERTO").as_string() != "P" &&
                             !cdsAcerto.is_empty());
    mnuCanAcerto.set_enabled(sbtCanAcerto.enabled());
    // 15. The withdrawal commands.
    sbtRetProdExt.set_enabled(sbtRetProdExt.visible() && cdsExtras.active() && !cdsExtras.is_empty() && browsing(H) &&
                              browsing(P) && !P_empty && X);
    sbtCancRetProdExt.set_enabled(sbtRetProdExt.enabled());
    mnuRetProdExt.set_enabled(sbtRetProdExt.enabled());
    mnuCancRetProdExt.set_enabled(sbtCancRetProdExt.enabled());
    // 16. The grids copy their tabs.
    dbgPadrao.set_enabled(tshPadrao.enabled());
    dbgSobra.set_enabled(tshSobra.enabled());
    dbgHorasExtras.set_enabled(tshHorasExtras.enabled());
    dbgExtras.set_enabled(tshExtras.enabled());
}

void TfrmAcertoFinal::dtsPadraoStateChange(DataSource& sender) {
    TfrmPadraoGrid::dtsPadraoStateChange(sender);
    ClientDataSet& page = PageDataSet();
    host::Consiste::SetChildEnabled(panFiltro, !page.editing());
    Habilita(page);
}

void TfrmAcertoFinal::pgcPadraoChange(Control&) {
    TabSheet* page = pgcPadrao.active_page();
    // 1. The menu item of the active tab checked.
    mnuPadrao.set_checked(page == &tshPadrao);
    mnuSobra.set_checked(page == &tshSobra);
    mnuHorasExtras.set_checked(page == &tshHorasExtras);
    mnuExtras.set_checked(page == &tshExtras);
    // 2. The enabling pass for the tab's dataset (the Extras totals first).
    if (page == &tshExtras) {
        Calcula_Campos();
        Habilita(cdsExtras);
    } else {
        Habilita(PageDataSet());
    }
}

// A tab set by the program raises no change event, so the menu commands run it themselves.
void TfrmAcertoFinal::mnuPadraoClick(Control&) {
    pgcPadrao.set_active_page(&tshPadrao);
    pgcPadraoChange(pgcPadrao);
}

void TfrmAcertoFinal::mnuSobraClick(Control&) {
    pgcPadrao.set_active_page(&tshSobra);
    pgcPadraoChange(pgcPadrao);
}

void TfrmAcertoFinal::mnuHorasExtrasClick(Control&) {
    pgcPadrao.set_active_page(&tshHorasExtras);
    pgcPadraoChange(pgcPadrao);
}

void TfrmAcertoFinal::mnuExtrasClick(Control&) {
    pgcPadrao.set_active_page(&tshExtras);
    pgcPadraoChange(pgcPadrao);
}

void TfrmAcertoFinal::sbtProcurarClick(Control& sender) {
    TabSheet* page = pgcPadrao.active_page();
    if (page == &tshPadrao) {
        TfrmPadraoGrid::sbtProcurarClick(sender);
        return;
    }
    DataSource& source = page == &tshSobra ? dtsSobra : page == &tshHorasExtras ? dtsHorasExtras : dtsExtras;
    if (source.dataset() && source.dataset()->active()) host::Procurar::Procura(*source.dataset());
}

// Print opens the report screen; until that screen exists the command does nothing.
void TfrmAcertoFinal::sbtImprimirClick(Control&) { CriaRelAcerto(); }

}  // namespace acerto::settlement
