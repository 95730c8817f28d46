#include <gtest/gtest.h>

#include <cstdlib>

#include "acerto/host/base_forms.h"
#include "acerto/host/components.h"
#include "acerto/host/errors.h"
#include "acerto/host/server_queries.h"
#include "acerto/host/services.h"
#include "acerto/platform/client_dataset.h"
#include "scripted_ui.h"

using namespace acerto;
using namespace acerto::host;

namespace {
struct Installed {
    test::ScriptedUi ui;
    Services s;
    Installed() {
        s.ui = &ui;
        install(&s);
    }
    ~Installed() { install(nullptr); }
};
}  // namespace

TEST(HostConfig, FileThenEnvironment) {
    HostConfig c;
    c.apply_json(R"({"operator":"ANA","server":"10.0.0.5:9000","branch":"0001",
                     "product_mask":"99.99;0;_","product_levels":2,"display":"640x480",
                     "decimal":".","clock":"2026-12-07 00:00:00"})");
    EXPECT_EQ(c.operator_code, "ANA");
    EXPECT_EQ(c.server_host, "10.0.0.5");
    EXPECT_EQ(c.server_port, 9000);
    EXPECT_EQ(c.product_levels, 2);
    EXPECT_EQ(c.display_width, 640);
    EXPECT_EQ(c.decimal_separator, '.');
    ASSERT_TRUE(c.clock);
    setenv("ACERTO_OPERATOR", "BETO", 1);
    setenv("ACERTO_SERVER", "127.0.0.1:8300", 1);
    c.apply_environment();
    unsetenv("ACERTO_OPERATOR");
    unsetenv("ACERTO_SERVER");
    EXPECT_EQ(c.operator_code, "BETO");
    EXPECT_EQ(c.server_port, 8300);
    EXPECT_THROW(c.apply_json("{"), platform::Error);
    EXPECT_THROW(c.apply_json(R"({"display":"big"})"), platform::Error);
    EXPECT_THROW(c.apply_json(R"({"product_levels":"três"})"), platform::Error);
}

TEST(Vantiro, ReadsTheInstalledServices) {
    Installed in;
    in.s.config.operator_code = "ROBO";
    in.s.config.branch = "0002";
    in.s.config.clock = platform::DateTime::parse_iso("2026-12-07 13:45:00");
    EXPECT_EQ(Vantiro::Operador(), "ROBO");
    EXPECT_EQ(Vantiro::FiliProc(), "0002");
    EXPECT_EQ(Vantiro::DBPict(0), "9.99.999;0;_");
    EXPECT_EQ(Vantiro::DBPictObj(0).GetTtNiveis(), 3);
    EXPECT_EQ(Vantiro::Now().iso(), "2026-12-07 13:45:00");
    EXPECT_EQ(Vantiro::Date().iso(), "2026-12-07 00:00:00");
    Vantiro::LoadBPL("QLM00610", {});
    EXPECT_EQ(in.ui.screens.back(), "QLM00610");
    platform::Form main("frmPrincipal");
    Showavi::ActiveShowAvi(main, 1);
    EXPECT_EQ(in.ui.busy_depth, 1);
    Showavi::DeactiveShowAvi();
    EXPECT_EQ(in.ui.busy_depth, 0);
}

TEST(TBtnPesquisa, PicksARowOrSaysTheListIsEmpty) {
    Installed in;
    platform::Form f("f");
    auto& edt = f.make<platform::Edit>("medCdFilial", &f);
    auto& other = f.make<platform::Edit>("other", &f);
    auto& btn = f.make<TBtnPesquisa>("btnFilial", &f);
    platform::ClientDataSet cds("qryFilial");
    cds.add_field("CDFILIAL", platform::FieldType::String, 4);
    cds.create_dataset();
    platform::DataSource dts("dtsFilial", &cds);
    btn.Associate = &edt;
    btn.Title = "Filial";
    btn.DataSource = &dts;
    btn.EmptyError = "Não há filial cadastrada.";
    std::string picked;
    btn.OnAfterPesq = [&](TBtnPesquisa&) { picked = cds["CDFILIAL"].as_string(); };
    f.focus(&other);
    EXPECT_THROW(btn.click(), OperatorError);

    platform::DataPacket p({{"CDFILIAL", platform::FieldType::String, 4}});
    p.rows() = {{platform::Variant("0001")}, {platform::Variant("0002")}};
    cds.set_data(p);
    in.ui.picks.push_back(1);
    btn.click();
    EXPECT_EQ(picked, "0002");
    EXPECT_EQ(in.ui.titles.back(), "Filial");
    EXPECT_TRUE(edt.focused());
    // Closing the list without a choice changes nothing.
    picked.clear();
    btn.click();
    EXPECT_TRUE(picked.empty());
    // The before-search event may veto.
    btn.OnBeforePesq = [](TBtnPesquisa&, bool& go) { go = false; };
    in.ui.picks.push_back(0);
    btn.click();
    EXPECT_EQ(in.ui.picks.size(), 1u);
}

TEST(TfrmPadraoGrid, InheritedCommandsWorkOnTheGridDataset) {
    Installed in;
    TfrmPadraoGrid frm("frmTeste", "QLM99999");
    platform::ClientDataSet cds("cdsTeste");
    cds.add_field("A", platform::FieldType::String, 4);
    cds.create_dataset();
    frm.dtsPadrao.set_dataset(&cds);
    frm.Create();
    EXPECT_EQ(frm.lblCodTela.text(), "QLM99999");
    frm.sbtIncluir.click();
    EXPECT_EQ(cds.state(), platform::DataSetState::Insert);
    cds["A"].set_as_string("x");
    frm.mnuConfirmar.click();
    EXPECT_EQ(cds.record_count(), 1);
    in.ui.answers.push_back(ModalResult::No);
    frm.sbtExcluir.click();
    EXPECT_EQ(cds.record_count(), 1);
    EXPECT_EQ(in.ui.messages.back(), "Confirma exclusão?");
    in.ui.answers.push_back(ModalResult::Yes);
    frm.sbtExcluir.click();
    EXPECT_EQ(cds.record_count(), 0);
    frm.dtsPadrao.set_dataset(nullptr);
}

TEST(HostConfig, ServerAddressIsCheckedWhereverItComesFrom) {
    HostConfig c;
    c.set_server("[::1]:8212");
    EXPECT_EQ(c.server_host, "::1");
    EXPECT_EQ(c.server_port, 8212);
    EXPECT_EQ(c.server_address(), "[::1]:8212");
    c.set_server("servidor1");  // a name alone keeps the port
    EXPECT_EQ(c.server_host, "servidor1");
    EXPECT_EQ(c.server_port, 8212);
    EXPECT_EQ(c.server_address(), "servidor1:8212");
    c.set_server("HTTPS://servidor1:8443/");
    EXPECT_EQ(c.server_address(), "https://servidor1:8443");
    c.set_server("http://servidor1:8212");
    EXPECT_EQ(c.server_address(), "servidor1:8212");
    for (const char* bad : {"servidor1:0", "servidor1:70000", ":8211", "servidor1:porta", "servidor1:-1"})
        EXPECT_THROW(c.set_server(bad), platform::Error) << bad;
    EXPECT_EQ(c.server_host, "servidor1");  // a refused address changes nothing
    setenv("ACERTO_SERVER", "servidor2:", 1);
    EXPECT_THROW(c.apply_environment(), platform::Error);
    unsetenv("ACERTO_SERVER");
    EXPECT_THROW(c.apply_json(R"({"server":"servidor3:99999"})"), platform::Error);
}

// The reference reads go where the installed configuration says, read when they connect.
TEST(ServerQueries, ReadsGoToTheConfiguredServer) {
    Installed env;
    env.s.config.server_host = "127.0.0.1";
    env.s.config.server_port = 9;  // discard: nothing listens there
    env.s.database = nullptr;
    ServerQueries reference;
    EXPECT_THROW(reference.query("SELECT CDFILIAL FROM FILIAL", {}), ConnectionError);
    EXPECT_EQ(reference.connection().Port, 9);
    EXPECT_EQ(reference.connection().Host, "127.0.0.1");
}
