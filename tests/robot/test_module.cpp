// A small screen module for the robot's own tests: it shows a notice and opens the suite's
// product list, which the settlement screen does only in its financial and stock commands.
#include <memory>

#include "acerto/host/base_forms.h"
#include "acerto/host/services.h"
#include "acerto/platform/client_dataset.h"

using namespace acerto;

namespace {

class TfrmTeste : public host::TfrmPadraoGrid {
  public:
    TfrmTeste()
        : host::TfrmPadraoGrid("frmTeste", "TESTE"),
          btnAviso(make<platform::Button>("btnAviso", &panMenu)),
          btnLista(make<platform::Button>("btnLista", &panMenu)),
          btnAmbos(make<platform::Button>("btnAmbos", &panMenu)) {
        caption = "Teste do robô";
        msgPadrao.add("AVISO|Operação realizada com sucesso.");
        cdsLista.add_field("CDARVPROD", platform::FieldType::String, 20);
        cdsLista.create_dataset();
        for (const char* code : {"101001", "101002", "102001"}) {
            cdsLista.append();
            cdsLista["CDARVPROD"].set_as_string(code);
            cdsLista.post();
        }
        register_dataset(cdsLista);
        btnAviso.on_click = [this](platform::Control&) {
            msgPadrao.ShowMsg("AVISO", host::MsgType::Information, host::mbOK);
        };
        btnLista.on_click = [this](platform::Control&) {
            host::Vantiro::LoadBPL("QLM00610",
                                   {host::dataset_handle(cdsLista), platform::Variant("Produtos recusados.")});
        };
        // The list, then the notice: two dialogs of one action, in that order.
        btnAmbos.on_click = [this](platform::Control& c) {
            btnLista.on_click(c);
            btnAviso.on_click(c);
        };
        initial_focus = &dbgPadrao;
    }
    platform::Button& btnAviso;
    platform::Button& btnLista;
    platform::Button& btnAmbos;
    platform::ClientDataSet cdsLista{"cdsLista"};
};

std::unique_ptr<TfrmTeste> screen;

}  // namespace

extern "C" {
void CriaAcertoFinal() {
    if (!screen) {
        screen = std::make_unique<TfrmTeste>();
        screen->Create();
    }
    screen->show();
}
void Initialize() {}
void Finalize() {
    screen.reset();
}
platform::Form* AcertoFinalScreen() {
    return screen.get();
}
}
