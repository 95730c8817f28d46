#include "acerto/host/components.h"

#include "acerto/host/consiste.h"
#include "acerto/host/services.h"

namespace acerto::host {

TBtnPesquisa::TBtnPesquisa(platform::Form& form, std::string name, platform::Control* parent)
    : platform::Button(form, std::move(name), parent) {
    flat = true;
    hint = "Pesquisar";
}

void TBtnPesquisa::click() {
    bool proceed = true;
    if (OnBeforePesq) OnBeforePesq(*this, proceed);
    if (!proceed || !DataSource || !DataSource->dataset()) return;
    platform::DataSet& ds = *DataSource->dataset();
    if (!ds.active()) ds.open();
    if (ds.is_empty()) Consiste::MensErro(EmptyError.empty() ? "Não há registros para pesquisar." : EmptyError, true);
    if (!Pesquisa::Pesquisar(*DataSource, Title, false, true)) return;
    if (OnAfterPesq) OnAfterPesq(*this);
    if (Associate && Associate->focusable() && Associate->usable() && !Associate->focused()) Associate->set_focus();
}

void TADOIBQuery::open() {
    if (!connection()) set_connection(services().database);
    platform::Query::open();
}

}  // namespace acerto::host
