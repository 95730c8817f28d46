#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acerto/platform/client_dataset.h"
#include "acerto/platform/errors.h"
#include "acerto/platform/form.h"

using namespace acerto::platform;

namespace {

// Filter panel with two boxes, a data panel with a grid; every enter and exit is recorded.
struct Screen {
    Form form{"frm"};
    Panel& panFiltro = form.make<Panel>("panFiltro", &form);
    Edit& edtA = form.make<Edit>("edtA", &panFiltro);
    Edit& edtB = form.make<Edit>("edtB", &panFiltro);
    Panel& panDados = form.make<Panel>("panDados", &form);
    Edit& edtC = form.make<Edit>("edtC", &panDados);
    std::vector<std::string> log;
    Screen() {
        for (Control* c :
             {static_cast<Control*>(&panFiltro), static_cast<Control*>(&edtA), static_cast<Control*>(&edtB),
              static_cast<Control*>(&panDados), static_cast<Control*>(&edtC)}) {
            c->on_enter = [this](Control& s) { log.push_back("enter " + s.name()); };
            c->on_exit = [this](Control& s) { log.push_back("exit " + s.name()); };
        }
        form.focus(&edtA);
        log.clear();
    }
};

}  // namespace

TEST(Focus, ExitsInnermostFirstThenEntersOutermostFirst) {
    Screen s;
    s.form.focus(&s.edtC);
    EXPECT_EQ(s.log, (std::vector<std::string>{"exit edtA", "exit panFiltro", "enter panDados", "enter edtC"}));
    s.log.clear();
    s.form.focus(&s.edtC);  // no move, no handlers
    EXPECT_TRUE(s.log.empty());
}

TEST(Focus, HandlersSeeTheTargetAsFocusedDuringTheMove) {
    Screen s;
    Control* seen = nullptr;
    s.panFiltro.on_exit = [&](Control&) { seen = s.form.focused(); };
    s.form.focus(&s.edtC);
    EXPECT_EQ(seen, &s.edtC);
}

TEST(Focus, AFailingExitHandlerCancelsTheMove) {
    Screen s;
    s.panFiltro.on_exit = [&](Control&) {
        s.log.push_back("exit panFiltro");
        throw Error("Filial deve ser informada.");
    };
    EXPECT_THROW(s.form.focus(&s.edtC), Error);
    EXPECT_EQ(s.form.focused(), &s.edtA);
    EXPECT_EQ(s.log, (std::vector<std::string>{"exit edtA", "exit panFiltro"}));  // no enter ran
    // Moving inside the panel does not leave the panel.
    s.log.clear();
    s.form.focus(&s.edtB);
    EXPECT_EQ(s.log, (std::vector<std::string>{"exit edtA", "enter edtB"}));
}

TEST(Focus, AHandlerThatMovesTheFocusKeepsItsChoice) {
    Screen s;
    s.panFiltro.on_exit = [&](Control&) {
        s.form.focus(&s.edtB);  // a check moves the focus to the offending box, then fails
        throw Error("Número deve ser informado.");
    };
    EXPECT_THROW(s.form.focus(&s.edtC), Error);
    EXPECT_EQ(s.form.focused(), &s.edtB);
    // The panel was never left, so its enter did not run again.
    EXPECT_EQ(std::count(s.log.begin(), s.log.end(), "enter panFiltro"), 0);
}

TEST(Focus, DisabledHiddenAndUnshownControlsCannotTakeIt) {
    Screen s;
    s.edtC.set_enabled(false);
    EXPECT_THROW(s.form.focus(&s.edtC), FocusError);
    s.edtC.set_enabled(true);
    s.panDados.set_enabled(false);  // a disabled container disables what it holds
    EXPECT_THROW(s.form.focus(&s.edtC), FocusError);
    s.panDados.set_enabled(true);
    s.panDados.set_visible(false);
    EXPECT_THROW(s.form.focus(&s.edtC), FocusError);
    EXPECT_EQ(s.form.focused(), &s.edtA);

    auto& pgc = s.form.make<PageControl>("pgc", &s.form);
    auto& tab1 = s.form.make<TabSheet>("tab1", &pgc);
    auto& tab2 = s.form.make<TabSheet>("tab2", &pgc);
    auto& onTab2 = s.form.make<Edit>("onTab2", &tab2);
    pgc.set_active_page(&tab1);
    EXPECT_FALSE(onTab2.showing());
    EXPECT_THROW(s.form.focus(&onTab2), FocusError);
    pgc.set_active_page(&tab2);
    s.form.focus(&onTab2);
    EXPECT_TRUE(onTab2.focused());
}

TEST(Controls, KeyHandlersMayRefuseKeysAndObserversHearChanges) {
    Form f("f");
    auto& e = f.make<Edit>("edtNr", &f);
    e.max_length = 3;
    e.upper_case = true;
    e.on_key_press = [](Control&, char32_t& k) {
        if (k == U'-') k = 0;
    };
    std::vector<Property> heard;
    e.add_observer([&](Control&, Property p) { heard.push_back(p); });
    int changes = 0;
    e.on_change = [&](Control&) { ++changes; };
    for (char32_t k : std::u32string(U"a-bcd")) e.press_key(k);
    EXPECT_EQ(e.text(), "ABC");
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(heard.size(), 3u);
    e.set_enabled(false);
    EXPECT_EQ(heard.back(), Property::Enabled);
}

TEST(Controls, RadioButtonsAreExclusiveAndCheckingRunsTheClick) {
    Form f("f");
    auto& p = f.make<Panel>("p", &f);
    auto& a = f.make<RadioButton>("a", &p);
    auto& b = f.make<RadioButton>("b", &p);
    int clicks = 0;
    b.on_click = [&](Control&) { ++clicks; };
    a.set_checked(true);
    b.set_checked(true);
    EXPECT_FALSE(a.checked());
    EXPECT_TRUE(b.checked());
    EXPECT_EQ(clicks, 1);
}

TEST(Controls, PageChangeEventOnlyForTheOperatorsClick) {
    Form f("f");
    auto& pgc = f.make<PageControl>("pgc", &f);
    auto& t1 = f.make<TabSheet>("t1", &pgc);
    auto& t2 = f.make<TabSheet>("t2", &pgc);
    int changes = 0;
    pgc.on_change = [&](Control&) { ++changes; };
    pgc.set_active_page(&t1);
    EXPECT_EQ(changes, 0);
    t2.click();
    EXPECT_EQ(pgc.active_page(), &t2);
    EXPECT_EQ(changes, 1);
}

namespace {
struct GridScreen {
    Form form{"frm"};
    ClientDataSet cds{"cdsQuebra"};
    DataSource dts{"dtsQuebra", &cds};
    DBGrid& grid = form.make<DBGrid>("dbgQuebra", &form);
    Edit& other = form.make<Edit>("other", &form);
    GridScreen() {
        cds.add_field("CDARVPROD", FieldType::String, 20).set_edit_mask("9.99.999;0;_");
        cds.add_field("QTACERTOQUEB", FieldType::Float);
        cds.add_field("NMPRODUTO", FieldType::String, 50);
        cds.create_dataset();
        grid.bind(&dts);
        grid.add_column("CDARVPROD", 100).ellipsis = true;
        grid.add_column("QTACERTOQUEB");
        grid.add_column("NMPRODUTO").read_only = true;
        form.focus(&grid);
    }
};
}  // namespace

TEST(Grid, TypedTextIsReadableBeforeItReachesTheField) {
    GridScreen g;
    g.grid.select_field("QTACERTOQUEB");
    g.grid.press_key(U'1');  // an empty dataset put into edit inserts
    EXPECT_EQ(g.cds.state(), DataSetState::Insert);
    g.grid.press_key(U',');
    g.grid.press_key(U'5');
    g.grid.press_key(U'x');  // not a number character
    EXPECT_EQ(g.grid.editor_text(), "1,5");
    EXPECT_EQ(g.grid.column_text("QTACERTOQUEB"), "1,5");
    EXPECT_TRUE(g.cds["QTACERTOQUEB"].is_null());
    int exits = 0;
    double seen = -1;
    g.grid.on_col_exit = [&](DBGrid& gr) {
        ++exits;
        seen = gr.dataset()->field("QTACERTOQUEB").as_float();
    };
    g.grid.select_field("CDARVPROD");  // the text reaches the field before the column exit
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(seen, 1.5);
}

TEST(Grid, AFailingColumnExitKeepsTheColumn) {
    GridScreen g;
    g.grid.select_field("QTACERTOQUEB");
    g.grid.on_col_exit = [](DBGrid&) { throw Error("Quantidade deve ser maior que zero."); };
    EXPECT_THROW(g.grid.select_field("CDARVPROD"), Error);
    EXPECT_EQ(g.grid.selected_field()->name(), "QTACERTOQUEB");
}

TEST(Grid, MaskedCellsAndReadOnlyColumns) {
    GridScreen g;
    for (char32_t k : std::u32string(U"101001")) g.grid.press_key(k);
    EXPECT_EQ(g.grid.editor_display(), "1.01.001");
    EXPECT_EQ(g.grid.editor_text(), "101001");
    g.grid.press_key(ch::Return);
    EXPECT_EQ(g.cds["CDARVPROD"].as_string(), "101001");
    g.grid.select_field("NMPRODUTO");
    g.grid.press_key(U'a');
    EXPECT_TRUE(g.cds["NMPRODUTO"].is_null());
}

TEST(Grid, ArrowKeysPostAndAppend) {
    GridScreen g;
    g.grid.select_field("QTACERTOQUEB");
    g.grid.press_key(U'2');
    g.grid.key_down(vk::Down);  // on the last row: the typed line is posted, a new one starts
    EXPECT_EQ(g.cds.record_count(), 1);
    EXPECT_EQ(g.cds.state(), DataSetState::Insert);
    g.grid.key_down(vk::Escape);
    EXPECT_EQ(g.cds.state(), DataSetState::Browse);
    EXPECT_EQ(g.grid.row_count(), 1);
    EXPECT_EQ(g.grid.cell_text(0, 1), "2");
}

TEST(DataBoundEdit, TypingEditsTheDatasetAndLeavingWritesTheField) {
    Form f("f");
    ClientDataSet cds("cdsAcerto");
    cds.add_field("CDPRBAQUEBRA", FieldType::String, 2);
    cds.create_dataset();
    DataSource dts("dtsAcerto", &cds);
    auto& dbe = f.make<DBEdit>("dbePrQuebra", &f);
    auto& other = f.make<Edit>("other", &f);
    dbe.bind(&dts, "CDPRBAQUEBRA");
    f.focus(&dbe);
    dbe.press_key(U'1');
    EXPECT_EQ(cds.state(), DataSetState::Insert);
    EXPECT_TRUE(cds["CDPRBAQUEBRA"].is_null());
    f.focus(&other);
    EXPECT_EQ(cds["CDPRBAQUEBRA"].as_string(), "1");
    cds.post();
    EXPECT_EQ(cds.change_count(), 1);
    // A refusal to edit keeps the key out of the box.
    cds.before_edit = [](DataSet&) { throw Error("Acerto não pode ser alterado."); };
    f.focus(&dbe);
    EXPECT_THROW(dbe.press_key(U'2'), Error);
    EXPECT_EQ(dbe.text(), "1");
}

namespace {
// A screen as a module declares one: datasets first, then their sources, and the data-aware
// controls owned by the form; the members go before the form's controls do.
struct BoundScreen : Form {
    ClientDataSet cds{"cdsAcerto"};
    DataSource dts{"dtsAcerto", &cds};
    DBGrid& grid = make<DBGrid>("dbgAcerto", this);
    DBEdit& edit = make<DBEdit>("dbeNome", this);
    DBText& text = make<DBText>("dbtNome", this);
    Navigator& nav = make<Navigator>("navAcerto", this);
    BoundScreen() : Form("frmBound") {
        cds.add_field("NOME", FieldType::String, 20);
        cds.create_dataset();
        cds.append();
        cds["NOME"].set_as_string("Taça");
        cds.post();
        grid.bind(&dts);
        grid.add_column("NOME");
        edit.bind(&dts, "NOME");
        text.bind(&dts, "NOME");
        nav.data_source = &dts;
        register_dataset(cds);
    }
};
}  // namespace

TEST(DataLinks, AScreenWhoseSourcesGoBeforeItsControlsClosesCleanly) {
    // The order of a screen's own destruction: its sources and datasets first, then the form's
    // controls, which must not reach the sources they were bound to.
    auto screen = std::make_unique<BoundScreen>();
    EXPECT_EQ(screen->dts.links().size(), 4u);
    EXPECT_EQ(screen->edit.text(), "Taça");
    EXPECT_EQ(screen->find_dataset("cdsAcerto"), &screen->cds);
    screen.reset();
    // Twice over, as a host closes and opens the screen again.
    screen = std::make_unique<BoundScreen>();
    EXPECT_EQ(screen->grid.row_count(), 1);
    screen.reset();
}

TEST(DataLinks, ControlsOfASourceThatWentAwayAreUnboundAndInert) {
    Form f("f");
    ClientDataSet cds("cds");
    cds.add_field("NOME", FieldType::String, 20);
    cds.create_dataset();
    auto dts = std::make_unique<DataSource>("dts", &cds);
    auto& grid = f.make<DBGrid>("grid", &f);
    auto& edit = f.make<DBEdit>("edit", &f);
    auto& text = f.make<DBText>("text", &f);
    auto& nav = f.make<Navigator>("nav", &f);
    grid.bind(dts.get());
    grid.add_column("NOME");
    edit.bind(dts.get(), "NOME");
    text.bind(dts.get(), "NOME");
    nav.data_source = dts.get();
    f.focus(&grid);
    grid.press_key(U'a');  // an insert with a typed cell is pending when the source goes
    ASSERT_TRUE(grid.editor_modified());
    dts.reset();
    EXPECT_EQ(grid.data_source(), nullptr);
    EXPECT_EQ(edit.data_source(), nullptr);
    EXPECT_EQ(nav.data_source.get(), nullptr);
    EXPECT_FALSE(nav.data_source);
    EXPECT_FALSE(grid.editor_modified());
    EXPECT_EQ(grid.row_count(), 0);
    EXPECT_EQ(edit.field(), nullptr);
    // The dataset goes on without them; nothing reaches the controls.
    cds.cancel();
    cds.append();
    cds["NOME"].set_as_string("x");
    cds.post();
    EXPECT_EQ(grid.row_count(), 0);
    edit.press_key(U'b');
    EXPECT_EQ(edit.text(), "");
    EXPECT_EQ(cds.record_count(), 1);
    // Bound again, they show it.
    DataSource again("again", &cds);
    grid.bind(&again);
    edit.bind(&again, "NOME");
    EXPECT_EQ(grid.row_count(), 1);
    EXPECT_EQ(edit.text(), "x");
}

TEST(DataLinks, ControlsThatGoFirstLeaveTheirSource) {
    ClientDataSet cds("cds");
    cds.add_field("NOME", FieldType::String, 20);
    cds.create_dataset();
    DataSource dts("dts", &cds);
    DataSource other("other", &cds);
    {
        Form f("f");
        auto& grid = f.make<DBGrid>("grid", &f);
        auto& edit = f.make<DBEdit>("edit", &f);
        f.make<DBText>("text", &f).bind(&dts, "NOME");
        f.make<Navigator>("nav", &f).data_source = &dts;
        grid.bind(&dts);
        grid.bind(&dts);  // binding twice joins once
        edit.bind(&other, "NOME");
        edit.bind(&dts, "NOME");  // rebinding leaves the first source
        EXPECT_EQ(dts.links().size(), 4u);
        EXPECT_TRUE(other.links().empty());
        f.register_dataset(cds);
    }
    EXPECT_TRUE(dts.links().empty());
    // The dataset's notifications reach only live sources.
    cds.append();
    cds["NOME"].set_as_string("y");
    cds.post();
    EXPECT_EQ(dts.state(), DataSetState::Browse);
}

TEST(DataLinks, ADatasetThatGoesFirstEmptiesItsControlsAndTheFormsRegistry) {
    Form f("f");
    auto cds = std::make_unique<ClientDataSet>("cds");
    cds->add_field("NOME", FieldType::String, 20);
    cds->create_dataset();
    cds->append();
    (*cds)["NOME"].set_as_string("z");
    cds->post();
    DataSource dts("dts", cds.get());
    auto& grid = f.make<DBGrid>("grid", &f);
    auto& edit = f.make<DBEdit>("edit", &f);
    grid.bind(&dts);
    grid.add_column("NOME");
    edit.bind(&dts, "NOME");
    f.register_dataset(*cds);
    EXPECT_EQ(edit.text(), "z");
    EXPECT_EQ(f.datasets().size(), 1u);
    cds.reset();
    EXPECT_EQ(dts.dataset(), nullptr);
    EXPECT_EQ(dts.state(), DataSetState::Inactive);
    EXPECT_EQ(edit.text(), "");
    EXPECT_EQ(grid.row_count(), 0);
    EXPECT_EQ(grid.cell_text(0, 0), "");
    EXPECT_EQ(f.find_dataset("cds"), nullptr);
    EXPECT_TRUE(f.datasets().empty());
}
