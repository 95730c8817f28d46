#include "acerto/host/base_forms.h"

#include "acerto/host/services.h"

namespace acerto::host {

using namespace acerto::platform;

namespace {
MenuItem& menu(Form& f, const char* name, Control* parent, const char* caption, const char* shortcut = "") {
    MenuItem& m = f.make<MenuItem>(name, parent);
    m.set_text(caption);
    m.shortcut = shortcut;
    return m;
}

Button& tool(Form& f, const char* name, Control* parent, const char* hint, int left) {
    Button& b = f.make<Button>(name, parent);
    b.flat = true;
    b.hint = hint;
    b.set_bounds(left, 2, 25, 25);
    return b;
}
}  // namespace

TfrmPadraoGrid::TfrmPadraoGrid(std::string name, std::string screen_code)
    : Form(std::move(name)),
      lblCodTela(make<Label>("lblCodTela", this)),
      panMenu(make<Panel>("panMenu", this)),
      sbtIncluir(tool(*this, "sbtIncluir", &panMenu, "Incluir", 4)),
      sbtAlterar(tool(*this, "sbtAlterar", &panMenu, "Alterar", 29)),
      sbtExcluir(tool(*this, "sbtExcluir", &panMenu, "Excluir", 54)),
      sbtProcurar(tool(*this, "sbtProcurar", &panMenu, "Procurar", 79)),
      sbtVerificar(tool(*this, "sbtVerificar", &panMenu, "Verificar", 104)),
      sbtConfirmar(tool(*this, "sbtConfirmar", &panMenu, "Confirmar", 129)),
      sbtCancelar(tool(*this, "sbtCancelar", &panMenu, "Cancelar", 154)),
      sbtImprimir(tool(*this, "sbtImprimir", &panMenu, "Imprimir", 179)),
      sbtAjuda(tool(*this, "sbtAjuda", &panMenu, "Ajuda", 204)),
      sbtFechar(tool(*this, "sbtFechar", &panMenu, "Fechar", 229)),
      panClient(make<Panel>("panClient", this)),
      pgcPadrao(make<PageControl>("pgcPadrao", this)),
      tshPadrao(make<TabSheet>("tshPadrao", &pgcPadrao)),
      dbgPadrao(make<DBGrid>("dbgPadrao", &tshPadrao)),
      panNavigator(make<Panel>("panNavigator", this)),
      navPadrao(make<Navigator>("navPadrao", &panNavigator)),
      mnuOperacao(menu(*this, "mnuOperacao", this, "Operação")),
      mnuIncluir(menu(*this, "mnuIncluir", &mnuOperacao, "Incluir", "F2")),
      mnuAlterar(menu(*this, "mnuAlterar", &mnuOperacao, "Alterar", "F3")),
      mnuExcluir(menu(*this, "mnuExcluir", &mnuOperacao, "Excluir", "F4")),
      mnuProcurar(menu(*this, "mnuProcurar", &mnuOperacao, "Procurar", "F6")),
      mnuVerificar(menu(*this, "mnuVerificar", &mnuOperacao, "Verificar", "F5")),
      mnuConfirmar(menu(*this, "mnuConfirmar", &mnuOperacao, "Confirmar", "F10")),
      mnuCancelar(menu(*this, "mnuCancelar", &mnuOperacao, "Cancelar", "F11")),
      mnuManutencao(menu(*this, "mnuManutencao", this, "Manutenção")),
      mnuListagem(menu(*this, "mnuListagem", &mnuManutencao, "Listagem", "Ctrl+P")),
      mnuFechar(menu(*this, "mnuFechar", &mnuManutencao, "Fechar", "Ctrl+F4")),
      dtsPadrao("dtsPadrao"),
      msgPadrao("msgPadrao"),
      msgMensagensPadroes("msgMensagensPadroes", {"Canc|Confirma o cancelamento?", "Excl|Confirma exclusão?"}) {
    lblCodTela.set_text(screen_code);
    lblCodTela.set_align(Align::Top);  // the screen's code, above its toolbar
    lblCodTela.set_height(16);
    panMenu.set_align(Align::Top);
    panMenu.set_height(29);
    pgcPadrao.set_align(Align::Client);
    pgcPadrao.set_active_page(&tshPadrao);
    dbgPadrao.set_align(Align::Client);
    dbgPadrao.bind(&dtsPadrao);
    panNavigator.set_align(Align::Bottom);
    panNavigator.set_height(30);
    navPadrao.data_source = &dtsPadrao;

    auto bind = [this](Control& c, void (TfrmPadraoGrid::*h)(Control&)) {
        c.on_click = [this, h](Control& s) { (this->*h)(s); };
    };
    bind(sbtIncluir, &TfrmPadraoGrid::sbtIncluirClick);
    bind(mnuIncluir, &TfrmPadraoGrid::sbtIncluirClick);
    bind(sbtAlterar, &TfrmPadraoGrid::sbtAlterarClick);
    bind(mnuAlterar, &TfrmPadraoGrid::sbtAlterarClick);
    bind(sbtExcluir, &TfrmPadraoGrid::sbtExcluirClick);
    bind(mnuExcluir, &TfrmPadraoGrid::sbtExcluirClick);
    bind(sbtProcurar, &TfrmPadraoGrid::sbtProcurarClick);
    bind(mnuProcurar, &TfrmPadraoGrid::sbtProcurarClick);
    bind(sbtVerificar, &TfrmPadraoGrid::sbtVerificarClick);
    bind(mnuVerificar, &TfrmPadraoGrid::sbtVerificarClick);
    bind(sbtConfirmar, &TfrmPadraoGrid::sbtConfirmarClick);
    bind(mnuConfirmar, &TfrmPadraoGrid::sbtConfirmarClick);
    bind(sbtCancelar, &TfrmPadraoGrid::sbtCancelarClick);
    bind(mnuCancelar, &TfrmPadraoGrid::sbtCancelarClick);
    bind(sbtImprimir, &TfrmPadraoGrid::sbtImprimirClick);
    bind(mnuListagem, &TfrmPadraoGrid::sbtImprimirClick);
    bind(sbtFechar, &TfrmPadraoGrid::sbtFecharClick);
    bind(mnuFechar, &TfrmPadraoGrid::sbtFecharClick);
    dtsPadrao.on_state_change = [this](DataSource& s) { dtsPadraoStateChange(s); };
    dbgPadrao.on_key_press = [this](Control& s, char32_t& k) { dbgPadraoKeyPress(s, k); };
    dbgPadrao.on_key_down = [this](Control& s, int& k, ShiftState sh) { dbgPadraoKeyDown(s, k, sh); };
    on_close = [this](Form&, CloseAction& a) { FormClose(a); };
    AttachFormActivate();
}

TfrmPadraoGrid::~TfrmPadraoGrid() {
    // The grids and boxes unbind before the data sources they point at go.
    dtsPadrao.set_dataset(nullptr);
}

void TfrmPadraoGrid::Create() {
    FormCreate();
}

void TfrmPadraoGrid::AttachFormActivate() {
    on_activate = [this](Form&) { FormActivate(); };
}

void TfrmPadraoGrid::FormCreate() {}
void TfrmPadraoGrid::FormActivate() {}
void TfrmPadraoGrid::FormClose(CloseAction& action) {
    action = CloseAction::Free;
}

void TfrmPadraoGrid::sbtIncluirClick(Control&) {
    if (DataSet* ds = dtsPadrao.dataset(); ds && ds->active()) ds->append();
}

void TfrmPadraoGrid::sbtAlterarClick(Control&) {
    if (DataSet* ds = dtsPadrao.dataset(); ds && ds->active()) ds->edit();
}

void TfrmPadraoGrid::sbtExcluirClick(Control&) {
    DataSet* ds = dtsPadrao.dataset();
    if (!ds || !ds->active() || ds->is_empty()) return;
    if (msgMensagensPadroes.ShowMsg("Excl", MsgType::Confirmation, mbYes | mbNo) == ModalResult::Yes) ds->remove();
}

void TfrmPadraoGrid::sbtProcurarClick(Control&) {
    if (DataSet* ds = dtsPadrao.dataset(); ds && ds->active()) Procurar::Procura(*ds);
}

void TfrmPadraoGrid::sbtVerificarClick(Control&) {}

void TfrmPadraoGrid::sbtConfirmarClick(Control&) {
    if (DataSet* ds = dtsPadrao.dataset(); ds && ds->editing()) ds->post();
}

void TfrmPadraoGrid::sbtCancelarClick(Control&) {
    if (DataSet* ds = dtsPadrao.dataset(); ds && ds->editing()) ds->cancel();
}

void TfrmPadraoGrid::sbtImprimirClick(Control&) {}

void TfrmPadraoGrid::sbtFecharClick(Control&) {
    close();
}

void TfrmPadraoGrid::dtsPadraoStateChange(DataSource&) {}

void TfrmPadraoGrid::dbgPadraoKeyPress(Control&, char32_t&) {}

void TfrmPadraoGrid::dbgPadraoKeyDown(Control& sender, int& key, ShiftState shift) {
    auto* grid = dynamic_cast<DBGrid*>(&sender);
    if (!grid || key != vk::Return || shift.ctrl || shift.alt) return;
    int i = grid->selected_index() + 1;
    while (i < static_cast<int>(grid->columns.size())) {
        const GridColumn& c = grid->columns[static_cast<std::size_t>(i)];
        Field* f = grid->column_field(i);
        if (c.visible && !c.read_only && f && !f->calculated() && !f->read_only) break;
        ++i;
    }
    key = 0;
    if (i < static_cast<int>(grid->columns.size()))
        grid->select_column(i);
    else
        grid->commit_editor();
}

// ------------------------------------------------------------------------- TfrmDadosGerRel

TfrmDadosGerRel::TfrmDadosGerRel(std::string name, std::string screen_code, std::string report)
    : Form(std::move(name)),
      lblCodTela(make<Label>("lblCodTela", this)),
      panMenu(make<Panel>("panMenu", this)),
      lblCodRel(make<Label>("lblCodRel", &panMenu)),
      sbtImprimir(make<Button>("sbtImprimir", &panMenu)),
      sbtFechar(make<Button>("sbtFechar", &panMenu)),
      report_code(std::move(report)) {
    lblCodTela.set_text(screen_code);
    lblCodRel.set_text(report_code);
    sbtImprimir.flat = sbtFechar.flat = true;
    sbtImprimir.hint = "Imprimir";
    sbtFechar.hint = "Fechar";
    sbtImprimir.on_click = [this](Control&) { Imprimir(); };
    sbtFechar.on_click = [this](Control&) { close(); };
}

void TfrmDadosGerRel::Imprimir() {
    Params params;
    for (const auto& name : ui().report_parameters(report_code)) params.add(name);
    if (rpddPadrao.OnBeforeGetQueryParams) rpddPadrao.OnBeforeGetQueryParams(params);
    ui().run_report(report_code, params);
}

void TfrmDadosGerRel::ShowModal() {
    show();
    ui().show_modal(*this);
}

}  // namespace acerto::host
