#include "acerto/settlement/rules.h"

#include "acerto/host/consiste.h"
#include "acerto/platform/format.h"

namespace acerto::settlement::rules {

Enabling decide_enabling(const EnablingInputs& in) {
    Enabling out;
    const bool not_number = !in.focus_on_number;
    const bool extras = in.active_tab == Extras;
    const bool page_browse = in.page == State::Browse;
    const bool header_browse = in.header == State::Browse;
    const bool header_editing = editing(in.header);
    // On the Extras tab, the per-person fields of the header being edited lock the other tabs.
    const bool persons_editing = extras && header_editing;

    // 1-7. The commands and their menu mirrors.
    out.include = not_number && page_browse && header_browse;
    out.alter = not_number && page_browse &&
                ((!extras && !in.page_empty) || (extras && in.focus_on_extras_grid && !in.page_empty) ||
                 (extras && !in.focus_on_extras_grid && header_browse));
    out.remove = not_number && page_browse && !in.page_empty && (!extras || in.focus_on_extras_grid);
    out.search = out.remove;
    out.verify = not_number && page_browse && (!extras || header_browse);
    out.confirm = not_number && (editing(in.page) || header_editing);
    out.cancel = out.confirm;

    // 8-12. A tab is closed while another tab's line is edited.
    auto others_editing = [&](Tab self) {
        for (int t = 0; t < kTabs; ++t)
            if (t != self && in.lines_editing[static_cast<std::size_t>(t)]) return true;
        return false;
    };
    out.tabs[Breakage] = !persons_editing && !others_editing(Breakage);
    out.tabs[Leftovers] = !persons_editing && !in.focus_on_filter && !others_editing(Leftovers);
    out.tabs[Overtime] = !persons_editing && !in.focus_on_filter && !others_editing(Overtime) && !in.is_order;
    out.tabs[Extras] = !in.focus_on_filter && !others_editing(Extras) && !in.is_order;

    // 13, 14. Update financial reads Cancel financial as it was before this pass.
    out.update_financial =
        not_number && page_browse && !in.page_empty && header_browse && !in.cancel_financial_was_enabled;
    out.cancel_financial = !in.budget_empty && in.situation != "P" && !in.header_empty;

    // 15. The withdrawal commands.
    out.withdrawal = in.withdrawal_visible && in.extras_open && !in.extras_empty && header_browse && page_browse &&
                     !in.page_empty && extras;
    return out;
}

Charging charging_of(const std::string& code) {
    return Charging{.per_person = code == "S" || code == "D", .per_product = code == "P" || code == "D"};
}

namespace {
// A box's text as a number; a blank box (or one that is no number) gives nothing.
std::optional<double> number_in(const std::string& text) {
    if (host::Consiste::EmptyString(text)) return std::nullopt;
    double v;
    if (!platform::try_str_to_float(text, v)) return std::nullopt;
    return v;
}
}  // namespace

Totals compute_totals(const TotalsInputs& in) {
    Totals out;
    if (in.charging.per_person) {
        auto persons = number_in(in.extra_persons);
        auto value = number_in(in.value_per_person);
        auto guests = number_in(in.guests);
        if (persons && value) out.value_of_persons = *persons * *value;
        if (guests && persons) out.persons = *guests + *persons;
    }
    if (in.charging.per_product) {
        double sum = 0;
        for (const auto& [quantity, unit] : in.lines) sum += quantity * unit;
        out.value_of_products = sum;
    }
    return out;
}

}  // namespace acerto::settlement::rules
