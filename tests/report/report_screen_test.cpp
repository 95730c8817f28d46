// The report screen within the module: CriaRelAcerto's modal screen and wait cursor, and the
// parameters its handler sets from the settlement screen's filter fields as typed.
#include <gtest/gtest.h>

#include "acerto/report/rel_acerto.h"
#include "acerto/settlement/acerto_final.h"
#include "scripted_ui.h"
#include "test_host.h"

using namespace acerto;

namespace {

// Records the cursor while the report screen is shown, and what each report run received.
class ReportUi : public test::ScriptedUi {
  public:
    std::vector<host::Cursor> cursor_while_modal;
    bool fail_modal = false;
    std::vector<std::string> declared{"P_CDFILIAL", "P_NRORCAEVENTO", "P_NRSEQORCAEVE"};
    std::vector<std::pair<std::string, platform::Variant>> received;

    void show_modal(platform::Form& f) override {
        ScriptedUi::show_modal(f);
        cursor_while_modal.push_back(cursor);
        if (fail_modal) throw std::runtime_error("a tela falhou");
    }
    std::vector<std::string> report_parameters(const std::string&) override { return declared; }
    void run_report(const std::string&, platform::Params& params) override {
        received.clear();
        for (std::size_t i = 0; i < params.size(); ++i) received.emplace_back(params[i].name(), params[i].value());
    }
};

class ReportScreen : public ::testing::Test {
  protected:
    ReportUi ui;
    test::TestHost host{ACERTO_SCENARIO_FIXTURES "/buffet.json", ui};
    void SetUp() override { CriaAcertoFinal(); }
    void TearDown() override {
        report::frmRelAcerto.reset();
        if (settlement::frmAcertoFinal) settlement::frmAcertoFinal->close();
        settlement::frmAcertoFinal.reset();
    }
    platform::Variant value(const std::string& name) {
        for (auto& [n, v] : ui.received)
            if (n == name) return v;
        ADD_FAILURE() << name << " was not declared";
        return {};
    }
    void run() { report::frmRelAcerto->Imprimir(); }
};

}  // namespace

TEST_F(ReportScreen, CriaRelAcertoShowsTheScreenModallyUnderTheWaitCursor) {
    CriaRelAcerto();
    ASSERT_EQ(ui.cursor_while_modal.size(), 1u);
    EXPECT_EQ(ui.cursor_while_modal[0], host::Cursor::HourGlass);
    EXPECT_EQ(ui.cursor, host::Cursor::Default);
    ASSERT_TRUE(report::frmRelAcerto);
    EXPECT_EQ(ui.screens.back(), "frmRelAcerto");
    EXPECT_EQ(report::frmRelAcerto->caption, "Acerto Final");
    EXPECT_EQ(report::frmRelAcerto->lblCodTela.text(), "QLM01201");
    EXPECT_EQ(report::frmRelAcerto->lblCodRel.text(), "QLM012");
    // A second call makes a new screen.
    auto* first = report::frmRelAcerto.get();
    CriaRelAcerto();
    EXPECT_EQ(ui.cursor_while_modal.size(), 2u);
    EXPECT_NE(report::frmRelAcerto.get(), first);
}

TEST_F(ReportScreen, TheCursorComesBackEvenWhenTheScreenFails) {
    ui.fail_modal = true;
    EXPECT_THROW(CriaRelAcerto(), std::runtime_error);
    EXPECT_EQ(ui.cursor, host::Cursor::Default);
}

TEST_F(ReportScreen, PrintFromTheSettlementScreenOpensTheReportScreen) {
    settlement::frmAcertoFinal->sbtImprimirClick(settlement::frmAcertoFinal->sbtImprimir);
    EXPECT_EQ(ui.screens.back(), "frmRelAcerto");
    EXPECT_EQ(ui.cursor_while_modal.back(), host::Cursor::HourGlass);
}

TEST_F(ReportScreen, TheParametersAreTheFilterFieldsAsTypedAndSequence00) {
    // Typed and never loaded: the report receives what the boxes hold.
    settlement::frmAcertoFinal->medCdFilial.set_text("0002");
    settlement::frmAcertoFinal->edtNrOrcamento.set_text("12345");
    CriaRelAcerto();
    run();
    EXPECT_EQ(value("P_CDFILIAL"), platform::Variant("0002"));
    EXPECT_EQ(value("P_NRORCAEVENTO"), platform::Variant("12345"));
    EXPECT_EQ(value("P_NRSEQORCAEVE"), platform::Variant("00"));
    // Changed after the screen opened: the next run reads the boxes again.
    settlement::frmAcertoFinal->edtNrOrcamento.set_text("7");
    run();
    EXPECT_EQ(value("P_NRORCAEVENTO"), platform::Variant("7"));
}

TEST_F(ReportScreen, EmptyFilterFieldsGiveEmptyTexts) {
    settlement::frmAcertoFinal->medCdFilial.set_text("");
    settlement::frmAcertoFinal->edtNrOrcamento.set_text("");
    CriaRelAcerto();
    run();
    EXPECT_EQ(value("P_CDFILIAL"), platform::Variant(""));
    EXPECT_EQ(value("P_NRORCAEVENTO"), platform::Variant(""));
    EXPECT_EQ(value("P_NRSEQORCAEVE"), platform::Variant("00"));
}

TEST_F(ReportScreen, OnlyTheParametersTheQueryDeclaresAreSet) {
    settlement::frmAcertoFinal->edtNrOrcamento.set_text("70");
    ui.declared = {"P_OUTRO", "P_NRORCAEVENTO"};
    CriaRelAcerto();
    run();
    ASSERT_EQ(ui.received.size(), 2u);
    EXPECT_TRUE(value("P_OUTRO").is_null());
    EXPECT_EQ(value("P_NRORCAEVENTO"), platform::Variant("70"));
    ui.declared = {"P_OUTRO"};
    run();
    ASSERT_EQ(ui.received.size(), 1u);
    EXPECT_TRUE(value("P_OUTRO").is_null());
}
