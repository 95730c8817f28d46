// The Extras tab's totals: value of the extra persons, total of persons, value of the extra
// products. Display only: neither stored nor sent.
#include "acerto/platform/format.h"
#include "acerto/settlement/acerto_final.h"
#include "acerto/settlement/rules.h"

namespace acerto::settlement {

using platform::float_to_str;

void TfrmAcertoFinal::Calcula_Campos() {
    rules::TotalsInputs in;
    in.charging = rules::charging_of(cdsParam.active() ? cdsParam.field("IDTPCOBRVREXTRA").as_string() : "");
    // 1. Per person: read from the boxes' texts, so the totals follow what the boxes show.
    in.extra_persons = dbeQtExPess.text();
    in.value_per_person = dbeVrPessoa.text();
    in.guests = dbeConvEven.text();
    // 2. Per product: the walk uses the lines' own cursor (posting a pending edit, as any move
    //    does) and leaves it on the last line; the lines between are read where they stand
    //    rather than scrolled to one by one.
    if (in.charging.per_product && cdsExtras.active() && !cdsExtras.is_empty()) {
        cdsExtras.first();
        platform::Field& quantity = cdsExtras.field("QTACERTOEXTR");
        platform::Field& unit = cdsExtras.field("VRACERTOEXTR");
        const int n = cdsExtras.record_count();
        in.lines.reserve(static_cast<std::size_t>(n));
        {
            struct EndRead {
                DataSet& lines;
                ~EndRead() { lines.set_display_record(-1); }
            } end_read{cdsExtras};
            for (int i = 0; i < n; ++i) {
                cdsExtras.set_display_record(i);
                in.lines.emplace_back(quantity.as_float(), unit.as_float());
            }
        }
        cdsExtras.last();
    }
    const rules::Totals out = rules::compute_totals(in);
    if (out.value_of_persons) {
        nedVrTot.set_text("");
        nedVrTot.set_text(float_to_str(*out.value_of_persons));
    }
    if (out.persons) {
        nedTotPess.set_text("");
        nedTotPess.set_text(float_to_str(*out.persons));
    }
    if (out.value_of_products) nedVrTotProd.set_text(float_to_str(*out.value_of_products));
}

}  // namespace acerto::settlement
