// The leftover grid: its line value and checks.
#include "family.h"

#include "acerto/host/consiste.h"

namespace acerto::settlement {

using host::Consiste::EmptyString;
using host::Consiste::GridText;

// What was reserved and added, less what returned, at the unit value; not rounded, and
// negative when more came back than went out.
void TfrmAcertoFinal::cdsSobraCalcFields(DataSet& ds) {
    ds.field("VRTOTAL").set_as_float((ds.field("QTRESACERSOB").as_float() + ds.field("QTEXTACERSOB").as_float() -
                                      ds.field("QTORCACERSOB").as_float()) *
                                     ds.field("VRACERTOSOBR").as_float());
}

// The three quantities as the grid holds them: all blank is "QT_NULO" when required; none may
// be below 0. The focus stays where it is.
void TfrmAcertoFinal::Vd_QtdSobra(bool flag) {
    static const char* const read_order[] = {"QTRESACERSOB", "QTEXTACERSOB", "QTORCACERSOB"};
    static const char* const write_order[] = {"QTRESACERSOB", "QTORCACERSOB", "QTEXTACERSOB"};
    static const char* const check_order[] = {"QTEXTACERSOB", "QTORCACERSOB", "QTRESACERSOB"};
    try {
        // 1, 2. The cells' texts reach the fields while a line is edited.
        std::string typed[3];
        for (int i = 0; i < 3; ++i) typed[i] = GridText(dbgSobra, read_order[i], false);
        if (cdsSobra.editing())
            for (const char* f : write_order)
                for (int i = 0; i < 3; ++i)
                    if (read_order[i] == f) TakeCellText(cdsSobra.field(f), typed[i]);
        // 3. All three blank.
        bool all_blank = true;
        for (const char* f : read_order) all_blank = all_blank && EmptyString(cdsSobra.field(f).text());
        if (all_blank) {
            if (flag) Falha("QT_NULO");
            return;
        }
        // 4. None below 0; a blank one counts as 0.
        for (const char* f : check_order)
            if (cdsSobra.field(f).as_float() < 0) Falha("QT_Zero");
    } catch (...) {
        pgcPadrao.set_active_page(&tshSobra);
        throw;
    }
}

// The unit value may be 0, not below.
void TfrmAcertoFinal::Vd_VrSobra(bool flag) {
    constexpr ValueCheck how{.below_zero_only = true,
                             .from_grid = true,
                             .only_while_editing = false,
                             .activates_tab = true,
                             .focuses = true};
    Vd_Valor(Sobra(), "VRACERTOSOBR", flag, "VR_NULO", "VR_Zero", how);
}

}  // namespace acerto::settlement
