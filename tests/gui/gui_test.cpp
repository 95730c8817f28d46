// The desktop host, offscreen: the table adapter under Qt's model tester, and an operator's
// keystrokes through real Qt key events.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "acerto/host/module_loader.h"
#include "acerto/host/services.h"
#include "acerto/platform/client_dataset.h"
#include "form_view.h"
#include "main_window.h"
#include "modal_responder.h"
#include "qt_ui.h"
#include "table_model.h"
#include "test_host.h"

using namespace acerto;

namespace {

QApplication& app() {
    return *static_cast<QApplication*>(QCoreApplication::instance());
}

// Answers the next message box that opens with `button`.
void answer_next_box(QMessageBox::StandardButton button) {
    test::ModalResponder::instance().answer_next_box(button);
}

class Gui : public ::testing::Test {
  protected:
    void SetUp() override {
        app();
        env = std::make_unique<test::TestHost>(ACERTO_SCENARIO_FIXTURES "/buffet.json", ui);
        module().load(ACERTO_MODULE_PATH);
        module().Initialize();
        window = std::make_unique<gui::MainWindow>(module(), ui);
        window->show();
        window->open_acerto_final();
        view = window->view();
        ASSERT_NE(view, nullptr);
        QApplication::processEvents();
    }
    void TearDown() override {
        EXPECT_EQ(test::ModalResponder::instance().take_unused(), 0u)
            << "an answer was queued for a box that never opened";
        window.reset();
        module().Finalize();
        env.reset();
    }
    static host::ScreenModule& module() {
        static host::ScreenModule m;
        return m;
    }
    template <class T>
    T* widget(const char* name) {
        return dynamic_cast<T*>(view->widget_for(&view->form().get(name)));
    }

    gui::QtUi ui;
    std::unique_ptr<test::TestHost> env;
    std::unique_ptr<gui::MainWindow> window;
    gui::FormView* view = nullptr;
};

}  // namespace

TEST(GridModel, PassesTheModelTester) {
    app();
    platform::Form form("f");
    platform::ClientDataSet cds("cds");
    cds.add_field("A", platform::FieldType::String, 10);
    cds.add_field("V", platform::FieldType::Float).display_format = "#,##0.00";
    cds.create_dataset();
    platform::DataSource dts("dts", &cds);
    auto& grid = form.make<platform::DBGrid>("grid", &form);
    grid.bind(&dts);
    grid.add_column("A", 80);
    grid.add_column("V", 60).alignment = platform::Alignment::Right;
    gui::GridModel model(grid);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    for (int i = 0; i < 50; ++i) {
        cds.append();
        cds["A"].set_as_string("L" + std::to_string(i));
        cds["V"].set_as_float(i * 1.5);
        cds.post();
    }
    EXPECT_EQ(model.rowCount(), 50);
    EXPECT_EQ(model.data(model.index(3, 1)).toString(), "4,50");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "V");
    cds.first();
    cds.remove();
    EXPECT_EQ(model.rowCount(), 49);
    cds.close();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(Gui, TypingABranchAndANumberLoadsTheBudgetsLines) {
    auto* filial = widget<QLineEdit>("medCdFilial");
    auto* numero = widget<QLineEdit>("edtNrOrcamento");
    ASSERT_TRUE(filial && numero);
    filial->setFocus();
    QTest::keyClicks(filial, "1");
    QTest::keyClick(filial, Qt::Key_Tab);
    QApplication::processEvents();
    EXPECT_EQ(filial->text(), "0001");
    EXPECT_EQ(view->form().focused()->name(), "edtNrOrcamento");
    QTest::keyClicks(numero, "100");
    QTest::keyClick(numero, Qt::Key_Tab);  // leaves the filter: the budget loads
    QApplication::processEvents();
    auto* grid = widget<QTableView>("dbgPadrao");
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->model()->rowCount(), 3);
    EXPECT_EQ(grid->model()->data(grid->model()->index(0, 1)).toString(), "Taça de vinho");
    EXPECT_EQ(widget<QLineEdit>("edtNmFilial")->text(), "Buffet Teste - Matriz");
}

TEST_F(Gui, ARefusedFocusMoveKeepsTheFocusInTheBox) {
    auto* filial = widget<QLineEdit>("medCdFilial");
    filial->setFocus();
    QTest::keyClicks(filial, "9");
    answer_next_box(QMessageBox::Ok);  // "Filial não cadastrada."
    QTest::keyClick(filial, Qt::Key_Tab);
    QApplication::processEvents();
    EXPECT_EQ(view->form().focused()->name(), "medCdFilial");
    EXPECT_EQ(filial->window()->focusWidget(), filial);
    EXPECT_EQ(filial->text(), "0009");
}

TEST_F(Gui, AQuestionIsAnsweredInADialog) {
    auto* filial = widget<QLineEdit>("medCdFilial");
    auto* numero = widget<QLineEdit>("edtNrOrcamento");
    filial->setFocus();
    QTest::keyClicks(filial, "1");
    QTest::keyClick(filial, Qt::Key_Tab);
    QTest::keyClicks(numero, "42");
    answer_next_box(QMessageBox::Yes);  // "Existe devolução cadastrada para o orçamento. Deseja importar?"
    QTest::keyClick(numero, Qt::Key_Tab);
    QApplication::processEvents();
    auto& cds = *view->form().find_dataset("cdsAcerto");
    EXPECT_EQ(cds.record_count(), 1);  // imported
}

TEST_F(Gui, TheWaitCursorIsRestoredAfterAFailingServerCall) {
    auto* filial = widget<QLineEdit>("medCdFilial");
    auto* numero = widget<QLineEdit>("edtNrOrcamento");
    filial->setFocus();
    QTest::keyClicks(filial, "1");
    QTest::keyClick(filial, Qt::Key_Tab);
    QTest::keyClicks(numero, "43");
    ::kill(env->server->pid(), SIGKILL);  // the server goes away: the load fails
    answer_next_box(QMessageBox::Ok);
    QTest::keyClick(numero, Qt::Key_Tab);
    QApplication::processEvents();
    EXPECT_EQ(ui.busy_depth(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(view->form().focused()->name(), "edtNrOrcamento");
}

TEST(ModalResponder, ADialogNobodyAnswersFailsTheTestInsteadOfWaiting) {
    app();
    auto& responder = test::ModalResponder::instance();
    // Unexpected: the test fails and the box is closed, so exec() returns.
    EXPECT_NONFATAL_FAILURE(QMessageBox::warning(nullptr, "Aviso", "Caixa que ninguém espera"), "no answer queued");
    EXPECT_EQ(responder.seen().back(), "Aviso: Caixa que ninguém espera");
    // Queued: the answer is the button clicked.
    responder.answer_next_box(QMessageBox::No);
    EXPECT_EQ(QMessageBox::question(nullptr, "Confirmação", "Deseja importar?", QMessageBox::Yes | QMessageBox::No),
              QMessageBox::No);
    // A queued button the box does not have.
    responder.answer_next_box(QMessageBox::Yes);
    EXPECT_NONFATAL_FAILURE(QMessageBox::information(nullptr, "Informação", "Só tem OK"), "has no button");
    EXPECT_EQ(responder.take_unused(), 0u);
    // The host's own dialogs: a pick list nobody picks from is closed without a choice.
    platform::ClientDataSet list("cdsLista");
    list.add_field("NOME", platform::FieldType::String, 10);
    list.create_dataset();
    list.append();
    list["NOME"].set_as_string("Taça");
    list.post();
    gui::QtUi ui;
    std::optional<int> pick = 0;
    EXPECT_NONFATAL_FAILURE(pick = ui.pick_list(list, "Produtos"), "no answer queued");
    EXPECT_FALSE(pick.has_value());
}
