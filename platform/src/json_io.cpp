#include "acerto/platform/json_io.h"

#include <charconv>
#include <cmath>

#include <nlohmann/json.hpp>

#include "acerto/platform/errors.h"
#include "acerto/platform/packet.h"

namespace acerto::platform {

// ----------------------------------------------------------------------------------- writing

void write_json_string(std::string& out, std::string_view s) {
    out.push_back('"');
    for (char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += buf;
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

namespace {

void write_number(std::string& out, double d) {
    if (!std::isfinite(d)) {
        out += "null";
        return;
    }
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    out.append(buf, r.ptr);
}

void write_cell(std::string& out, const Variant& v, FieldType t) {
    if (v.is_null()) {
        out += "null";
        return;
    }
    switch (t) {
        case FieldType::Float: write_number(out, v.as_number()); break;
        case FieldType::Integer: write_number(out, std::trunc(v.as_number())); break;
        case FieldType::DateTime: write_json_string(out, v.as_date_time().iso()); break;
        case FieldType::Boolean: out += v.as_bool() ? "true" : "false"; break;
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
        case Variant::Kind::Null: out += "null"; break;
        case Variant::Kind::Text: write_json_string(out, v.text()); break;
        case Variant::Kind::Number: write_number(out, v.number()); break;
        case Variant::Kind::Boolean: out += v.as_bool() ? "true" : "false"; break;
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
        case Variant::Kind::Packet: write_json(out, *v.packet()); break;
    }
}

// ----------------------------------------------------------------------------------- reading

namespace {

// A parsed JSON value, lighter than a document tree: objects keep their members in order.
struct Node {
    enum class T { Null, Str, Num, Bool, Arr, Obj } t = T::Null;
    std::string s;
    double n = 0;
    bool b = false;
    std::vector<Node> a;
    std::vector<std::pair<std::string, Node>> o;
};

class Builder : public nlohmann::json_sax<nlohmann::json> {
public:
    Node root;
    std::vector<Node*> stack;
    std::vector<std::string> keys;

    Node& place() {
        if (stack.empty()) return root;
        Node* top = stack.back();
        if (top->t == Node::T::Arr) {
            top->a.emplace_back();
            return top->a.back();
        }
        top->o.emplace_back(std::move(keys.back()), Node());
        keys.pop_back();
        return top->o.back().second;
    }
    bool null() override {
        place();
        return true;
    }
    bool boolean(bool v) override {
        Node& n = place();
        n.t = Node::T::Bool;
        n.b = v;
        return true;
    }
    bool number_integer(number_integer_t v) override { return num(static_cast<double>(v)); }
    bool number_unsigned(number_unsigned_t v) override { return num(static_cast<double>(v)); }
    bool number_float(number_float_t v, const string_t&) override { return num(v); }
    bool num(double v) {
        Node& n = place();
        n.t = Node::T::Num;
        n.n = v;
        return true;
    }
    bool string(string_t& v) override {
        Node& n = place();
        n.t = Node::T::Str;
        n.s = std::move(v);
        return true;
    }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override {
        Node& n = place();
        n.t = Node::T::Obj;
        stack.push_back(&n);
        return true;
    }
    bool key(string_t& k) override {
        keys.push_back(std::move(k));
        return true;
    }
    bool end_object() override {
        stack.pop_back();
        return true;
    }
    bool start_array(std::size_t) override {
        Node& n = place();
        n.t = Node::T::Arr;
        stack.push_back(&n);
        return true;
    }
    bool end_array() override {
        stack.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }
};

const Node* member(const Node& obj, std::string_view k) {
    for (const auto& [key, v] : obj.o)
        if (key == k) return &v;
    return nullptr;
}

Variant cell(const Node& n, FieldType t) {
    if (n.t == Node::T::Null) return {};
    switch (t) {
        case FieldType::String:
        case FieldType::FixedChar:
            if (n.t == Node::T::Str) return Variant(n.s);
            if (n.t == Node::T::Num) return Variant(Variant(n.n).as_string());
            break;
        case FieldType::Float:
        case FieldType::Integer:
            if (n.t == Node::T::Num) return Variant(n.n);
            break;
        case FieldType::DateTime:
            if (n.t == Node::T::Str) {
                DateTime d;
                if (DateTime::try_parse_iso(n.s, d)) return Variant(d);
            }
            if (n.t == Node::T::Num) return Variant(DateTime(n.n));
            break;
        case FieldType::Boolean:
            if (n.t == Node::T::Bool) return Variant(n.b);
            break;
    }
    throw PacketError(std::string("Valor inválido para um campo do tipo ") + field_type_name(t) + ".");
}

Row row_of(const Node& a, const std::vector<FieldDef>& fields) {
    if (a.t != Node::T::Arr || a.a.size() != fields.size())
        throw PacketError("Linha do pacote com número de valores diferente do número de campos.");
    Row r;
    r.reserve(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) r.push_back(cell(a.a[i], fields[i].type));
    return r;
}

std::shared_ptr<const DataPacket> packet_of(const Node& obj) {
    const Node* fields = member(obj, "fields");
    if (!fields || fields->t != Node::T::Arr) throw PacketError("Pacote de dados sem definição de campos.");
    auto p = std::make_shared<DataPacket>();
    for (const auto& fd : fields->a) {
        const Node* name = fd.t == Node::T::Obj ? member(fd, "name") : nullptr;
        if (!name || name->t != Node::T::Str) throw PacketError("Definição de campo inválida no pacote.");
        FieldDef d;
        d.name = name->s;
        const Node* type = member(fd, "type");
        d.type = type && type->t == Node::T::Str ? field_type_from_name(type->s) : FieldType::String;
        if (const Node* size = member(fd, "size")) {
            if (size->t != Node::T::Num || size->n != std::trunc(size->n))
                throw PacketError("Tamanho de campo inválido no pacote.");
            d.size = static_cast<int>(size->n);
        }
        p->fields().push_back(std::move(d));
    }
    if (const Node* delta = member(obj, "delta")) {
        if (delta->t != Node::T::Arr) throw PacketError("Delta inválido.");
        p->set_delta(true);
        for (const auto& e : delta->a) {
            const Node* op = e.t == Node::T::Obj ? member(e, "op") : nullptr;
            if (!op || op->t != Node::T::Str) throw PacketError("Alteração sem operação no delta.");
            Change ch;
            if (op->s == "insert") ch.kind = ChangeKind::Insert;
            else if (op->s == "modify") ch.kind = ChangeKind::Modify;
            else if (op->s == "delete") ch.kind = ChangeKind::Delete;
            else throw PacketError("Operação desconhecida no delta: " + op->s);
            if (ch.kind != ChangeKind::Insert) {
                const Node* old = member(e, "old");
                if (!old) throw PacketError("Alteração sem valores originais no delta.");
                ch.original = row_of(*old, p->fields());
            }
            if (ch.kind != ChangeKind::Delete) {
                const Node* nw = member(e, "new");
                if (!nw) throw PacketError("Alteração sem valores novos no delta.");
                ch.values = row_of(*nw, p->fields());
            }
            p->changes().push_back(std::move(ch));
        }
    } else if (const Node* rows = member(obj, "rows")) {
        if (rows->t != Node::T::Arr) throw PacketError("Linhas do pacote inválidas.");
        p->rows().reserve(rows->a.size());
        for (const auto& r : rows->a) p->rows().push_back(row_of(r, p->fields()));
    }
    return p;
}

Variant to_variant(const Node& n) {
    switch (n.t) {
        case Node::T::Null: return {};
        case Node::T::Str: return Variant(n.s);
        case Node::T::Num: return Variant(n.n);
        case Node::T::Bool: return Variant(n.b);
        case Node::T::Arr: {
            Variant::Array a;
            a.reserve(n.a.size());
            for (const auto& e : n.a) a.push_back(to_variant(e));
            return Variant(std::move(a));
        }
        case Node::T::Obj: {
            if (const Node* dt = member(n, "$dt"); dt && dt->t == Node::T::Str)
                return Variant(DateTime::parse_iso(dt->s));
            return Variant(packet_of(n));
        }
    }
    return {};
}

bool parse(std::string_view text, Builder& b) {
    return nlohmann::json::sax_parse(text.begin(), text.end(), &b, nlohmann::json::input_format_t::json, false);
}

}  // namespace

Variant read_json_variant(std::string_view text) {
    Builder b;
    if (!parse(text, b)) throw JsonSyntaxError("JSON inválido.");
    return to_variant(b.root);
}

bool read_json_object(std::string_view text, std::vector<std::pair<std::string, Variant>>& members) {
    Builder b;
    if (!parse(text, b) || b.root.t != Node::T::Obj) return false;
    for (const auto& [k, v] : b.root.o) members.emplace_back(k, to_variant(v));
    return true;
}

}  // namespace acerto::platform
