// The desktop host, offscreen: the table adapter under Qt's model tester, and an operator's
// keystrokes through real Qt key events.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <set>

#include "acerto/host/module_loader.h"
#include "acerto/host/services.h"
#include "acerto/platform/client_dataset.h"
#include "form_view.h"
#include "look.h"
#include "main_window.h"
#include "modal_responder.h"
#include "pick_list_model.h"
#include "qt_ui.h"
#include "sign_in_dialog.h"
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
    // Branch 0001 and a budget number typed and left, as the operator does.
    void load_budget(const char* number) {
        auto* filial = widget<QLineEdit>("medCdFilial");
        auto* numero = widget<QLineEdit>("edtNrOrcamento");
        filial->setFocus();
        QTest::keyClicks(filial, "1");
        QTest::keyClick(filial, Qt::Key_Tab);
        QTest::keyClicks(numero, number);
        QTest::keyClick(numero, Qt::Key_Tab);
        QApplication::processEvents();
    }
    std::string focused() const { return view->form().focused() ? view->form().focused()->name() : ""; }
    // The sub-windows still on show in the main window's area.
    int screens_on_show() const {
        int n = 0;
        for (QMdiSubWindow* s : window->area().subWindowList())
            if (s->isVisible()) ++n;
        return n;
    }
    QAction* menu_action(const QString& plain_text) const {
        for (QAction* top : window->menuBar()->actions())
            if (top->menu() && top->isVisible())
                for (QAction* a : top->menu()->actions())
                    if (QString(a->text()).remove('&') == plain_text) return a;
        return nullptr;
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

namespace {

// A list of `rows` products: a code "00000".."NNNNN", a name, a hidden cost and a price.
void fill_products(platform::ClientDataSet& cds, int rows) {
    cds.add_field("CODIGO", platform::FieldType::String, 5);
    cds.add_field("NOME", platform::FieldType::String, 20).display_label = "Produto";
    cds.add_field("CUSTO", platform::FieldType::String, 10).visible = false;
    cds.add_field("PRECO", platform::FieldType::Float).display_format = "#,##0.00";
    cds.create_dataset();
    for (int i = 0; i < rows; ++i) {
        char code[8];
        std::snprintf(code, sizeof code, "%05d", i);
        cds.append();
        cds["CODIGO"].set_as_string(code);
        cds["NOME"].set_as_string(i % 3 == 0 ? "TAÇA" : i % 3 == 1 ? "Taça Cristal" : "Prato");
        cds["CUSTO"].set_as_string("oculto");
        cds["PRECO"].set_as_float(i * 1.5);
        cds.post();
    }
}

// How many records show `digits` in a visible cell, read from the dataset row by row.
int rows_showing(platform::DataSet& ds, const std::string& digits) {
    int n = 0;
    for (int r = 0; r < ds.record_count(); ++r) {
        ds.set_display_record(r);
        bool found = false;
        for (const auto& f : ds.fields())
            if (f->visible && f->display_text().find(digits) != std::string::npos) found = true;
        ds.set_display_record(-1);
        n += found ? 1 : 0;
    }
    return n;
}

// Acts on the next dialog that opens, once its event loop runs, as an operator would.
class Operator : public QObject {
  public:
    explicit Operator(std::function<void(QDialog&)> act) : act_(std::move(act)) { app().installEventFilter(this); }
    ~Operator() override { app().removeEventFilter(this); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && !acted_)
            if (auto* dialog = qobject_cast<QDialog*>(watched)) {
                acted_ = true;
                QTimer::singleShot(0, dialog, [this, dialog] { act_(*dialog); });
            }
        return false;
    }

  private:
    std::function<void(QDialog&)> act_;
    bool acted_ = false;
};

}  // namespace

TEST(PickListModel, FindsInVisibleCellsIgnoringCaseAndNarrowsAndWidens) {
    app();
    constexpr int rows = 3000;
    platform::ClientDataSet cds("cdsProdutos");
    fill_products(cds, rows);
    gui::PickListModel model(cds);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    // The visible fields, by their titles, as the dataset shows them.
    ASSERT_EQ(model.columnCount(), 3);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Produto");
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "PRECO");
    EXPECT_EQ(model.rowCount(), rows);
    EXPECT_EQ(model.data(model.index(3, 2)).toString(), "4,50");
    EXPECT_EQ(model.data(model.index(rows - 1, 0)).toString(), "02999");

    // Each key lengthens the text, then the text is erased key by key: every step agrees with a
    // count made without the model, whichever path (narrowing or rescanning) it took.
    for (const char* text : {"1", "12", "123", "12", "1", "", "9", "99", "299", "2999", "02999"}) {
        model.set_filter(text);
        EXPECT_EQ(model.rowCount(), rows_showing(cds, text)) << "find \"" << text << "\"";
    }
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.record_of(0), rows - 1);
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), "Prato");
    // A text that does not lengthen the last one (a replaced selection) rescans every row.
    model.set_filter("00");
    model.set_filter("01");
    EXPECT_EQ(model.rowCount(), rows_showing(cds, "01"));
    EXPECT_EQ(model.record_of(0), 1);
    EXPECT_EQ(model.record_of(model.rowCount()), -1);

    // Case and accents as typed or not; the hidden field and text across two cells never match.
    model.set_filter("taça");
    EXPECT_EQ(model.rowCount(), rows / 3 * 2);
    model.set_filter("TAÇA CRIS");
    EXPECT_EQ(model.rowCount(), rows / 3);
    EXPECT_EQ(model.record_of(0), 1);
    model.set_filter("oculto");
    EXPECT_EQ(model.rowCount(), 0);
    model.set_filter("2Prato");
    EXPECT_EQ(model.rowCount(), 0);
    model.set_filter("4.498,50");
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.record_of(0), 2999);
}

// The pick list of a long list, driven by keys and the mouse: what is picked is the dataset's
// record, wherever the find text put it in the list.
TEST(PickList, TypingNarrowsAndEnterOrDoubleClickPicksFromALongList) {
    app();
    constexpr int rows = 20000;
    platform::ClientDataSet cds("cdsProdutos");
    fill_products(cds, rows);
    gui::QtUi ui;
    auto parts = [](QDialog& d) {
        auto* find = d.findChild<QLineEdit*>();
        auto* list = d.findChild<QTableView*>();
        EXPECT_TRUE(find && list);
        return std::pair{find, list};
    };

    {  // Typing narrows, Down moves to the second row found, Enter picks it.
        int shown = -1;
        Operator op([&](QDialog& d) {
            auto [find, list] = parts(d);
            if (!find || !list) return;
            EXPECT_EQ(list->model()->rowCount(), rows);
            EXPECT_EQ(find->placeholderText(), "Digite para procurar");
            QTest::keyClicks(find, "1234");
            shown = list->model()->rowCount();
            EXPECT_EQ(list->currentIndex().row(), 0);
            QTest::keyClick(find, Qt::Key_Down);
            EXPECT_EQ(list->currentIndex().row(), 1);
            QTest::keyClick(find, Qt::Key_Return);
        });
        // "01234" and "11234" are the first two rows holding 1234 (no price does).
        EXPECT_EQ(ui.pick_list(cds, "Produtos"), std::optional<int>(11234));
        EXPECT_EQ(shown, 12);
    }
    {  // Enter in the list itself picks its current row.
        Operator op([&](QDialog& d) {
            auto [find, list] = parts(d);
            if (!find || !list) return;
            QTest::keyClicks(find, "cristal");
            list->setFocus();
            QTest::keyClick(list, Qt::Key_Down);
            QTest::keyClick(list, Qt::Key_Down);
            QTest::keyClick(list, Qt::Key_Enter);
        });
        EXPECT_EQ(ui.pick_list(cds, "Produtos"), std::optional<int>(7));
    }
    {  // A double click picks the row clicked.
        Operator op([&](QDialog& d) {
            auto [find, list] = parts(d);
            if (!find || !list) return;
            QTest::keyClicks(find, "1234");
            QRect cell = list->visualRect(list->model()->index(2, 1));
            // An operator's double click starts with a click; QTest's double click sends only the rest.
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        });
        EXPECT_EQ(ui.pick_list(cds, "Produtos"), std::optional<int>(12340));
    }
    {  // Escape cancels, even with a row chosen.
        Operator op([&](QDialog& d) {
            auto [find, list] = parts(d);
            if (!find || !list) return;
            QTest::keyClicks(find, "5");
            QTest::keyClick(find, Qt::Key_Escape);
        });
        EXPECT_EQ(ui.pick_list(cds, "Produtos"), std::nullopt);
    }
    {  // Enter when nothing was found picks nothing.
        Operator op([&](QDialog& d) {
            auto [find, list] = parts(d);
            if (!find || !list) return;
            QTest::keyClicks(find, "guardanapo");
            EXPECT_EQ(list->model()->rowCount(), 0);
            QTest::keyClick(find, Qt::Key_Return);
        });
        EXPECT_EQ(ui.pick_list(cds, "Produtos"), std::nullopt);
    }
    EXPECT_EQ(test::ModalResponder::instance().take_unused(), 0u);
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

// Every way of closing closes the one screen, and the next opening gives a fresh screen whose
// boxes answer as a new one's do (no stale window, no view of a released screen).
TEST_F(Gui, ClosingByEveryWayAndOpeningAgainGivesAFreshScreen) {
    using Close = std::function<void()>;
    const std::vector<std::pair<const char*, Close>> ways = {
        {"toolbar", [&] { widget<QToolButton>("sbtFechar")->click(); }},
        {"menu", [&] { menu_action("Fechar")->trigger(); }},
        {"Ctrl+F4", [&] { QTest::keyClick(widget<QLineEdit>("medCdFilial"), Qt::Key_F4, Qt::ControlModifier); }},
        {"title bar", [&] { window->screen_window()->close(); }},
        {"main window",
         [&] {
             window->close();
             window = std::make_unique<gui::MainWindow>(module(), ui);
             window->show();
         }},
    };
    for (int round = 0; round < 3; ++round)
        for (const auto& [way, close] : ways) {
            SCOPED_TRACE(std::string(way) + ", round " + std::to_string(round));
            load_budget("100");
            ASSERT_EQ(widget<QTableView>("dbgPadrao")->model()->rowCount(), 3);
            widget<QLineEdit>("medCdFilial")->setFocus();
            QApplication::processEvents();
            close();
            QApplication::processEvents();
            ASSERT_EQ(window->view(), nullptr);
            EXPECT_EQ(screens_on_show(), 0);
            EXPECT_EQ(menu_action("Fechar"), nullptr) << "the closed screen's menus stay";
            window->open_acerto_final();
            view = window->view();
            ASSERT_NE(view, nullptr);
            ASSERT_EQ(&view->form(), module().screen());
            QApplication::processEvents();
            EXPECT_EQ(screens_on_show(), 1);
            EXPECT_EQ(widget<QLineEdit>("medCdFilial")->text().trimmed(), "");
            EXPECT_EQ(focused(), "medCdFilial");
        }
}

// Opening the screen again while it is open shows the same one, not a second window.
TEST_F(Gui, OpeningTwiceShowsTheSameScreen) {
    platform::Form* first = &view->form();
    window->open_acerto_final();
    EXPECT_EQ(window->view(), view);
    EXPECT_EQ(&view->form(), first);
    EXPECT_EQ(screens_on_show(), 1);
}

TEST_F(Gui, CtrlTabAndCtrlShiftTabSwitchTabs) {
    load_budget("100");
    auto& pages = view->form().get_as<platform::PageControl>("pgcPadrao");
    auto* grid = widget<QTableView>("dbgPadrao");
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(pages.active_page()->name(), "tshSobra");
    QWidget* now = QApplication::focusWidget();
    ASSERT_NE(now, nullptr);
    QTest::keyClick(now, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(pages.active_page()->name(), "tshPadrao");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(pages.active_page()->name(), "tshExtras") << "backwards from the first tab wraps to the last";
}

// The product pick from the keyboard and by the button drawn in the cell.
TEST_F(Gui, TheProductPickOpensByKeyAndByTheCellButton) {
    load_budget("100");
    auto* grid = widget<QTableView>("dbgPadrao");
    auto& g = view->form().get_as<platform::DBGrid>("dbgPadrao");
    grid->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(focused(), "dbgPadrao");
    ASSERT_TRUE(g.columns[static_cast<std::size_t>(g.selected_index())].ellipsis);
    auto& responder = test::ModalResponder::instance();
    const auto before = responder.seen().size();
    responder.close_next_dialog();
    QTest::keyClick(grid, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(responder.seen().size(), before + 1) << "Ctrl+Enter opened no pick";
    responder.close_next_dialog();
    QTest::keyClick(grid, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(responder.seen().size(), before + 2) << "Alt+Down opened no pick";
    EXPECT_EQ(g.current_row(), 0) << "Alt+Down moved the row instead";
    // The cell's button.
    QRect cell = grid->visualRect(grid->currentIndex());
    QPoint button(cell.right() - 5, cell.center().y());
    responder.close_next_dialog();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, button);
    EXPECT_EQ(responder.seen().size(), before + 3) << "the cell's button opened no pick";
    // A column without ellipsis: Ctrl+Enter does nothing.
    g.select_column(g.column_index("QTACERTOQUEB"));
    QTest::keyClick(grid, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(responder.seen().size(), before + 3);
}

// After a refusal the box's text is selected: typing replaces it.
TEST_F(Gui, TypingOverASelectionReplacesIt) {
    auto* filial = widget<QLineEdit>("medCdFilial");
    filial->setFocus();
    QTest::keyClicks(filial, "9");
    answer_next_box(QMessageBox::Ok);  // "Filial não cadastrada."
    QTest::keyClick(filial, Qt::Key_Tab);
    QApplication::processEvents();
    ASSERT_EQ(focused(), "medCdFilial");
    filial->selectAll();
    QTest::keyClicks(filial, "1");
    EXPECT_EQ(view->form().get("medCdFilial").text().find('9'), std::string::npos);
    QTest::keyClick(filial, Qt::Key_Tab);
    QApplication::processEvents();
    EXPECT_EQ(filial->text(), "0001");
    EXPECT_EQ(focused(), "edtNrOrcamento");
    // A selection at the end of the text: only it goes.
    auto* numero = widget<QLineEdit>("edtNrOrcamento");
    QTest::keyClicks(numero, "1234");
    numero->setSelection(2, 2);
    QTest::keyClicks(numero, "9");
    EXPECT_EQ(view->form().get("edtNrOrcamento").text(), "129");
    numero->setSelection(0, 1);  // in the middle: what follows stays
    QTest::keyClick(numero, Qt::Key_Backspace);
    EXPECT_EQ(view->form().get("edtNrOrcamento").text(), "29");
}

// Tab walks the boxes one can type into; read-only values are not stops (a click still
// reaches them, to read or copy).
TEST(FormViewKeys, TabSkipsReadOnlyBoxes) {
    app();
    platform::Form form("frm");
    auto& a = form.make<platform::Edit>("edtA", &form);
    auto& total = form.make<platform::NumberEdit>("nedTotal", &form);
    auto& b = form.make<platform::Edit>("edtB", &form);
    a.set_bounds(0, 0, 80, 21);
    total.set_bounds(0, 30, 80, 21);
    b.set_bounds(0, 60, 80, 21);
    total.read_only = true;
    form.show();
    gui::FormView view(form);
    view.show();
    form.focus(&a);
    view.sync_focus();
    QTest::keyClick(view.widget_for(&a), Qt::Key_Tab);
    EXPECT_EQ(form.focused(), &b);
    QTest::keyClick(view.widget_for(&b), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(form.focused(), &a);
    EXPECT_EQ(view.widget_for(&total)->focusPolicy(), Qt::ClickFocus);
    // Typing into the read-only box changes nothing.
    form.focus(&total);
    QTest::keyClicks(view.widget_for(&total), "12");
    EXPECT_EQ(total.text(), "");
}

// Qt's own texts and the host's boxes speak Portuguese.
TEST_F(Gui, DialogsAnswerInPortuguese) {
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), "&Sim")
        << "Qt's Portuguese translation not loaded";
    auto& responder = test::ModalResponder::instance();
    answer_next_box(QMessageBox::No);
    EXPECT_EQ(ui.message("Deseja importar?", host::MsgType::Confirmation, host::mbYes | host::mbNo),
              host::ModalResult::No);
    EXPECT_EQ(responder.seen_buttons().back(), "&Sim|&Não");
    answer_next_box(QMessageBox::Ok);
    ui.message("Cancelamento realizado.", host::MsgType::Information, host::mbOK);
    EXPECT_EQ(responder.seen_buttons().back(), "OK");
}

// Menus: their accelerator letters, and a mark only on the entries that are ever checked.
TEST_F(Gui, MenusHaveAcceleratorsAndMarksOnlyWhereChecked) {
    QStringList titles;
    for (QAction* a : window->menuBar()->actions()) titles << a->text();
    EXPECT_TRUE(titles.contains("&Operação")) << titles.join(", ").toStdString();
    EXPECT_TRUE(titles.contains("&Manutenção"));
    EXPECT_TRUE(titles.contains("&Sistema"));
    QAction* quebra = menu_action("Quebra");
    QAction* incluir = menu_action("Incluir");
    QAction* atualizar = menu_action("Atualizar Financeiro");
    ASSERT_TRUE(quebra && incluir && atualizar);
    EXPECT_TRUE(quebra->isCheckable());
    EXPECT_TRUE(quebra->isChecked());
    EXPECT_FALSE(incluir->isCheckable());
    EXPECT_FALSE(atualizar->isCheckable());
    EXPECT_TRUE(menu_action("Sobra")->isCheckable()) << "a tab's entry shows its mark before it is first checked";
    // Letters are unique within a menu.
    for (QAction* top : window->menuBar()->actions()) {
        if (!top->menu()) continue;
        QSet<QChar> letters;
        for (QAction* a : top->menu()->actions()) {
            int at = a->text().indexOf('&');
            if (at < 0 || a->isSeparator()) continue;
            QChar l = a->text()[at + 1].toLower();
            EXPECT_FALSE(letters.contains(l)) << a->text().toStdString();
            letters.insert(l);
        }
    }
}

// The toolbar's buttons all have their icon and hint; Ajuda and F1 open the operator's guide.
TEST_F(Gui, ToolbarIconsAndTheGuide) {
    for (const char* name : {"sbtIncluir", "sbtAlterar", "sbtExcluir", "sbtProcurar", "sbtVerificar", "sbtConfirmar",
                             "sbtCancelar", "sbtImprimir", "sbtAjuda", "sbtFechar", "sbtAtuaFina", "sbtCanAcerto",
                             "sbtRetProdExt", "sbtCancRetProdExt"}) {
        auto* b = widget<QToolButton>(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_FALSE(b->icon().isNull()) << name << " has no icon (is the Adwaita theme installed?)";
        EXPECT_FALSE(b->toolTip().isEmpty()) << name;
    }
    widget<QToolButton>("sbtAjuda")->click();
    QApplication::processEvents();
    ASSERT_NE(window->help_window(), nullptr);
    auto* text = qobject_cast<QTextBrowser*>(window->help_window()->widget());
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->toPlainText().contains("Ctrl+Tab"));
    EXPECT_TRUE(text->toPlainText().contains("Preço base deve ser informado."));
    window->help_window()->close();
    QApplication::processEvents();
    widget<QLineEdit>("medCdFilial")->setFocus();
    QTest::keyClick(widget<QLineEdit>("medCdFilial"), Qt::Key_F1);
    EXPECT_NE(window->help_window(), nullptr) << "F1 opened no guide";
}

// Every caption is whole: a label's text fits before the next control of its row, and each
// grid column is at least as wide as its title.
TEST_F(Gui, CaptionsAreNotCut) {
    load_budget("100");
    for (int tab = 0; tab < 4; ++tab) {
        widget<QTabWidget>("pgcPadrao")->setCurrentIndex(tab);
        QApplication::processEvents();
        for (QLabel* l : view->findChildren<QLabel*>()) {
            if (!l->isVisible() || l->text().isEmpty()) continue;
            QFont f = l->font();
            const int need = QFontMetrics(f).horizontalAdvance(l->text());
            EXPECT_GE(l->width(), need) << l->objectName().toStdString() << " is cut";
            QRect text(l->geometry().topLeft(), QSize(need, l->height()));
            for (QWidget* other : l->parentWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                if (other == l || !other->isVisible() || qobject_cast<QLabel*>(other) || qobject_cast<QFrame*>(other))
                    continue;
                EXPECT_FALSE(text.intersects(other->geometry()))
                    << l->objectName().toStdString() << " runs into " << other->objectName().toStdString();
            }
        }
        for (QTableView* t : view->findChildren<QTableView*>()) {
            if (!t->isVisible()) continue;
            QFontMetrics fm(t->horizontalHeader()->font());
            int sum = 0;
            for (int c = 0; c < t->model()->columnCount(); ++c) sum += t->columnWidth(c);
            EXPECT_LE(sum, t->viewport()->width()) << t->objectName().toStdString() << ": the last columns are hidden";
            for (int c = 0; c < t->model()->columnCount(); ++c) {
                QString title = t->model()->headerData(c, Qt::Horizontal).toString();
                EXPECT_GE(t->columnWidth(c), fm.horizontalAdvance(title) + 8)
                    << t->objectName().toStdString() << ": " << title.toStdString();
            }
        }
    }
}

// A grid given more room than its layout's widths spreads its columns over all of it.
TEST_F(Gui, GridsUseTheRoomTheyGet) {
    window->resize(1400, 1000);
    window->screen_window()->resize(1300, 900);
    QApplication::processEvents();
    auto* grid = widget<QTableView>("dbgPadrao");
    int sum = 0;
    for (int c = 0; c < grid->model()->columnCount(); ++c) sum += grid->columnWidth(c);
    const int room = grid->viewport()->width();
    EXPECT_GT(room, 1000);
    EXPECT_LE(sum, room);
    EXPECT_GE(sum, room - grid->model()->columnCount()) << "the columns leave room unused";
}

// A click into another box whose move the screen refuses shows the refusal once and leaves the
// focus where it was.
TEST_F(Gui, ARefusedClickIntoAnotherBoxShowsOneRefusal) {
    auto* filial = widget<QLineEdit>("medCdFilial");
    auto* numero = widget<QLineEdit>("edtNrOrcamento");
    filial->setFocus();
    QTest::keyClicks(filial, "9");
    const auto before = test::ModalResponder::instance().seen().size();
    answer_next_box(QMessageBox::Ok);  // "Filial não cadastrada.", and no second box
    QTest::mouseClick(numero, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(test::ModalResponder::instance().seen().size(), before + 1);
    EXPECT_EQ(focused(), "medCdFilial");
}

// The operator's sign-in dialog against a real server: a refusal is shown and the password
// emptied, the right password signs in and leaves the operator and the token in the settings.
TEST(SignIn, TheDialogShowsTheRefusalAndThenSignsIn) {
    app();
    test::ServerProcess server(test::fresh_database(), ACERTO_SCENARIO_FIXTURES "/buffet.json");
    host::HostConfig config;
    config.server_host = "127.0.0.1";
    config.server_port = server.port();
    gui::SignInDialog dialog(config);
    dialog.show();
    QTest::keyClicks(dialog.operator_box(), "ANA");
    QTest::keyClicks(dialog.password_box(), "errada");
    QTest::mouseClick(dialog.sign_in_button(), Qt::LeftButton);
    EXPECT_EQ(dialog.message()->text().toStdString(), "Operador ou senha inválidos.");
    EXPECT_TRUE(dialog.password_box()->text().isEmpty());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(config.session_token.empty());
    QTest::keyClicks(dialog.password_box(), test::kTestPassword);
    QTest::keyClick(dialog.password_box(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(config.operator_code, "ANA");
    EXPECT_EQ(config.session_token.size(), 64u);
    // An unreachable server is said so, not taken for a wrong password.
    server.stop();
    host::HostConfig gone = config;
    gui::SignInDialog again(gone);
    QTest::keyClicks(again.password_box(), test::kTestPassword);
    EXPECT_FALSE(again.try_sign_in());
    EXPECT_EQ(again.message()->text().toStdString().rfind("Não foi possível conectar ao servidor de aplicação", 0), 0u)
        << again.message()->text().toStdString();
}

// Clicking another tab with the mouse right after a budget loads keeps the budget: the focus
// goes where the screen puts it, not back to the filter.
TEST_F(Gui, ClickingATabAfterLoadingKeepsTheBudget) {
    load_budget("100");
    auto* tabs = widget<QTabWidget>("pgcPadrao");
    ASSERT_NE(tabs, nullptr);
    auto* bar = tabs->tabBar();
    const int last = tabs->count() - 1;
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(last).center());
    QApplication::processEvents();
    EXPECT_EQ(tabs->currentIndex(), last);
    EXPECT_NE(focused(), "medCdFilial");
    EXPECT_EQ(widget<QLineEdit>("edtNmFilial")->text(), "Buffet Teste - Matriz");
    ASSERT_NE(view->form().find_dataset("cdsOrcamento"), nullptr);
    EXPECT_EQ(view->form().find_dataset("cdsOrcamento")->record_count(), 1);
}
