// The read-only report method: GetRelatorio(query, name, value, name, value, ...). The client
// names one of the server's own report queries and hands the values of its declared
// parameters; the SQL is the server's, the values are bound. Answers an array of [name, packet]
// pairs, one per dataset the report's layout reads.
#include "report.h"

#include <algorithm>
#include <map>
#include <set>

#include "acerto/platform/format.h"
#include "acerto/platform/text.h"

namespace acerto::server {

using platform::DataPacket;
using platform::DateTime;
using platform::FieldDef;
using platform::FieldType;

namespace {

double num(const Variant& v) {
    return v.is_null() ? 0.0 : v.as_number();
}
std::string txt(const Variant& v) {
    return v.is_null() ? std::string() : platform::trim(v.as_string());
}
double cents(double v) {
    double r = platform::round_decimal(v, 2);
    return r == 0 ? 0.0 : r;
}

// A key typed with fewer digits than its width reads as the stored, zero-padded key.
std::string padded(const std::string& text, std::size_t width) {
    std::string t = platform::trim(text);
    if (t.empty() || platform::utf8_length(t) >= width) return t;
    return std::string(width - platform::utf8_length(t), '0') + t;
}

using Params = std::map<std::string, std::string>;
using Datasets = std::vector<std::pair<std::string, std::shared_ptr<DataPacket>>>;

std::shared_ptr<DataPacket> make(std::vector<FieldDef> fields) {
    return std::make_shared<DataPacket>(std::move(fields));
}

const char* situation_text(const std::string& code) {
    if (code == "P") return "Pendente";
    if (code == "E") return "Estoque atualizado";
    if (code == "F") return "Financeiro atualizado";
    if (code == "T") return "Estoque e financeiro atualizados";
    return "";
}

// The settlement of one budget: its header with the amounts, and its four kinds of lines, each
// valued as its grid values it. A budget without a settlement answers an empty header.
Datasets settlement_report(Session& s, const Params& p) {
    const std::string branch = padded(p.at("P_CDFILIAL"), 4);
    const std::string number = padded(p.at("P_NRORCAEVENTO"), 10);
    const std::string sequence = p.at("P_NRSEQORCAEVE");
    const std::vector<Variant> key{Variant(branch), Variant(number), Variant(sequence)};
    const std::string by_key = " WHERE CDFILIAL = ? AND NRORCAEVENTO = ? AND NRSEQORCAEVE = ?";

    auto header = make({{"CDFILIAL", FieldType::String, 4},
                        {"NMFILIAL", FieldType::String, 50},
                        {"CDEMPRESA", FieldType::String, 2},
                        {"NMEMPRESA", FieldType::String, 50},
                        {"NRORCAEVENTO", FieldType::String, 10},
                        {"NRSEQORCAEVE", FieldType::String, 2},
                        {"DSORIGEM", FieldType::String, 20},
                        {"NMCLIENTE", FieldType::String, 50},
                        {"NMTIPOEVENTO", FieldType::String, 30},
                        {"DTEVENTO", FieldType::DateTime, 0},
                        {"DTACERTO", FieldType::DateTime, 0},
                        {"HRACERTO", FieldType::String, 8},
                        {"CDOPERADOR", FieldType::String, 12},
                        {"DSSITUACAO", FieldType::String, 40},
                        {"VRQUEBRA", FieldType::Float, 0},
                        {"VRSOBRA", FieldType::Float, 0},
                        {"VRHREXTRA", FieldType::Float, 0},
                        {"VREXTRA", FieldType::Float, 0},
                        {"VRDEVIDO", FieldType::Float, 0}});
    auto quebra = make({{"NRACERTOQUEB", FieldType::String, 4},
                        {"CDARVPROD", FieldType::String, 20},
                        {"NMPRODUTO", FieldType::String, 50},
                        {"SGUNIDADE", FieldType::String, 5},
                        {"QTACERTOQUEB", FieldType::Float, 0},
                        {"VRACERTOQUEB", FieldType::Float, 0},
                        {"VRACREACEQUE", FieldType::Float, 0},
                        {"VRDESCACEQUE", FieldType::Float, 0},
                        {"VRTOTAL", FieldType::Float, 0}});
    auto sobra = make({{"NRACERTOSOBR", FieldType::String, 4},
                       {"CDARVPROD", FieldType::String, 20},
                       {"NMPRODUTO", FieldType::String, 50},
                       {"SGUNIDADE", FieldType::String, 5},
                       {"QTRESACERSOB", FieldType::Float, 0},
                       {"QTEXTACERSOB", FieldType::Float, 0},
                       {"QTORCACERSOB", FieldType::Float, 0},
                       {"VRACERTOSOBR", FieldType::Float, 0},
                       {"VRTOTAL", FieldType::Float, 0}});
    auto horas = make({{"NRACERTOHREX", FieldType::String, 4},
                       {"CDARVPROD", FieldType::String, 20},
                       {"NMPRODUTO", FieldType::String, 50},
                       {"QTACERTOHREX", FieldType::Float, 0},
                       {"VRACERTOHREX", FieldType::Float, 0},
                       {"VRTOTAL", FieldType::Float, 0}});
    auto extras = make({{"NRACERTOEXTR", FieldType::String, 4},
                        {"CDARVPROD", FieldType::String, 20},
                        {"NMPRODUTO", FieldType::String, 50},
                        {"SGUNIDADE", FieldType::String, 5},
                        {"QTACERTOEXTR", FieldType::Float, 0},
                        {"VRACERTOEXTR", FieldType::Float, 0},
                        {"VRTOTAL", FieldType::Float, 0}});
    Datasets out{{"CABECALHO", header}, {"QUEBRA", quebra}, {"SOBRA", sobra}, {"HREXTRA", horas}, {"EXTRA", extras}};

    Transaction tx(s, Transaction::Kind::Read);
    ResultSet head = s.query(
        "SELECT A.IDSITUACERTO, A.DTACERTOOREV, A.CDOPERADOR, A.IDTPVREXTRA, A.QTCONVEXTRAACER, "
        "A.VRCONVEXTRAACER, O.IDTPORCAEVEN, O.IDSITCLIOREV, O.NMCLIEORCEVE, O.NMFANTCLIE, "
        "O.NMTIPOEVENTO, O.DTEVENTO, O.IDTPCOBRVREXTRA, F.NMFILIAL, "
        "COALESCE(O.CDEMPRESA, F.CDEMPRESA), E.NMEMPRESA "
        "FROM ACERTO A JOIN ORCAMENTO O ON O.CDFILIAL = A.CDFILIAL AND O.NRORCAEVENTO = "
        "A.NRORCAEVENTO LEFT JOIN FILIAL F ON F.CDFILIAL = A.CDFILIAL "
        "LEFT JOIN EMPRESA E ON E.CDEMPRESA = COALESCE(O.CDEMPRESA, F.CDEMPRESA) "
        "WHERE A.CDFILIAL = ? AND A.NRORCAEVENTO = ? AND A.NRSEQORCAEVE = ?",
        key);
    if (head.rows.empty()) {
        tx.commit();
        return out;
    }
    const auto& h = head.rows[0];

    // 1. Breakage: the unit value rounded before the multiplication, then surcharge and discount.
    double vq = 0;
    for (const auto& r : s.query("SELECT NRACERTOQUEB, CDARVPROD, NMPRODUTO, SGUNIDADE, QTACERTOQUEB, "
                                 "VRACERTOQUEB, VRACREACEQUE, VRDESCACEQUE FROM ACERTOQUEBRA" +
                                     by_key + " ORDER BY NRACERTOQUEB",
                                 key)
                             .rows) {
        double v = platform::round_decimal(num(r[5]), 2) * num(r[4]) + num(r[6]) - num(r[7]);
        vq += v;
        quebra->rows().push_back({Variant(txt(r[0])), Variant(txt(r[1])), Variant(txt(r[2])), Variant(txt(r[3])),
                                  Variant(num(r[4])), Variant(num(r[5])), Variant(num(r[6])), Variant(num(r[7])),
                                  Variant(v)});
    }
    // 2. Leftovers: reserved and added less returned, at the unit value.
    double vs = 0;
    for (const auto& r : s.query("SELECT NRACERTOSOBR, CDARVPROD, NMPRODUTO, SGUNIDADE, QTRESACERSOB, "
                                 "QTEXTACERSOB, QTORCACERSOB, VRACERTOSOBR FROM ACERTOSOBRA" +
                                     by_key + " ORDER BY NRACERTOSOBR",
                                 key)
                             .rows) {
        double v = (num(r[4]) + num(r[5]) - num(r[6])) * num(r[7]);
        vs += v;
        sobra->rows().push_back({Variant(txt(r[0])), Variant(txt(r[1])), Variant(txt(r[2])), Variant(txt(r[3])),
                                 Variant(num(r[4])), Variant(num(r[5])), Variant(num(r[6])), Variant(num(r[7])),
                                 Variant(v)});
    }
    // 3. Overtime: hours times the hour value rounded.
    double vh = 0;
    for (const auto& r : s.query("SELECT NRACERTOHREX, CDARVPROD, NMPRODUTO, QTACERTOHREX, VRACERTOHREX "
                                 "FROM ACERTOHREXTRA" +
                                     by_key + " ORDER BY NRACERTOHREX",
                                 key)
                             .rows) {
        double v = num(r[3]) * platform::round_decimal(num(r[4]), 2);
        vh += v;
        horas->rows().push_back({Variant(txt(r[0])), Variant(txt(r[1])), Variant(txt(r[2])), Variant(num(r[3])),
                                 Variant(num(r[4])), Variant(v)});
    }
    // 4. Extras: per person (one line of persons times the value per person) or per product. A
    // budget configured for one way charges that way whatever the header records.
    const std::string charging = txt(h[12]);
    const bool per_person = charging == "S" || (charging != "P" && txt(h[3]) == "S");
    double vx = 0;
    if (per_person) {
        double persons = num(h[4]), each = num(h[5]);
        vx = persons * each;
        if (persons != 0 || each != 0)
            extras->rows().push_back({Variant(""), Variant(""), Variant("Pessoas adicionais"), Variant("PES"),
                                      Variant(persons), Variant(each), Variant(vx)});
    } else {
        for (const auto& r : s.query("SELECT NRACERTOEXTR, CDARVPROD, COALESCE(NMPRODUTO, DSACERTOEXTR), "
                                     "SGUNIDADE, QTACERTOEXTR, VRACERTOEXTR FROM ACERTOEXTRA" +
                                         by_key + " ORDER BY NRACERTOEXTR",
                                     key)
                                 .rows) {
            double v = num(r[4]) * platform::round_decimal(num(r[5]), 2);
            vx += v;
            extras->rows().push_back({Variant(txt(r[0])), Variant(txt(r[1])), Variant(txt(r[2])), Variant(txt(r[3])),
                                      Variant(num(r[4])), Variant(num(r[5])), Variant(v)});
        }
    }
    tx.commit();

    // 5. The header: who and what, when it was settled, and the amount the client owes in cents.
    Variant settled = from_db(h[1], FieldType::DateTime);
    std::string hour;
    if (!settled.is_null()) hour = platform::time_to_str(settled.as_date_time());
    header->rows().push_back({Variant(branch), Variant(txt(h[13])), Variant(txt(h[14])), Variant(txt(h[15])),
                              Variant(number), Variant(sequence), Variant(txt(h[6]) == "E" ? "Encomenda" : "Orçamento"),
                              Variant(txt(h[7]) == "N" ? txt(h[8]) : txt(h[9])), Variant(txt(h[10])),
                              from_db(h[11], FieldType::DateTime), settled, Variant(hour), Variant(txt(h[2])),
                              Variant(situation_text(txt(h[0]))), Variant(cents(vq)), Variant(cents(vs)),
                              Variant(cents(vh)), Variant(cents(vx)), Variant(cents(vq + vs + vh + vx))});
    return out;
}

struct ReportQuery {
    const char* name;
    std::vector<std::string> parameters;
    Datasets (*run)(Session&, const Params&);
};

// The report queries this server answers, by name, with the parameters each declares.
const std::vector<ReportQuery>& report_queries() {
    static const std::vector<ReportQuery> queries = {
        {"AcertoFinal", {"P_CDFILIAL", "P_NRORCAEVENTO", "P_NRSEQORCAEVE"}, settlement_report}};
    return queries;
}

}  // namespace

Variant get_relatorio(const Call& c, const Args& args) {
    // 1. The query, by name; then name and value pairs, each a declared parameter at most once.
    if (args.empty() || !args[0].is_text())
        throw Refusal(c.method + ": o primeiro argumento deve ser o nome da consulta do relatório.");
    const std::string& name = args[0].text();
    auto q = std::find_if(report_queries().begin(), report_queries().end(),
                          [&](const ReportQuery& r) { return name == r.name; });
    if (q == report_queries().end()) throw Refusal("Consulta de relatório desconhecida: " + name + ".");
    if (args.size() % 2 != 1) throw Refusal(c.method + ": cada parâmetro deve vir com o seu valor.");
    Params values;
    for (const auto& p : q->parameters) values[p] = "";
    std::set<std::string> given;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const Variant &n = args[i], &v = args[i + 1];
        if (!n.is_text() || !(v.is_text() || v.is_null()))
            throw Refusal(c.method + ": os parâmetros e seus valores devem ser textos.");
        if (!values.count(n.text())) throw Refusal("A consulta " + name + " não declara o parâmetro " + n.text() + ".");
        if (!given.insert(n.text()).second)
            throw Refusal(c.method + ": o parâmetro " + n.text() + " veio mais de uma vez.");
        const std::string value = v.is_null() ? std::string() : v.text();
        if (value.find('\0') != std::string::npos || value.size() > 200)
            throw Refusal(c.method + ": o valor do parâmetro " + n.text() + " não é válido.");
        values[n.text()] = value;
    }
    // 2. The rows, read in one snapshot; each dataset travels as [name, packet].
    Datasets sets = q->run(c.db.session(), values);
    Args out;
    for (auto& [set, packet] : sets)
        out.push_back(Variant(Args{Variant(set), Variant(std::shared_ptr<const DataPacket>(packet))}));
    return Variant(std::move(out));
}

}  // namespace acerto::server
