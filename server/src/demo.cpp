// The demo data set: what a caterer would recognise on the screen.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "acerto/server/fixture.h"

namespace acerto::server {

using nlohmann::json;

namespace {

struct Group {
    const char* code;  // level-2 tree code, e.g. "101"
    const char* name;
    const char* unit;
    double base_price;
    std::vector<const char*> items;
};

}  // namespace

json demo_fixture() {
    json f;
    f["FILIAL"] = json::array({
        {{"CDFILIAL", "0001"}, {"NMFILIAL", "Buffet Estrela - Matriz"}, {"CDEMPRESA", "01"}, {"CDSERIE", "1"}},
        {{"CDFILIAL", "0002"}, {"NMFILIAL", "Buffet Estrela - Jardins"}, {"CDEMPRESA", "01"}, {"CDSERIE", "2"}},
        {{"CDFILIAL", "0003"}, {"NMFILIAL", "Buffet Estrela - Alphaville"}, {"CDEMPRESA", "02"}, {"CDSERIE", "3"}},
    });
    f["PRECOBASE"] = json::array({
        {{"CDPRECOBASE", "01"}, {"DSPRECOBASE", "Tabela de Eventos"}},
        {{"CDPRECOBASE", "02"}, {"DSPRECOBASE", "Reposição de Materiais"}},
        {{"CDPRECOBASE", "03"}, {"DSPRECOBASE", "Mão de Obra"}},
    });

    // The product tree: 9.99.999 (group, subgroup, product).
    const std::vector<std::pair<const char*, const char*>> top = {
        {"1", "Utensílios"}, {"2", "Enxoval"}, {"3", "Alimentos e Bebidas"}, {"4", "Mão de Obra"}};
    const std::vector<Group> groups = {
        {"101",
         "Copos e Taças",
         "UN",
         9.5,
         {"Taça de vinho tinto", "Taça de vinho branco", "Taça de champanhe", "Copo long drink", "Copo de água",
          "Copo de whisky", "Taça de licor", "Caneca de chope", "Copo de cerveja", "Taça de sobremesa",
          "Jarra de vidro 1 l", "Balde de gelo"}},
        {"102",
         "Pratos",
         "UN",
         14.0,
         {"Prato raso", "Prato fundo", "Prato de sobremesa", "Prato de pão", "Sousplat dourado", "Sousplat prata",
          "Travessa oval grande", "Travessa redonda", "Bowl de cerâmica", "Pires de café", "Xícara de café",
          "Xícara de chá"}},
        {"103",
         "Talheres",
         "UN",
         6.0,
         {"Garfo de mesa", "Faca de mesa", "Colher de sopa", "Garfo de sobremesa", "Faca de sobremesa",
          "Colher de sobremesa", "Colher de café", "Garfo de peixe", "Faca de peixe", "Concha de servir",
          "Pegador de salada", "Espátula de bolo"}},
        {"201",
         "Toalhas",
         "PC",
         45.0,
         {"Toalha redonda branca", "Toalha redonda marfim", "Toalha retangular branca", "Toalha retangular preta",
          "Cobre-mancha dourado", "Cobre-mancha prata", "Saia de mesa", "Toalha de buffet", "Capa de cadeira",
          "Laço de cadeira", "Trilho de mesa", "Toalha quadrada"}},
        {"202",
         "Guardanapos",
         "PC",
         4.5,
         {"Guardanapo de linho branco", "Guardanapo de linho marfim", "Guardanapo de tecido preto",
          "Guardanapo de tecido vinho", "Porta-guardanapo dourado", "Porta-guardanapo prata", "Guardanapo de coquetel",
          "Guardanapo bordado", "Pano de bandeja", "Pano de copa", "Avental de garçom", "Luva de serviço"}},
        {"301",
         "Salgados",
         "CT",
         95.0,
         {"Coxinha (cento)", "Quibe (cento)", "Empada (cento)", "Risole (cento)", "Bolinha de queijo (cento)",
          "Pastel (cento)", "Esfiha (cento)", "Canapé (cento)", "Mini sanduíche (cento)", "Bruschetta (cento)"}},
        {"302",
         "Doces",
         "CT",
         120.0,
         {"Brigadeiro (cento)", "Beijinho (cento)", "Cajuzinho (cento)", "Bem-casado (cento)", "Trufa (cento)",
          "Camafeu (cento)", "Olho de sogra (cento)", "Quindim (cento)", "Torta de limão", "Bolo de casamento (kg)"}},
        {"303",
         "Bebidas",
         "UN",
         8.0,
         {"Refrigerante 2 l", "Água mineral 500 ml", "Água com gás 500 ml", "Suco natural 1 l", "Cerveja lata",
          "Vinho tinto", "Vinho branco", "Espumante", "Whisky 12 anos", "Energético"}},
        {"401", "Garçons", "HR", 35.0, {"Garçom", "Maître", "Barman", "Copeiro", "Recepcionista", "Segurança"}},
        {"402",
         "Cozinha",
         "HR",
         42.0,
         {"Cozinheiro", "Auxiliar de cozinha", "Confeiteiro", "Chef de cozinha", "Lavador de louça", "Motorista"}},
    };

    json products = json::array();
    json prices = json::array();
    int next = 1;
    char code[16];
    for (const auto& [c, n] : top) {
        std::snprintf(code, sizeof code, "%06d", next++);
        products.push_back(
            {{"CDPRODUTO", code}, {"CDARVPROD", c}, {"NMPRODUTO", n}, {"CDNVPRODUTO", "1"}, {"IDATIVO", "S"}});
    }
    for (const auto& g : groups) {
        std::snprintf(code, sizeof code, "%06d", next++);
        products.push_back({{"CDPRODUTO", code},
                            {"CDARVPROD", g.code},
                            {"NMPRODUTO", g.name},
                            {"CDNVPRODUTO", "2"},
                            {"IDATIVO", "S"}});
        int i = 0;
        bool labour = g.code[0] == '4';
        for (const char* name : g.items) {
            ++i;
            std::snprintf(code, sizeof code, "%06d", next++);
            char tree[16];
            std::snprintf(tree, sizeof tree, "%s%03d", g.code, i);
            products.push_back({{"CDPRODUTO", code},
                                {"CDARVPROD", tree},
                                {"CDPRODESTO", code},
                                {"NMPRODUTO", name},
                                {"SGUNIDADE", g.unit},
                                {"CDNVPRODUTO", "3"},
                                {"IDATIVO", "S"}});
            double price = g.base_price + i * (g.base_price / 10.0);
            price = static_cast<long long>(price * 100 + 0.5) / 100.0;
            if (labour) {
                prices.push_back({{"CDPRECOBASE", "03"},
                                  {"CDPRODUTO", code},
                                  {"DTINIVALIPB", "2026-03-01"},
                                  {"VRITEPREBASE", price}});
                // A new labour agreement, valid only from next year.
                prices.push_back({{"CDPRECOBASE", "03"},
                                  {"CDPRODUTO", code},
                                  {"DTINIVALIPB", "2027-01-01"},
                                  {"VRITEPREBASE", static_cast<long long>(price * 110 + 0.5) / 100.0}});
            } else {
                prices.push_back({{"CDPRECOBASE", "01"},
                                  {"CDPRODUTO", code},
                                  {"DTINIVALIPB", "2026-01-01"},
                                  {"VRITEPREBASE", price}});
                if (i % 3 == 0)  // a mid-year raise on some items: two valid prices
                    prices.push_back({{"CDPRECOBASE", "01"},
                                      {"CDPRODUTO", code},
                                      {"DTINIVALIPB", "2026-07-01"},
                                      {"VRITEPREBASE", static_cast<long long>(price * 108 + 0.5) / 100.0}});
                prices.push_back({{"CDPRECOBASE", "02"},
                                  {"CDPRODUTO", code},
                                  {"DTINIVALIPB", "2025-06-01"},
                                  {"VRITEPREBASE", static_cast<long long>(price * 150 + 0.5) / 100.0}});
            }
        }
    }
    f["PRODUTO"] = products;
    f["ITEMPREBASE"] = prices;

    auto budget = [](const char* branch, const char* number, const char* origin, const char* client, const char* trade,
                     const char* event_code, const char* event, const char* service_code, const char* service,
                     const char* when, const char* where, double guests, const char* charging, const char* situation,
                     const char* company = "01") {
        return json{{"CDFILIAL", branch},        {"NRORCAEVENTO", number},
                    {"NRSEQORCAEVE", "00"},      {"NMCLIEORCEVE", client},
                    {"IDSITCLIOREV", situation}, {"CDCLIENTE", "C" + std::string(number).substr(6)},
                    {"NMFANTCLIE", trade},       {"CDTPSERVEVEN", service_code},
                    {"NMTPSERVEVEN", service},   {"CDTIPOEVENTO", event_code},
                    {"NMTIPOEVENTO", event},     {"DTEVENTO", when},
                    {"DSENDENTOREV", where},     {"CDDEPTO", "010"},
                    {"CDPRECOBASE", "01"},       {"IDTPORCAEVEN", origin},
                    {"QTCONVORCEVE", guests},    {"IDTPCOBRVREXTRA", charging},
                    {"CDEMPRESA", company}};
    };
    f["ORCAMENTO"] = json::array({
        budget("0001", "0000000101", "O", "Mariana e Rafael", "Casamento Mariana & Rafael", "001", "Casamento", "01",
               "Buffet completo", "2026-11-28 19:30:00", "Espaço Villa Lobos, São Paulo", 180, "D", "N"),
        budget("0001", "0000000102", "O", "Construtora Horizonte", "Horizonte Engenharia", "003", "Confraternização",
               "02", "Coquetel", "2026-12-04 20:00:00", "Rua Funchal 411, São Paulo", 120, "P", "S"),
        budget("0001", "0000000103", "O", "Família Nakamura", "Aniversário 15 anos Yumi", "002", "Aniversário", "01",
               "Buffet completo", "2026-11-21 21:00:00", "Salão Jardim Europa", 150, "S", "N"),
        budget("0001", "0000000104", "O", "Instituto Aurora", "Instituto Aurora", "004", "Formatura", "03",
               "Jantar servido", "2026-12-05 00:00:00", "Clube Paulistano", 300, "D", "S"),
        budget("0001", "0000000105", "O", "Clínica Bem-Estar", "Clínica Bem-Estar", "003", "Confraternização", "02",
               "Coquetel", "2026-11-14 19:00:00", "Av. Paulista 1000", 80, "P", "S"),
        budget("0001", "0000000201", "E", "Padaria São Jorge", "Padaria São Jorge", "005", "Encomenda", "04",
               "Entrega de doces e salgados", "2026-12-01 10:00:00", "Rua Augusta 1500", 0, "P", "S"),
        budget("0001", "0000000202", "E", "Escritório Lima Advogados", "Lima Advogados", "005", "Encomenda", "04",
               "Entrega de doces e salgados", "2026-12-03 15:00:00", "Av. Faria Lima 2000", 0, "P", "S"),
        budget("0002", "0000000301", "O", "Beatriz e Carlos", "Bodas de Prata Beatriz & Carlos", "001", "Casamento",
               "01", "Buffet completo", "2026-11-29 20:00:00", "Casa de Festas Jardins", 90, "D", "N"),
        budget("0002", "0000000302", "O", "Startup Órbita", "Órbita Tecnologia", "003", "Confraternização", "02",
               "Coquetel", "2026-12-02 19:00:00", "Rua Oscar Freire 300", 60, "S", "S"),
    });
    // The financial registers: branch 0001 has every parameter, so its settlements update and
    // cancel financial; branch 0002 has none, so importing and updating financial are refused.
    f["EMPRESA"] = json::array({
        {{"CDEMPRESA", "01"}, {"NMEMPRESA", "Buffet Estrela Eventos Ltda."}, {"NRINSCESTA", "110.042.490.114"}},
        {{"CDEMPRESA", "02"}, {"NMEMPRESA", "Estrela Alphaville Buffet Ltda."}, {"NRINSCESTA", "206.311.874.110"}},
    });
    f["FORNECEDOR"] = json::array({
        {{"CDFORNECEDOR", "F001"}, {"NMFORNECEDOR", "Cooperativa de Garçons Estrela"}},
        {{"CDFORNECEDOR", "F0101"}, {"NMFORNECEDOR", "Mariana e Rafael"}},
        {{"CDFORNECEDOR", "F0102"}, {"NMFORNECEDOR", "Construtora Horizonte"}},
        {{"CDFORNECEDOR", "F0104"}, {"NMFORNECEDOR", "Instituto Aurora"}},
    });
    f["CLIENTE"] = json::array();
    for (const auto& [code, name, supplier] :
         std::vector<std::tuple<const char*, const char*, const char*>>{{"C0101", "Mariana e Rafael", "F0101"},
                                                                        {"C0102", "Construtora Horizonte", "F0102"},
                                                                        {"C0103", "Família Nakamura", nullptr},
                                                                        {"C0104", "Instituto Aurora", "F0104"},
                                                                        {"C0105", "Clínica Bem-Estar", nullptr},
                                                                        {"C0201", "Padaria São Jorge", nullptr},
                                                                        {"C0202", "Escritório Lima Advogados", nullptr},
                                                                        {"C0301", "Beatriz e Carlos", nullptr},
                                                                        {"C0302", "Startup Órbita", nullptr},
                                                                        {"C0106", "Colégio Horizonte", nullptr}}) {
        json c = {{"CDCLIENTE", code}, {"NMCLIENTE", name}};
        if (supplier) c["CDFORNECEDOR"] = supplier;
        f["CLIENTE"].push_back(c);
    }
    f["TIPOOPER"] = json::array({
        {{"CDTIPOOPER", "001"}, {"NMTIPOOPER", "Venda de serviços de buffet"}, {"CDTPCTREC", "05"}},
        {{"CDTIPOOPER", "101"}, {"NMTIPOOPER", "Serviços de terceiros"}, {"CDTPCTPAG", "07"}},
    });
    f["PARAMETRO"] = json::array({
        {{"CDFILIAL", "0001"},
         {"CDPRBAREPMAT", "02"},
         {"CDTIPOOPER", "001"},
         {"CDTIPOOPERPAG", "101"},
         {"CDSERIEENTR", "E1"},
         {"CDFORNPADORC", "F001"},
         {"CDTIPORETI", "01"},
         {"CDAJCTRECSOB", "SOB"}},
        {{"CDFILIAL", "0002"}},  // no parameters at all
    });
    auto dev = [](const char* branch, const char* number, const char* dept, const char* name) {
        return json{{"CDFILIAL", branch},
                    {"NRORCAEVENTO", number},
                    {"NRSEQORCAEVE", "00"},
                    {"CDDEPTO", dept},
                    {"NMDEPTO", name}};
    };
    f["DEVOLUCAO"] =
        json::array({dev("0001", "0000000101", "010", "Eventos"), dev("0001", "0000000101", "020", "Copa"),
                     dev("0001", "0000000104", "010", "Eventos"), dev("0001", "0000000201", "010", "Eventos"),
                     dev("0002", "0000000301", "010", "Eventos")});
    auto item = [](const char* branch, const char* number, const char* dept, const char* product, double reserved,
                   double added, double returned, double broken) {
        return json{{"CDFILIAL", branch},   {"NRORCAEVENTO", number}, {"NRSEQORCAEVE", "00"},
                    {"CDDEPTO", dept},      {"CDPRODUTO", product},   {"QTRESERVADA", reserved},
                    {"QTACRESCIMO", added}, {"QTRETORNO", returned},  {"QTQUEBRA", broken}};
    };
    // Products by their generated codes: 000006 is the first glass, 000019 the first plate...
    f["DEVOLUCAOITEM"] = json::array({
        item("0001", "0000000101", "010", "000006", 200, 20, 212, 8),
        item("0001", "0000000101", "010", "000007", 180, 0, 177, 3),
        item("0001", "0000000101", "010", "000019", 200, 0, 196, 4),
        item("0001", "0000000101", "020", "000045", 40, 0, 40, 0),
        item("0001", "0000000104", "010", "000006", 320, 0, 310, 10),
        item("0001", "0000000201", "010", "000007", 50, 0, 50, 0),
        item("0002", "0000000301", "010", "000006", 100, 0, 97, 3),
    });
    // Settlements already recorded: one pending, one with its financial entries generated.
    f["ACERTO"] = json::array({
        {{"CDFILIAL", "0001"},
         {"NRORCAEVENTO", "0000000102"},
         {"NRSEQORCAEVE", "00"},
         {"CDDEPTO", "010"},
         {"DTACERTOOREV", "2026-12-05 10:15:00"},
         {"CDOPERADOR", "ANA"},
         {"CDPRBAQUEBRA", "01"},
         {"NMPRECOQUEBR", "Tabela de Eventos"},
         {"CDPRBAEXTRA", "01"},
         {"NMPRECOEXTRA", "Tabela de Eventos"},
         {"CDPRBASOBRA", "01"},
         {"NMPRECOSOBRA", "Tabela de Eventos"},
         {"CDPRBAHREXTR", "03"},
         {"NMPRECOHORAE", "Mão de Obra"},
         {"IDSITUACERTO", "P"},
         {"QTCONVEXTRAACER", 0},
         {"VRCONVEXTRAACER", 0},
         {"IDTPVREXTRA", "P"}},
        {{"CDFILIAL", "0001"},
         {"NRORCAEVENTO", "0000000105"},
         {"NRSEQORCAEVE", "00"},
         {"CDDEPTO", "010"},
         {"DTACERTOOREV", "2026-11-16 00:00:00"},
         {"CDOPERADOR", "BETO"},
         {"CDPRBAQUEBRA", "01"},
         {"NMPRECOQUEBR", "Tabela de Eventos"},
         {"IDSITUACERTO", "F"},
         {"QTCONVEXTRAACER", 0},
         {"VRCONVEXTRAACER", 0},
         {"IDTPVREXTRA", "P"}},
        // Pending, in a branch without parameters: "Atualizar Financeiro" is refused.
        {{"CDFILIAL", "0002"},
         {"NRORCAEVENTO", "0000000302"},
         {"NRSEQORCAEVE", "00"},
         {"CDDEPTO", "010"},
         {"DTACERTOOREV", "2026-12-03 09:30:00"},
         {"CDOPERADOR", "ANA"},
         {"CDPRBAQUEBRA", "01"},
         {"NMPRECOQUEBR", "Tabela de Eventos"},
         {"IDSITUACERTO", "P"},
         {"QTCONVEXTRAACER", 5},
         {"VRCONVEXTRAACER", 85},
         {"IDTPVREXTRA", "S"}},
    });
    // The receivable of the settlement whose financial is updated.
    f["CONTARECEBER"] = json::array({
        {{"CDFILIAL", "0001"},
         {"NRTITULO", "0000000001"},
         {"CDCLIENTE", "C0105"},
         {"NRORCAEVENTO", "0000000105"},
         {"NRSEQORCAEVE", "00"},
         {"CDTIPOOPER", "001"},
         {"CDTPCTREC", "05"},
         {"CDSERIE", "1"},
         {"VRTITULO", 49.4},
         {"DTEMISSAO", "2026-11-16 09:40:00"},
         {"CDOPERADOR", "BETO"}},
    });
    f["ACERTOQUEBRA"] = json::array({
        {{"CDFILIAL", "0001"},
         {"NRORCAEVENTO", "0000000102"},
         {"NRSEQORCAEVE", "00"},
         {"CDARVPROD", "101001"},
         {"NMPRODUTO", "Taça de vinho tinto"},
         {"SGUNIDADE", "UN"},
         {"QTACERTOQUEB", 6},
         {"VRACERTOQUEB", 10.45},
         {"VRACREACEQUE", 0},
         {"VRDESCACEQUE", 0},
         {"NRACERTOQUEB", "0001"},
         {"CDPRODUTO", "000006"}},
        {{"CDFILIAL", "0001"},
         {"NRORCAEVENTO", "0000000102"},
         {"NRSEQORCAEVE", "00"},
         {"CDARVPROD", "102001"},
         {"NMPRODUTO", "Prato raso"},
         {"SGUNIDADE", "UN"},
         {"QTACERTOQUEB", 2},
         {"VRACERTOQUEB", 15.4},
         {"VRACREACEQUE", 1.5},
         {"VRDESCACEQUE", 0},
         {"NRACERTOQUEB", "0002"},
         {"CDPRODUTO", "000019"}},
        {{"CDFILIAL", "0001"},
         {"NRORCAEVENTO", "0000000105"},
         {"NRSEQORCAEVE", "00"},
         {"CDARVPROD", "101003"},
         {"NMPRODUTO", "Taça de champanhe"},
         {"SGUNIDADE", "UN"},
         {"QTACERTOQUEB", 4},
         {"VRACERTOQUEB", 12.35},
         {"VRACREACEQUE", 0},
         {"VRDESCACEQUE", 0},
         {"NRACERTOQUEB", "0001"},
         {"CDPRODUTO", "000008"}},
        {{"CDFILIAL", "0002"},
         {"NRORCAEVENTO", "0000000302"},
         {"NRSEQORCAEVE", "00"},
         {"CDARVPROD", "101004"},
         {"NMPRODUTO", "Copo long drink"},
         {"SGUNIDADE", "UN"},
         {"QTACERTOQUEB", 3},
         {"VRACERTOQUEB", 13.3},
         {"VRACREACEQUE", 0},
         {"VRDESCACEQUE", 0},
         {"NRACERTOQUEB", "0001"},
         {"CDPRODUTO", "000009"}},
    });
    f["ACERTOSOBRA"] = json::array({
        {{"CDFILIAL", "0001"},
         {"NRORCAEVENTO", "0000000102"},
         {"NRSEQORCAEVE", "00"},
         {"CDARVPROD", "301001"},
         {"NMPRODUTO", "Coxinha (cento)"},
         {"SGUNIDADE", "CT"},
         {"QTRESACERSOB", 10},
         {"QTEXTACERSOB", 2},
         {"QTORCACERSOB", 3},
         {"VRACERTOSOBR", 104.5},
         {"NRACERTOSOBR", "0001"},
         {"CDPRODUTO", "000071"}},
    });
    f["ACERTOHREXTRA"] = json::array({
        {{"CDFILIAL", "0001"},
         {"NRORCAEVENTO", "0000000102"},
         {"NRSEQORCAEVE", "00"},
         {"CDARVPROD", "401001"},
         {"NMPRODUTO", "Garçom"},
         {"NRACERTOHREX", "0001"},
         {"QTACERTOHREX", 6},
         {"VRACERTOHREX", 38.5},
         {"CDPRODUTO", "000104"}},
        {{"CDFILIAL", "0001"},
         {"NRORCAEVENTO", "0000000102"},
         {"NRSEQORCAEVE", "00"},
         {"CDARVPROD", "402001"},
         {"NMPRODUTO", "Cozinheiro"},
         {"NRACERTOHREX", "0002"},
         {"QTACERTOHREX", 3},
         {"VRACERTOHREX", 46.2},
         {"CDPRODUTO", "000111"}},
    });
    f["ACERTOEXTRA"] = json::array({
        {{"CDFILIAL", "0001"},
         {"NRORCAEVENTO", "0000000102"},
         {"NRSEQORCAEVE", "00"},
         {"NRACERTOEXTR", "0001"},
         {"CDARVPROD", "303005"},
         {"NMPRODUTO", "Cerveja lata"},
         {"SGUNIDADE", "UN"},
         {"QTACERTOEXTR", 48},
         {"VRACERTOEXTR", 12},
         {"CDPRODUTO", "000097"}},
    });

    // Stock. Branch 0001 dispatches utensils, linen and food from its dispatch storeroom and
    // drinks from the cellar, with stock for each; the whisky is no longer sold (inactive), the
    // energy drink has no dispatch storeroom and the sparkling wine is short. The beer of
    // settlement 102 withdraws; settlement 106 holds one of each, so its withdrawal shows all
    // three lists. Branch 0002 keeps drinks only.
    auto product = [&](const std::string& tree) -> json& {
        for (auto& p : f["PRODUTO"])
            if (p["CDARVPROD"] == tree) return p;
        throw std::logic_error("demo: no product " + tree);
    };
    product("303009")["IDATIVO"] = "N";
    f["ALMOXARIFADO"] = json::array({
        {{"CDFILIAL", "0001"}, {"CDALMOXARIFE", "01"}, {"NMALMOXARIFE", "Expedição - Matriz"}},
        {{"CDFILIAL", "0001"}, {"CDALMOXARIFE", "02"}, {"NMALMOXARIFE", "Adega - Matriz"}},
        {{"CDFILIAL", "0002"}, {"CDALMOXARIFE", "01"}, {"NMALMOXARIFE", "Expedição - Jardins"}},
    });
    f["PRODUTOALMOX"] = json::array();
    f["ESTOQUE"] = json::array();
    for (const auto& p : f["PRODUTO"]) {
        const std::string tree = p["CDARVPROD"];
        if (p["CDNVPRODUTO"] != "3" || tree[0] == '4' || tree == "303010") continue;
        const bool drink = tree.rfind("303", 0) == 0;
        const double position = tree == "303008" ? 6 : drink ? 300 : tree[0] == '3' ? 40 : tree[0] == '2' ? 200 : 500;
        f["PRODUTOALMOX"].push_back(
            {{"CDFILIAL", "0001"}, {"CDPRODUTO", p["CDPRODUTO"]}, {"CDALMOXARIFE", drink ? "02" : "01"}});
        f["ESTOQUE"].push_back({{"CDFILIAL", "0001"},
                                {"CDALMOXARIFE", drink ? "02" : "01"},
                                {"CDPRODUTO", p["CDPRODUTO"]},
                                {"QTPOSESTPROD", position}});
        if (!drink) continue;
        f["PRODUTOALMOX"].push_back({{"CDFILIAL", "0002"}, {"CDPRODUTO", p["CDPRODUTO"]}, {"CDALMOXARIFE", "01"}});
        f["ESTOQUE"].push_back(
            {{"CDFILIAL", "0002"}, {"CDALMOXARIFE", "01"}, {"CDPRODUTO", p["CDPRODUTO"]}, {"QTPOSESTPROD", 100}});
    }
    f["ORCAMENTO"].push_back(budget("0001", "0000000106", "O", "Colégio Horizonte", "Festa Junina Colégio Horizonte",
                                    "003", "Confraternização", "02", "Coquetel", "2026-11-07 18:00:00",
                                    "Rua das Palmeiras 80, São Paulo", 250, "P", "S"));
    f["ACERTO"].push_back({{"CDFILIAL", "0001"},
                           {"NRORCAEVENTO", "0000000106"},
                           {"NRSEQORCAEVE", "00"},
                           {"CDDEPTO", "010"},
                           {"DTACERTOOREV", "2026-11-09 11:00:00"},
                           {"CDOPERADOR", "ANA"},
                           {"CDPRBAEXTRA", "01"},
                           {"NMPRECOEXTRA", "Tabela de Eventos"},
                           {"IDSITUACERTO", "P"},
                           {"QTCONVEXTRAACER", 0},
                           {"VRCONVEXTRAACER", 0},
                           {"IDTPVREXTRA", "P"}});
    int line = 0;
    for (const auto& [tree, quantity, value] : std::vector<std::tuple<std::string, double, double>>{
             {"303005", 120, 12}, {"303009", 2, 180}, {"303010", 24, 15}, {"303008", 12, 65}, {"303001", 30, 10.5}}) {
        const json& p = product(tree);
        char nr[16];
        std::snprintf(nr, sizeof nr, "%04d", ++line);
        f["ACERTOEXTRA"].push_back({{"CDFILIAL", "0001"},
                                    {"NRORCAEVENTO", "0000000106"},
                                    {"NRSEQORCAEVE", "00"},
                                    {"NRACERTOEXTR", nr},
                                    {"CDARVPROD", tree},
                                    {"NMPRODUTO", p["NMPRODUTO"]},
                                    {"SGUNIDADE", p["SGUNIDADE"]},
                                    {"QTACERTOEXTR", quantity},
                                    {"VRACERTOEXTR", value},
                                    {"CDPRODUTO", p["CDPRODUTO"]}});
    }
    // The demo operator, for every branch (the README gives the password).
    f["OPERADOR"] = json::array({{{"CDOPERADOR", "DEMO"},
                                  {"NMOPERADOR", "Operador de demonstração"},
                                  {"DSSENHA", "demo1234"},
                                  {"IDATIVO", "S"}}});
    f["OPERADORFILIAL"] = json::array({{{"CDOPERADOR", "DEMO"}, {"CDFILIAL", "*"}}});
    return f;
}

}  // namespace acerto::server
