// The extras: the two ways of charging, the per-person boxes, the extra product lines with
// their checks and total, and the withdrawal check that guards them.
#include "family.h"

#include "acerto/host/consiste.h"
#include "acerto/platform/format.h"

namespace acerto::settlement {

using host::Consiste::RoundDec;
using platform::DataSetState;

// 8. The unit value rounded to 2 places before the multiplication (the products total of the
//    tab counts it unrounded).
void TfrmAcertoFinal::cdsExtrasCalcFields(DataSet& ds) {
    ds.field("VrTotal").set_as_float(ds.field("QTACERTOEXTR").as_float() *
                                     RoundDec(ds.field("VRACERTOEXTR").as_float(), 2));
}

namespace {
// 5. The cell's text is the value checked; the active page stays as it is.
constexpr ValueCheck kExtraValue{
    .below_zero_only = false, .from_grid = true, .only_while_editing = false, .activates_tab = false, .focuses = true};
}  // namespace

void TfrmAcertoFinal::Vd_QtdExtra(bool flag) {
    Vd_Valor(Extras(), "QTACERTOEXTR", flag, "QT_NULO", "QT_Zero", kExtraValue);
}

void TfrmAcertoFinal::Vd_VrExtra(bool flag) {
    Vd_Valor(Extras(), "VRACERTOEXTR", flag, "VR_NULO", "VR_Zero", kExtraValue);
}

// 9. A line withdrawn from stock reads "Retirado" in its stock column.
void TfrmAcertoFinal::cdsExtrasNRLANCESTQGetText(platform::Field& sender, std::string& text, bool) {
    if (!host::Consiste::EmptyString(sender.as_string())) text = Msg("RETIRADO");
}

// The withdrawal check: a settlement whose extras were withdrawn from stock keeps them as
// they are until the withdrawal is cancelled.
platform::Variant::Array TfrmAcertoFinal::ChaveRetirada() {
    return {platform::Variant(medCdFilial.text()), cdsAcerto.field("NRORCAEVENTO").value(),
            cdsAcerto.field("NRSEQORCAEVE").value()};
}

void TfrmAcertoFinal::Vd_Retirada() {
    cdsAcertoReti.set_data(Chama("GetAcertoReti", ChaveRetirada()));
    if (!cdsAcertoReti.is_empty()) Falha("EXISTE_RETIRADA");
}

// 2. The two ways of charging lie on different panels: the screen keeps them exclusive. A
//    header that may not change (settlement lock) keeps the choice it had.
void TfrmAcertoFinal::EscolheCobranca(RadioButton& clicked, RadioButton& other) {
    try {
        if (!cdsAcerto.editing()) cdsAcerto.edit();
    } catch (...) {
        // The click had just checked this button beside the other: it is undone.
        if (clicked.checked() && other.checked()) clicked.set_checked(false);
        throw;
    }
    if (clicked.checked() && other.checked()) other.set_checked(false);
}

void TfrmAcertoFinal::rbtPessoaClick(Control&) {
    EscolheCobranca(rbtPessoa, rbtProduto);
}

void TfrmAcertoFinal::rbtProdutoClick(Control&) {
    EscolheCobranca(rbtProduto, rbtPessoa);
}

namespace {
// "e" and "E" are refused while the breakage source is open, as in the grids.
bool exponent_refused(const DataSource& padrao, char32_t key) {
    DataSetState s = padrao.state();
    return (key == U'e' || key == U'E') &&
           (s == DataSetState::Browse || s == DataSetState::Edit || s == DataSetState::Insert);
}
}  // namespace

// 3.1 The number of extra persons is a whole number.
void TfrmAcertoFinal::dbeQtExPessKeyPress(Control&, char32_t& key) {
    const char32_t sep = static_cast<char32_t>(platform::format_settings().decimal_separator);
    if (exponent_refused(dtsPadrao, key) || key == U'+' || key == U'-' || key == sep) key = 0;
}

// 3.2 The value per person: one decimal separator, after a digit; no value beyond 999999999.
void TfrmAcertoFinal::dbeVrPessoaKeyPress(Control&, char32_t& key) {
    if (exponent_refused(dtsPadrao, key) || key == U'+' || key == U'-') key = 0;
    if (key != 0) Vd_EditVirgula(dbeVrPessoa.text(), key);
}

}  // namespace acerto::settlement
