// Withdraw extra products from stock and cancel the withdrawal: the server posts and reverses
// the stock; the screen lists the products it refused in the suite's product-list screen.
#include "acerto/host/consiste.h"
#include "acerto/host/services.h"
#include "acerto/host/ui.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

using platform::Variant;

void TfrmAcertoFinal::sbtRetProdExtClick(Control&) {
    // 1. The processing branch: the workstation's.
    const std::string processing = host::Vantiro::FiliProc();
    // 2.1 Nothing is withdrawn twice.
    Vd_Retirada();
    // 2.2 No extras lines: nothing to withdraw, nothing said.
    if (cdsExtras.is_empty()) return;
    // 2.3 to 2.7, busy until the command ends.
    host::Showavi::Busy busy(*this);
    Variant r = Chama("RetiraProdExtra", {cdsExtras.data(), Variant(medCdFilial.text()),
                                          Variant(host::Vantiro::Operador()), Variant(processing)});
    if (!r.is_array() || r.array().size() < 5)
        host::Consiste::MensErro("Resposta inesperada do servidor de aplicação para RetiraProdExtra.", true);
    const auto& a = r.array();
    cdsNRetiEst.set_data(a[0]);
    cdsProdSemAlmox.set_data(a[1]);
    const std::string withdrawal_type = a[2].is_null() ? std::string() : a[2].as_string();
    cdsProdIna.set_data(a[3]);
    if (!a[4].is_null()) cdsExtras.set_data(a[4]);
    // 2.5 No withdrawal type for budgets: nothing was withdrawn.
    if (withdrawal_type != "S") Falha("SEM_CDTIPORETI");
    // 2.6 Each group of refused products in its own list, in this order; else the notice.
    bool refused = false;
    for (auto [list, key] : {std::pair{&cdsProdIna, "PROD_INA_RETI"}, std::pair{&cdsProdSemAlmox, "SEM_ALMOX_RETI"},
                             std::pair{&cdsNRetiEst, "PROD_N_RETI"}}) {
        if (list->is_empty()) continue;
        refused = true;
        host::Vantiro::LoadBPL("QLM00610", {host::dataset_handle(*list), Variant(Msg(key))});
    }
    if (!refused) msgPadrao.ShowMsg("RETI_EST_SUCESSO", host::MsgType::Information, host::mbOK);
}

void TfrmAcertoFinal::sbtCancRetProdExtClick(Control&) {
    // 1. Only a recorded withdrawal is cancelled.
    cdsAcertoReti.set_data(Chama("GetAcertoReti", ChaveRetirada()));
    if (cdsAcertoReti.is_empty()) Falha("SEM_RETIRADA");
    {
        // 2 to 4: busy while the server restores the stock; the extras lines as it left them.
        host::Showavi::Busy busy(*this);
        cdsExtras.set_data(Chama("DeletaReti", ChaveRetirada()));
    }
    // 5. The notice.
    msgPadrao.ShowMsg("Canc_Reti_Sucesso", host::MsgType::Information, host::mbOK);
}

}  // namespace acerto::settlement
