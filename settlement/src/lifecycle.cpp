// Module entry and the screen's lifecycle; the catalogue's refusal translation; helpers.
#include <cstring>

#include "../grids/family.h"
#include "acerto/host/consiste.h"
#include "acerto/host/errors.h"
#include "acerto/host/services.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

using host::Consiste::CheckResultServ;
using host::Consiste::MensErro;

std::unique_ptr<TfrmAcertoFinal> frmAcertoFinal;
bool boStCriado = false;
std::string stNrQuebra, stNrSobra, stNrHorasExtras, stNrExtras;

namespace {
bool display_640x480() {
    return host::Screen::GetWidth() == 640 && host::Screen::GetHeight() == 480;
}
}  // namespace

// FormCreate: connect, create the empty tables, set masks, enter the filter panel.
void TfrmAcertoFinal::FormCreate() {
    // 1. The base screen's creation.
    TfrmPadraoGrid::FormCreate();
    // 2. Connect; the before-connect event sets host and port.
    netAcertoFinal.Open();
    // 3. The in-memory tables that start empty.
    for (ClientDataSet* ds : {&cdsDevol, &cdsNRetiEst, &cdsProdSemAlmox, &cdsProdIna}) ds->create_dataset();
    // 4. The product-code mask on the withdrawal lists.
    for (ClientDataSet* ds : {&cdsNRetiEst, &cdsProdSemAlmox, &cdsProdIna})
        ds->field("CDARVPROD").set_edit_mask(host::Vantiro::DBPict(0));
    // 5. First activation pending.
    primeira_ativacao_ = true;
    // 6. The filter panel's entry routine.
    panFiltroEnter(panFiltro);
    // 7. The overtime product-code mask.
    cdsHorasExtras.field("CDARVPROD").set_edit_mask(host::Vantiro::DBPict(0));
}

void TfrmAcertoFinal::netAcertoFinalBeforeConnect(host::TNetConnection& sender) {
    sender.Host = host::Vantiro::WebURL();
    sender.Port = host::Vantiro::WebPort();
}

void TfrmAcertoFinal::FormActivate() {
    // 1. Repaint; 2. maximized on a 640 x 480 display.
    changed(platform::Property::Layout);
    if (display_640x480()) set_window_state(platform::WindowState::Maximized);
    // 3. Once per screen: the product-code masks of the three grids and the enabling pass.
    if (primeira_ativacao_) {
        for (ClientDataSet* ds : {&cdsQuebra, &cdsSobra, &cdsExtras}) {
            ds->field("CDARVPROD").set_edit_mask(host::Vantiro::DBPict(0));
            ds->field("CDARVPROD").tag = 1;
        }
        Habilita(cdsQuebra);
        primeira_ativacao_ = false;
    }
}

void TfrmAcertoFinal::FormClose(platform::CloseAction& action) {
    boStCriado = false;
    netAcertoFinal.Close();
    TfrmPadraoGrid::FormClose(action);
}

// The refusal translation: a failure whose text names a catalogue key beginning "N_PARAM_"
// (optionally "|" and one argument) is shown as the catalogue's text; any other failure goes
// on unchanged.
void TfrmAcertoFinal::TraduzRecusa(const std::exception& failure) {
    // 1. The busy indicator off.
    host::Showavi::DeactiveShowAvi();
    std::string message = failure.what();
    // 2. Not a catalogue key: the failure continues as it is.
    if (message.find("N_PARAM_") == std::string::npos) throw;
    // 3-5. The key before the first "|", the argument after it.
    std::string text;
    auto bar = message.find('|');
    if (bar != std::string::npos) {
        text = Msg(message.substr(0, bar));
        auto at = text.find("%s");
        if (at != std::string::npos) text.replace(at, 2, message.substr(bar + 1));
    } else {
        text = Msg(message);
    }
    // 6. Shown as the error that ends the operation.
    MensErro(text, true);
}

void TfrmAcertoFinal::Falha(const std::string& key) {
    MensErro(Msg(key), true);
}

platform::Variant TfrmAcertoFinal::Chama(const std::string& method, const platform::Variant::Array& args) {
    return CheckResultServ(netAcertoFinal.Call(method, args), true, 0);
}

ClientDataSet& TfrmAcertoFinal::PageDataSet() {
    return *MembroAtivo().lines;
}

}  // namespace acerto::settlement

using namespace acerto::settlement;

extern "C" {

// Opens the settlement screen: one at a time; a later call shows the same one.
void CriaAcertoFinal() {
    // 1. The hourglass.
    acerto::host::Screen::SetCursor(acerto::host::Cursor::HourGlass);
    struct Restore {
        ~Restore() {
            try {
                acerto::host::Screen::SetCursor(acerto::host::Cursor::Default);
            } catch (...) {
            }
        }
    } restore;
    // 2. Create the screen unless one exists (a closed screen is released here).
    if (!boStCriado) {
        frmAcertoFinal.reset();
        auto screen = std::make_unique<TfrmAcertoFinal>();
        screen->Create();
        frmAcertoFinal = std::move(screen);
        boStCriado = true;
    }
    // 3. Maximized on a 640 x 480 display, normal otherwise.
    frmAcertoFinal->set_window_state(display_640x480() ? acerto::platform::WindowState::Maximized
                                                       : acerto::platform::WindowState::Normal);
    // 4. Shown (brought to the front); it activates.
    frmAcertoFinal->show();
    frmAcertoFinal->activate();
    frmAcertoFinal->focus_initial();
}

void IniProc() {
    CriaAcertoFinal();
}

void Initialize() {}

// Unloading the module releases the screen and clears the module-level texts.
void Finalize() {
    if (frmAcertoFinal && boStCriado) {
        try {
            frmAcertoFinal->netAcertoFinal.Close();
        } catch (...) {
        }
    }
    frmAcertoFinal.reset();
    boStCriado = false;
    stNrQuebra.clear();
    stNrSobra.clear();
    stNrHorasExtras.clear();
    stNrExtras.clear();
}

const char* GetPackageInfoTable() {
    return "QLM01200 Acerto Final";
}

acerto::platform::Form* AcertoFinalScreen() {
    return frmAcertoFinal.get();
}

}  // extern "C"
