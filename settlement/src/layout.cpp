// The screen's layout: its named controls, menus, datasets and fields, and which handler
// each event runs.
#include <tuple>

#include "../grids/family.h"
#include "acerto/settlement/acerto_final.h"
#include "acerto/settlement/catalogue.h"

namespace acerto::settlement {

using platform::Align;
using platform::Alignment;
using platform::FieldType;
using platform::GridColumn;

namespace {

template <class T>
T& at(platform::Form& f, const char* name, Control* parent, int left, int top, int width, int height,
      const char* text = nullptr) {
    T& c = f.make<T>(name, parent);
    c.set_bounds(left, top, width, height);
    if (text) c.set_text(text);
    return c;
}

Label& label(platform::Form& f, const char* name, Control* parent, int left, int top, const char* text,
             bool bold = false) {
    Label& l = at<Label>(f, name, parent, left, top, 0, 13, text);
    l.bold = bold;
    return l;
}

Button& flat(platform::Form& f, const char* name, Control* parent, int left, const char* hint) {
    Button& b = at<Button>(f, name, parent, left, 4, 21, 21);
    b.flat = true;
    b.hint = hint;
    return b;
}

host::TBtnPesquisa& search(platform::Form& f, const char* name, Control* parent, int left, int top) {
    return at<host::TBtnPesquisa>(f, name, parent, left, top, 21, 21);
}

MenuItem& menu(platform::Form& f, const char* name, Control* parent, const char* caption, const char* shortcut = "") {
    MenuItem& m = f.make<MenuItem>(name, parent);
    m.set_text(caption);
    m.shortcut = shortcut;
    return m;
}

MenuItem& separator(platform::Form& f, const char* name, Control* parent) {
    MenuItem& m = f.make<MenuItem>(name, parent);
    m.set_text("-");
    m.separator = true;
    return m;
}

platform::Field& money(ClientDataSet& ds, const char* name, const char* label, bool visible = true) {
    platform::Field& f = ds.add_field(name, FieldType::Float);
    f.display_label = label;
    f.display_format = "#,##0.00";
    f.edit_format = "0.00";
    f.visible = visible;
    return f;
}

platform::Field& str(DataSet& ds, const char* name, int size, const char* label = "", bool visible = true) {
    platform::Field& f = ds.add_field(name, FieldType::String, size);
    f.display_label = label;
    f.visible = visible;
    return f;
}

platform::Field& hidden(DataSet& ds, const char* name, int size) {
    return str(ds, name, size, "", false);
}

platform::Field& total(ClientDataSet& ds, const char* name) {
    platform::Field& f = ds.add_calc_field(name, FieldType::Float);
    f.display_format = "#,##0.00";
    f.edit_format = "0.00";
    return f;
}

GridColumn& column(DBGrid& g, const char* field, int width = 64) {
    return g.add_column(field, width);
}

GridColumn& numeric(DBGrid& g, const char* field, int width = 64, const char* title = "") {
    GridColumn& c = g.add_column(field, width);
    c.title = title;
    c.alignment = Alignment::Right;
    c.title_alignment = Alignment::Right;
    return c;
}

}  // namespace

TfrmAcertoFinal::TfrmAcertoFinal()
    : host::TfrmPadraoGrid("frmAcertoFinal", "QLM01200"),
      sbtAtuaFina(flat(*this, "sbtAtuaFina", &panMenu, 258, "Atualizar Financeiro")),
      sbtCanAcerto(flat(*this, "sbtCanAcerto", &panMenu, 280, "Cancelar Financeiro")),
      sbtRetProdExt(flat(*this, "sbtRetProdExt", &panMenu, 302, "Retirar Produto Extra")),
      sbtCancRetProdExt(flat(*this, "sbtCancRetProdExt", &panMenu, 324, "Cancelar Retirada Extra")),
      panFiltro(at<Panel>(*this, "panFiltro", this, 0, 45, 740, 56)),
      lblFilial(label(*this, "lblFilial", &panFiltro, 8, 8, "Filial")),
      medCdFilial(at<MaskEdit>(*this, "medCdFilial", &panFiltro, 62, 4, 46, 21)),
      btnFilial(search(*this, "btnFilial", &panFiltro, 110, 4)),
      edtNmFilial(at<Edit>(*this, "edtNmFilial", &panFiltro, 134, 4, 300, 21)),
      lblNumero(label(*this, "lblNumero", &panFiltro, 8, 32, "Número")),
      edtNrOrcamento(at<Edit>(*this, "edtNrOrcamento", &panFiltro, 62, 28, 90, 21)),
      btnNrOrcamento(search(*this, "btnNrOrcamento", &panFiltro, 154, 28)),
      edtOrigem(at<Edit>(*this, "edtOrigem", &panFiltro, 178, 28, 120, 21)),
      panDados(at<Panel>(*this, "panDados", this, 0, 101, 740, 66)),
      lblCliente(label(*this, "lblCliente", &panDados, 8, 6, "Cliente")),
      lblServico(label(*this, "lblServico", &panDados, 8, 26, "Serviço")),
      lblDtAcerto(label(*this, "lblDtAcerto", &panDados, 8, 46, "Dt. Acerto")),
      lblHoraAcerto(label(*this, "lblHoraAcerto", &panDados, 148, 46, "Hora Acerto")),
      lblEvento(label(*this, "lblEvento", &panDados, 440, 6, "Evento")),
      lblDtEvento(label(*this, "lblDtEvento", &panDados, 440, 26, "Data/Hora do Evento")),
      lblLocal(label(*this, "lblLocal", &panDados, 440, 46, "Local")),
      lblFinanc(label(*this, "lblFinanc", &panDados, 290, 46, "Financeiro")),
      dbeCliente(at<DBEdit>(*this, "dbeCliente", &panDados, 70, 2, 360, 19)),
      dbeServico(at<DBEdit>(*this, "dbeServico", &panDados, 70, 22, 360, 19)),
      dbeEvento(at<DBEdit>(*this, "dbeEvento", &panDados, 560, 2, 172, 19)),
      dbeDtEvento(at<DBEdit>(*this, "dbeDtEvento", &panDados, 560, 22, 172, 19)),
      dbeLocal(at<DBEdit>(*this, "dbeLocal", &panDados, 560, 42, 172, 19)),
      lblDataAcerto(label(*this, "lblDataAcerto", &panDados, 70, 46, "", true)),
      lblHrAcerto(label(*this, "lblHrAcerto", &panDados, 222, 46, "", true)),
      lblSituFinanc(label(*this, "lblSituFinanc", &panDados, 352, 46, "", true)),
      panPrecoBase(at<Panel>(*this, "panPrecoBase", &tshPadrao, 0, 0, 730, 30)),
      lblPrecoBase(label(*this, "lblPrecoBase", &panPrecoBase, 8, 8, "Preço Base", true)),
      dbePrQuebra(at<DBEdit>(*this, "dbePrQuebra", &panPrecoBase, 80, 4, 30, 21)),
      btnPrQuebra(search(*this, "btnPrQuebra", &panPrecoBase, 112, 4)),
      dbeNmPrBase(at<DBEdit>(*this, "dbeNmPrBase", &panPrecoBase, 136, 4, 250, 21)),
      tshSobra(make<TabSheet>("tshSobra", &pgcPadrao)),
      panPrecoSobra(at<Panel>(*this, "panPrecoSobra", &tshSobra, 0, 0, 730, 30)),
      lblPrecoSobra(label(*this, "lblPrecoSobra", &panPrecoSobra, 8, 8, "Preço Base", true)),
      dbePrSobra(at<DBEdit>(*this, "dbePrSobra", &panPrecoSobra, 80, 4, 30, 21)),
      btnPrSobra(search(*this, "btnPrSobra", &panPrecoSobra, 112, 4)),
      dbeNmPrSobra(at<DBEdit>(*this, "dbeNmPrSobra", &panPrecoSobra, 136, 4, 250, 21)),
      dbgSobra(make<DBGrid>("dbgSobra", &tshSobra)),
      tshHorasExtras(make<TabSheet>("tshHorasExtras", &pgcPadrao)),
      panPrecoHora(at<Panel>(*this, "panPrecoHora", &tshHorasExtras, 0, 0, 730, 30)),
      lblPrecoHora(label(*this, "lblPrecoHora", &panPrecoHora, 8, 8, "Preço Base", true)),
      dbeCdPrHora(at<DBEdit>(*this, "dbeCdPrHora", &panPrecoHora, 80, 4, 30, 21)),
      sbtPrecoHora(search(*this, "sbtPrecoHora", &panPrecoHora, 112, 4)),
      dbeNmPrHora(at<DBEdit>(*this, "dbeNmPrHora", &panPrecoHora, 136, 4, 250, 21)),
      dbgHorasExtras(make<DBGrid>("dbgHorasExtras", &tshHorasExtras)),
      tshExtras(make<TabSheet>("tshExtras", &pgcPadrao)),
      PanPessoa(at<Panel>(*this, "PanPessoa", &tshExtras, 0, 0, 730, 82)),
      panTituloPessoa(at<Panel>(*this, "panTituloPessoa", &PanPessoa, 0, 0, 730, 26)),
      rbtPessoa(at<RadioButton>(*this, "rbtPessoa", &panTituloPessoa, 8, 4, 17, 17)),
      lblPorPessoa(label(*this, "lblPorPessoa", &panTituloPessoa, 30, 6, "Controle do Valor por Pessoa", true)),
      lblVrTot(label(*this, "lblVrTot", &panTituloPessoa, 480, 6, "Valor Total")),
      nedVrTot(at<NumberEdit>(*this, "nedVrTot", &panTituloPessoa, 560, 2, 100, 21)),
      lblQtExPess(label(*this, "lblQtExPess", &PanPessoa, 8, 34, "Quantidade Extra de Pessoas")),
      dbeQtExPess(at<DBEdit>(*this, "dbeQtExPess", &PanPessoa, 170, 30, 80, 21)),
      lblConvEven(label(*this, "lblConvEven", &PanPessoa, 270, 34, "Convidados do Evento")),
      dbeConvEven(at<DBEdit>(*this, "dbeConvEven", &PanPessoa, 390, 30, 80, 21)),
      lblVrPessoa(label(*this, "lblVrPessoa", &PanPessoa, 8, 58, "Valor por Pessoa")),
      dbeVrPessoa(at<DBEdit>(*this, "dbeVrPessoa", &PanPessoa, 170, 54, 80, 21)),
      lblTotPess(label(*this, "lblTotPess", &PanPessoa, 270, 58, "Total de Pessoas")),
      nedTotPess(at<NumberEdit>(*this, "nedTotPess", &PanPessoa, 390, 54, 80, 21)),
      panExtras(at<Panel>(*this, "panExtras", &tshExtras, 0, 82, 730, 230)),
      panTituloProduto(at<Panel>(*this, "panTituloProduto", &panExtras, 0, 0, 730, 26)),
      rbtProduto(at<RadioButton>(*this, "rbtProduto", &panTituloProduto, 8, 4, 17, 17)),
      lblPorProduto(
          label(*this, "lblPorProduto", &panTituloProduto, 30, 6, "Controle do Valor Extra por Produto", true)),
      lblVrTotProd(label(*this, "lblVrTotProd", &panTituloProduto, 440, 6, "Valor Total dos Produtos")),
      nedVrTotProd(at<NumberEdit>(*this, "nedVrTotProd", &panTituloProduto, 580, 2, 100, 21)),
      panPrecoExtra(at<Panel>(*this, "panPrecoExtra", &panExtras, 0, 26, 730, 30)),
      lblPrecoExtra(label(*this, "lblPrecoExtra", &panPrecoExtra, 8, 8, "Preço Base", true)),
      dbePrExtra(at<DBEdit>(*this, "dbePrExtra", &panPrecoExtra, 80, 4, 30, 21)),
      btnPrExtra(search(*this, "btnPrExtra", &panPrecoExtra, 112, 4)),
      dbeNmPrExtra(at<DBEdit>(*this, "dbeNmPrExtra", &panPrecoExtra, 136, 4, 250, 21)),
      dbgExtras(make<DBGrid>("dbgExtras", &panExtras)),
      mnuPadrao(menu(*this, "mnuPadrao", &mnuOperacao, "Quebra")),
      mnuSobra(menu(*this, "mnuSobra", &mnuOperacao, "Sobra")),
      mnuHorasExtras(menu(*this, "mnuHorasExtras", &mnuOperacao, "Horas Extras")),
      mnuExtras(menu(*this, "mnuExtras", &mnuOperacao, "Extras")),
      mnuSepOperacao(separator(*this, "mnuSepOperacao", &mnuOperacao)),
      mnuSepManutencao(separator(*this, "mnuSepManutencao", &mnuManutencao)),
      mnuAtuaFina(menu(*this, "mnuAtuaFina", &mnuManutencao, "Atualizar Financeiro", "Ctrl+N")),
      mnuCanAcerto(menu(*this, "mnuCanAcerto", &mnuManutencao, "Cancelar Acerto", "Ctrl+T")),
      mnuRetProdExt(menu(*this, "mnuRetProdExt", &mnuManutencao, "Retirar Produto Extra", "Ctrl+R")),
      mnuCancRetProdExt(menu(*this, "mnuCancRetProdExt", &mnuManutencao, "Cancelar Retirada Extra", "Ctrl+E")) {
    caption = "Acerto Final";
    set_bounds(0, 0, 740, 568);
    for (const auto& line : catalogue_lines()) msgPadrao.add(line);
    netAcertoFinal.ServerName = "QLM01200.rdmAcertoFinal";
    netAcertoFinal.Host = "127.0.0.1";  // always replaced before connecting
    netAcertoFinal.ThrowException = false;
    build_datasets();
    build_layout();
    bind_handlers();
}

TfrmAcertoFinal::~TfrmAcertoFinal() {
    netAcertoFinal.Close();
    // The controls bound to this screen's data sources go first.
    dtsPadrao.set_dataset(nullptr);
}

void TfrmAcertoFinal::build_datasets() {
    // Filter panel (branch and number).
    {
        auto& f = str(qryFilial, "CDFILIAL", 4, "Código");
        f.required = true;
        str(qryFilial, "NMFILIAL", 30, "Nome").display_width = 50;
        hidden(qryFilial, "CDEMPRESA", 2);
        hidden(qryFilial, "CDSERIE", 5);
        qryFilial.set_sql("SELECT CDFILIAL, NMFILIAL, CDEMPRESA, CDSERIE FROM FILIAL ORDER BY CDFILIAL");
        str(qryVdFilial, "CDFILIAL", 4);
        str(qryVdFilial, "NMFILIAL", 50);
        qryVdFilial.set_sql("SELECT CDFILIAL, NMFILIAL FROM FILIAL WHERE CDFILIAL = :P_CDFILIAL");

        str(cdsPesqOrca, "NRORCAEVENTO", 15, "Número").display_width = 15;
        str(cdsPesqOrca, "CDFILIAL", 4, "Filial").display_width = 10;
        auto& teste = cdsPesqOrca.add_field("IDTESTE", FieldType::FixedChar, 15);
        teste.display_label = "Origem";
        auto& tp = cdsPesqOrca.add_field("IDTPORCAEVEN", FieldType::FixedChar, 1);
        tp.display_label = "Origem";
        tp.visible = false;
        tp.set_edit_mask("a;0; ");
        for (ClientDataSet* ds : {&cdsVdOrcaEven, &cdsVdEnc}) {
            str(*ds, "CDFILIAL", 4);
            str(*ds, "NRORCAEVENTO", 10);
            ds->add_field("IDTPORCAEVEN", FieldType::FixedChar, 1);
        }
    }
    // The loaded budget.
    str(cdsOrcamento, "CDFILIAL", 4);
    str(cdsOrcamento, "NRORCAEVENTO", 10);
    cdsOrcamento.add_field("NRSEQORCAEVE", FieldType::FixedChar, 2);
    str(cdsOrcamento, "NMCLIEORCEVE", 50);
    str(cdsOrcamento, "IDSITCLIOREV", 1);
    str(cdsOrcamento, "CDCLIENTE", 21);
    str(cdsOrcamento, "NMFANTCLIE", 50);
    str(cdsOrcamento, "CDTPSERVEVEN", 3);
    str(cdsOrcamento, "NMTPSERVEVEN", 30);
    str(cdsOrcamento, "CDTIPOEVENTO", 3);
    str(cdsOrcamento, "NMTIPOEVENTO", 30);
    cdsOrcamento.add_field("DTEVENTO", FieldType::DateTime);
    str(cdsOrcamento, "DSENDENTOREV", 50);
    str(cdsOrcamento, "CDDEPTO", 3);
    str(cdsOrcamento, "CDPRECOBASE", 2);

    str(cdsDados, "NRORCAEVENTO", 10);
    str(cdsDados, "NMFANTCLIE", 50);
    str(cdsDados, "DSDATA", 200);
    str(cdsDados, "TPEVENTO", 200);
    str(cdsDados, "TPSERVICO", 200);

    cdsParam.add_field("QTCONVORCEVE", FieldType::Float);
    str(cdsParam, "IDTPCOBRVREXTRA", 1);

    str(cdsDevol, "CDDEPTO", 3);
    str(cdsDevol, "NMDEPTO", 30);

    // The settlement header.
    str(cdsAcerto, "CDFILIAL", 4);
    str(cdsAcerto, "NRORCAEVENTO", 10);
    str(cdsAcerto, "NRSEQORCAEVE", 2);
    str(cdsAcerto, "CDDEPTO", 3);
    cdsAcerto.add_field("DTACERTOOREV", FieldType::DateTime);
    str(cdsAcerto, "CDOPERADOR", 12);
    hidden(cdsAcerto, "CDPRBAQUEBRA", 2);
    hidden(cdsAcerto, "CDPRBASOBRA", 2);
    hidden(cdsAcerto, "CDPRBAHREXTR", 2);
    hidden(cdsAcerto, "CDPRBAEXTRA", 2);
    hidden(cdsAcerto, "NMPRECOQUEBR", 30);
    hidden(cdsAcerto, "NMPRECOSOBRA", 30);
    hidden(cdsAcerto, "NMPRECOHORAE", 30);
    hidden(cdsAcerto, "NMPRECOEXTRA", 30);
    hidden(cdsAcerto, "IDSITUACERTO", 1);
    cdsAcerto.add_field("QTCONVEXTRAACER", FieldType::Float);
    auto& vr = cdsAcerto.add_field("VRCONVEXTRAACER", FieldType::Float);
    vr.display_format = vr.edit_format = "0.00";
    str(cdsAcerto, "IDTPVREXTRA", 1);

    // Breakage lines and their numbering copy.
    hidden(cdsQuebra, "CDFILIAL", 4);
    hidden(cdsQuebra, "NRORCAEVENTO", 10);
    hidden(cdsQuebra, "NRSEQORCAEVE", 2);
    hidden(cdsQuebra, "CDDEPTO", 3);
    str(cdsQuebra, "CDARVPROD", 20, "Produto");
    str(cdsQuebra, "NMPRODUTO", 50, "Nome do Produto");
    str(cdsQuebra, "SGUNIDADE", 10, "Un.");
    money(cdsQuebra, "QTACERTOQUEB", "Qt. Quebra");
    money(cdsQuebra, "VRACERTOQUEB", "Vr. Quebra");
    money(cdsQuebra, "VRACREACEQUE", "Vr. Acréscimo");
    money(cdsQuebra, "VRDESCACEQUE", "Vr. Desconto");
    hidden(cdsQuebra, "NRACERTOQUEB", 4);
    hidden(cdsQuebra, "CDPRODUTO", 10);
    total(cdsQuebra, "VrTotal");
    hidden(cdsNrQuebra, "CDFILIAL", 4);
    hidden(cdsNrQuebra, "NRORCAEVENTO", 10);
    hidden(cdsNrQuebra, "NRSEQORCAEVE", 2);
    hidden(cdsNrQuebra, "CDDEPTO", 3);
    for (const char* n : {"QTACERTOQUEB", "VRACERTOQUEB", "VRACREACEQUE", "VRDESCACEQUE"})
        cdsNrQuebra.add_field(n, FieldType::Float);
    hidden(cdsNrQuebra, "NRACERTOQUEB", 4);
    hidden(cdsNrQuebra, "NMPRODUTO", 50);
    hidden(cdsNrQuebra, "SGUNIDADE", 10);
    hidden(cdsNrQuebra, "CDPRODUTO", 10);
    hidden(cdsNrQuebra, "CDARVPROD", 20);

    // Leftover lines.
    str(cdsSobra, "CDARVPROD", 20, "Código do Produto");
    str(cdsSobra, "NMPRODUTO", 50, "Nome do Produto");
    str(cdsSobra, "SGUNIDADE", 10, "Un.");
    money(cdsSobra, "QTRESACERSOB", "Reservada");
    money(cdsSobra, "QTEXTACERSOB", "Acréscimo");
    money(cdsSobra, "QTORCACERSOB", "Retorno");
    money(cdsSobra, "VRACERTOSOBR", "Vr. Unitário");
    hidden(cdsSobra, "CDFILIAL", 4);
    hidden(cdsSobra, "NRORCAEVENTO", 10);
    hidden(cdsSobra, "NRSEQORCAEVE", 2);
    hidden(cdsSobra, "CDDEPTO", 3);
    hidden(cdsSobra, "NRACERTOSOBR", 4);
    hidden(cdsSobra, "CDPRODUTO", 10);
    total(cdsSobra, "VRTOTAL");
    str(cdsNrSobra, "CDARVPROD", 20, "Código do Produto");
    str(cdsNrSobra, "NMPRODUTO", 50, "Nome do Produto");
    str(cdsNrSobra, "SGUNIDADE", 10, "Unidade");
    cdsNrSobra.add_field("QTRESACERSOB", FieldType::Float).display_label = "Qt. Reservada";
    cdsNrSobra.add_field("QTEXTACERSOB", FieldType::Float).display_label = "Qt. Extra";
    cdsNrSobra.add_field("QTORCACERSOB", FieldType::Float).display_label = "Qt. Orçamento";
    cdsNrSobra.add_field("VRACERTOSOBR", FieldType::Float).display_label = "Vr. Unitário";
    for (auto [n, size] : std::initializer_list<std::pair<const char*, int>>{{"CDFILIAL", 4},
                                                                             {"NRORCAEVENTO", 10},
                                                                             {"NRSEQORCAEVE", 2},
                                                                             {"CDDEPTO", 3},
                                                                             {"NRACERTOSOBR", 4},
                                                                             {"CDPRODUTO", 10}})
        str(cdsNrSobra, n, size);

    // Overtime lines.
    hidden(cdsHorasExtras, "CDFILIAL", 4);
    hidden(cdsHorasExtras, "NRORCAEVENTO", 10);
    hidden(cdsHorasExtras, "NRSEQORCAEVE", 2);
    hidden(cdsHorasExtras, "CDDEPTO", 3);
    str(cdsHorasExtras, "CDARVPROD", 20, "Código");
    str(cdsHorasExtras, "NMPRODUTO", 50, "Nome da Mão de Obra");
    hidden(cdsHorasExtras, "NRACERTOHREX", 4);
    money(cdsHorasExtras, "QTACERTOHREX", "Qt. Horas");
    money(cdsHorasExtras, "VRACERTOHREX", "Vr. Horas");
    total(cdsHorasExtras, "VrTotal");
    hidden(cdsHorasExtras, "CDPRODUTO", 10);
    for (auto [n, size] : std::initializer_list<std::pair<const char*, int>>{
             {"CDFILIAL", 4}, {"NRORCAEVENTO", 10}, {"NRSEQORCAEVE", 2}, {"CDDEPTO", 3}, {"NRACERTOHREX", 4}})
        str(cdsNrHorasExtras, n, size);
    cdsNrHorasExtras.add_field("QTACERTOHREX", FieldType::Float).display_format = "#,##0.000";
    cdsNrHorasExtras.add_field("VRACERTOHREX", FieldType::Float).display_format = "#,##0.00";
    total(cdsNrHorasExtras, "VrTotal");
    str(cdsNrHorasExtras, "CDPRODUTO", 10);
    str(cdsNrHorasExtras, "CDARVPROD", 20);
    str(cdsNrHorasExtras, "NMPRODUTO", 50);

    // Extras lines.
    hidden(cdsExtras, "CDFILIAL", 4);
    hidden(cdsExtras, "NRORCAEVENTO", 10);
    hidden(cdsExtras, "NRSEQORCAEVE", 2);
    hidden(cdsExtras, "CDDEPTO", 3);
    hidden(cdsExtras, "NRACERTOEXTR", 4);
    str(cdsExtras, "CDARVPROD", 20, "Código do Produto");
    str(cdsExtras, "NMPRODUTO", 50, "Nome do Produto");
    str(cdsExtras, "SGUNIDADE", 10, "Un.");
    str(cdsExtras, "DSACERTOEXTR", 50, "Descrição", false);
    money(cdsExtras, "QTACERTOEXTR", "Qt. Extra");
    money(cdsExtras, "VRACERTOEXTR", "Vr. Unitário");
    hidden(cdsExtras, "CDPRODUTO", 10);
    total(cdsExtras, "VrTotal");
    hidden(cdsExtras, "CDFILIALEST", 4);
    str(cdsExtras, "NRLANCESTQ", 10, "Estoque");
    hidden(cdsExtras, "NRSEQUITEM", 4);
    for (auto [n, size] : std::initializer_list<std::pair<const char*, int>>{{"CDFILIAL", 4},
                                                                             {"NRORCAEVENTO", 10},
                                                                             {"NRSEQORCAEVE", 2},
                                                                             {"CDDEPTO", 3},
                                                                             {"NRACERTOEXTR", 4},
                                                                             {"CDARVPROD", 20},
                                                                             {"NMPRODUTO", 50},
                                                                             {"SGUNIDADE", 10},
                                                                             {"DSACERTOEXTR", 50}})
        str(cdsNrExtras, n, size);
    cdsNrExtras.add_field("QTACERTOEXTR", FieldType::Float).display_format = "#,##0.000";
    cdsNrExtras.add_field("VRACERTOEXTR", FieldType::Float).display_format = "#,##0.00";
    str(cdsNrExtras, "CDPRODUTO", 10);
    total(cdsNrExtras, "VrTotal");

    // Product and price lookups.
    hidden(qryPesqProduto, "CDPRODUTO", 10);
    str(qryPesqProduto, "CDARVPROD", 20, "Código");
    str(qryPesqProduto, "NMPRODUTO", 50, "Nome");
    hidden(qryPesqProduto, "SGUNIDADE", 10);
    hidden(qryPesqProduto, "CDPRODESTO", 10);
    hidden(qryPesqProduto, "CDNVPRODUTO", 1);
    qryPesqProduto.add_field("VRITEPREBASE", FieldType::Float).visible = false;
    qryPesqProduto.set_sql(
        "SELECT P.CDARVPROD , P.CDPRODUTO, P.CDPRODESTO, P.NMPRODUTO, P.SGUNIDADE , P.CDNVPRODUTO, I.VRITEPREBASE "
        "FROM ITEMPREBASE I, PRODUTO P WHERE (P.CDPRODUTO = I.CDPRODUTO ) AND (I.CDPRECOBASE = :P_CDPRECOBASE) "
        "AND (P.CDNVPRODUTO = :P_CDNVPRODUTO) AND (I.DTINIVALIPB <= :P_DTINIVALIPB) ORDER BY P.CDARVPROD");
    str(qryVd_Produto, "CDARVPROD", 20);
    str(qryVd_Produto, "CDPRODUTO", 10);
    str(qryVd_Produto, "NMPRODUTO", 50);
    str(qryVd_Produto, "SGUNIDADE", 10, "Un.");
    qryVd_Produto.set_sql(
        "SELECT CDARVPROD, CDPRODUTO, NMPRODUTO, SGUNIDADE FROM PRODUTO WHERE CDARVPROD = :P_CDARVPROD AND "
        "CDNVPRODUTO = :P_CDNVPRODUTO");
    str(qryPreco, "CDARVPROD", 20);
    str(qryPreco, "CDPRODUTO", 10);
    str(qryPreco, "CDPRODESTO", 10);
    qryPreco.add_field("VRITEPREBASE", FieldType::Float);
    qryPreco.set_sql(
        "SELECT P.CDARVPROD , P.CDPRODUTO, P.CDPRODESTO, I.VRITEPREBASE FROM ITEMPREBASE I, PRODUTO P WHERE "
        "P.CDPRODUTO = I.CDPRODUTO AND I.CDPRECOBASE = :P_CDPRECOBASE AND P.CDARVPROD = :P_CDARVPROD AND "
        "I.DTINIVALIPB <= :P_DTINIVALIPB ORDER BY P.CDARVPROD");
    str(qryPrecoBase, "CDPRECOBASE", 2, "Código");
    str(qryPrecoBase, "DSPRECOBASE", 30, "Descrição");
    qryPrecoBase.set_sql("SELECT CDPRECOBASE, DSPRECOBASE FROM PRECOBASE ORDER BY CDPRECOBASE, DSPRECOBASE");
    str(qryVdPreco, "CDPRECOBASE", 2);
    str(qryVdPreco, "DSPRECOBASE", 30);
    qryVdPreco.set_sql("SELECT CDPRECOBASE, DSPRECOBASE FROM PRECOBASE WHERE CDPRECOBASE = :P_CDPRECOBASE");

    // Stock withdrawal.
    hidden(cdsNRetiEst, "CDPRODUTO", 10);
    str(cdsNRetiEst, "CDARVPROD", 20, "Código");
    str(cdsNRetiEst, "NMPRODUTO", 50, "Nome do Produto");
    cdsNRetiEst.add_field("QTPOSESTPROD", FieldType::Float).display_label = "Qtde. Estoque";
    hidden(cdsProdIna, "CDPRODUTO", 10);
    str(cdsProdIna, "CDARVPROD", 20, "Código");
    str(cdsProdIna, "NMPRODUTO", 50, "Nome");
    str(cdsProdSemAlmox, "CDARVPROD", 20, "Código");
    str(cdsProdSemAlmox, "NMPRODUTO", 50, "Nome do Produto");
    str(cdsAcertoReti, "NRLANCESTQ", 10);

    for (DataSet* ds : std::initializer_list<DataSet*>{
             &qryFilial,       &qryVdFilial,   &cdsPesqOrca,    &cdsVdOrcaEven,    &cdsVdEnc,   &cdsOrcamento,
             &cdsDados,        &cdsParam,      &cdsDevol,       &cdsAcerto,        &cdsQuebra,  &cdsNrQuebra,
             &cdsSobra,        &cdsNrSobra,    &cdsHorasExtras, &cdsNrHorasExtras, &cdsExtras,  &cdsNrExtras,
             &qryPesqProduto,  &qryVd_Produto, &qryPreco,       &qryPrecoBase,     &qryVdPreco, &cdsNRetiEst,
             &cdsProdSemAlmox, &cdsProdIna,    &cdsAcertoReti})
        register_dataset(*ds);
}

void TfrmAcertoFinal::build_layout() {
    panMenu.set_height(29);
    panFiltro.set_align(Align::Top);
    panDados.set_align(Align::Top);

    medCdFilial.set_edit_mask(">aaaa;0; ");
    medCdFilial.max_length = 4;
    medCdFilial.required_colour = true;
    edtNmFilial.set_enabled(false);
    edtNmFilial.display_only = true;
    edtNmFilial.read_only = true;
    edtNrOrcamento.upper_case = true;
    edtNrOrcamento.max_length = 10;
    edtNrOrcamento.required_colour = true;
    edtOrigem.set_enabled(false);
    edtOrigem.display_only = true;
    edtOrigem.read_only = true;

    btnFilial.Associate = &medCdFilial;
    btnFilial.Title = "Filial";
    btnFilial.DataSource = &dtsFilial;
    btnFilial.FieldNome = "NMFILIAL";
    btnFilial.EmptyError = msgAcerto.Msg("FILIAL_VAZIA");
    btnNrOrcamento.Associate = &edtNrOrcamento;
    btnNrOrcamento.Title = "Número";
    btnNrOrcamento.DataSource = &dtsPesqOrca;
    btnNrOrcamento.EmptyError = msgAcerto.Msg("NUMERO_VAZIO");

    for (DBEdit* d : {&dbeCliente, &dbeServico, &dbeEvento, &dbeDtEvento, &dbeLocal}) {
        d->read_only = true;
        d->display_only = true;
        d->set_enabled(false);
    }
    dbeCliente.bind(&dtsOrcamento, "NMFANTCLIE");
    dbeLocal.bind(&dtsOrcamento, "DSENDENTOREV");
    dbeServico.bind(&dtsDados, "TPSERVICO");
    dbeEvento.bind(&dtsDados, "TPEVENTO");
    dbeDtEvento.bind(&dtsDados, "DSDATA");

    // The four tabs, in this order, each with its price-base panel.
    tshPadrao.set_text("Quebra");
    tshSobra.set_text("Sobra");
    tshHorasExtras.set_text("Horas Extras");
    tshExtras.set_text("Extras");
    struct PricePanel {
        Panel* panel;
        DBEdit* code;
        host::TBtnPesquisa* button;
        DBEdit* name;
        const char* code_field;
        const char* name_field;
    };
    for (const PricePanel& p :
         {PricePanel{&panPrecoBase, &dbePrQuebra, &btnPrQuebra, &dbeNmPrBase, "CDPRBAQUEBRA", "NMPRECOQUEBR"},
          PricePanel{&panPrecoSobra, &dbePrSobra, &btnPrSobra, &dbeNmPrSobra, "CDPRBASOBRA", "NMPRECOSOBRA"},
          PricePanel{&panPrecoHora, &dbeCdPrHora, &sbtPrecoHora, &dbeNmPrHora, "CDPRBAHREXTR", "NMPRECOHORAE"},
          PricePanel{&panPrecoExtra, &dbePrExtra, &btnPrExtra, &dbeNmPrExtra, "CDPRBAEXTRA", "NMPRECOEXTRA"}}) {
        p.panel->set_align(Align::Top);
        // On a tab the price base comes first; in the per-product panel, under its title strip.
        p.panel->parent()->move_child(p.panel, p.panel->parent() == &panExtras ? 1 : 0);
        p.code->bind(&dtsAcerto, p.code_field);
        p.code->max_length = 2;
        p.name->bind(&dtsAcerto, p.name_field);
        p.name->set_enabled(false);
        p.name->display_only = true;
        p.name->read_only = true;
        p.button->hint = "Pesquisar";
        p.button->Title = "Preço Base";
        p.button->DataSource = &dtsPrecoBase;
        p.button->Associate = p.code;
        p.button->FieldNome = "DSPRECOBASE";
        p.button->EmptyError = msgAcerto.Msg("PRECOBASE_VAZIO");
    }

    // Breakage grid (the base screen's).
    dtsPadrao.set_dataset(&cdsQuebra);
    dbgPadrao.set_align(Align::Client);
    column(dbgPadrao, "CDARVPROD", 100).ellipsis = true;
    dbgPadrao.columns.back().title = "Código do Produto";
    column(dbgPadrao, "NMPRODUTO", 260).read_only = true;
    column(dbgPadrao, "SGUNIDADE", 30).read_only = true;
    numeric(dbgPadrao, "QTACERTOQUEB");
    numeric(dbgPadrao, "VRACERTOQUEB");
    numeric(dbgPadrao, "VRACREACEQUE", 55, "Vr. Acré.");
    numeric(dbgPadrao, "VRDESCACEQUE", 55, "Vr. Desc.");
    numeric(dbgPadrao, "VrTotal", 64, "Vr. Total").read_only = true;

    // Leftover grid.
    dbgSobra.set_align(Align::Client);
    dbgSobra.bind(&dtsSobra);
    column(dbgSobra, "CDARVPROD", 100).ellipsis = true;
    column(dbgSobra, "NMPRODUTO", 260).read_only = true;
    column(dbgSobra, "SGUNIDADE", 25).read_only = true;
    numeric(dbgSobra, "QTRESACERSOB", 60);
    numeric(dbgSobra, "QTEXTACERSOB", 60);
    numeric(dbgSobra, "QTORCACERSOB", 60);
    numeric(dbgSobra, "VRACERTOSOBR");
    numeric(dbgSobra, "VRTOTAL", 64, "Valor").read_only = true;

    // Overtime grid.
    dbgHorasExtras.set_align(Align::Client);
    dbgHorasExtras.bind(&dtsHorasExtras);
    column(dbgHorasExtras, "CDARVPROD", 129).ellipsis = true;
    column(dbgHorasExtras, "NMPRODUTO", 260).read_only = true;
    numeric(dbgHorasExtras, "QTACERTOHREX");
    numeric(dbgHorasExtras, "VRACERTOHREX");
    numeric(dbgHorasExtras, "VrTotal", 80, "Vr. Total").read_only = true;

    // Extras: the per-person panel above the per-product one.
    PanPessoa.set_align(Align::Top);
    panExtras.set_align(Align::Client);
    panTituloPessoa.set_align(Align::Top);
    panTituloProduto.set_align(Align::Top);
    nedVrTot.decimals = 2;
    nedVrTot.read_only = true;
    nedTotPess.decimals = 0;
    nedTotPess.read_only = true;
    nedVrTotProd.decimals = 2;
    nedVrTotProd.read_only = true;
    dbeQtExPess.bind(&dtsAcerto, "QTCONVEXTRAACER");
    dbeQtExPess.max_length = 20;
    dbeVrPessoa.bind(&dtsAcerto, "VRCONVEXTRAACER");
    dbeConvEven.bind(&dtsParam, "QTCONVORCEVE");
    dbeConvEven.set_enabled(false);
    dbeConvEven.display_only = true;
    dbeConvEven.read_only = true;
    dbgExtras.set_align(Align::Client);
    dbgExtras.bind(&dtsExtras);
    column(dbgExtras, "CDARVPROD", 100).ellipsis = true;
    column(dbgExtras, "NMPRODUTO", 270).read_only = true;
    column(dbgExtras, "SGUNIDADE", 30).read_only = true;
    numeric(dbgExtras, "QTACERTOEXTR", 80);
    numeric(dbgExtras, "VRACERTOEXTR", 75);
    numeric(dbgExtras, "VrTotal", 80, "Vr. Total").read_only = true;
    column(dbgExtras, "NRLANCESTQ", 60).read_only = true;
    for (const char* n : {"CDFILIAL", "NRORCAEVENTO", "NRSEQORCAEVE", "CDDEPTO", "NRACERTOEXTR", "DSACERTOEXTR"})
        column(dbgExtras, n).visible = false;

    // This screen's menu entries go ahead of the inherited ones.
    std::size_t i = 0;
    for (MenuItem* m : {&mnuPadrao, &mnuSobra, &mnuHorasExtras, &mnuExtras, &mnuSepOperacao})
        mnuOperacao.move_child(m, i++);
    for (MenuItem* m : {&mnuPadrao, &mnuSobra, &mnuHorasExtras, &mnuExtras}) m->radio_item = true;

    initial_focus = &medCdFilial;
    sbtImprimir.set_enabled(false);
    mnuListagem.set_enabled(false);
    sbtAtuaFina.set_enabled(false);
    sbtCanAcerto.set_enabled(false);
}

void TfrmAcertoFinal::bind_handlers() {
    using platform::Field;
    auto on = [this](void (TfrmAcertoFinal::*h)(Control&)) { return [this, h](Control& c) { (this->*h)(c); }; };
    auto on_ds = [this](void (TfrmAcertoFinal::*h)(DataSet&)) { return [this, h](DataSet& d) { (this->*h)(d); }; };

    netAcertoFinal.OnBeforeConnect = [this](host::TNetConnection& c) { netAcertoFinalBeforeConnect(c); };

    medCdFilial.on_enter = on(&TfrmAcertoFinal::medCdFilialEnter);
    medCdFilial.on_change = on(&TfrmAcertoFinal::medCdFilialChange);
    medCdFilial.on_exit = on(&TfrmAcertoFinal::medCdFilialExit);
    btnFilial.OnAfterPesq = [this](host::TBtnPesquisa& b) { btnFilialAfterPesq(b); };
    edtNrOrcamento.on_change = on(&TfrmAcertoFinal::edtNrOrcamentoChange);
    edtNrOrcamento.on_exit = on(&TfrmAcertoFinal::edtNrOrcamentoExit);
    btnNrOrcamento.OnBeforePesq = [this](host::TBtnPesquisa& b, bool& go) { btnNrOrcamentoBeforePesq(b, go); };
    btnNrOrcamento.OnAfterPesq = [this](host::TBtnPesquisa& b) { btnNrOrcamentoAfterPesq(b); };
    cdsPesqOrca.field("IDTPORCAEVEN").on_get_text = [this](Field& f, std::string& t, bool d) {
        cdsPesqOrcaIDTPORCAEVENGetText(f, t, d);
    };
    panFiltro.on_enter = on(&TfrmAcertoFinal::panFiltroEnter);
    panFiltro.on_exit = on(&TfrmAcertoFinal::panFiltroExit);

    cdsOrcamento.after_open = on_ds(&TfrmAcertoFinal::cdsOrcamentoAfterOpen);
    cdsAcerto.after_open = on_ds(&TfrmAcertoFinal::cdsAcertoAfterOpen);
    cdsAcerto.after_scroll = on_ds(&TfrmAcertoFinal::cdsAcertoAfterScroll);
    cdsAcerto.before_insert = on_ds(&TfrmAcertoFinal::cdsQuebraBeforeEdit);
    cdsAcerto.before_edit = on_ds(&TfrmAcertoFinal::cdsQuebraBeforeEdit);
    cdsAcerto.after_insert = on_ds(&TfrmAcertoFinal::cdsAcertoAfterEdit);
    cdsAcerto.after_edit = on_ds(&TfrmAcertoFinal::cdsAcertoAfterEdit);
    cdsAcerto.before_post = on_ds(&TfrmAcertoFinal::cdsAcertoBeforePost);
    cdsAcerto.after_post = on_ds(&TfrmAcertoFinal::cdsAcertoAfterPost);
    dtsAcerto.on_state_change = [this](DataSource& s) { dtsAcertoStateChange(s); };

    for (DataSource* s : {&dtsSobra, &dtsHorasExtras, &dtsExtras})
        s->on_state_change = [this](DataSource& src) { dtsPadraoStateChange(src); };
    pgcPadrao.on_change = on(&TfrmAcertoFinal::pgcPadraoChange);
    mnuPadrao.on_click = on(&TfrmAcertoFinal::mnuPadraoClick);
    mnuSobra.on_click = on(&TfrmAcertoFinal::mnuSobraClick);
    mnuHorasExtras.on_click = on(&TfrmAcertoFinal::mnuHorasExtrasClick);
    mnuExtras.on_click = on(&TfrmAcertoFinal::mnuExtrasClick);
    build_grid_family();
    cdsQuebra.on_calc_fields = on_ds(&TfrmAcertoFinal::cdsQuebraCalcFields);
    cdsSobra.on_calc_fields = on_ds(&TfrmAcertoFinal::cdsSobraCalcFields);
    cdsHorasExtras.on_calc_fields = on_ds(&TfrmAcertoFinal::cdsHorasExtrasCalcFields);
    cdsExtras.on_calc_fields = on_ds(&TfrmAcertoFinal::cdsExtrasCalcFields);
    // The moments the overtime and extras tabs run the enabling pass themselves.
    dbgHorasExtras.on_exit = [this](Control&) { Habilita(cdsHorasExtras); };
    for (Control* c :
         {static_cast<Control*>(&dbePrExtra), static_cast<Control*>(&PanPessoa), static_cast<Control*>(&dbgExtras)})
        c->on_enter = [this](Control&) { Habilita(cdsExtras); };
    // The financial and stock commands, each with its menu item.
    for (auto [button, item, handler] :
         {std::tuple{&sbtAtuaFina, &mnuAtuaFina, &TfrmAcertoFinal::sbtAtuaFinaClick},
          std::tuple{&sbtCanAcerto, &mnuCanAcerto, &TfrmAcertoFinal::sbtCanAcertoClick},
          std::tuple{&sbtRetProdExt, &mnuRetProdExt, &TfrmAcertoFinal::sbtRetProdExtClick},
          std::tuple{&sbtCancRetProdExt, &mnuCancRetProdExt, &TfrmAcertoFinal::sbtCancRetProdExtClick}}) {
        button->on_click = on(handler);
        item->on_click = on(handler);
    }
    // The extras: the ways of charging and the per-person boxes.
    rbtPessoa.on_click = on(&TfrmAcertoFinal::rbtPessoaClick);
    rbtProduto.on_click = on(&TfrmAcertoFinal::rbtProdutoClick);
    dbeQtExPess.on_key_press = [this](Control& c, char32_t& k) { dbeQtExPessKeyPress(c, k); };
    dbeVrPessoa.on_key_press = [this](Control& c, char32_t& k) { dbeVrPessoaKeyPress(c, k); };
    // The leftover, overtime and extras grids share the base screen's grid key handler.
    for (DBGrid* g : {&dbgSobra, &dbgHorasExtras, &dbgExtras})
        g->on_key_down = [this](Control& s, int& k, platform::ShiftState sh) { dbgPadraoKeyDown(s, k, sh); };
}

}  // namespace acerto::settlement
