#pragma once
// The screen's tables of rules as pure functions over a snapshot of what they read: which
// commands and tabs are enabled, and the Extras tab's totals. Handlers gather the inputs and
// apply the result; the rules are tested on their own, table by table.
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace acerto::settlement::rules {

// The four item tabs, in their order on the screen.
enum Tab { Breakage = 0, Leftovers = 1, Overtime = 2, Extras = 3 };
constexpr int kTabs = 4;

enum class State { Inactive, Browse, Edit, Insert };
inline bool editing(State s) {
    return s == State::Edit || s == State::Insert;
}

struct EnablingInputs {
    bool focus_on_number = false;       // the budget number box has the focus
    bool focus_on_filter = false;       // the branch or the number box has the focus
    bool focus_on_extras_grid = false;  // the extras grid has the focus
    Tab active_tab = Breakage;
    State page = State::Browse;  // the dataset the pass is run with
    bool page_empty = true;
    State header = State::Browse;
    bool header_empty = true;
    std::array<bool, kTabs> lines_editing{};  // each tab's line dataset in edit or insert
    bool is_order = false;                    // an order has neither overtime nor extras
    bool budget_empty = true;
    std::string situation;                      // IDSITUACERTO
    bool cancel_financial_was_enabled = false;  // read before this pass recomputes it
    bool withdrawal_visible = false;
    bool extras_open = false;
    bool extras_empty = true;
};

struct Enabling {
    bool include = false, alter = false, remove = false, search = false, verify = false;
    bool confirm = false, cancel = false;
    std::array<bool, kTabs> tabs{};  // and their menu items and grids
    bool update_financial = false, cancel_financial = false;
    bool withdrawal = false;  // withdraw and cancel the withdrawal
};

Enabling decide_enabling(const EnablingInputs& in);

// The ways of charging extras that the tab offers, from IDTPCOBRVREXTRA.
struct Charging {
    bool per_person = false;   // "S", "D"
    bool per_product = false;  // "P", "D"
};
Charging charging_of(const std::string& code);

struct TotalsInputs {
    Charging charging;
    std::string extra_persons, value_per_person, guests;  // the boxes' texts
    // QTACERTOEXTR and VRACERTOEXTR of every extras line (unset fields count as 0).
    std::vector<std::pair<double, double>> lines;
};

// A total left unset keeps what its box shows.
struct Totals {
    std::optional<double> value_of_persons, persons, value_of_products;
};

Totals compute_totals(const TotalsInputs& in);

}  // namespace acerto::settlement::rules
