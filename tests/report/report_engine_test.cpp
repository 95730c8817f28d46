// The report engine without a server: definitions read from data, the page model, its text and
// the CSV export.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "acerto/host/report.h"
#include "acerto/platform/errors.h"
#include "acerto/platform/format.h"

using namespace acerto;
using namespace acerto::host::report;
using platform::DataPacket;
using platform::FieldType;
using platform::Variant;

namespace {

std::string settlement_definition() {
    std::ifstream in(ACERTO_REPORT_DIR "/QLM012.json");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

LayoutOptions at_noon() {
    return {platform::DateTime::parse_iso("2026-12-07 12:00:00"), "ROBO", {}};
}

Data settlement_data(int breakage_lines) {
    Data d;
    auto head = std::make_shared<DataPacket>(std::vector<platform::FieldDef>{{"CDFILIAL", FieldType::String, 4},
                                                                             {"NMCLIENTE", FieldType::String, 50},
                                                                             {"DTEVENTO", FieldType::DateTime, 0},
                                                                             {"VRDEVIDO", FieldType::Float, 0}});
    head->rows().push_back({Variant("0001"), Variant("Maria"),
                            Variant(platform::DateTime::parse_iso("2026-11-28 00:00:00")), Variant(1234.5)});
    auto q = std::make_shared<DataPacket>(std::vector<platform::FieldDef>{{"NRACERTOQUEB", FieldType::String, 4},
                                                                          {"NMPRODUTO", FieldType::String, 50},
                                                                          {"QTACERTOQUEB", FieldType::Float, 0},
                                                                          {"VRTOTAL", FieldType::Float, 0}});
    for (int i = 1; i <= breakage_lines; ++i)
        q->rows().push_back(
            {Variant(std::to_string(i)), Variant("Produto " + std::to_string(i)), Variant(1.0), Variant(0.1)});
    d.sets["CABECALHO"] = head;
    d.sets["QUEBRA"] = q;
    return d;
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

}  // namespace

TEST(ReportDefinition, TheSettlementReportReadsFromItsFile) {
    Definition d = Definition::parse(settlement_definition());
    EXPECT_EQ(d.code, "QLM012");
    EXPECT_EQ(d.query, "AcertoFinal");
    EXPECT_EQ(d.parameters, (std::vector<std::string>{"P_CDFILIAL", "P_NRORCAEVENTO", "P_NRSEQORCAEVE"}));
    ASSERT_EQ(d.sections.size(), 4u);
    EXPECT_EQ(d.sections[0].dataset, "QUEBRA");
    EXPECT_EQ(d.sections[0].subtotal_field, "VRTOTAL");
    // Numbers align right unless told otherwise.
    EXPECT_EQ(d.sections[0].columns.back().align, Align::Right);
    EXPECT_EQ(d.sections[0].columns[2].align, Align::Left);
    EXPECT_EQ(d.total_field, "VRDEVIDO");
}

TEST(ReportDefinition, AFaultyDefinitionIsRefusedNamingWhatIsWrong) {
    auto refused = [](const std::string& json) {
        try {
            Definition::parse(json);
        } catch (const platform::Error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(refused("[1]").find("não é um objeto"), std::string::npos);
    EXPECT_NE(refused(R"({"code":"X","title":"T","server":"S","header_dataset":"H"})").find("query"),
              std::string::npos);
    const std::string base = R"({"code":"X","title":"T","server":"S","header_dataset":"H","query":{"name":"Q"},)";
    EXPECT_NE(refused(base + R"("sections":[{"title":"A","dataset":"D","columns":[]}]})").find("sem colunas"),
              std::string::npos);
    EXPECT_NE(
        refused(base +
                R"("sections":[{"title":"A","dataset":"D","columns":[{"title":"c","field":"f","format":"moeda"}]}]})")
            .find("moeda"),
        std::string::npos);
    EXPECT_NE(
        refused(base + R"("sections":[{"title":"A","dataset":"D","columns":[{"title":"c","field":"f","width":-3}]}]})")
            .find("largura"),
        std::string::npos);
    EXPECT_EQ(refused(base + R"("sections":[]})"), "accepted");
}

TEST(ReportDefinition, ACodeNeverNamesAPath) {
    EXPECT_THROW(find_definition("../etc/passwd"), platform::Error);
    EXPECT_THROW(find_definition("QLM012.json"), platform::Error);
    EXPECT_THROW(find_definition("NAOEXISTE"), platform::Error);
    add_search_dir(ACERTO_REPORT_DIR);
    EXPECT_EQ(find_definition("QLM012"), std::string(ACERTO_REPORT_DIR) + "/QLM012.json");
}

TEST(ReportLayout, NoHeaderRowPrintsOnePageSayingSo) {
    Definition d = Definition::parse(settlement_definition());
    Data empty;
    empty.sets["CABECALHO"] = std::make_shared<DataPacket>();
    Document doc = layout(d, empty, at_noon());
    ASSERT_EQ(doc.pages.size(), 1u);
    std::string text = text_of(doc);
    EXPECT_NE(text.find(d.empty_text), std::string::npos);
    EXPECT_NE(text.find("Página 1 de 1"), std::string::npos);
    EXPECT_EQ(text.find("Quebras"), std::string::npos);
}

TEST(ReportLayout, HeaderLinesSubtotalAndTotalReadInOrder) {
    Definition d = Definition::parse(settlement_definition());
    std::string text = text_of(layout(d, settlement_data(3), at_noon()));
    EXPECT_NE(text.find("Filial: 0001"), std::string::npos) << text;
    EXPECT_NE(text.find("Data do evento: 28/11/2026"), std::string::npos) << text;
    EXPECT_NE(text.find("1 Produto 1 1,000"), std::string::npos) << text;
    // The subtotal sums the column (0.1 three times is 0,30, not 0,30000000000000004 cut).
    EXPECT_NE(text.find("Subtotal de quebras: 0,30"), std::string::npos) << text;
    EXPECT_NE(text.find("Valor devido pelo cliente: 1.234,50"), std::string::npos) << text;
    EXPECT_NE(text.find("Impresso em 07/12/2026 12:00:00 por ROBO"), std::string::npos) << text;
    EXPECT_LT(text.find("Quebras"), text.find("Sobras"));
    EXPECT_LT(text.find("Subtotal de quebras"), text.find("Valor devido"));
    // A section without lines says so.
    EXPECT_NE(text.find("Nenhum lançamento."), std::string::npos);
}

TEST(ReportLayout, ThousandsOfLinesSpanPagesWithHeadingsRepeated) {
    Definition d = Definition::parse(settlement_definition());
    Document doc = layout(d, settlement_data(2000), at_noon());
    ASSERT_GT(doc.pages.size(), 30u);
    const std::string n = std::to_string(doc.pages.size());
    std::string text = text_of(doc);
    EXPECT_EQ(count(text, "\f"), static_cast<int>(doc.pages.size()) - 1);
    EXPECT_NE(text.find("Página " + n + " de " + n), std::string::npos);
    // Every later page that holds breakage lines continues the section with its headings.
    std::istringstream pages(text);
    std::string page;
    int continued = 0, page_no = 0;
    while (std::getline(pages, page, '\f')) {
        if (++page_no == 1 || !std::regex_search(page, std::regex("\\n\\d+ Produto \\d+ "))) continue;
        ++continued;
        EXPECT_NE(page.find("Quebras (continuação)\nLinha Código Produto Unid. Quantidade"), std::string::npos)
            << "page " << page_no;
    }
    EXPECT_GE(continued, static_cast<int>(doc.pages.size()) - 2);
    // Every line printed once, and nothing printed below the footer.
    EXPECT_NE(text.find("\n2000 Produto 2000 "), std::string::npos);
    EXPECT_EQ(count(text, " Produto 1999 "), 1);
    for (const auto& page : doc.pages)
        for (const auto& item : page.items) EXPECT_LE(item.y + item.h, doc.height - 5);
    EXPECT_NE(text.find("Subtotal de quebras: 200,00"), std::string::npos);
}

TEST(ReportCsv, OneHeaderLineSemicolonsDecimalCommaAndQuotedTexts) {
    Definition d = Definition::parse(settlement_definition());
    Data data = settlement_data(2);
    auto q = std::const_pointer_cast<DataPacket>(data.sets["QUEBRA"]);
    q->rows()[1][1] = Variant("Prato; borda \"ouro\"");
    q->rows()[1][3] = Variant(1234.5);
    // The host's decimal point does not change what the spreadsheet reads.
    platform::format_settings().decimal_separator = '.';
    platform::format_settings().thousand_separator = ',';
    std::string csv = csv_of(d, data);
    platform::format_settings() = platform::FormatSettings{};
    std::istringstream in(csv);
    std::string header, l1, l2, extra;
    std::getline(in, header);
    std::getline(in, l1);
    std::getline(in, l2);
    EXPECT_FALSE(std::getline(in, extra));
    EXPECT_EQ(header.rfind("Seção;Linha;Código;Produto;Unid.;Quantidade;Unitário;Acréscimo;Desconto;Total", 0), 0u)
        << header;
    EXPECT_EQ(l1, "Quebras;1;;Produto 1;;1,000;;;;0,10;;;;\r");
    EXPECT_EQ(l2.substr(0, l2.find(";;;", 20)).find("\"Prato; borda \"\"ouro\"\"\""), 11u) << l2;
    EXPECT_NE(l2.find(";1234,50"), std::string::npos) << l2;
}

TEST(ReportValues, FormatsAsTheReportPrintsThem) {
    EXPECT_EQ(format_value(Variant(), Format::Number, 2), "");
    EXPECT_EQ(format_value(Variant(-1234.565), Format::Number, 2), "-1.234,57");
    EXPECT_EQ(format_value(Variant(3.0), Format::Number, 0), "3");
    EXPECT_EQ(format_value(Variant(platform::DateTime::parse_iso("2026-01-02 03:04:05")), Format::Date, 2),
              "02/01/2026");
    EXPECT_EQ(format_value(Variant("Taça"), Format::Text, 2), "Taça");
}

TEST(ReportValues, ProductCodesPrintThroughTheHostsMaskAsTheScreenShowsThem) {
    Definition d = Definition::parse(settlement_definition());
    const Masks masks{{"product", "9.99.999;0;_"}};
    for (const auto& s : d.sections) EXPECT_EQ(s.columns[1].mask, "product") << s.title;
    const Column& code = d.sections[0].columns[1];
    EXPECT_EQ(format_cell(Variant("101001"), code, masks), "1.01.001");
    // Shorter than the mask: blanks where the screen shows them; longer: printed as stored.
    EXPECT_EQ(format_cell(Variant("1010"), code, masks), "1.01.0__");
    EXPECT_EQ(format_cell(Variant("1010010"), code, masks), "1010010");
    EXPECT_EQ(format_cell(Variant(), code, masks), "");
    // A mask that keeps its literals stores them already; no mask configured prints the value.
    EXPECT_EQ(format_cell(Variant("1.01.001"), code, {{"product", "9.99.999;1;_"}}), "1.01.001");
    EXPECT_EQ(format_cell(Variant("101001"), code, {}), "101001");
    // Another level layout of the host's tree.
    EXPECT_EQ(format_cell(Variant("1234"), code, {{"product", "99-99;0;_"}}), "12-34");

    // The page and the CSV both show the masked code.
    Data data = settlement_data(1);
    auto q = std::make_shared<DataPacket>(std::vector<platform::FieldDef>{{"NRACERTOQUEB", FieldType::String, 4},
                                                                          {"CDARVPROD", FieldType::String, 20},
                                                                          {"NMPRODUTO", FieldType::String, 50}});
    q->rows().push_back({Variant("0001"), Variant("101001"), Variant("Taça")});
    data.sets["QUEBRA"] = q;
    LayoutOptions o = at_noon();
    o.masks = masks;
    std::string text = text_of(layout(d, data, o));
    EXPECT_NE(text.find("0001 1.01.001 Taça"), std::string::npos) << text;
    EXPECT_NE(csv_of(d, data, masks).find("Quebras;0001;1.01.001;Taça;"), std::string::npos);
}

TEST(ReportDefinition, AMaskIsOneTheHostKnowsOnATextColumn) {
    const std::string base =
        R"({"code":"X","title":"T","server":"S","header_dataset":"H","query":{"name":"Q"},"sections":[{"title":"A","dataset":"D","columns":[{"title":"c","field":"f",)";
    EXPECT_EQ(Definition::parse(base + R"("mask":"product"}]}]})").sections[0].columns[0].mask, "product");
    auto refusal = [&](const std::string& column) {
        try {
            Definition::parse(base + column + "}]}]}");
        } catch (const platform::Error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(refusal(R"("mask":"9.99.999;0;_")").find("máscara desconhecida"), std::string::npos);
    EXPECT_NE(refusal(R"("mask":"product","format":"number")").find("só um texto tem máscara"), std::string::npos);
}

TEST(ReportAnswer, AMalformedServerAnswerIsRefused) {
    EXPECT_THROW(data_from_answer(Variant("x")), platform::Error);
    EXPECT_THROW(data_from_answer(Variant(Variant::Array{Variant(Variant::Array{Variant("A")})})), platform::Error);
    auto p = std::make_shared<const DataPacket>();
    Data d = data_from_answer(Variant(Variant::Array{Variant(Variant::Array{Variant("A"), Variant(p)})}));
    EXPECT_NE(d.set("A"), nullptr);
    EXPECT_EQ(d.set("B"), nullptr);
}
