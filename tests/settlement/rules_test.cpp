// The enabling rules and the Extras totals, table by table, without a screen.
#include <gtest/gtest.h>

#include "acerto/settlement/rules.h"

using namespace acerto::settlement::rules;

namespace {

// A settlement being browsed on the breakage tab, rows present, situation "P", focus outside
// the filter: the starting point each row of a table changes.
EnablingInputs browsing() {
    EnablingInputs in;
    in.active_tab = Breakage;
    in.page = State::Browse;
    in.page_empty = false;
    in.header = State::Browse;
    in.header_empty = false;
    in.budget_empty = false;
    in.situation = "P";
    return in;
}

struct CommandCase {
    const char* name;
    void (*change)(EnablingInputs&);
    bool include, alter, remove, verify, confirm, update_financial;
};

}  // namespace

TEST(Enabling, CommandsByModeFocusAndTab) {
    const CommandCase cases[] = {
        {"browse with rows", [](EnablingInputs&) {}, true, true, true, true, false, true},
        {"browse empty", [](EnablingInputs& in) { in.page_empty = true; }, true, false, false, true, false, false},
        {"line inserted", [](EnablingInputs& in) { in.page = State::Insert; }, false, false, false, false, true, false},
        {"line edited", [](EnablingInputs& in) { in.page = State::Edit; }, false, false, false, false, true, false},
        {"header edited", [](EnablingInputs& in) { in.header = State::Edit; }, false, true, true, true, true, false},
        {"focus on the number",
         [](EnablingInputs& in) {
             in.focus_on_number = in.focus_on_filter = true;
             in.page = State::Insert;
         },
         false, false, false, false, false, false},
        {"extras, focus outside the grid, empty: Alter edits the header",
         [](EnablingInputs& in) {
             in.active_tab = Extras;
             in.page_empty = true;
         },
         true, true, false, true, false, false},
        {"extras, focus in the grid, empty",
         [](EnablingInputs& in) {
             in.active_tab = Extras;
             in.page_empty = true;
             in.focus_on_extras_grid = true;
         },
         true, false, false, true, false, false},
        {"extras, focus in the grid, rows",
         [](EnablingInputs& in) {
             in.active_tab = Extras;
             in.focus_on_extras_grid = true;
         },
         true, true, true, true, false, true},
        {"extras, per-person fields edited",
         [](EnablingInputs& in) {
             in.active_tab = Extras;
             in.header = State::Edit;
         },
         false, false, false, false, true, false},
        {"cancel financial already enabled", [](EnablingInputs& in) { in.cancel_financial_was_enabled = true; }, true,
         true, true, true, false, false},
    };
    for (const auto& c : cases) {
        EnablingInputs in = browsing();
        c.change(in);
        Enabling out = decide_enabling(in);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(out.include, c.include);
        EXPECT_EQ(out.alter, c.alter);
        EXPECT_EQ(out.remove, c.remove);
        EXPECT_EQ(out.search, out.remove);
        EXPECT_EQ(out.verify, c.verify);
        EXPECT_EQ(out.confirm, c.confirm);
        EXPECT_EQ(out.cancel, out.confirm);
        EXPECT_EQ(out.update_financial, c.update_financial);
    }
}

TEST(Enabling, TabsCloseWhileAnotherTabsLineIsEdited) {
    struct Case {
        const char* name;
        void (*change)(EnablingInputs&);
        std::array<bool, kTabs> tabs;
    };
    const Case cases[] = {
        {"nothing edited", [](EnablingInputs&) {}, {true, true, true, true}},
        {"leftover line inserted",
         [](EnablingInputs& in) { in.lines_editing[Leftovers] = true; },
         {false, true, false, false}},
        {"breakage line edited",
         [](EnablingInputs& in) { in.lines_editing[Breakage] = true; },
         {true, false, false, false}},
        {"overtime line edited",
         [](EnablingInputs& in) { in.lines_editing[Overtime] = true; },
         {false, false, true, false}},
        {"extras line edited",
         [](EnablingInputs& in) { in.lines_editing[Extras] = true; },
         {false, false, false, true}},
        {"per-person fields edited on the extras tab",
         [](EnablingInputs& in) {
             in.active_tab = Extras;
             in.header = State::Edit;
         },
         {false, false, false, true}},
        {"header edited on the breakage tab",
         [](EnablingInputs& in) { in.header = State::Insert; },
         {true, true, true, true}},
        {"an order", [](EnablingInputs& in) { in.is_order = true; }, {true, true, false, false}},
        {"focus in the filter", [](EnablingInputs& in) { in.focus_on_filter = true; }, {true, false, false, false}},
    };
    for (const auto& c : cases) {
        EnablingInputs in = browsing();
        c.change(in);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decide_enabling(in).tabs, c.tabs);
    }
}

TEST(Enabling, FinancialAndWithdrawalCommands) {
    struct Case {
        const char* name;
        void (*change)(EnablingInputs&);
        bool cancel_financial, withdrawal;
    };
    const Case cases[] = {
        {"pending settlement", [](EnablingInputs&) {}, false, false},
        {"financial updated", [](EnablingInputs& in) { in.situation = "F"; }, true, false},
        {"empty situation counts as not pending", [](EnablingInputs& in) { in.situation = ""; }, true, false},
        {"no header",
         [](EnablingInputs& in) {
             in.situation = "";
             in.header_empty = true;
         },
         false, false},
        {"no budget",
         [](EnablingInputs& in) {
             in.situation = "F";
             in.budget_empty = true;
         },
         false, false},
        {"focus on the number does not matter to cancel financial",
         [](EnablingInputs& in) {
             in.situation = "T";
             in.focus_on_number = true;
         },
         true, false},
        {"extras tab with lines, buttons visible",
         [](EnablingInputs& in) {
             in.active_tab = Extras;
             in.withdrawal_visible = in.extras_open = true;
             in.extras_empty = false;
         },
         false, true},
        {"buttons hidden",
         [](EnablingInputs& in) {
             in.active_tab = Extras;
             in.extras_open = true;
             in.extras_empty = false;
         },
         false, false},
        {"another tab",
         [](EnablingInputs& in) {
             in.withdrawal_visible = in.extras_open = true;
             in.extras_empty = false;
         },
         false, false},
        {"no extras lines",
         [](EnablingInputs& in) {
             in.active_tab = Extras;
             in.withdrawal_visible = in.extras_open = true;
         },
         false, false},
        {"header edited",
         [](EnablingInputs& in) {
             in.active_tab = Extras;
             in.withdrawal_visible = in.extras_open = true;
             in.extras_empty = false;
             in.header = State::Edit;
         },
         false, false},
    };
    for (const auto& c : cases) {
        EnablingInputs in = browsing();
        c.change(in);
        SCOPED_TRACE(c.name);
        Enabling out = decide_enabling(in);
        EXPECT_EQ(out.cancel_financial, c.cancel_financial);
        EXPECT_EQ(out.withdrawal, c.withdrawal);
    }
}

TEST(Totals, WaysOfCharging) {
    struct Case {
        const char* code;
        bool per_person, per_product;
    };
    for (const Case& c : {Case{"P", false, true}, Case{"S", true, false}, Case{"D", true, true}, Case{"", false, false},
                          Case{"X", false, false}}) {
        SCOPED_TRACE(c.code);
        Charging ch = charging_of(c.code);
        EXPECT_EQ(ch.per_person, c.per_person);
        EXPECT_EQ(ch.per_product, c.per_product);
    }
}

TEST(Totals, ExamplesAndWhatIsLeftAlone) {
    struct Case {
        const char* name;
        const char* code;
        const char *persons, *value, *guests;
        std::vector<std::pair<double, double>> lines;
        std::optional<double> value_of_persons, total_persons, products;
    };
    const Case cases[] = {
        {"10 persons at 35,5 with 120 guests", "S", "10", "35,5", "120", {}, 355.0, 130.0, std::nullopt},
        {"2 persons at 35,50 with 100 guests", "D", "2", "35,50", "100", {}, 71.0, 102.0, 0.0},
        {"value blank keeps the value total", "S", "2", "", "100", {}, std::nullopt, 102.0, std::nullopt},
        {"persons blank keeps both", "S", " ", "35,5", "100", {}, std::nullopt, std::nullopt, std::nullopt},
        {"guests blank keeps the persons total", "D", "3", "10", "", {}, 30.0, std::nullopt, 0.0},
        {"two lines, unit value not rounded",
         "P",
         "10",
         "35,5",
         "120",
         {{2, 10.25}, {3, 4}},
         std::nullopt,
         std::nullopt,
         32.5},
        {"10.006 counted as it is", "P", "", "", "", {{2, 10.006}}, std::nullopt, std::nullopt, 20.012},
        {"per product with no lines", "P", "", "", "", {}, std::nullopt, std::nullopt, 0.0},
        {"unknown way computes nothing", "", "1", "1", "1", {{1, 1}}, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TotalsInputs in{charging_of(c.code), c.persons, c.value, c.guests, c.lines};
        Totals out = compute_totals(in);
        ASSERT_EQ(out.value_of_persons.has_value(), c.value_of_persons.has_value());
        if (c.value_of_persons) {
            EXPECT_DOUBLE_EQ(*out.value_of_persons, *c.value_of_persons);
        }
        ASSERT_EQ(out.persons.has_value(), c.total_persons.has_value());
        if (c.total_persons) {
            EXPECT_DOUBLE_EQ(*out.persons, *c.total_persons);
        }
        ASSERT_EQ(out.value_of_products.has_value(), c.products.has_value());
        if (c.products) {
            EXPECT_NEAR(*out.value_of_products, *c.products, 1e-9);
        }
    }
}
