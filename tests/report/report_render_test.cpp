// acerto-report against a real server: the settlement to PDF (read back with pdftotext) and to
// CSV (read back as a spreadsheet would), a long settlement over many pages, and the picture
// of a report page in the documentation.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "report_fixture.h"
#include "server_process.h"

using namespace acerto;

namespace {

struct Rendered {
    std::string pdf_text, csv, log;
};

Rendered render(int port, const std::string& number, const std::string& name) {
    Rendered r;
    const std::string base = test::temp_dir() + "/" + name;
    const std::string cli = "ACERTO_PASSWORD=" + std::string(test::kTestPassword) + " " + ACERTO_REPORT_BIN +
                            " --server 127.0.0.1:" + std::to_string(port) + " --operator " + test::kTestOperator +
                            " --branch 0001 --number " + number;
    r.log =
        test::run_command(cli + " -o " + base + ".pdf", true) + test::run_command(cli + " -o " + base + ".csv", true);
    r.pdf_text = test::run_command(std::string(ACERTO_PDFTOTEXT) + " -layout " + base + ".pdf -", true);
    r.csv = test::slurp(base + ".csv");
    return r;
}

// Blanks collapsed: pdftotext's layout keeps columns apart with runs of spaces.
std::string squeezed(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != ' ' || out.empty() || out.back() != ' ') out += c;
    return out;
}

// A CSV line read as a spreadsheet set to Portuguese reads it: ';' between cells, quotes around
// a text holding one.
std::vector<std::string> cells_of(const std::string& l) {
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (std::size_t i = 0; i < l.size(); ++i) {
        char c = l[i];
        if (c == '\r') continue;
        if (c == '"') {
            if (quoted && i + 1 < l.size() && l[i + 1] == '"') {
                cells.back() += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (c == ';' && !quoted) {
            cells.emplace_back();
        } else {
            cells.back() += c;
        }
    }
    return cells;
}

// The sum of a column of every line of a CSV export, decimal comma.
double csv_sum(const std::string& csv, const std::string& column, int* rows = nullptr) {
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    auto header = cells_of(line);
    auto at = static_cast<std::size_t>(std::find(header.begin(), header.end(), column) - header.begin());
    double sum = 0;
    while (std::getline(in, line)) {
        auto c = cells_of(line);
        if (at >= c.size() || c.size() != header.size()) {
            ADD_FAILURE() << "a line of " << c.size() << " cells: " << line;
            continue;
        }
        std::string v = c[at];
        std::replace(v.begin(), v.end(), ',', '.');
        sum += std::stod(v);
        if (rows) ++*rows;
    }
    return sum;
}

}  // namespace

TEST(ReportRender, TheSettlementAsPdfHoldsItsLinesSubtotalsAndTotal) {
    test::ServerProcess server(test::fresh_database(), ACERTO_REPORT_FIXTURES "/acerto_relatorio.json");
    Rendered r = render(server.port(), "100", "acerto100");
    const std::string t = squeezed(r.pdf_text);
    for (const char* expected :
         {"Acerto Final", "Filial: 0001", "Buffet Relatório - Matriz", "Cliente: Maria Souza", "Origem: Orçamento",
          "Data do acerto: 30/11/2026", "Hora do acerto: 16:45:10", "Situação financeira: Pendente",
          "0001 1.01.001 Taça de cristal UN 2,000 10,51 1,00 0,50 21,52", "Subtotal de quebras: 45,91",
          "Subtotal de sobras: 10,00", "0001 3.01.001 Garçom 4,00 25,56 102,24", "Subtotal de horas extras: 102,24",
          "Subtotal de extras: 60,00", "Valor devido pelo cliente: 218,15", "Página 1 de 1"})
        EXPECT_NE(t.find(expected), std::string::npos) << expected << "\n" << r.log << r.pdf_text;
}

TEST(ReportRender, TheCsvReadsBackToTheSameNumbers) {
    test::ServerProcess server(test::fresh_database(), ACERTO_REPORT_FIXTURES "/acerto_relatorio.json");
    Rendered r = render(server.port(), "0000000100", "acerto100csv");
    std::istringstream in(r.csv);
    std::string line;
    std::getline(in, line);
    ASSERT_EQ(line.rfind("Seção;", 0), 0u) << r.log << r.csv;
    // The Total column summed over the lines gives the amount owed.
    auto header = cells_of(line);
    auto total_at = std::find(header.begin(), header.end(), "Total") - header.begin();
    double sum = 0;
    int rows = 0;
    std::string names;
    while (std::getline(in, line)) {
        auto c = cells_of(line);
        ASSERT_EQ(c.size(), header.size()) << line;
        std::string v = c[static_cast<std::size_t>(total_at)];
        std::replace(v.begin(), v.end(), ',', '.');
        sum += std::stod(v);
        names += c[3] + "|";
        ++rows;
    }
    EXPECT_EQ(rows, 5);
    EXPECT_NEAR(sum, 218.149, 0.006);
    EXPECT_NE(names.find("Prato raso; borda \"ouro\"|"), std::string::npos) << names;
}

TEST(ReportRender, TheDemoSettlementPrintsItsLinesWithCodesAsTheScreenShowsThem) {
    test::ServerProcess server(test::fresh_database(), "", {"--demo"});
    Rendered r = render(server.port(), "102", "demo102");
    const std::string t = squeezed(r.pdf_text);
    for (const char* expected :
         {"Cliente: Horizonte Engenharia", "0001 1.01.001 Taça de vinho tinto UN 6,000 10,45 0,00 0,00 62,70",
          "0002 1.02.001 Prato raso UN 2,000 15,40 1,50 0,00 32,30", "Subtotal de quebras: 95,00",
          "0001 3.01.001 Coxinha (cento) CT 10,000 2,000 3,000 104,50 940,50", "Subtotal de horas extras: 369,60",
          "0001 3.03.005 Cerveja lata UN 48,000 12,00 576,00", "Valor devido pelo cliente: 1.981,10"})
        EXPECT_NE(t.find(expected), std::string::npos) << expected << "\n" << r.log << r.pdf_text;
    // The CSV's totals add up to the amount owed, its codes masked like the page's.
    int rows = 0;
    EXPECT_NEAR(csv_sum(r.csv, "Total", &rows), 1981.10, 0.005);
    EXPECT_EQ(rows, 6);
    EXPECT_NE(r.csv.find(";1.02.001;Prato raso;"), std::string::npos) << r.csv;
}

TEST(ReportRender, ANumberWithoutSettlementPrintsAPageSayingSo) {
    test::ServerProcess server(test::fresh_database(), ACERTO_REPORT_FIXTURES "/acerto_relatorio.json");
    Rendered r = render(server.port(), "300", "acerto300");
    EXPECT_NE(squeezed(r.pdf_text).find("Não há acerto final registrado"), std::string::npos) << r.log << r.pdf_text;
}

TEST(ReportRender, ThousandsOfLinesSpanPagesWithTheHeadingsRepeated) {
    test::ServerProcess server(test::fresh_database(), test::long_settlement_fixture("big600", 600, "Item ", 1.5));
    Rendered r = render(server.port(), "500", "acerto500");
    const std::string t = squeezed(r.pdf_text);
    int pages = 0;
    for (char c : r.pdf_text) pages += c == '\f';
    EXPECT_GT(pages, 40) << r.log;
    EXPECT_NE(t.find("Página " + std::to_string(pages) + " de " + std::to_string(pages)), std::string::npos);
    EXPECT_NE(t.find("Quebras (continuação)"), std::string::npos);
    EXPECT_NE(t.find("Extras (continuação)"), std::string::npos);
    EXPECT_NE(t.find("Subtotal de quebras: 900,00"), std::string::npos);  // 600 x 1,50
    EXPECT_NE(t.find("Valor devido pelo cliente: 3.600,00"), std::string::npos);
    // The CSV: a header line and every line of the four grids.
    int lines = 0;
    for (char c : r.csv) lines += c == '\n';
    EXPECT_EQ(lines, 1 + 4 * 600);
}

TEST(ReportRender, TheDocumentationHoldsAPictureOfAReportPage) {
    QImage img(ACERTO_SOURCE_DIR "/docs/relatorio-QLM012.png");
    ASSERT_FALSE(img.isNull());
    EXPECT_GT(img.width(), 600);
    // Not blank: a good share of it is neither white nor one flat colour.
    int dark = 0;
    for (int y = 0; y < img.height(); y += 2)
        for (int x = 0; x < img.width(); x += 2) dark += qGray(img.pixel(x, y)) < 128;
    EXPECT_GT(dark, 500);
}
