// The overtime grid: its line total and its line check.
#include "family.h"

#include "acerto/host/consiste.h"

namespace acerto::settlement {

using host::Consiste::EmptyString;
using host::Consiste::RoundDec;

// The hour value rounded to 2 places before the multiplication; the product is not rounded.
void TfrmAcertoFinal::cdsHorasExtrasCalcFields(DataSet& ds) {
    ds.field("VrTotal").set_as_float(ds.field("QTACERTOHREX").as_float() *
                                     RoundDec(ds.field("VRACERTOHREX").as_float(), 2));
}

// 1. The labour item, then the hours, then the hour value, each focused when it fails.
void TfrmAcertoFinal::Vd_NomeExtra(bool flag) {
    if (!dtsHorasExtras.dataset() || !dtsHorasExtras.dataset()->editing()) return;
    if (EmptyString(cdsHorasExtras.field("CDARVPROD").as_string())) {
        pgcPadrao.set_active_page(&tshHorasExtras);
        cdsHorasExtras.field("CDARVPROD").focus_control();
        Falha("Prof_Inf");
    }
    constexpr ValueCheck how{.below_zero_only = false, .from_grid = false, .only_while_editing = false,
                             .activates_tab = true, .focuses = true};
    Vd_Valor(Horas(), "QTACERTOHREX", flag, "QT_NULO", "QT_Zero", how);
    Vd_Valor(Horas(), "VRACERTOHREX", flag, "VR_NULO", "VR_Zero", how);
}

}  // namespace acerto::settlement
