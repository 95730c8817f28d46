#pragma once
// The host framework's base screens: TfrmPadraoGrid (toolbar, page control with a grid, menus,
// the data source dtsPadrao, message holders) and TfrmDadosGerRel (report screens).
#include <functional>
#include <string>

#include "acerto/host/messages.h"
#include "acerto/platform/form.h"
#include "acerto/platform/query.h"

namespace acerto::host {

class TfrmPadraoGrid : public platform::Form {
  public:
    TfrmPadraoGrid(std::string name, std::string screen_code);
    ~TfrmPadraoGrid() override;

    // Runs FormCreate once the derived screen is fully built (overrides apply).
    void Create();

    platform::Label& lblCodTela;
    platform::Panel& panMenu;
    platform::Button& sbtIncluir;
    platform::Button& sbtAlterar;
    platform::Button& sbtExcluir;
    platform::Button& sbtProcurar;
    platform::Button& sbtVerificar;
    platform::Button& sbtConfirmar;
    platform::Button& sbtCancelar;
    platform::Button& sbtImprimir;
    platform::Button& sbtAjuda;
    platform::Button& sbtFechar;
    platform::Panel& panClient;  // holds the screen's own panels above the page control
    platform::PageControl& pgcPadrao;
    platform::TabSheet& tshPadrao;
    platform::DBGrid& dbgPadrao;
    platform::Panel& panNavigator;
    platform::Navigator& navPadrao;
    platform::MenuItem& mnuOperacao;
    platform::MenuItem& mnuIncluir;
    platform::MenuItem& mnuAlterar;
    platform::MenuItem& mnuExcluir;
    platform::MenuItem& mnuProcurar;
    platform::MenuItem& mnuVerificar;
    platform::MenuItem& mnuConfirmar;
    platform::MenuItem& mnuCancelar;
    platform::MenuItem& mnuManutencao;
    platform::MenuItem& mnuListagem;
    platform::MenuItem& mnuFechar;

    platform::DataSource dtsPadrao;
    TMessages msgPadrao;
    TMessages msgMensagensPadroes;  // "Canc" and "Excl", the standard questions

    // Inherited handlers; a screen overriding one runs the base's first where it must.
    virtual void FormCreate();
    virtual void FormActivate();
    virtual void FormClose(platform::CloseAction& action);
    virtual void sbtIncluirClick(platform::Control& sender);
    virtual void sbtAlterarClick(platform::Control& sender);
    virtual void sbtExcluirClick(platform::Control& sender);
    virtual void sbtProcurarClick(platform::Control& sender);
    virtual void sbtVerificarClick(platform::Control& sender);
    virtual void sbtConfirmarClick(platform::Control& sender);
    virtual void sbtCancelarClick(platform::Control& sender);
    virtual void sbtImprimirClick(platform::Control& sender);
    virtual void sbtFecharClick(platform::Control& sender);
    virtual void dtsPadraoStateChange(platform::DataSource& sender);
    virtual void dbgPadraoKeyPress(platform::Control& sender, char32_t& key);
    // The base grid key handler, shared by the screen's grids: Enter moves to the next
    // column the operator can type into.
    virtual void dbgPadraoKeyDown(platform::Control& sender, int& key, platform::ShiftState shift);

    // Re-attaches FormActivate as the activation handler.
    void AttachFormActivate();
};

// The report dialog: before the report engine reads its query's parameters, the screen sets
// their values.
class TReportDialog {
  public:
    std::function<void(platform::Params&)> OnBeforeGetQueryParams;
};

class TfrmDadosGerRel : public platform::Form {
  public:
    TfrmDadosGerRel(std::string name, std::string screen_code, std::string report_code);

    platform::Label& lblCodTela;
    platform::Panel& panMenu;
    platform::Label& lblCodRel;
    platform::Button& sbtImprimir;
    platform::Button& sbtFechar;
    TReportDialog rpddPadrao;
    std::string report_code;

    // Runs the report: the parameters its query declares, filled by the dialog's event.
    void Imprimir();
    void ShowModal();
};

}  // namespace acerto::host
