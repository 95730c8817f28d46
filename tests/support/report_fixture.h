#pragma once
// A long settlement written as a fixture, for the report's tests and benchmark.
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "os_util.h"
#include "server_process.h"

namespace acerto::test {

// A pending settlement of budget 0000000500 of branch 0001 with `lines` lines in each grid,
// each of product 101001 named `name` and its number, the quantity `quantity(number)` and the
// unit value `unit`; written as a fixture named `tag` in the run's folder. Returns its path.
inline std::string long_settlement_fixture(
    const std::string& tag, int lines, const std::string& name, double unit,
    const std::function<int(int)>& quantity = [](int) { return 1; }) {
    std::string path = temp_dir() + "/" + tag + ".json";
    std::ofstream out(path);
    out << R"({"FILIAL":[{"CDFILIAL":"0001","NMFILIAL":"Matriz","CDEMPRESA":"01"}],)"
        << R"("ORCAMENTO":[{"CDFILIAL":"0001","NRORCAEVENTO":"0000000500","NRSEQORCAEVE":"00","NMFANTCLIE":"Grande","IDTPORCAEVEN":"O","IDTPCOBRVREXTRA":"P"}],)"
        << R"("ACERTO":[{"CDFILIAL":"0001","NRORCAEVENTO":"0000000500","NRSEQORCAEVE":"00","DTACERTOOREV":"2026-12-01","CDOPERADOR":"ANA","IDSITUACERTO":"P","IDTPVREXTRA":"P"}])";
    const char* tables[] = {"ACERTOQUEBRA", "ACERTOSOBRA", "ACERTOHREXTRA", "ACERTOEXTRA"};
    const char* numbers[] = {"NRACERTOQUEB", "NRACERTOSOBR", "NRACERTOHREX", "NRACERTOEXTR"};
    const char* qty[] = {"QTACERTOQUEB", "QTRESACERSOB", "QTACERTOHREX", "QTACERTOEXTR"};
    const char* value[] = {"VRACERTOQUEB", "VRACERTOSOBR", "VRACERTOHREX", "VRACERTOEXTR"};
    for (int t = 0; t < 4; ++t) {
        out << ",\"" << tables[t] << "\":[";
        for (int i = 1; i <= lines; ++i) {
            char nr[16];
            std::snprintf(nr, sizeof nr, "%04d", i);
            out << (i > 1 ? "," : "") << R"({"CDFILIAL":"0001","NRORCAEVENTO":"0000000500","NRSEQORCAEVE":"00",")"
                << numbers[t] << "\":\"" << nr << R"(","CDARVPROD":"101001","NMPRODUTO":")" << name << i << "\",\""
                << qty[t] << "\":" << quantity(i) << ",\"" << value[t] << "\":" << unit << "}";
        }
        out << "]";
    }
    out << "}";
    return path;
}

}  // namespace acerto::test
