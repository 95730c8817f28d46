#pragma once
// TfrmAcertoFinal, the "Acerto Final" screen (QLM01200): its controls, datasets and handlers.
// Handlers keep the screen's own names; each source file holds one subject of the screen.
#include <array>
#include <memory>
#include <string>

#include "acerto/host/base_forms.h"
#include "acerto/host/components.h"
#include "acerto/host/net_connection.h"
#include "acerto/platform/client_dataset.h"

namespace acerto::settlement {

using platform::Button;
using platform::ClientDataSet;
using platform::Control;
using platform::DataSet;
using platform::DataSource;
using platform::DBEdit;
using platform::DBGrid;
using platform::Edit;
using platform::Label;
using platform::MaskEdit;
using platform::MenuItem;
using platform::NumberEdit;
using platform::Panel;
using platform::RadioButton;
using platform::TabSheet;

struct GridMember;
struct ValueCheck;

class TfrmAcertoFinal : public host::TfrmPadraoGrid {
  public:
    TfrmAcertoFinal();
    ~TfrmAcertoFinal() override;

    // ------------------------------------------------------------------------- controls
    Button& sbtAtuaFina;
    Button& sbtCanAcerto;
    Button& sbtRetProdExt;
    Button& sbtCancRetProdExt;

    Panel& panFiltro;
    Label& lblFilial;
    MaskEdit& medCdFilial;
    host::TBtnPesquisa& btnFilial;
    Edit& edtNmFilial;
    Label& lblNumero;
    Edit& edtNrOrcamento;
    host::TBtnPesquisa& btnNrOrcamento;
    Edit& edtOrigem;

    Panel& panDados;
    Label& lblCliente;
    Label& lblServico;
    Label& lblDtAcerto;
    Label& lblHoraAcerto;
    Label& lblEvento;
    Label& lblDtEvento;
    Label& lblLocal;
    Label& lblFinanc;
    DBEdit& dbeCliente;
    DBEdit& dbeServico;
    DBEdit& dbeEvento;
    DBEdit& dbeDtEvento;
    DBEdit& dbeLocal;
    Label& lblDataAcerto;
    Label& lblHrAcerto;
    Label& lblSituFinanc;

    // Quebra (the base screen's tab and grid)
    Panel& panPrecoBase;
    Label& lblPrecoBase;
    DBEdit& dbePrQuebra;
    host::TBtnPesquisa& btnPrQuebra;
    DBEdit& dbeNmPrBase;
    // Sobra
    TabSheet& tshSobra;
    Panel& panPrecoSobra;
    Label& lblPrecoSobra;
    DBEdit& dbePrSobra;
    host::TBtnPesquisa& btnPrSobra;
    DBEdit& dbeNmPrSobra;
    DBGrid& dbgSobra;
    // Horas Extras
    TabSheet& tshHorasExtras;
    Panel& panPrecoHora;
    Label& lblPrecoHora;
    DBEdit& dbeCdPrHora;
    host::TBtnPesquisa& sbtPrecoHora;
    DBEdit& dbeNmPrHora;
    DBGrid& dbgHorasExtras;
    // Extras
    TabSheet& tshExtras;
    Panel& PanPessoa;
    Panel& panTituloPessoa;  // the per-person panel's title strip
    RadioButton& rbtPessoa;
    Label& lblPorPessoa;
    Label& lblVrTot;
    NumberEdit& nedVrTot;
    Label& lblQtExPess;
    DBEdit& dbeQtExPess;
    Label& lblConvEven;
    DBEdit& dbeConvEven;
    Label& lblVrPessoa;
    DBEdit& dbeVrPessoa;
    Label& lblTotPess;
    NumberEdit& nedTotPess;
    Panel& panExtras;
    Panel& panTituloProduto;  // the per-product panel's title strip
    RadioButton& rbtProduto;
    Label& lblPorProduto;
    Label& lblVrTotProd;
    NumberEdit& nedVrTotProd;
    Panel& panPrecoExtra;
    Label& lblPrecoExtra;
    DBEdit& dbePrExtra;
    host::TBtnPesquisa& btnPrExtra;
    DBEdit& dbeNmPrExtra;
    DBGrid& dbgExtras;

    // Menus
    MenuItem& mnuPadrao;
    MenuItem& mnuSobra;
    MenuItem& mnuHorasExtras;
    MenuItem& mnuExtras;
    MenuItem& mnuSepOperacao;
    MenuItem& mnuSepManutencao;
    MenuItem& mnuAtuaFina;
    MenuItem& mnuCanAcerto;
    MenuItem& mnuRetProdExt;
    MenuItem& mnuCancRetProdExt;

    // ------------------------------------------------------------------------- datasets
    host::TADOIBQuery qryFilial{"qryFilial"};
    host::TADOIBQuery qryVdFilial{"qryVdFilial"};
    ClientDataSet cdsPesqOrca{"cdsPesqOrca"};
    ClientDataSet cdsVdOrcaEven{"cdsVdOrcaEven"};
    ClientDataSet cdsVdEnc{"cdsVdEnc"};
    ClientDataSet cdsOrcamento{"cdsOrcamento"};
    ClientDataSet cdsDados{"cdsDados"};
    ClientDataSet cdsParam{"cdsParam"};
    ClientDataSet cdsDevol{"cdsDevol"};
    ClientDataSet cdsAcerto{"cdsAcerto"};
    ClientDataSet cdsQuebra{"cdsQuebra"};
    ClientDataSet cdsNrQuebra{"cdsNrQuebra"};
    ClientDataSet cdsSobra{"cdsSobra"};
    ClientDataSet cdsNrSobra{"cdsNrSobra"};
    ClientDataSet cdsHorasExtras{"cdsHorasExtras"};
    ClientDataSet cdsNrHorasExtras{"cdsNrHorasExtras"};
    ClientDataSet cdsExtras{"cdsExtras"};
    ClientDataSet cdsNrExtras{"cdsNrExtras"};
    host::TADOIBQuery qryPesqProduto{"qryPesqProduto"};
    host::TADOIBQuery qryVd_Produto{"qryVd_Produto"};
    host::TADOIBQuery qryPreco{"qryPreco"};
    host::TADOIBQuery qryPrecoBase{"qryPrecoBase"};
    host::TADOIBQuery qryVdPreco{"qryVdPreco"};
    ClientDataSet cdsNRetiEst{"cdsNRetiEst"};
    ClientDataSet cdsProdSemAlmox{"cdsProdSemAlmox"};
    ClientDataSet cdsProdIna{"cdsProdIna"};
    ClientDataSet cdsAcertoReti{"cdsAcertoReti"};

    DataSource dtsFilial{"dtsFilial", &qryFilial};
    DataSource dtsPesqOrca{"dtsPesqOrca", &cdsPesqOrca};
    DataSource dtsOrcamento{"dtsOrcamento", &cdsOrcamento};
    DataSource dtsDados{"dtsDados", &cdsDados};
    DataSource dtsParam{"dtsParam", &cdsParam};
    DataSource dtsAcerto{"dtsAcerto", &cdsAcerto};
    DataSource dtsSobra{"dtsSobra", &cdsSobra};
    DataSource dtsHorasExtras{"dtsHorasExtras", &cdsHorasExtras};
    DataSource dtsExtras{"dtsExtras", &cdsExtras};
    DataSource dtsPrecoBase{"dtsPrecoBase", &qryPrecoBase};
    DataSource dtsPesqProduto{"dtsPesqProduto", &qryPesqProduto};

    // The screen's connection to the application server.
    host::TNetConnection netAcertoFinal{"netAcertoFinal"};

    // ------------------------------------------------------------------------- lifecycle
    void FormCreate() override;
    void FormActivate() override;
    void FormClose(platform::CloseAction& action) override;
    void netAcertoFinalBeforeConnect(host::TNetConnection& sender);

    // Catalogue: the refusal translation of server failures that name a catalogue key.
    [[noreturn]] void TraduzRecusa(const std::exception& failure);

    // ------------------------------------------------------------------------- filter panel
    void medCdFilialEnter(Control& sender);
    void medCdFilialChange(Control& sender);
    void medCdFilialExit(Control& sender);
    void btnFilialAfterPesq(host::TBtnPesquisa& sender);
    void edtNrOrcamentoChange(Control& sender);
    void edtNrOrcamentoExit(Control& sender);
    void btnNrOrcamentoBeforePesq(host::TBtnPesquisa& sender, bool& proceed);
    void btnNrOrcamentoAfterPesq(host::TBtnPesquisa& sender);
    void cdsPesqOrcaIDTPORCAEVENGetText(platform::Field& sender, std::string& text, bool display);
    void panFiltroEnter(Control& sender);
    void Vd_Filial(bool required);
    void Vd_Orcamento(bool required);

    // ------------------------------------------------------------------------- loading
    void panFiltroExit(Control& sender);
    void sbtVerificarClick(Control& sender) override;
    void cdsOrcamentoAfterOpen(DataSet& ds);
    void cdsAcertoAfterOpen(DataSet& ds);
    void cdsAcertoAfterScroll(DataSet& ds);

    // ------------------------------------------------------------------------- header
    void cdsQuebraBeforeEdit(DataSet& ds);  // the settlement lock
    void cdsAcertoAfterEdit(DataSet& ds);
    void dtsAcertoStateChange(DataSource& sender);
    void Vd_CampAcerto();
    void cdsAcertoBeforePost(DataSet& ds);
    void cdsAcertoAfterPost(DataSet& ds);

    // ------------------------------------------------------------------------- modes
    void Habilita(DataSet& page);
    void dtsPadraoStateChange(DataSource& sender) override;
    void pgcPadraoChange(Control& sender);
    void mnuPadraoClick(Control& sender);
    void mnuSobraClick(Control& sender);
    void mnuHorasExtrasClick(Control& sender);
    void mnuExtrasClick(Control& sender);
    void MostraAba(GridMember& m);
    void sbtProcurarClick(Control& sender) override;
    void sbtImprimirClick(Control& sender) override;

    // ------------------------------------------------------------------------- totals
    void Calcula_Campos();

    // ------------------------------------------------------------------------- saving
    void sbtIncluirClick(Control& sender) override;
    void sbtAlterarClick(Control& sender) override;
    void sbtConfirmarClick(Control& sender) override;
    void sbtCancelarClick(Control& sender) override;
    void sbtExcluirClick(Control& sender) override;
    void Vd_Geral();

    // ------------------------------------------------------------------------- financial and stock
    void sbtAtuaFinaClick(Control& sender);
    void sbtCanAcertoClick(Control& sender);
    void MostraSituacao();  // lblSituFinanc from the header's situation
    void sbtRetProdExtClick(Control& sender);
    void sbtCancRetProdExtClick(Control& sender);
    platform::Variant::Array ChaveRetirada();  // branch, number and sequence of a withdrawal

    // ------------------------------------------------------------------------- item grids
    // The members of the item-grid family, as data (settlement/grids/family.h).
    GridMember& Membro(const ClientDataSet& lines);
    GridMember& Quebra() { return *membros_[0]; }
    GridMember& Sobra() { return *membros_[1]; }
    GridMember& Horas() { return *membros_[2]; }
    GridMember& Extras() { return *membros_[3]; }
    void Vd_Virgula(DBGrid& grid, const std::string& field, char32_t& key);
    void Vd_EditVirgula(const std::string& text, char32_t& key);
    void Vd_InfPreco(const std::string& code, DBEdit& box);
    void Vd_PrcBase(GridMember& m, bool flag);
    void Vd_Prod(GridMember& m, bool flag);
    void ProdutoPesquisa(GridMember& m);  // the ellipsis of a grid: product pick
    void TeclaNumerica(GridMember& m, char32_t& key);
    void NumeraLinha(GridMember& m);       // before insert: the next line number
    void GravaNumeroLinha(GridMember& m);  // after insert
    void qryPesqProdutoCDARVPRODGetText(platform::Field& sender, std::string& text, bool display);
    void Vd_PrcBaseQuebra(bool flag) { Vd_PrcBase(Quebra(), flag); }
    void Vd_PrcBaseSobra(bool flag) { Vd_PrcBase(Sobra(), flag); }
    void Vd_PrcBaseHora(bool flag) { Vd_PrcBase(Horas(), flag); }
    void Vd_PrcBaseExtra(bool flag) { Vd_PrcBase(Extras(), flag); }
    void Vd_ProdQuebra(bool flag) { Vd_Prod(Quebra(), flag); }
    void Vd_ProdSobra(bool flag) { Vd_Prod(Sobra(), flag); }
    void Vd_ProdHora(bool flag) { Vd_Prod(Horas(), flag); }
    void Vd_ProdExtra(bool flag) { Vd_Prod(Extras(), flag); }

    GridMember& MembroAtivo();                      // the member of the active tab
    void ColunaSaida(GridMember& m, DBGrid& grid);  // a grid's column exit
    void AntesGravarLinha(GridMember& m);           // a line dataset's before-post
    void Vd_Valor(GridMember& m, const char* field, bool flag, const char* blank_key, const char* below_key,
                  const ValueCheck& how);

    // Line totals.
    void cdsQuebraCalcFields(DataSet& ds);
    void cdsSobraCalcFields(DataSet& ds);
    void cdsHorasExtrasCalcFields(DataSet& ds);
    void cdsExtrasCalcFields(DataSet& ds);
    // Breakage.
    void Vd_QtdQuebra(bool flag);
    void Vd_VrQuebra(bool flag);
    void Vd_AcresQuebra();
    void Vd_DescQuebra();
    void dbgPadraoKeyPress(Control& sender, char32_t& key) override;
    // Leftovers.
    void Vd_QtdSobra(bool flag);
    void Vd_VrSobra(bool flag);
    // Overtime.
    void Vd_NomeExtra(bool flag);
    void Vd_ProdHoraGravar();  // posting: a labour code typed last is looked up
    // Extras.
    void Vd_QtdExtra(bool flag);
    void Vd_VrExtra(bool flag);
    void Vd_Retirada();  // the withdrawal check
    void cdsExtrasNRLANCESTQGetText(platform::Field& sender, std::string& text, bool display);
    void rbtPessoaClick(Control& sender);
    void rbtProdutoClick(Control& sender);
    void EscolheCobranca(RadioButton& clicked, RadioButton& other);
    void dbeQtExPessKeyPress(Control& sender, char32_t& key);
    void dbeVrPessoaKeyPress(Control& sender, char32_t& key);

    // Messages of our own, outside the screen's catalogue.
    host::TMessages msgAcerto{"msgAcerto",
                              {"LINHA_MAX|Esta aba já tem 9999 linhas, o máximo de um acerto. A linha não pode ser "
                               "incluída.",
                               "FILIAL_VAZIA|Não há filial cadastrada.", "NUMERO_VAZIO|Não há número cadastrado.",
                               "PRECOBASE_VAZIO|Não há preço base cadastrado."}};

    // The dataset edited on the active tab (the page dataset).
    ClientDataSet& PageDataSet();
    // Raises a catalogue key's text as the error that ends the operation.
    [[noreturn]] void Falha(const std::string& key);
    std::string Msg(const std::string& key) const { return msgPadrao.Msg(key); }
    // Calls an application-server method and checks its result.
    platform::Variant Chama(const std::string& method, const platform::Variant::Array& args);

    bool first_activation() const { return primeira_ativacao_; }

  private:
    void build_datasets();
    void build_layout();
    void bind_handlers();
    void build_grid_family();
    bool primeira_ativacao_ = false;
    std::array<std::unique_ptr<GridMember>, 4> membros_;
};

// Module-level state, one copy per loaded module.
extern std::unique_ptr<TfrmAcertoFinal> frmAcertoFinal;
extern bool boStCriado;
extern std::string stNrQuebra, stNrSobra, stNrHorasExtras, stNrExtras;

}  // namespace acerto::settlement

// Exported entries (the host loads the module and calls these by name).
extern "C" {
void CriaAcertoFinal();
void IniProc();
void CriaRelAcerto();
void Initialize();
void Finalize();
const char* GetPackageInfoTable();
// The settlement screen the host renders and drives (null before the first CriaAcertoFinal).
acerto::platform::Form* AcertoFinalScreen();
}
