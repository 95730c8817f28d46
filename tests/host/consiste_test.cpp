#include <gtest/gtest.h>

#include "acerto/host/consiste.h"
#include "acerto/host/errors.h"
#include "acerto/platform/client_dataset.h"
#include "acerto/platform/form.h"

using namespace acerto;
using namespace acerto::host;

TEST(Consiste, TextRoutines) {
    EXPECT_TRUE(Consiste::EmptyString(""));
    EXPECT_TRUE(Consiste::EmptyString("   "));
    EXPECT_FALSE(Consiste::EmptyString(" 1 "));
    EXPECT_EQ(Consiste::Ajusta("1", 4), "0001");
    EXPECT_EQ(Consiste::Ajusta(" 12 ", 10), "0000000012");
    EXPECT_EQ(Consiste::Ajusta("", 10), "");
    EXPECT_EQ(Consiste::Ajusta("   ", 2), "");
    EXPECT_EQ(Consiste::Ajusta("ABCDE", 4), "ABCDE");
    EXPECT_EQ(Consiste::Ajusta("0001", 4), "0001");
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(8.126, 2), 8.13);
    try {
        Consiste::MensErro("Filial não cadastrada.", true);
        FAIL() << "MensErro returned";
    } catch (const OperatorError& e) {
        EXPECT_STREQ(e.what(), "Filial não cadastrada.");
    }
}

TEST(Consiste, CheckResultServCarriesTheServersTextUnchanged) {
    ServerReply ok{true, platform::Variant("S"), {}};
    EXPECT_EQ(Consiste::CheckResultServ(ok, true, 0).text(), "S");
    ServerReply refused{false, {}, "N_PARAM_TPCTREC|05"};
    try {
        Consiste::CheckResultServ(refused, true, 0);
        FAIL() << "no failure";
    } catch (const ServerError& e) {
        EXPECT_STREQ(e.what(), "N_PARAM_TPCTREC|05");
    }
}

TEST(Consiste, GridTextAndSetChildEnabled) {
    platform::Form f("f");
    auto& pan = f.make<platform::Panel>("panFiltro", &f);
    auto& a = f.make<platform::Edit>("a", &pan);
    auto& inner = f.make<platform::Panel>("inner", &pan);
    auto& b = f.make<platform::Edit>("b", &inner);
    Consiste::SetChildEnabled(pan, false);
    EXPECT_FALSE(a.enabled());
    EXPECT_FALSE(inner.enabled());
    EXPECT_TRUE(b.enabled());  // only the direct children
    EXPECT_TRUE(pan.enabled());

    platform::ClientDataSet cds("cds");
    cds.add_field("VR", platform::FieldType::Float).edit_format = "0.00";
    cds.create_dataset();
    platform::DataSource dts("dts", &cds);
    auto& g = f.make<platform::DBGrid>("g", &f);
    g.bind(&dts);
    g.add_column("VR");
    g.press_key(U'7');
    EXPECT_EQ(Consiste::GridText(g, "VR", false), "7");
    g.commit_editor();
    EXPECT_EQ(Consiste::GridText(g, "VR", true), "7,00");
}
