#include "acerto/host/report.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "acerto/platform/errors.h"
#include "acerto/platform/format.h"
#include "acerto/platform/mask.h"
#include "acerto/platform/text.h"

namespace acerto::host::report {

using nlohmann::json;
using platform::Variant;

// ------------------------------------------------------------------------------ definitions

namespace {

[[noreturn]] void bad(const std::string& what) {
    throw platform::Error("Definição de relatório inválida: " + what + ".");
}

std::string text_member(const json& j, const char* key, bool required, const std::string& where) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) {
        if (required) bad(where + " sem \"" + key + "\"");
        return {};
    }
    if (!it->is_string()) bad(where + ": \"" + key + "\" deve ser um texto");
    return it->get<std::string>();
}

Format format_of(const json& j, const std::string& where) {
    std::string f = text_member(j, "format", false, where);
    if (f.empty() || f == "text") return Format::Text;
    if (f == "number") return Format::Number;
    if (f == "date") return Format::Date;
    if (f == "datetime") return Format::DateTime;
    bad(where + ": formato desconhecido \"" + f + "\"");
}

int decimals_of(const json& j, const std::string& where) {
    auto it = j.find("decimals");
    if (it == j.end()) return 2;
    if (!it->is_number_integer() || it->get<int>() < 0 || it->get<int>() > 6)
        bad(where + ": \"decimals\" deve ser um inteiro de 0 a 6");
    return it->get<int>();
}

const json& array_member(const json& j, const char* key, const std::string& where) {
    static const json empty = json::array();
    auto it = j.find(key);
    if (it == j.end()) return empty;
    if (!it->is_array()) bad(where + ": \"" + key + "\" deve ser uma lista");
    return *it;
}

std::vector<std::string>& search_dirs() {
    static std::vector<std::string> dirs;
    return dirs;
}

}  // namespace

Definition Definition::parse(const std::string& json_text) {
    json j = json::parse(json_text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) bad("o arquivo não é um objeto JSON");
    Definition d;
    d.code = text_member(j, "code", true, "o relatório");
    d.title = text_member(j, "title", true, "o relatório");
    d.server = text_member(j, "server", true, "o relatório");
    const json& q = j.contains("query") ? j["query"] : json();
    if (!q.is_object()) bad("o relatório sem \"query\"");
    d.query = text_member(q, "name", true, "a consulta");
    for (const json& p : array_member(q, "parameters", "a consulta")) {
        if (!p.is_string()) bad("a consulta: os parâmetros devem ser textos");
        d.parameters.push_back(p.get<std::string>());
    }
    d.header_dataset = text_member(j, "header_dataset", true, "o relatório");
    for (const json& h : array_member(j, "header", "o cabeçalho")) {
        if (!h.is_object()) bad("o cabeçalho: cada campo deve ser um objeto");
        d.header.push_back({text_member(h, "label", true, "um campo do cabeçalho"),
                            text_member(h, "field", true, "um campo do cabeçalho"),
                            format_of(h, "um campo do cabeçalho"), decimals_of(h, "um campo do cabeçalho")});
    }
    for (const json& s : array_member(j, "sections", "o relatório")) {
        if (!s.is_object()) bad("cada seção deve ser um objeto");
        Section sec;
        sec.title = text_member(s, "title", true, "uma seção");
        const std::string where = "a seção " + sec.title;
        sec.dataset = text_member(s, "dataset", true, where);
        for (const json& c : array_member(s, "columns", where)) {
            if (!c.is_object()) bad(where + ": cada coluna deve ser um objeto");
            Column col;
            col.title = text_member(c, "title", true, where);
            col.field = text_member(c, "field", true, where);
            col.format = format_of(c, where);
            col.decimals = decimals_of(c, where);
            if (auto w = c.find("width"); w != c.end()) {
                if (!w->is_number() || w->get<double>() <= 0 || w->get<double>() > 190)
                    bad(where + ": a largura de " + col.title + " deve ser de 1 a 190 mm");
                col.width = w->get<double>();
            }
            std::string a = text_member(c, "align", false, where);
            col.align = a == "right" ? Align::Right : a == "center" ? Align::Center : Align::Left;
            if (a.empty() && col.format == Format::Number) col.align = Align::Right;
            col.mask = text_member(c, "mask", false, where);
            if (!col.mask.empty()) {
                const auto& names = mask_names();
                if (std::find(names.begin(), names.end(), col.mask) == names.end())
                    bad(where + ": máscara desconhecida \"" + col.mask + "\"");
                if (col.format != Format::Text) bad(where + ": só um texto tem máscara (" + col.title + ")");
            }
            sec.columns.push_back(std::move(col));
        }
        if (sec.columns.empty()) bad(where + " sem colunas");
        if (auto st = s.find("subtotal"); st != s.end()) {
            sec.subtotal_label = text_member(*st, "label", true, where + ": o subtotal");
            sec.subtotal_field = text_member(*st, "field", true, where + ": o subtotal");
        }
        d.sections.push_back(std::move(sec));
    }
    if (auto t = j.find("total"); t != j.end()) {
        d.total_label = text_member(*t, "label", true, "o total");
        d.total_field = text_member(*t, "field", true, "o total");
    }
    d.empty_text = text_member(j, "empty_text", false, "o relatório");
    return d;
}

Definition Definition::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw platform::Error("Não foi possível ler a definição de relatório " + path + ".");
    std::stringstream ss;
    ss << in.rdbuf();
    return parse(ss.str());
}

void add_search_dir(const std::string& dir) {
    auto& dirs = search_dirs();
    if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) dirs.push_back(dir);
}

std::string find_definition(const std::string& code) {
    // A code names a file in a directory, never a path.
    if (code.empty() || code.find_first_of("/\\.") != std::string::npos)
        throw platform::Error("Código de relatório inválido: " + code + ".");
    std::vector<std::string> dirs;
    if (const char* env = std::getenv("ACERTO_REPORTS"); env && *env) dirs.emplace_back(env);
    for (const auto& d : search_dirs()) dirs.push_back(d);
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        dirs.push_back(exe.parent_path().string());
        dirs.push_back((exe.parent_path().parent_path() / "share" / "acerto" / "reports").string());
    }
    for (const auto& d : dirs) {
        auto p = std::filesystem::path(d) / (code + ".json");
        if (std::filesystem::is_regular_file(p, ec)) return p.string();
    }
    throw platform::Error("O relatório " + code + " não foi encontrado.");
}

const platform::DataPacket* Data::set(const std::string& name) const {
    auto it = sets.find(name);
    return it == sets.end() ? nullptr : it->second.get();
}

Data data_from_answer(const Variant& answer) {
    const char* malformed = "A resposta do servidor ao relatório não é válida.";
    if (!answer.is_array()) throw platform::Error(malformed);
    Data d;
    for (const Variant& pair : answer.array()) {
        if (!pair.is_array() || pair.array().size() != 2 || !pair.array()[0].is_text() || !pair.array()[1].is_packet())
            throw platform::Error(malformed);
        d.sets[pair.array()[0].text()] = pair.array()[1].packet();
    }
    return d;
}

// ---------------------------------------------------------------------------------- values

const std::vector<std::string>& mask_names() {
    static const std::vector<std::string> names{"product"};
    return names;
}

std::string format_value(const Variant& v, Format f, int decimals) {
    if (v.is_null()) return {};
    switch (f) {
        case Format::Text:
            return v.is_text() ? v.text() : v.as_string();
        case Format::Number: {
            std::string pic = "#,##0";
            if (decimals > 0) pic += "." + std::string(static_cast<std::size_t>(decimals), '0');
            return platform::format_float(pic, v.as_number());
        }
        case Format::Date:
            return platform::date_to_str(v.as_date_time());
        case Format::DateTime:
            return platform::date_time_to_str(v.as_date_time());
    }
    return {};
}

namespace {

// The host's masks read once per report, not once per cell.
class MaskSet {
  public:
    explicit MaskSet(const Masks& masks) {
        for (const auto& [name, text] : masks)
            if (!text.empty()) parsed_.emplace(name, platform::EditMask(text));
    }
    std::string cell(const Variant& v, const Column& c) const {
        std::string text = format_value(v, c.format, c.decimals);
        if (c.mask.empty() || text.empty()) return text;
        auto it = parsed_.find(c.mask);
        if (it == parsed_.end()) return text;
        // The same rule as a masked field's display text on the screen.
        const platform::EditMask& mask = it->second;
        if (mask.save_literals() || platform::utf8_length(text) > mask.input_length()) return text;
        return mask.format(text);
    }

  private:
    std::map<std::string, platform::EditMask> parsed_;
};

}  // namespace

std::string format_cell(const Variant& v, const Column& c, const Masks& masks) {
    return MaskSet(masks).cell(v, c);
}

// ---------------------------------------------------------------------------------- layout

namespace {

constexpr double kMargin = 10, kLine = 4.6, kTitleLine = 7;

// The field each column reads, looked up once per section rather than once per cell.
std::vector<int> field_indexes(const platform::DataPacket& p, const Section& s) {
    std::vector<int> at;
    for (const auto& c : s.columns) at.push_back(p.index_of(c.field));
    return at;
}

const Variant& value_at(const platform::Row& row, int i) {
    static const Variant null;
    return i < 0 || static_cast<std::size_t>(i) >= row.size() ? null : row[static_cast<std::size_t>(i)];
}

double sum_of(const platform::DataPacket& p, const std::string& field) {
    int i = p.index_of(field);
    double s = 0;
    if (i < 0) return s;
    for (const auto& r : p.rows())
        s += r[static_cast<std::size_t>(i)].is_null() ? 0 : r[static_cast<std::size_t>(i)].as_number();
    return s;
}

// Lays pages out top to bottom; a row that does not fit starts a new page, which repeats the
// page header and, inside a section, the section's title and column headings.
class Writer {
  public:
    Writer(const Definition& def, const LayoutOptions& o) : def_(def), o_(o) {
        doc_.title = def.title;
        new_page();
    }

    void text(double x, double w, const std::string& t, Align a = Align::Left, bool bold = false, double size = 9) {
        Item i;
        i.x = x;
        i.y = y_;
        i.w = w;
        i.h = kLine;
        i.text = t;
        i.align = a;
        i.bold = bold;
        i.size = size;
        page().items.push_back(std::move(i));
    }
    void rule() {
        Item i;
        i.kind = Item::Rule;
        i.x = kMargin;
        i.y = y_;
        i.w = doc_.width - 2 * kMargin;
        page().items.push_back(i);
    }
    void down(double h) { y_ += h; }
    // Room for h more millimetres, or a new page (with the section's headings repeated).
    void room(double h) {
        if (y_ + h <= bottom()) return;
        new_page();
        if (section_) {
            text(kMargin, width(), section_->title + " (continuação)", Align::Left, true, 10);
            down(kLine + 1);
            headings(*section_);
        }
    }
    void headings(const Section& s) {
        double x = kMargin;
        for (const auto& c : s.columns) {
            text(x, c.width, c.title, c.align, true, 7.5);
            x += c.width;
        }
        down(kLine);
        rule();
        down(1);
    }
    void in_section(const Section* s) { section_ = s; }
    double width() const { return doc_.width - 2 * kMargin; }

    Document finish() {
        // Page numbers need the page count: the footers go on last.
        const std::size_t n = doc_.pages.size();
        for (std::size_t i = 0; i < n; ++i) {
            Item f;
            f.x = kMargin;
            f.y = doc_.height - kMargin - kLine;
            f.w = width();
            f.h = kLine;
            f.size = 8;
            f.align = Align::Right;
            f.text = "Página " + std::to_string(i + 1) + " de " + std::to_string(n);
            doc_.pages[i].items.push_back(f);
            f.align = Align::Left;
            f.text = "Impresso em " + platform::date_to_str(o_.printed_at) + " " +
                     platform::time_to_str(o_.printed_at) +
                     (o_.printed_by.empty() ? std::string() : " por " + o_.printed_by);
            doc_.pages[i].items.push_back(f);
        }
        return std::move(doc_);
    }

  private:
    Page& page() { return doc_.pages.back(); }
    double bottom() const { return doc_.height - kMargin - 2 * kLine; }
    void new_page() {
        doc_.pages.emplace_back();
        y_ = kMargin;
        text(kMargin, width(), def_.title, Align::Center, true, 13);
        text(kMargin, width(), def_.code, Align::Left, false, 8);
        down(kTitleLine);
        rule();
        down(2);
    }

    const Definition& def_;
    const LayoutOptions& o_;
    Document doc_;
    double y_ = 0;
    const Section* section_ = nullptr;
};

}  // namespace

Document layout(const Definition& def, const Data& data, const LayoutOptions& options) {
    Writer w(def, options);
    const MaskSet masks(options.masks);
    const platform::DataPacket* head = data.set(def.header_dataset);
    // 1. Nothing to report: one page that says so, not an empty sheet.
    if (!head || head->rows().empty()) {
        w.down(10);
        w.text(kMargin, w.width(), def.empty_text.empty() ? "Nenhum dado para este relatório." : def.empty_text,
               Align::Center, true, 11);
        return w.finish();
    }
    const platform::Row& hrow = head->rows().front();
    // 2. The header fields, two to a line.
    const double half = w.width() / 2;
    for (std::size_t i = 0; i < def.header.size(); ++i) {
        const HeaderField& f = def.header[i];
        w.text(kMargin + (i % 2) * half, half,
               f.label + ": " + format_value(head->value(hrow, f.field), f.format, f.decimals));
        if (i % 2 == 1 || i + 1 == def.header.size()) w.down(kLine);
    }
    w.down(3);
    // 3. Each section: title, headings, lines, subtotal.
    for (const Section& s : def.sections) {
        const platform::DataPacket* p = data.set(s.dataset);
        w.in_section(nullptr);
        w.room(3 * kLine + 2);
        w.text(kMargin, w.width(), s.title, Align::Left, true, 10);
        w.down(kLine + 1);
        w.headings(s);
        w.in_section(&s);
        if (!p || p->rows().empty()) {
            w.text(kMargin, w.width(), "Nenhum lançamento.");
            w.down(kLine);
        } else {
            const std::vector<int> fields = field_indexes(*p, s);
            for (const auto& row : p->rows()) {
                w.room(kLine);
                double x = kMargin;
                for (std::size_t i = 0; i < s.columns.size(); ++i) {
                    const Column& c = s.columns[i];
                    w.text(x, c.width, masks.cell(value_at(row, fields[i]), c), c.align);
                    x += c.width;
                }
                w.down(kLine);
            }
        }
        w.in_section(nullptr);
        if (!s.subtotal_field.empty()) {
            w.room(kLine + 1);
            w.rule();
            w.down(0.5);
            double total = p ? sum_of(*p, s.subtotal_field) : 0;
            w.text(
                kMargin, w.width(),
                s.subtotal_label + ": " + format_value(Variant(platform::round_decimal(total, 2)), Format::Number, 2),
                Align::Right, true);
            w.down(kLine);
        }
        w.down(3);
    }
    // 4. The total, from the header row.
    if (!def.total_field.empty()) {
        w.room(kLine + 2);
        w.rule();
        w.down(1);
        w.text(kMargin, w.width(),
               def.total_label + ": " + format_value(head->value(hrow, def.total_field), Format::Number, 2),
               Align::Right, true, 11);
        w.down(kLine);
    }
    return w.finish();
}

std::string text_of(const Document& doc) {
    std::string out;
    for (std::size_t p = 0; p < doc.pages.size(); ++p) {
        if (p) out += "\f";
        std::vector<const Item*> items;
        for (const auto& i : doc.pages[p].items)
            if (i.kind == Item::Text && !i.text.empty()) items.push_back(&i);
        std::stable_sort(items.begin(), items.end(), [](const Item* a, const Item* b) {
            if (std::abs(a->y - b->y) > 0.01) return a->y < b->y;
            return a->x < b->x;
        });
        for (std::size_t i = 0; i < items.size(); ++i) {
            bool same_line = i > 0 && std::abs(items[i]->y - items[i - 1]->y) <= 0.01;
            if (i > 0) out += same_line ? " " : "\n";
            out += items[i]->text;
        }
        out += "\n";
    }
    return out;
}

// --------------------------------------------------------------------------------------- CSV

namespace {

std::string csv_cell(const std::string& s) {
    if (s.find_first_of(";\"\n\r") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// A number as a spreadsheet set to Portuguese reads it: decimal comma, no thousands.
std::string csv_number(double v, int decimals) {
    std::string pic = "0";
    if (decimals > 0) pic += "." + std::string(static_cast<std::size_t>(decimals), '0');
    std::string s = platform::format_float(pic, v);
    const char dec = platform::format_settings().decimal_separator;
    for (char& c : s)
        if (c == dec) c = ',';
    return s;
}

}  // namespace

std::string csv_of(const Definition& def, const Data& data, const Masks& masks) {
    const MaskSet masked(masks);
    // The columns of all sections, by title, in the order they first appear.
    std::vector<std::string> titles;
    for (const auto& s : def.sections)
        for (const auto& c : s.columns)
            if (std::find(titles.begin(), titles.end(), c.title) == titles.end()) titles.push_back(c.title);
    std::string out = "Seção";
    for (const auto& t : titles) out += ";" + csv_cell(t);
    out += "\r\n";
    for (const auto& s : def.sections) {
        const platform::DataPacket* p = data.set(s.dataset);
        if (!p) continue;
        const std::vector<int> fields = field_indexes(*p, s);
        std::vector<std::size_t> places;  // each column's place among all the titles
        for (const auto& c : s.columns)
            places.push_back(
                static_cast<std::size_t>(std::find(titles.begin(), titles.end(), c.title) - titles.begin()));
        const std::string title = csv_cell(s.title);
        std::vector<std::string> cells(titles.size());
        for (const auto& row : p->rows()) {
            for (auto& cell : cells) cell.clear();
            for (std::size_t i = 0; i < s.columns.size(); ++i) {
                const Column& c = s.columns[i];
                const Variant& v = value_at(row, fields[i]);
                cells[places[i]] = v.is_null()                  ? std::string()
                                   : c.format == Format::Number ? csv_number(v.as_number(), c.decimals)
                                                                : csv_cell(masked.cell(v, c));
            }
            out += title;
            for (const auto& cell : cells) {
                out += ';';
                out += cell;
            }
            out += "\r\n";
        }
    }
    return out;
}

}  // namespace acerto::host::report
