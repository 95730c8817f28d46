// The table adapter's repaint: data() over a full screen of cells of a 10,000-line grid.
#include <QApplication>
#include <cstdlib>

#include "acerto/platform/client_dataset.h"
#include "acerto/platform/form.h"
#include "acerto/platform/format.h"
#include "bench_util.h"
#include "table_model.h"

using namespace acerto;

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    platform::Form form("f");
    platform::ClientDataSet cds("cdsQuebra");
    cds.add_field("CDARVPROD", platform::FieldType::String, 20).set_edit_mask("9.99.999;0;_");
    cds.add_field("NMPRODUTO", platform::FieldType::String, 50);
    cds.add_field("SGUNIDADE", platform::FieldType::String, 10);
    for (const char* n : {"QTACERTOQUEB", "VRACERTOQUEB", "VRACREACEQUE", "VRDESCACEQUE"})
        cds.add_field(n, platform::FieldType::Float).display_format = "#,##0.00";
    cds.add_calc_field("VrTotal", platform::FieldType::Float).display_format = "#,##0.00";
    cds.on_calc_fields = [](platform::DataSet& d) {
        d["VrTotal"].set_as_float(platform::round_decimal(d["VRACERTOQUEB"].as_float(), 2) *
                                  d["QTACERTOQUEB"].as_float());
    };
    platform::DataPacket p(cds.data_field_defs());
    for (int i = 0; i < 10000; ++i)
        p.rows().push_back({platform::Variant("101" + std::to_string(100 + i % 900)),
                            platform::Variant("Taça de cristal"), platform::Variant("UN"),
                            platform::Variant(double(i % 9 + 1)), platform::Variant(12.5), platform::Variant(0.0),
                            platform::Variant(0.0)});
    cds.set_data(p);
    platform::DataSource dts("dts", &cds);
    auto& grid = form.make<platform::DBGrid>("dbgPadrao", &form);
    grid.bind(&dts);
    for (const char* n : {"CDARVPROD", "NMPRODUTO", "SGUNIDADE", "QTACERTOQUEB", "VRACERTOQUEB", "VRACREACEQUE",
                          "VRDESCACEQUE", "VrTotal"})
        grid.add_column(n);
    cds.move_to(5001);
    gui::GridModel model(grid);
    const int rows = 25;  // a full screen of the grid
    int n = 0;
    auto f = bench::measure(200, nullptr, [&] {
        for (int r = 5000; r < 5000 + rows; ++r)
            for (int c = 0; c < model.columnCount(); ++c) {
                n += model.data(model.index(r, c), Qt::DisplayRole).toString().size();
                n += model.data(model.index(r, c), Qt::TextAlignmentRole).toInt() & 1;
            }
    });
    std::printf("gui benchmark (a 10,000-line grid)\n");
    bench::report("data() over a full screen of cells (25 rows x 8 columns)", f, 1.0);
    return n > 0 ? 0 : 1;
}
