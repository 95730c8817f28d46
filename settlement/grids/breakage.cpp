// The breakage grid: its line total, checks and posting.
#include "family.h"

#include "acerto/host/consiste.h"

namespace acerto::settlement {

using host::Consiste::EmptyString;
using host::Consiste::RoundDec;

// Only the unit value is rounded, before the multiplication; an empty field counts as 0.
void TfrmAcertoFinal::cdsQuebraCalcFields(DataSet& ds) {
    ds.field("VrTotal").set_as_float(RoundDec(ds.field("VRACERTOQUEB").as_float(), 2) *
                                         ds.field("QTACERTOQUEB").as_float() +
                                     ds.field("VRACREACEQUE").as_float() - ds.field("VRDESCACEQUE").as_float());
}

// Leftovers: what was reserved and added, less what returned, at the unit value; not rounded.
void TfrmAcertoFinal::cdsSobraCalcFields(DataSet& ds) {
    ds.field("VRTOTAL").set_as_float((ds.field("QTRESACERSOB").as_float() + ds.field("QTEXTACERSOB").as_float() -
                                      ds.field("QTORCACERSOB").as_float()) *
                                     ds.field("VRACERTOSOBR").as_float());
}

// Overtime and extras: the unit value rounded to 2 places before the multiplication.
void TfrmAcertoFinal::cdsHorasExtrasCalcFields(DataSet& ds) {
    ds.field("VrTotal").set_as_float(ds.field("QTACERTOHREX").as_float() * RoundDec(ds.field("VRACERTOHREX").as_float(), 2));
}

void TfrmAcertoFinal::cdsExtrasCalcFields(DataSet& ds) {
    ds.field("VrTotal").set_as_float(ds.field("QTACERTOEXTR").as_float() * RoundDec(ds.field("VRACERTOEXTR").as_float(), 2));
}

namespace {
// Quantity and unit value: blank is an error only when required; 0 or less never passes.
void check_positive(TfrmAcertoFinal& f, const char* field, bool flag, const char* blank_key, const char* zero_key) {
    platform::Field& fld = f.cdsQuebra.field(field);
    const char* key = nullptr;
    if (EmptyString(fld.text())) {
        if (flag) key = blank_key;
    } else if (fld.as_float() <= 0) {
        key = zero_key;
    }
    if (!key) return;
    f.pgcPadrao.set_active_page(&f.tshPadrao);
    fld.focus_control();
    f.Falha(key);
}

void check_not_negative(TfrmAcertoFinal& f, const char* field, const char* key) {
    if (!f.cdsQuebra.editing()) return;
    platform::Field& fld = f.cdsQuebra.field(field);
    if (fld.is_null() || fld.as_float() >= 0) return;
    f.pgcPadrao.set_active_page(&f.tshPadrao);
    fld.focus_control();
    f.Falha(key);
}
}  // namespace

void TfrmAcertoFinal::Vd_QtdQuebra(bool flag) { check_positive(*this, "QTACERTOQUEB", flag, "QT_NULO", "QT_Zero"); }

void TfrmAcertoFinal::Vd_VrQuebra(bool flag) { check_positive(*this, "VRACERTOQUEB", flag, "VR_NULO", "VR_Zero"); }

void TfrmAcertoFinal::Vd_AcresQuebra() { check_not_negative(*this, "VRACREACEQUE", "Acre_Zero"); }

void TfrmAcertoFinal::Vd_DescQuebra() { check_not_negative(*this, "VRDESCACEQUE", "Desc_Zero"); }

// Leaving a column runs that column's check, while a line is being edited or inserted.
void TfrmAcertoFinal::dbgPadraoColExit(DBGrid& sender) {
    if (!cdsQuebra.editing()) return;
    platform::Field* left = sender.selected_field();
    if (!left) return;
    const std::string& n = left->name();
    if (n == "CDARVPROD")
        Vd_ProdQuebra(false);
    else if (n == "QTACERTOQUEB")
        Vd_QtdQuebra(false);
    else if (n == "VRACERTOQUEB")
        Vd_VrQuebra(false);
    else if (n == "VRACREACEQUE")
        Vd_AcresQuebra();
    else if (n == "VRDESCACEQUE")
        Vd_DescQuebra();
}

void TfrmAcertoFinal::cdsQuebraBeforePost(DataSet&) {
    Vd_PrcBaseQuebra(true);
    Vd_ProdQuebra(true);
    Vd_QtdQuebra(true);
    Vd_VrQuebra(true);
    Vd_AcresQuebra();
    Vd_DescQuebra();
    // The key: the filter's branch and number; breakage lines carry the sequence "00".
    cdsQuebra.field("CDFILIAL").set_as_string(medCdFilial.text());
    cdsQuebra.field("NRORCAEVENTO").set_as_string(edtNrOrcamento.text());
    cdsQuebra.field("NRSEQORCAEVE").set_as_string("00");
}

// Every posted line saves the whole settlement at once.
void TfrmAcertoFinal::cdsQuebraAfterPost(DataSet&) { sbtConfirmarClick(sbtConfirmar); }

void TfrmAcertoFinal::dbgPadraoKeyPress(Control& sender, char32_t& key) {
    TfrmPadraoGrid::dbgPadraoKeyPress(sender, key);
    TeclaNumerica(Quebra(), key);
}

}  // namespace acerto::settlement
