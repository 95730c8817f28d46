// Loading a budget: validating the filter, fetching the budget and its settlement, arranging
// the screen for it, and offering to import recorded returns.
#include "acerto/host/consiste.h"
#include "acerto/host/errors.h"
#include "acerto/host/services.h"
#include "acerto/platform/format.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

using platform::Variant;

void TfrmAcertoFinal::panFiltroExit(Control&) {
    // 1. Branch and number validated again, both required.
    Vd_Filial(true);
    Vd_Orcamento(true);
    // 2. The budget and its settlement.
    sbtVerificarClick(sbtVerificar);
    // 3. Returns recorded and no settlement yet: offer to import them.
    try {
        if (cdsAcerto.is_empty() && cdsDevol.active() && !cdsDevol.is_empty()) {
            std::string key =
                cdsVdOrcaEven.field("IDTPORCAEVEN").as_string() == "E" ? "Exis_Devol_Enco" : "Exis_Devol_Orca";
            if (msgPadrao.ShowMsg(key, host::MsgType::Information, host::mbYes | host::mbNo) ==
                host::ModalResult::Yes) {
                Variant r = Chama("SetImportaDevolucao", {Variant(medCdFilial.text()), Variant(edtNrOrcamento.text()),
                                                          Variant(host::Vantiro::Operador())});
                const auto& a = r.array();
                // Loaded as saved data: the server stored the imported settlement itself.
                if (a.size() > 0 && !a[0].is_null()) cdsQuebra.set_data(a[0]);
                if (a.size() > 1 && !a[1].is_null()) cdsSobra.set_data(a[1]);
                if (a.size() > 2 && !a[2].is_null()) cdsAcerto.set_data(a[2]);
            }
        }
    } catch (const std::exception& e) {
        TraduzRecusa(e);
    }
    // 4. The busy indicator off.
    host::Showavi::DeactiveShowAvi();
}

void TfrmAcertoFinal::sbtVerificarClick(Control&) {
    // 1. The busy indicator on; off again whatever happens.
    host::Showavi::Busy busy(*this);
    const Variant::Array key{Variant(medCdFilial.text()), Variant(edtNrOrcamento.text())};
    // 2, 3. The budget and its display texts.
    cdsOrcamento.set_data(Chama("GetOrcaEvento", key));
    cdsDados.set_data(Chama("GetDados", key));
    // 4. The settlement, its lines, the returns and the extras parameters.
    Variant r = Chama("GetOrcamento", key);
    if (!r.is_array() || r.array().size() < 7)
        host::Consiste::MensErro("Resposta inesperada do servidor de aplicação para GetOrcamento.", true);
    const auto& a = r.array();
    // The Extras totals keep what they show when an operand is blank: what they showed for the
    // budget loaded before is not this budget's.
    for (NumberEdit* total : {&nedVrTot, &nedTotPess, &nedVrTotProd}) total->set_text("");
    cdsAcerto.set_data(a[0]);
    cdsQuebra.set_data(a[1]);
    cdsSobra.set_data(a[2]);
    cdsHorasExtras.set_data(a[3]);
    cdsExtras.set_data(a[4]);
    cdsParam.set_data(a[6]);
    if (!a[5].is_null()) cdsDevol.set_data(a[5]);
    std::string charging = cdsParam.field("IDTPCOBRVREXTRA").as_string();
    // 5. The stock-withdrawal buttons exist for per-product charging only.
    bool per_product = charging == "P" || charging == "D";
    sbtRetProdExt.set_visible(per_product);
    sbtCancRetProdExt.set_visible(per_product);
    // 6. The Extras tab arranged by the charging configuration.
    if (charging == "P") {
        PanPessoa.set_visible(false);
        PanPessoa.set_align(platform::Align::None);
        panExtras.set_align(platform::Align::Client);
        panExtras.set_visible(true);
        rbtPessoa.set_visible(false);
        rbtProduto.set_visible(false);
        lblPorProduto.set_left(6);
    } else if (charging == "S") {
        PanPessoa.set_align(platform::Align::Client);
        PanPessoa.set_visible(true);
        panExtras.set_visible(false);
        panExtras.set_align(platform::Align::None);
        rbtPessoa.set_visible(false);
        rbtProduto.set_visible(false);
        lblPorPessoa.set_left(6);
    } else {
        PanPessoa.set_align(platform::Align::Top);
        PanPessoa.set_height(82);
        PanPessoa.set_visible(true);
        panExtras.set_align(platform::Align::Client);
        panExtras.set_visible(true);
        rbtPessoa.set_visible(true);
        rbtProduto.set_visible(true);
        lblPorPessoa.set_left(30);
        lblPorProduto.set_left(30);
    }
    // 7. The extras mode from the header, without running the buttons' click handlers.
    {
        auto pessoa = std::move(rbtPessoa.on_click);
        auto produto = std::move(rbtProduto.on_click);
        rbtPessoa.on_click = nullptr;
        rbtProduto.on_click = nullptr;
        struct Reattach {
            RadioButton& a;
            RadioButton& b;
            std::function<void(Control&)> fa, fb;
            ~Reattach() {
                a.on_click = std::move(fa);
                b.on_click = std::move(fb);
            }
        } reattach{rbtPessoa, rbtProduto, std::move(pessoa), std::move(produto)};
        bool by_person = cdsAcerto.field("IDTPVREXTRA").as_string() == "S";
        rbtPessoa.set_checked(by_person);
        rbtProduto.set_checked(!by_person);
    }
    // 8. The client's name: the budget's own when IDSITCLIOREV is "N".
    dbeCliente.bind(&dtsOrcamento,
                    cdsOrcamento.field("IDSITCLIOREV").as_string() == "N" ? "NMCLIEORCEVE" : "NMFANTCLIE");
    // 9. The settlement's date and time, or the moment of loading for a new one; a time of
    //    exactly midnight is written as an empty text.
    platform::DateTime when = cdsAcerto.field("DTACERTOOREV").as_date_time();
    if (when.is_zero()) when = host::Vantiro::Now();
    lblDataAcerto.set_text(platform::date_to_str(when));
    lblHrAcerto.set_text(when.time_of_day() == 0 ? std::string() : platform::time_to_str(when));
    // 10. The financial situation.
    MostraSituacao();
}

void TfrmAcertoFinal::cdsOrcamentoAfterOpen(DataSet&) {
    sbtImprimir.set_enabled(!cdsOrcamento.is_empty());
    mnuListagem.set_enabled(sbtImprimir.enabled());
}

void TfrmAcertoFinal::cdsAcertoAfterOpen(DataSet&) {
    sbtCanAcerto.set_enabled(!cdsOrcamento.is_empty() && cdsAcerto.field("IDSITUACERTO").as_string() != "P" &&
                             !cdsAcerto.is_empty());
    mnuCanAcerto.set_enabled(sbtCanAcerto.enabled());
    Calcula_Campos();
}

void TfrmAcertoFinal::cdsAcertoAfterScroll(DataSet&) {
    Calcula_Campos();
}

}  // namespace acerto::settlement
