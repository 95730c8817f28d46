// The screen's modes: which commands, tabs and grids are enabled, read from the datasets'
// states every time something changes; tab switching; search and print.
#include "../grids/family.h"
#include "acerto/host/consiste.h"
#include "acerto/host/services.h"
#include "acerto/settlement/acerto_final.h"
#include "acerto/settlement/rules.h"

#include <tuple>

namespace acerto::settlement {

using platform::DataSetState;

namespace {
rules::State state_of(const DataSet& ds) {
    switch (ds.state()) {
        case DataSetState::Browse:
            return rules::State::Browse;
        case DataSetState::Edit:
            return rules::State::Edit;
        case DataSetState::Insert:
            return rules::State::Insert;
        default:
            return rules::State::Inactive;
    }
}
}  // namespace

// The enabling pass: the inputs gathered from the screen, the rules decided in one place,
// the result applied to the commands, their menu mirrors, the tabs and their grids.
void TfrmAcertoFinal::Habilita(DataSet& page) {
    Control* focused = this->focused();
    rules::EnablingInputs in;
    in.focus_on_number = focused == &edtNrOrcamento;
    in.focus_on_filter = focused == &medCdFilial || focused == &edtNrOrcamento;
    in.focus_on_extras_grid = focused == &dbgExtras;
    in.active_tab = static_cast<rules::Tab>(MembroAtivo().number - 1);
    in.page = state_of(page);
    in.page_empty = page.is_empty();
    in.header = state_of(cdsAcerto);
    in.header_empty = cdsAcerto.is_empty();
    for (auto& m : membros_) in.lines_editing[static_cast<std::size_t>(m->number - 1)] = m->lines->editing();
    in.is_order = cdsPesqOrca.field("IDTPORCAEVEN").as_string() == "E" || edtOrigem.text() == "ENCOMENDA";
    in.budget_empty = cdsOrcamento.is_empty();
    in.situation = cdsAcerto.field("IDSITUACERTO").as_string();
    in.cancel_financial_was_enabled = sbtCanAcerto.enabled();
    in.withdrawal_visible = sbtRetProdExt.visible();
    in.extras_open = cdsExtras.active();
    in.extras_empty = cdsExtras.is_empty();
    const rules::Enabling out = rules::decide_enabling(in);

    for (auto [button, menu, on] :
         {std::tuple{&sbtIncluir, &mnuIncluir, out.include}, std::tuple{&sbtAlterar, &mnuAlterar, out.alter},
          std::tuple{&sbtExcluir, &mnuExcluir, out.remove}, std::tuple{&sbtProcurar, &mnuProcurar, out.search},
          std::tuple{&sbtVerificar, &mnuVerificar, out.verify}, std::tuple{&sbtConfirmar, &mnuConfirmar, out.confirm},
          std::tuple{&sbtCancelar, &mnuCancelar, out.cancel},
          std::tuple{&sbtAtuaFina, &mnuAtuaFina, out.update_financial},
          std::tuple{&sbtCanAcerto, &mnuCanAcerto, out.cancel_financial},
          std::tuple{&sbtRetProdExt, &mnuRetProdExt, out.withdrawal},
          std::tuple{&sbtCancRetProdExt, &mnuCancRetProdExt, out.withdrawal}}) {
        static_cast<Control*>(button)->set_enabled(on);
        menu->set_enabled(on);
    }
    for (auto& m : membros_) {
        bool on = out.tabs[static_cast<std::size_t>(m->number - 1)];
        m->tab->set_enabled(on);
        m->menu->set_enabled(on);
        m->grid->set_enabled(on);
    }
}

void TfrmAcertoFinal::dtsPadraoStateChange(DataSource& sender) {
    TfrmPadraoGrid::dtsPadraoStateChange(sender);
    ClientDataSet& page = PageDataSet();
    host::Consiste::SetChildEnabled(panFiltro, !page.editing());
    Habilita(page);
}

void TfrmAcertoFinal::pgcPadraoChange(Control&) {
    // 1. The menu item of the active tab checked.
    GridMember& active = MembroAtivo();
    for (auto& m : membros_) m->menu->set_checked(m.get() == &active);
    // 2. The enabling pass for the tab's dataset (the Extras totals first).
    if (&active == &Extras()) Calcula_Campos();
    Habilita(*active.lines);
}

// A tab set by the program raises no change event, so the menu commands run it themselves.
void TfrmAcertoFinal::MostraAba(GridMember& m) {
    pgcPadrao.set_active_page(m.tab);
    pgcPadraoChange(pgcPadrao);
}

void TfrmAcertoFinal::mnuPadraoClick(Control&) {
    MostraAba(Quebra());
}
void TfrmAcertoFinal::mnuSobraClick(Control&) {
    MostraAba(Sobra());
}
void TfrmAcertoFinal::mnuHorasExtrasClick(Control&) {
    MostraAba(Horas());
}
void TfrmAcertoFinal::mnuExtrasClick(Control&) {
    MostraAba(Extras());
}

void TfrmAcertoFinal::sbtProcurarClick(Control& sender) {
    GridMember& active = MembroAtivo();
    if (&active == &Quebra()) {
        TfrmPadraoGrid::sbtProcurarClick(sender);
        return;
    }
    if (active.source->dataset() && active.source->dataset()->active())
        host::Procurar::Procura(*active.source->dataset());
}

// Print opens the report screen.
void TfrmAcertoFinal::sbtImprimirClick(Control&) {
    CriaRelAcerto();
}

}  // namespace acerto::settlement
