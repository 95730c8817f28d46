#include "acerto/platform/json_io.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

#include <simdjson.h>

#include "acerto/platform/errors.h"
#include "acerto/platform/packet.h"

namespace acerto::platform {

// ----------------------------------------------------------------------------------- writing

void write_json_string(std::string& out, std::string_view s) {
    out.push_back('"');
    // Runs of characters that need no escape are appended whole.
    std::size_t plain = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const char* escape = nullptr;
        switch (c) {
            case '"':
                escape = "\\\"";
                break;
            case '\\':
                escape = "\\\\";
                break;
            case '\n':
                escape = "\\n";
                break;
            case '\r':
                escape = "\\r";
                break;
            case '\t':
                escape = "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20) continue;
        }
        out.append(s.data() + plain, i - plain);
        plain = i + 1;
        if (escape) {
            out += escape;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += buf;
        }
    }
    out.append(s.data() + plain, s.size() - plain);
    out.push_back('"');
}

namespace {

// The shortest text that reads back as the same double. From 1e18 up it is scientific: the
// plain form of a larger double is an integer beyond 64 bits, which the reader refuses. Zero
// loses its sign ("-0" would read back as the integer 0), and what JSON cannot hold is null.
void write_number(std::string& out, double d) {
    if (!std::isfinite(d)) {
        out += "null";
        return;
    }
    if (d == 0) {
        out.push_back('0');
        return;
    }
    char buf[32];
    auto r = std::fabs(d) < 1e18 ? std::to_chars(buf, buf + sizeof buf, d)
                                 : std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
    out.append(buf, r.ptr);
}

void write_cell(std::string& out, const Variant& v, FieldType t) {
    if (v.is_null()) {
        out += "null";
        return;
    }
    switch (t) {
        case FieldType::Float:
            write_number(out, v.as_number());
            break;
        case FieldType::Integer:
            write_number(out, std::trunc(v.as_number()));
            break;
        case FieldType::DateTime:
            write_json_string(out, v.as_date_time().iso());
            break;
        case FieldType::Boolean:
            out += v.as_bool() ? "true" : "false";
            break;
        default:
            if (v.is_text())
                write_json_string(out, v.text());
            else
                write_json_string(out, v.as_string());
    }
}

void write_row(std::string& out, const Row& row, const std::vector<FieldDef>& fields) {
    out.push_back('[');
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) out.push_back(',');
        write_cell(out, i < row.size() ? row[i] : Variant(), fields[i].type);
    }
    out.push_back(']');
}

}  // namespace

void write_json(std::string& out, const DataPacket& p) {
    out += "{\"fields\":[";
    for (std::size_t i = 0; i < p.fields().size(); ++i) {
        const auto& f = p.fields()[i];
        if (i) out.push_back(',');
        out += "{\"name\":";
        write_json_string(out, f.name);
        out += ",\"type\":\"";
        out += field_type_name(f.type);
        out.push_back('"');
        if (f.size) {
            out += ",\"size\":";
            out += std::to_string(f.size);
        }
        out.push_back('}');
    }
    out.push_back(']');
    if (p.is_delta()) {
        out += ",\"delta\":[";
        bool first = true;
        for (const auto& ch : p.changes()) {
            if (!first) out.push_back(',');
            first = false;
            switch (ch.kind) {
                case ChangeKind::Insert:
                    out += "{\"op\":\"insert\",\"new\":";
                    write_row(out, ch.values, p.fields());
                    break;
                case ChangeKind::Modify:
                    out += "{\"op\":\"modify\",\"old\":";
                    write_row(out, ch.original, p.fields());
                    out += ",\"new\":";
                    write_row(out, ch.values, p.fields());
                    break;
                case ChangeKind::Delete:
                    out += "{\"op\":\"delete\",\"old\":";
                    write_row(out, ch.original, p.fields());
                    break;
            }
            out.push_back('}');
        }
        out += "]}";
        return;
    }
    out += ",\"rows\":[";
    for (std::size_t r = 0; r < p.rows().size(); ++r) {
        if (r) out.push_back(',');
        write_row(out, p.rows()[r], p.fields());
    }
    out += "]}";
}

void write_json(std::string& out, const Variant& v) {
    switch (v.kind()) {
        case Variant::Kind::Null:
            out += "null";
            break;
        case Variant::Kind::Text:
            write_json_string(out, v.text());
            break;
        case Variant::Kind::Number:
            write_number(out, v.number());
            break;
        case Variant::Kind::Boolean:
            out += v.as_bool() ? "true" : "false";
            break;
        case Variant::Kind::DateTime:
            out += "{\"$dt\":";
            write_json_string(out, v.as_date_time().iso());
            out.push_back('}');
            break;
        case Variant::Kind::Array:
            out.push_back('[');
            for (std::size_t i = 0; i < v.array().size(); ++i) {
                if (i) out.push_back(',');
                write_json(out, v.array()[i]);
            }
            out.push_back(']');
            break;
        case Variant::Kind::Packet:
            write_json(out, *v.packet());
            break;
    }
}

// ----------------------------------------------------------------------------------- reading

namespace {

using Element = simdjson::dom::element;
using Type = simdjson::dom::element_type;

// A text field's size, in characters: no column is anywhere near it.
constexpr double kMaxFieldSize = 65535;

// A packet's cell, by its field's type.
Variant cell(Element n, FieldType t) {
    Type k = n.type();
    if (k == Type::NULL_VALUE) return {};
    bool number = k == Type::INT64 || k == Type::UINT64 || k == Type::DOUBLE;
    switch (t) {
        case FieldType::String:
        case FieldType::FixedChar:
            if (k == Type::STRING) return Variant(std::string(n.get_string().value_unsafe()));
            if (number) return Variant(Variant(n.get_double().value_unsafe()).as_string());
            break;
        case FieldType::Float:
        case FieldType::Integer:
            if (number) return Variant(n.get_double().value_unsafe());
            break;
        case FieldType::DateTime:
            if (k == Type::STRING) {
                DateTime d;
                if (DateTime::try_parse_iso(n.get_string().value_unsafe(), d)) return Variant(d);
            }
            if (number) {
                DateTime d;
                if (date_of_days(n.get_double().value_unsafe(), d)) return Variant(d);
            }
            break;
        case FieldType::Boolean:
            if (k == Type::BOOL) return Variant(n.get_bool().value_unsafe());
            break;
    }
    throw PacketError(std::string("Valor inválido para um campo do tipo ") + field_type_name(t) + ".");
}

Row row_of(Element e, const std::vector<FieldDef>& fields) {
    simdjson::dom::array a;
    if (e.get(a) != simdjson::SUCCESS || a.size() != fields.size())
        throw PacketError("Linha do pacote com número de valores diferente do número de campos.");
    Row r;
    r.reserve(fields.size());
    std::size_t i = 0;
    for (Element c : a) r.push_back(cell(c, fields[i++].type));
    return r;
}

// A member of an object, or an element whose error says it is missing.
simdjson::simdjson_result<Element> member(simdjson::dom::object o, std::string_view key) {
    return o.at_key(key);
}

std::string_view text_of(simdjson::simdjson_result<Element> e) {
    std::string_view s;
    return e.get(s) == simdjson::SUCCESS ? s : std::string_view();
}

std::shared_ptr<const DataPacket> packet_of(simdjson::dom::object obj) {
    simdjson::dom::array fields;
    if (member(obj, "fields").get(fields) != simdjson::SUCCESS)
        throw PacketError("Pacote de dados sem definição de campos.");
    auto p = std::make_shared<DataPacket>();
    for (Element fd : fields) {
        simdjson::dom::object f;
        std::string_view name;
        if (fd.get(f) != simdjson::SUCCESS || member(f, "name").get(name) != simdjson::SUCCESS)
            throw PacketError("Definição de campo inválida no pacote.");
        FieldDef d;
        d.name = std::string(name);
        if (auto type = member(f, "type"); type.error() == simdjson::SUCCESS) {
            std::string_view t;
            if (type.get(t) != simdjson::SUCCESS) throw PacketError("Tipo de campo inválido no pacote.");
            d.type = field_type_from_name(t);
        }
        if (auto size = member(f, "size"); size.error() == simdjson::SUCCESS) {
            double n = 0;
            if (size.get(n) != simdjson::SUCCESS || !(n >= 0 && n <= kMaxFieldSize) || n != std::trunc(n))
                throw PacketError("Tamanho de campo inválido no pacote.");
            d.size = static_cast<int>(n);
        }
        p->fields().push_back(std::move(d));
    }
    if (auto delta = member(obj, "delta"); delta.error() == simdjson::SUCCESS) {
        simdjson::dom::array changes;
        if (delta.get(changes) != simdjson::SUCCESS) throw PacketError("Delta inválido.");
        p->set_delta(true);
        for (Element e : changes) {
            simdjson::dom::object c;
            std::string_view op;
            if (e.get(c) != simdjson::SUCCESS || member(c, "op").get(op) != simdjson::SUCCESS)
                throw PacketError("Alteração sem operação no delta.");
            Change ch;
            if (op == "insert")
                ch.kind = ChangeKind::Insert;
            else if (op == "modify")
                ch.kind = ChangeKind::Modify;
            else if (op == "delete")
                ch.kind = ChangeKind::Delete;
            else
                throw PacketError("Operação desconhecida no delta: " + std::string(op));
            if (ch.kind != ChangeKind::Insert) {
                auto old = member(c, "old");
                if (old.error()) throw PacketError("Alteração sem valores originais no delta.");
                ch.original = row_of(old.value_unsafe(), p->fields());
            }
            if (ch.kind != ChangeKind::Delete) {
                auto nw = member(c, "new");
                if (nw.error()) throw PacketError("Alteração sem valores novos no delta.");
                ch.values = row_of(nw.value_unsafe(), p->fields());
            }
            p->changes().push_back(std::move(ch));
        }
    } else if (auto rows = member(obj, "rows"); rows.error() == simdjson::SUCCESS) {
        simdjson::dom::array list;
        if (rows.get(list) != simdjson::SUCCESS) throw PacketError("Linhas do pacote inválidas.");
        p->rows().reserve(list.size());
        for (Element r : list) p->rows().push_back(row_of(r, p->fields()));
    }
    return p;
}

Variant to_variant(Element n) {
    switch (n.type()) {
        case Type::NULL_VALUE:
            return {};
        case Type::STRING:
            return Variant(std::string(n.get_string().value_unsafe()));
        case Type::INT64:
        case Type::UINT64:
        case Type::DOUBLE:
            return Variant(n.get_double().value_unsafe());
        case Type::BOOL:
            return Variant(n.get_bool().value_unsafe());
        case Type::ARRAY: {
            simdjson::dom::array list = n.get_array().value_unsafe();
            Variant::Array a;
            a.reserve(list.size());
            for (Element e : list) a.push_back(to_variant(e));
            return Variant(std::move(a));
        }
        case Type::OBJECT: {
            simdjson::dom::object o = n.get_object().value_unsafe();
            if (std::string_view dt = text_of(member(o, "$dt")); !dt.empty()) {
                DateTime d;
                if (!DateTime::try_parse_iso(dt, d))
                    throw PacketError("Data inválida: " + std::string(dt.substr(0, 40)) + ".");
                return Variant(d);
            }
            return Variant(packet_of(o));
        }
    }
    return {};
}

// An upper bound of the values and member names in a text, found without parsing it: each
// but the first follows a '[', '{', ',' or ':' (those inside strings count too, which only
// loosens the bound).
std::size_t value_bound(std::string_view text) {
    std::size_t n = 1;
    for (char c : text) n += static_cast<std::size_t>((c == ',') | (c == '[') | (c == '{') | (c == ':'));
    return n;
}

// Parses a text within its limits and hands the document's root to `use`. A thread keeps its
// parser between calls (it is costly to set up), for texts up to the limits' size for it.
template <class Use>
auto parse(std::string_view text, const JsonLimits& limits, Use&& use) {
    if (text.size() > limits.max_bytes)
        throw JsonLimitError("Texto JSON de " + std::to_string(text.size()) + " bytes; o limite é " +
                             std::to_string(limits.max_bytes) + " bytes.");
    // Each value costs tens of bytes once parsed: count them before parsing anything.
    if (text.size() > limits.max_values && value_bound(text) > limits.max_values)
        throw JsonLimitError("Texto JSON com mais de " + std::to_string(limits.max_values) + " valores.");
    thread_local simdjson::dom::parser kept;
    std::unique_ptr<simdjson::dom::parser> own;
    simdjson::dom::parser* parser = &kept;
    if (text.size() > limits.kept_parser_bytes) {
        own = std::make_unique<simdjson::dom::parser>();
        parser = own.get();
    }
    if (parser->max_depth() != limits.max_depth &&
        parser->allocate(std::max<std::size_t>({parser->capacity(), text.size(), 64}), limits.max_depth) !=
            simdjson::SUCCESS)
        throw JsonLimitError("Memória insuficiente para ler o texto JSON.");
    Element root;
    auto error = parser->parse(text.data(), text.size(), true).get(root);
    if (error == simdjson::DEPTH_ERROR)
        throw JsonLimitError("Texto JSON com mais de " + std::to_string(limits.max_depth) + " níveis de aninhamento.");
    if (error != simdjson::SUCCESS) throw JsonSyntaxError("JSON inválido.");
    return use(root);
}

}  // namespace

Variant read_json_variant(std::string_view text, const JsonLimits& limits) {
    return parse(text, limits, [](Element root) { return to_variant(root); });
}

bool read_json_object(std::string_view text, std::vector<std::pair<std::string, Variant>>& members,
                      const JsonLimits& limits) {
    try {
        return parse(text, limits, [&](Element root) {
            simdjson::dom::object o;
            if (root.get(o) != simdjson::SUCCESS) return false;
            for (auto field : o) members.emplace_back(std::string(field.key), to_variant(field.value));
            return true;
        });
    } catch (const JsonSyntaxError&) {
        return false;
    }
}

}  // namespace acerto::platform
