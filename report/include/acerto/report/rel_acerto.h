#pragma once
// TfrmRelAcerto: the settlement report's screen. It prints report QLM012 with the branch and
// number as typed in the settlement screen's filter panel.
#include <memory>

#include "acerto/host/base_forms.h"

namespace acerto::report {

class TfrmRelAcerto : public host::TfrmDadosGerRel {
  public:
    TfrmRelAcerto();

    // Sets the parameters the report's query declares, and only those.
    void rpddPadraoBeforeGetQueryParams(platform::Params& params);
};

// The screen last created by CriaRelAcerto.
extern std::unique_ptr<TfrmRelAcerto> frmRelAcerto;

}  // namespace acerto::report
