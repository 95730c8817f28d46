// Client dataset figures: loading a 10,000-row packet, and the delta of 100 changes on it.
#include <cstdio>
#include <string>

#include "acerto/platform/client_dataset.h"
#include "acerto/platform/format.h"
#include "bench_util.h"

using namespace acerto::platform;
using acerto::bench::measure;
using acerto::bench::report;

namespace {

// The breakage lines' fields, with the calculated total the screen shows.
void declare(ClientDataSet& cds) {
    cds.add_field("CDFILIAL", FieldType::String, 4);
    cds.add_field("NRORCAEVENTO", FieldType::String, 10);
    cds.add_field("NRSEQORCAEVE", FieldType::String, 2);
    cds.add_field("CDDEPTO", FieldType::String, 3);
    cds.add_field("CDARVPROD", FieldType::String, 20);
    cds.add_field("NMPRODUTO", FieldType::String, 50);
    cds.add_field("SGUNIDADE", FieldType::String, 10);
    cds.add_field("QTACERTOQUEB", FieldType::Float);
    cds.add_field("VRACERTOQUEB", FieldType::Float);
    cds.add_field("VRACREACEQUE", FieldType::Float);
    cds.add_field("VRDESCACEQUE", FieldType::Float);
    cds.add_field("NRACERTOQUEB", FieldType::String, 4);
    cds.add_field("CDPRODUTO", FieldType::String, 10);
    cds.add_calc_field("VrTotal", FieldType::Float);
    cds.on_calc_fields = [](DataSet& d) {
        d["VrTotal"].set_as_float(round_decimal(d["VRACERTOQUEB"].as_float(), 2) * d["QTACERTOQUEB"].as_float() +
                                  d["VRACREACEQUE"].as_float() - d["VRDESCACEQUE"].as_float());
    };
}

DataPacket make_packet(int rows) {
    ClientDataSet shape("shape");
    declare(shape);
    DataPacket p(shape.data_field_defs());
    for (int i = 1; i <= rows; ++i) {
        char nr[8];
        std::snprintf(nr, sizeof nr, "%04d", i % 10000);
        p.rows().push_back({Variant("0001"), Variant("0000000042"), Variant("00"), Variant(),
                            Variant("101" + std::to_string(100 + i % 900)), Variant("Taça de cristal para vinho tinto"),
                            Variant("UN"), Variant(double(i % 7 + 1)), Variant(12.5), Variant(0.0), Variant(0.0),
                            Variant(nr), Variant("P" + std::to_string(i))});
    }
    return p;
}

}  // namespace

int main() {
    std::printf("platform benchmarks (client dataset)\n");
    DataPacket packet = make_packet(10000);
    std::string json = packet.dump();
    auto shared = std::make_shared<const DataPacket>(packet);

    ClientDataSet cds("cdsQuebra");
    declare(cds);
    auto load = measure(30, nullptr, [&] { cds.set_data(Variant(shared)); });
    report("load a 10,000-row packet into a client dataset", load, 30);

    auto parse_and_load = measure(30, nullptr, [&] {
        DataPacket p = DataPacket::parse(json);
        cds.set_data(p);
    });
    report("parse the 10,000-row packet's JSON and load it", parse_and_load, 100);

    auto make_changes = [&] {
        cds.set_data(Variant(shared));
        for (int i = 0; i < 60; ++i) {
            cds.move_to(1 + i * 150);
            cds.edit();
            cds["QTACERTOQUEB"].set_as_float(99);
            cds.post();
        }
        for (int i = 0; i < 20; ++i) {
            cds.append();
            cds["NRACERTOQUEB"].set_as_string(std::to_string(i));
            cds["QTACERTOQUEB"].set_as_float(1);
            cds.post();
        }
        for (int i = 0; i < 20; ++i) {
            cds.move_to(9000 - i * 10);
            cds.remove();
        }
    };
    auto delta = measure(50, make_changes, [&] {
        Variant d = cds.delta();
        if (d.packet()->changes().size() != 100) std::abort();
    });
    report("delta of 100 changes on the 10,000-row dataset", delta, 1);
    return load.median_ms <= 30 && delta.median_ms <= 1 ? 0 : 1;
}
