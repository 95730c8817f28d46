#pragma once
// The item-grid family: what the breakage, leftover, overtime and extras grids share, with
// each member's differences as data. Adding a member is filling in its row; the screen asks the
// active member instead of comparing tabs.
#include <functional>
#include <string>
#include <vector>

#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

// A cell's text reaching its field. A cell not being typed into shows the stored value in its
// edit format (2 decimals): that value stays as it is rather than rounded to what is shown.
inline void TakeCellText(platform::Field& field, const std::string& typed) {
    if (typed != field.text()) field.set_text(typed);
}

// How a quantity or value check of a line reads and reports its field.
struct ValueCheck {
    bool below_zero_only;     // 0 passes (else a value must be greater than 0)
    bool from_grid;           // the cell's text, written into the field while a line is edited
    bool only_while_editing;  // checks nothing while the line dataset is browsing
    bool activates_tab;       // a failure makes the grid's tab the active page
    bool focuses;             // a failure focuses the field's column
};

struct GridMember {
    // How the product check settles the unit value.
    enum class UnitRule { WriteBack, RememberedText, PriceBase };
    // What runs before a line is inserted.
    enum class InsertGuard { SettlementLock, WithdrawalCheck };
    // The budget sequence a posted line carries.
    enum class Sequence { Zeros, Budget };
    struct ColumnCheck {
        std::string field;
        std::function<void()> run;
    };

    // The tab and what the operator works with on it.
    int number = 0;  // 1 to 4, as the server's SetDeletar codes count the tabs
    TabSheet* tab = nullptr;
    MenuItem* menu = nullptr;
    DBGrid* grid = nullptr;
    ClientDataSet* lines = nullptr;
    ClientDataSet* numbering = nullptr;  // the numbering copy
    DataSource* source = nullptr;
    std::string line_field;         // NRACERTOQUEB
    std::string* holder = nullptr;  // stNrQuebra
    std::string unit_field;         // VRACERTOQUEB
    std::vector<std::string> numeric_columns;

    // The price-base panel.
    std::string header_code, header_name;  // CDPRBAQUEBRA, NMPRECOQUEBR
    DBEdit* code_box = nullptr;
    DBEdit* name_box = nullptr;
    host::TBtnPesquisa* search_button = nullptr;
    // While this dataset is edited, changing the code clears the name (the box, or for the
    // extras the header field itself).
    DataSet* name_clear_when = nullptr;
    bool clears_header_field = false;
    DataSet* price_check_when = nullptr;  // the price-base check acts while this is edited
    bool price_base_to_add = true;        // Include refuses a line without a price base

    // The product check and the pick.
    bool base_key_handler_first = false;
    bool copies_unit = true;  // SGUNIDADE
    UnitRule unit_rule = UnitRule::WriteBack;

    // Inserting and posting.
    InsertGuard insert_guard = InsertGuard::SettlementLock;
    Sequence sequence = Sequence::Zeros;
    // The header's edit puts a browsing line dataset of the active member into edit too.
    std::function<bool()> follows_header;
    // Confirm's checks of the current line when this tab is active; the post's checks.
    std::function<void()> confirm_checks;
    std::function<void()> post_checks;
    // Leaving a column of the grid while a line is edited runs its check.
    std::vector<ColumnCheck> column_checks;
    // After a line is posted, before the save (the extras' totals).
    std::function<void()> after_post;
};

}  // namespace acerto::settlement
