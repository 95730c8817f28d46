// Delete: the current line of the active tab; the last line of a settlement takes the header
// with it, in the same server call.
#include "../grids/family.h"
#include "acerto/host/consiste.h"
#include "acerto/host/services.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

using platform::Variant;

void TfrmAcertoFinal::sbtExcluirClick(Control&) {
    GridMember& m = MembroAtivo();
    ClientDataSet& D = *m.lines;
    const int tab = m.number;
    // 1. Extras: nothing goes while a stock withdrawal exists.
    if (m.insert_guard == GridMember::InsertGuard::WithdrawalCheck) Vd_Retirada();
    bool others_empty = true;
    for (ClientDataSet* o : {&cdsQuebra, &cdsSobra, &cdsHorasExtras, &cdsExtras})
        if (o != &D && o->active() && !o->is_empty()) others_empty = false;
    auto send = [&](int code, bool with_header) {
        Variant::Array args{Variant(std::to_string(code))};
        args.push_back(with_header ? cdsAcerto.delta() : Variant());
        for (int t = 1; t <= 4; ++t) args.push_back(t == tab ? D.delta() : Variant());
        Chama("SetDeletar", args);
    };
    if (D.record_count() <= 1 && others_empty) {
        // 2. The last line of the settlement: the settlement goes too.
        if (msgPadrao.ShowMsg("Del_Acerto", host::MsgType::Confirmation, host::mbYes | host::mbNo) !=
            host::ModalResult::Yes)
            return;
        D.remove();
        cdsAcerto.remove();
        {
            host::Showavi::Busy busy(*this);
            if (D.change_count() > 0 && cdsAcerto.change_count() > 0) {
                send(2 * tab - 1, true);
                D.merge_change_log();
                cdsAcerto.merge_change_log();
            }
        }
        pgcPadrao.set_active_page(&tshPadrao);
    } else {
        // 3. One line among others.
        if (msgMensagensPadroes.ShowMsg("Excl", host::MsgType::Confirmation, host::mbYes | host::mbNo) !=
            host::ModalResult::Yes)
            return;
        D.remove();
        {
            host::Showavi::Busy busy(*this);
            if (D.change_count() > 0) {
                send(2 * tab, false);
                D.merge_change_log();
            }
        }
    }
    // 4. No error: the enabling pass.
    Habilita(PageDataSet());
}

}  // namespace acerto::settlement
