#include "acerto/report/rel_acerto.h"

#include <dlfcn.h>

#include <filesystem>

#include "acerto/host/report.h"
#include "acerto/host/services.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::report {

using settlement::frmAcertoFinal;

std::unique_ptr<TfrmRelAcerto> frmRelAcerto;

TfrmRelAcerto::TfrmRelAcerto() : TfrmDadosGerRel("frmRelAcerto", "QLM01201", "QLM012") {
    caption = "Acerto Final";
    rpddPadrao.OnBeforeGetQueryParams = [this](platform::Params& p) { rpddPadraoBeforeGetQueryParams(p); };
}

// The filter fields as they are now, not the loaded settlement: a number typed and not yet
// loaded is what the report receives. The sequence is always "00".
void TfrmRelAcerto::rpddPadraoBeforeGetQueryParams(platform::Params& params) {
    // 1. The branch.
    if (host::Qrddlgs::ExistParam(params, "P_CDFILIAL"))
        params.param_by_name("P_CDFILIAL").set_as_string(frmAcertoFinal ? frmAcertoFinal->medCdFilial.text() : "");
    // 2. The budget or order number.
    if (host::Qrddlgs::ExistParam(params, "P_NRORCAEVENTO"))
        params.param_by_name("P_NRORCAEVENTO")
            .set_as_string(frmAcertoFinal ? frmAcertoFinal->edtNrOrcamento.text() : "");
    // 3. The sequence.
    if (host::Qrddlgs::ExistParam(params, "P_NRSEQORCAEVE")) params.param_by_name("P_NRSEQORCAEVE").set_as_string("00");
}

namespace {

// The module's report definitions are installed beside the module itself.
void add_module_reports() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&CriaRelAcerto), &info) && info.dli_fname) {
        auto dir = std::filesystem::path(info.dli_fname).parent_path();
        host::report::add_search_dir(dir.string());
        host::report::add_search_dir((dir.parent_path() / "share" / "acerto" / "reports").string());
    }
}

// The cursor back to the default however the modal screen ends.
struct HourGlass {
    HourGlass() { host::Screen::SetCursor(host::Cursor::HourGlass); }
    ~HourGlass() {
        try {
            host::Screen::SetCursor(host::Cursor::Default);
        } catch (...) {
        }
    }
    HourGlass(const HourGlass&) = delete;
    HourGlass& operator=(const HourGlass&) = delete;
};

}  // namespace

}  // namespace acerto::report

void CriaRelAcerto() {
    using acerto::report::frmRelAcerto;
    acerto::report::add_module_reports();
    // 1. The hourglass; 4. back to the default when the screen closes (the guard's scope).
    acerto::report::HourGlass cursor;
    // 2. A new screen, owned by the module (the application) until the next one.
    frmRelAcerto = std::make_unique<acerto::report::TfrmRelAcerto>();
    // 3. Shown modally.
    frmRelAcerto->ShowModal();
}
