// The Extras tab's totals: value of the extra persons, total of persons, value of the extra
// products. Display only: neither stored nor sent.
#include "acerto/host/consiste.h"
#include "acerto/platform/format.h"
#include "acerto/settlement/acerto_final.h"

namespace acerto::settlement {

using host::Consiste::EmptyString;
using platform::float_to_str;
using platform::str_to_float;

void TfrmAcertoFinal::Calcula_Campos() {
    const std::string T = cdsParam.active() ? cdsParam.field("IDTPCOBRVREXTRA").as_string() : std::string();
    // 1. Per person: read from the boxes' texts, so the totals follow what the boxes show.
    if (T == "S" || T == "D") {
        if (!EmptyString(dbeQtExPess.text()) && !EmptyString(dbeVrPessoa.text())) {
            double v = str_to_float(dbeQtExPess.text()) * str_to_float(dbeVrPessoa.text());
            nedVrTot.set_text("");
            nedVrTot.set_text(float_to_str(v));
        }
        if (!EmptyString(dbeConvEven.text()) && !EmptyString(dbeQtExPess.text())) {
            double n = str_to_float(dbeConvEven.text()) + str_to_float(dbeQtExPess.text());
            nedTotPess.set_text("");
            nedTotPess.set_text(float_to_str(n));
        }
    }
    // 2. Per product: quantity times the unrounded unit value, over every line.
    if (T == "P" || T == "D") {
        double sum = 0;
        if (cdsExtras.active() && !cdsExtras.is_empty()) {
            cdsExtras.first();
            while (!cdsExtras.eof()) {
                sum += cdsExtras.field("QTACERTOEXTR").as_float() * cdsExtras.field("VRACERTOEXTR").as_float();
                cdsExtras.next();
            }
        }
        nedVrTotProd.set_text(float_to_str(sum));
    }
}

}  // namespace acerto::settlement
