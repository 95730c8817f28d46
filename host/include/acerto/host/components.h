#pragma once
// Components of the host framework: the search button, the read-only query over the host's
// database connection, and the number box.
#include <functional>
#include <string>

#include "acerto/platform/controls.h"
#include "acerto/platform/query.h"

namespace acerto::host {

// A flat search button: before its list opens OnBeforePesq may fill it (or veto with the
// flag); an empty list fails with EmptyError; after a pick (the picked row current) it runs
// OnAfterPesq and gives the focus to the associated box.
class TBtnPesquisa : public platform::Button {
  public:
    TBtnPesquisa(platform::Form& form, std::string name, platform::Control* parent);
    const char* kind() const override { return "searchbutton"; }

    platform::Control* Associate = nullptr;
    std::string Title;
    platform::DataSource* DataSource = nullptr;
    std::string FieldNome;
    std::string EmptyError;
    std::function<void(TBtnPesquisa&, bool& proceed)> OnBeforePesq;
    std::function<void(TBtnPesquisa&)> OnAfterPesq;

    void click() override;
};

// A read-only query on the host's database connection (taken when it first opens).
class TADOIBQuery : public platform::Query {
  public:
    explicit TADOIBQuery(std::string name) : platform::Query(std::move(name)) {}
    void open() override;
};

using TNumberEdit = platform::NumberEdit;

}  // namespace acerto::host
