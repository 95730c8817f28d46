#include "acerto/platform/packet.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "acerto/platform/errors.h"
#include "acerto/platform/json_io.h"
#include "acerto/platform/text.h"

namespace acerto::platform {

using nlohmann::json;

const char* field_type_name(FieldType t) {
    switch (t) {
        case FieldType::String:
            return "string";
        case FieldType::FixedChar:
            return "fixed";
        case FieldType::Float:
            return "float";
        case FieldType::Integer:
            return "integer";
        case FieldType::DateTime:
            return "datetime";
        case FieldType::Boolean:
            return "boolean";
    }
    return "string";
}

FieldType field_type_from_name(std::string_view name) {
    if (name == "string") return FieldType::String;
    if (name == "fixed") return FieldType::FixedChar;
    if (name == "float") return FieldType::Float;
    if (name == "integer") return FieldType::Integer;
    if (name == "datetime") return FieldType::DateTime;
    if (name == "boolean") return FieldType::Boolean;
    throw PacketError("Tipo de campo desconhecido no pacote: " + std::string(name));
}

int DataPacket::index_of(std::string_view name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].name == name) return static_cast<int>(i);
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (iequals(fields_[i].name, name)) return static_cast<int>(i);
    return -1;
}

const Variant& DataPacket::value(const Row& row, std::string_view field) const {
    static const Variant null;
    int i = index_of(field);
    if (i < 0 || static_cast<std::size_t>(i) >= row.size()) return null;
    return row[static_cast<std::size_t>(i)];
}

bool date_of_days(double days, DateTime& out) {
    if (!(days > -700000 && days < 3000000)) return false;
    DateParts p = DateTime(days).parts();
    if (p.year < 1 || p.year > 9999) return false;
    out = DateTime(days);
    return true;
}

json cell_to_json(const Variant& v, FieldType type) {
    if (v.is_null()) return nullptr;
    switch (type) {
        case FieldType::String:
        case FieldType::FixedChar:
            return v.as_string();
        case FieldType::Float:
            return v.as_number();
        case FieldType::Integer: {
            // Only a whole number that fits 64 bits is written as an integer.
            double d = std::trunc(v.as_number());
            if (!std::isfinite(d)) return nullptr;
            if (std::fabs(d) < 9.2e18) return static_cast<long long>(d);
            return d;
        }
        case FieldType::DateTime:
            return v.as_date_time().iso();
        case FieldType::Boolean:
            return v.as_bool();
    }
    return nullptr;
}

Variant cell_from_json(const json& j, FieldType type) {
    if (j.is_null()) return {};
    switch (type) {
        case FieldType::String:
        case FieldType::FixedChar:
            if (j.is_string()) return Variant(j.get<std::string>());
            if (j.is_number()) return Variant(Variant(j.get<double>()).as_string());
            break;
        case FieldType::Float:
        case FieldType::Integer:
            if (j.is_number()) return Variant(j.get<double>());
            break;
        case FieldType::DateTime:
            if (j.is_string()) {
                DateTime t;
                if (DateTime::try_parse_iso(j.get<std::string>(), t)) return Variant(t);
            }
            if (j.is_number()) {
                DateTime t;
                if (date_of_days(j.get<double>(), t)) return Variant(t);
            }
            break;
        case FieldType::Boolean:
            if (j.is_boolean()) return Variant(j.get<bool>());
            break;
    }
    throw PacketError("Valor inválido para um campo do tipo " + std::string(field_type_name(type)) + ": " + j.dump());
}

namespace {

json row_to_json(const Row& row, const std::vector<FieldDef>& fields) {
    json a = json::array();
    for (std::size_t i = 0; i < fields.size(); ++i)
        a.push_back(cell_to_json(i < row.size() ? row[i] : Variant(), fields[i].type));
    return a;
}

Row row_from_json(const json& a, const std::vector<FieldDef>& fields) {
    if (!a.is_array() || a.size() != fields.size())
        throw PacketError("Linha do pacote com número de valores diferente do número de campos.");
    Row row;
    row.reserve(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) row.push_back(cell_from_json(a[i], fields[i].type));
    return row;
}

}  // namespace

json DataPacket::to_json() const {
    json j;
    json f = json::array();
    for (const auto& d : fields_) {
        json fd = {{"name", d.name}, {"type", field_type_name(d.type)}};
        if (d.size) fd["size"] = d.size;
        f.push_back(std::move(fd));
    }
    j["fields"] = std::move(f);
    if (delta_) {
        json c = json::array();
        for (const auto& ch : changes_) {
            json e;
            switch (ch.kind) {
                case ChangeKind::Insert:
                    e["op"] = "insert";
                    e["new"] = row_to_json(ch.values, fields_);
                    break;
                case ChangeKind::Modify:
                    e["op"] = "modify";
                    e["old"] = row_to_json(ch.original, fields_);
                    e["new"] = row_to_json(ch.values, fields_);
                    break;
                case ChangeKind::Delete:
                    e["op"] = "delete";
                    e["old"] = row_to_json(ch.original, fields_);
                    break;
            }
            c.push_back(std::move(e));
        }
        j["delta"] = std::move(c);
    } else {
        json r = json::array();
        for (const auto& row : rows_) r.push_back(row_to_json(row, fields_));
        j["rows"] = std::move(r);
    }
    return j;
}

DataPacket DataPacket::from_json(const json& j) {
    if (!j.is_object() || !j.contains("fields") || !j["fields"].is_array())
        throw PacketError("Pacote de dados sem definição de campos.");
    DataPacket p;
    for (const auto& fd : j["fields"]) {
        if (!fd.is_object() || !fd.contains("name") || !fd["name"].is_string())
            throw PacketError("Definição de campo inválida no pacote.");
        FieldDef d;
        d.name = fd["name"].get<std::string>();
        if (fd.contains("type")) {
            if (!fd["type"].is_string()) throw PacketError("Tipo de campo inválido no pacote.");
            d.type = field_type_from_name(fd["type"].get<std::string>());
        }
        if (fd.contains("size")) {
            const json& size = fd["size"];
            double n = size.is_number() ? size.get<double>() : -1;
            if (!(n >= 0 && n <= 65535) || n != std::trunc(n))
                throw PacketError("Tamanho de campo inválido no pacote.");
            d.size = static_cast<int>(n);
        }
        p.fields_.push_back(std::move(d));
    }
    if (j.contains("delta")) {
        if (!j["delta"].is_array()) throw PacketError("Delta inválido.");
        p.delta_ = true;
        for (const auto& e : j["delta"]) {
            if (!e.is_object() || !e.contains("op") || !e["op"].is_string())
                throw PacketError("Alteração sem operação no delta.");
            Change ch;
            std::string op = e["op"].get<std::string>();
            if (op == "insert") {
                ch.kind = ChangeKind::Insert;
            } else if (op == "modify") {
                ch.kind = ChangeKind::Modify;
            } else if (op == "delete") {
                ch.kind = ChangeKind::Delete;
            } else {
                throw PacketError("Operação desconhecida no delta: " + op);
            }
            if (ch.kind != ChangeKind::Insert) {
                if (!e.contains("old")) throw PacketError("Alteração sem valores originais no delta.");
                ch.original = row_from_json(e["old"], p.fields_);
            }
            if (ch.kind != ChangeKind::Delete) {
                if (!e.contains("new")) throw PacketError("Alteração sem valores novos no delta.");
                ch.values = row_from_json(e["new"], p.fields_);
            }
            p.changes_.push_back(std::move(ch));
        }
    } else {
        if (j.contains("rows")) {
            if (!j["rows"].is_array()) throw PacketError("Linhas do pacote inválidas.");
            p.rows_.reserve(j["rows"].size());
            for (const auto& r : j["rows"]) p.rows_.push_back(row_from_json(r, p.fields_));
        }
    }
    return p;
}

std::string DataPacket::dump() const {
    std::string out;
    write_json(out, *this);
    return out;
}

DataPacket DataPacket::parse(std::string_view text) {
    Variant v;
    try {
        v = read_json_variant(text, JsonLimits::answer());
    } catch (const PacketError&) {
        throw PacketError("Pacote de dados com JSON inválido.");
    }
    if (!v.is_packet()) throw PacketError("Pacote de dados sem definição de campos.");
    // The reader made the packet for this call alone: its rows are moved out, not copied.
    auto packet = v.packet();
    v = Variant();
    if (packet.use_count() == 1) return std::move(const_cast<DataPacket&>(*packet));
    return *packet;
}

}  // namespace acerto::platform
