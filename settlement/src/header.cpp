// The settlement header: its lock, its validation and the key and defaults it is posted with.
#include "../grids/family.h"
#include "acerto/host/consiste.h"
#include "acerto/host/services.h"
#include "acerto/platform/format.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

using host::Consiste::EmptyString;

// The settlement lock: nothing of a settlement whose stock or finance is updated changes.
void TfrmAcertoFinal::cdsQuebraBeforeEdit(DataSet&) {
    std::string situation = cdsAcerto.field("IDSITUACERTO").as_string();
    if (situation == "T") Falha("ACERTO_ATU");
    if (situation == "E") Falha("EST_ATU");
    if (situation == "F") Falha("FIN_ATU");
}

// The active tab's lines follow the header into editing.
void TfrmAcertoFinal::cdsAcertoAfterEdit(DataSet&) {
    GridMember& m = MembroAtivo();
    // An empty dataset put into edit inserts, and its own before-insert handling runs.
    if (m.follows_header() && m.lines->state() == platform::DataSetState::Browse) m.lines->edit();
}

void TfrmAcertoFinal::dtsAcertoStateChange(DataSource&) {
    // 1. The filter panel is locked while the header is edited.
    host::Consiste::SetChildEnabled(panFiltro, !cdsAcerto.editing());
    // 2. The enabling pass for the active tab.
    Habilita(PageDataSet());
}

void TfrmAcertoFinal::Vd_CampAcerto() {
    if (cdsParam.field("IDTPCOBRVREXTRA").as_string() != "S") return;
    bool guests = EmptyString(dbeQtExPess.text());
    bool value = EmptyString(dbeVrPessoa.text());
    // 1. Extra guests missing while a value per person is given.
    if (guests && !value) {
        pgcPadrao.set_active_page(&tshExtras);
        dbeQtExPess.set_focus();
        Falha("Quant_Inf");
    }
    // 2. A value per person missing while extra guests are given.
    if (!guests && value) {
        pgcPadrao.set_active_page(&tshExtras);
        dbeVrPessoa.set_focus();
        Falha("Pessoa_Inf");
    }
}

void TfrmAcertoFinal::cdsAcertoBeforePost(DataSet&) {
    // 1. The per-person pair.
    Vd_CampAcerto();
    // 2-4. The key: the filter's branch and number, the budget's sequence.
    cdsAcerto.field("CDFILIAL").set_as_string(medCdFilial.text());
    cdsAcerto.field("NRORCAEVENTO").set_as_string(edtNrOrcamento.text());
    cdsAcerto.field("NRSEQORCAEVE").set_value(cdsOrcamento.field("NRSEQORCAEVE").value());
    // 5. The date and time shown since the budget was loaded (midnight when no time is shown).
    std::string when = lblDataAcerto.text();
    if (!lblHrAcerto.text().empty()) when += " " + lblHrAcerto.text();
    cdsAcerto.field("DTACERTOOREV").set_as_date_time(platform::str_to_date_time(when));
    // 6. The operator.
    cdsAcerto.field("CDOPERADOR").set_as_string(host::Vantiro::Operador());
    // 7. The way extras are charged.
    cdsAcerto.field("IDTPVREXTRA").set_as_string(rbtProduto.checked() ? "P" : "S");
    // 8. Empty per-person values become 0.
    for (const char* f : {"QTCONVEXTRAACER", "VRCONVEXTRAACER"})
        if (cdsAcerto.field(f).is_null()) cdsAcerto.field(f).set_as_float(0);
}

void TfrmAcertoFinal::cdsAcertoAfterPost(DataSet&) {
    Calcula_Campos();
    Habilita(cdsExtras);
}

}  // namespace acerto::settlement
