#include "acerto/platform/variant.h"

#include <nlohmann/json.hpp>

#include "acerto/platform/errors.h"
#include "acerto/platform/format.h"
#include "acerto/platform/packet.h"

namespace acerto::platform {

using nlohmann::json;

Variant::Variant(std::shared_ptr<const DataPacket> p) {
    if (p) v_ = std::move(p);
}

const std::shared_ptr<const DataPacket>& Variant::packet() const {
    return std::get<std::shared_ptr<const DataPacket>>(v_);
}

const char* kind_name(Variant::Kind k) {
    switch (k) {
        case Variant::Kind::Null:
            return "nulo";
        case Variant::Kind::Text:
            return "texto";
        case Variant::Kind::Number:
            return "número";
        case Variant::Kind::Boolean:
            return "lógico";
        case Variant::Kind::DateTime:
            return "data";
        case Variant::Kind::Array:
            return "lista";
        case Variant::Kind::Packet:
            return "pacote";
    }
    return "?";
}

std::string Variant::as_string() const {
    switch (kind()) {
        case Kind::Null:
            return {};
        case Kind::Text:
            return std::get<std::string>(v_);
        case Kind::Number:
            return float_to_str(std::get<double>(v_));
        case Kind::Boolean:
            return std::get<bool>(v_) ? "True" : "False";
        case Kind::DateTime:
            return date_time_to_str(std::get<DateTime>(v_));
        default:
            throw ConversionError("Valor do tipo " + std::string(kind_name(kind())) + " não pode ser lido como texto.");
    }
}

double Variant::as_number() const {
    switch (kind()) {
        case Kind::Null:
            return 0.0;
        case Kind::Text:
            return str_to_float(std::get<std::string>(v_));
        case Kind::Number:
            return std::get<double>(v_);
        case Kind::Boolean:
            return std::get<bool>(v_) ? 1.0 : 0.0;
        case Kind::DateTime:
            return std::get<DateTime>(v_).days();
        default:
            throw ConversionError("Valor do tipo " + std::string(kind_name(kind())) +
                                  " não pode ser lido como número.");
    }
}

bool Variant::as_bool() const {
    switch (kind()) {
        case Kind::Null:
            return false;
        case Kind::Boolean:
            return std::get<bool>(v_);
        case Kind::Number:
            return std::get<double>(v_) != 0;
        case Kind::Text: {
            const auto& s = std::get<std::string>(v_);
            if (s == "True" || s == "true" || s == "S" || s == "1") return true;
            if (s == "False" || s == "false" || s == "N" || s == "0" || s.empty()) return false;
            break;
        }
        default:
            break;
    }
    throw ConversionError("Valor não pode ser lido como lógico.");
}

DateTime Variant::as_date_time() const {
    switch (kind()) {
        case Kind::Null:
            return DateTime();
        case Kind::DateTime:
            return std::get<DateTime>(v_);
        case Kind::Number:
            return DateTime(std::get<double>(v_));
        case Kind::Text: {
            const auto& s = std::get<std::string>(v_);
            DateTime t;
            if (DateTime::try_parse_iso(s, t)) return t;
            return str_to_date_time(s);
        }
        default:
            throw ConversionError("Valor do tipo " + std::string(kind_name(kind())) + " não pode ser lido como data.");
    }
}

bool Variant::operator==(const Variant& o) const {
    if (kind() != o.kind()) return false;
    if (kind() == Kind::Packet) {
        const auto& a = packet();
        const auto& b = o.packet();
        return a == b || (a && b && a->dump() == b->dump());
    }
    return v_ == o.v_;
}

json Variant::to_json() const {
    switch (kind()) {
        case Kind::Null:
            return nullptr;
        case Kind::Text:
            return std::get<std::string>(v_);
        case Kind::Number:
            return std::get<double>(v_);
        case Kind::Boolean:
            return std::get<bool>(v_);
        case Kind::DateTime:
            return json{{"$dt", std::get<DateTime>(v_).iso()}};
        case Kind::Array: {
            json a = json::array();
            for (const auto& e : std::get<Array>(v_)) a.push_back(e.to_json());
            return a;
        }
        case Kind::Packet:
            return packet()->to_json();
    }
    return nullptr;
}

Variant Variant::from_json(const json& j) {
    if (j.is_null()) return {};
    if (j.is_string()) return Variant(j.get<std::string>());
    if (j.is_boolean()) return Variant(j.get<bool>());
    if (j.is_number()) return Variant(j.get<double>());
    if (j.is_array()) {
        Array a;
        a.reserve(j.size());
        for (const auto& e : j) a.push_back(from_json(e));
        return Variant(std::move(a));
    }
    if (j.is_object()) {
        if (j.contains("$dt") && j["$dt"].is_string()) {
            DateTime d;
            const auto& text = j["$dt"].get_ref<const std::string&>();
            if (!DateTime::try_parse_iso(text, d)) throw PacketError("Data inválida: " + text.substr(0, 40) + ".");
            return Variant(d);
        }
        return Variant(std::make_shared<const DataPacket>(DataPacket::from_json(j)));
    }
    throw PacketError("Valor JSON não reconhecido.");
}

}  // namespace acerto::platform
