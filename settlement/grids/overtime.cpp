// The overtime grid: its line total and its line check.
#include "family.h"

#include "acerto/host/consiste.h"
#include "acerto/host/services.h"

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
    constexpr ValueCheck how{.below_zero_only = false,
                             .from_grid = false,
                             .only_while_editing = false,
                             .activates_tab = true,
                             .focuses = true};
    Vd_Valor(Horas(), "QTACERTOHREX", flag, "QT_NULO", "QT_Zero", how);
    Vd_Valor(Horas(), "VRACERTOHREX", flag, "VR_NULO", "VR_Zero", how);
}

// A labour code typed last and posted without leaving its column has not been looked up: the
// line would be saved with one item's code and another item's key and name. Such a line is
// looked up (and repriced) as leaving the column would have done.
void TfrmAcertoFinal::Vd_ProdHoraGravar() {
    platform::Field& code = cdsHorasExtras.field("CDARVPROD");
    if (!cdsHorasExtras.editing() || EmptyString(code.as_string())) return;
    qryVd_Produto.close();
    qryVd_Produto.param_by_name("P_CDARVPROD").set_as_string(code.as_string());
    qryVd_Produto.param_by_name("P_CDNVPRODUTO")
        .set_as_string(std::to_string(host::Vantiro::DBPictObj(0).GetTtNiveis()));
    qryVd_Produto.open();
    if (!qryVd_Produto.is_empty() &&
        qryVd_Produto.field("CDPRODUTO").as_string() == cdsHorasExtras.field("CDPRODUTO").as_string())
        return;
    Vd_ProdHora(true);
}

}  // namespace acerto::settlement
