#pragma once
// The item-grid family: what the breakage, leftover, overtime and extras grids share, with
// each member's differences as data. Adding a member is filling in its row.
#include <string>
#include <vector>

#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

struct GridMember {
    enum class UnitRule { WriteBack, RememberedText, PriceBase };
    enum class BeforeInsert { SettlementLock, WithdrawalCheck };

    std::string name;  // "Quebra"
    TabSheet* tab;
    DBGrid* grid;
    ClientDataSet* lines;
    ClientDataSet* numbering;  // the numbering copy
    DataSource* source;
    std::string line_field;  // NRACERTOQUEB
    std::string* holder;     // stNrQuebra
    std::string unit_field;  // VRACERTOQUEB
    std::vector<std::string> numeric_columns;
    std::string header_code, header_name;  // CDPRBAQUEBRA, NMPRECOQUEBR
    DBEdit* code_box;
    DBEdit* name_box;
    host::TBtnPesquisa* search_button;
    bool base_key_handler_first;
    bool product_check_on_post;
    bool copies_unit;
    UnitRule unit_rule;
    // While this dataset is edited, changing the code clears the name (the box, or for the
    // extras the header field itself).
    DataSet* name_clear_when;
    bool clears_header_field;
    DataSet* price_check_when;  // the price-base check acts while this dataset is edited
    BeforeInsert before_insert;
    bool sequence_from_budget;  // NRSEQORCAEVE when posting: the budget's, or "00"
};

}  // namespace acerto::settlement
