// The breakage grid: its line total and checks.
#include "family.h"

#include "acerto/host/consiste.h"

namespace acerto::settlement {

using host::Consiste::RoundDec;

// Only the unit value is rounded, before the multiplication; an empty field counts as 0.
void TfrmAcertoFinal::cdsQuebraCalcFields(DataSet& ds) {
    ds.field("VrTotal").set_as_float(RoundDec(ds.field("VRACERTOQUEB").as_float(), 2) *
                                         ds.field("QTACERTOQUEB").as_float() +
                                     ds.field("VRACREACEQUE").as_float() - ds.field("VRDESCACEQUE").as_float());
}

namespace {
// Quantity and unit value read the field whatever the state: blank is an error only when
// required; 0 or less never passes. Surcharge and discount: below 0 fails, while editing.
constexpr ValueCheck kPositive{
    .below_zero_only = false, .from_grid = false, .only_while_editing = false, .activates_tab = true, .focuses = true};
constexpr ValueCheck kNotNegative{
    .below_zero_only = true, .from_grid = false, .only_while_editing = true, .activates_tab = true, .focuses = true};
}  // namespace

void TfrmAcertoFinal::Vd_QtdQuebra(bool flag) {
    Vd_Valor(Quebra(), "QTACERTOQUEB", flag, "QT_NULO", "QT_Zero", kPositive);
}

void TfrmAcertoFinal::Vd_VrQuebra(bool flag) {
    Vd_Valor(Quebra(), "VRACERTOQUEB", flag, "VR_NULO", "VR_Zero", kPositive);
}

void TfrmAcertoFinal::Vd_AcresQuebra() {
    Vd_Valor(Quebra(), "VRACREACEQUE", false, "", "Acre_Zero", kNotNegative);
}

void TfrmAcertoFinal::Vd_DescQuebra() {
    Vd_Valor(Quebra(), "VRDESCACEQUE", false, "", "Desc_Zero", kNotNegative);
}

void TfrmAcertoFinal::dbgPadraoKeyPress(Control& sender, char32_t& key) {
    TfrmPadraoGrid::dbgPadraoKeyPress(sender, key);
    TeclaNumerica(Quebra(), key);
}

}  // namespace acerto::settlement
