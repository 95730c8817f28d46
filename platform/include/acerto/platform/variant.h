#pragma once
// The value that crosses every boundary of the screen: field values, parameters, server
// arguments and results. Null, text, number, boolean, date-time, array or data packet.
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "acerto/platform/datetime.h"

namespace acerto::platform {

class DataPacket;

class Variant {
  public:
    enum class Kind { Null, Text, Number, Boolean, DateTime, Array, Packet };
    using Array = std::vector<Variant>;

    Variant() = default;
    Variant(std::nullptr_t) {}
    Variant(std::string s) : v_(std::move(s)) {}
    Variant(const char* s) : v_(std::string(s)) {}
    Variant(double d) : v_(d) {}
    Variant(int i) : v_(static_cast<double>(i)) {}
    Variant(long long i) : v_(static_cast<double>(i)) {}
    Variant(bool b) : v_(b) {}
    Variant(DateTime t) : v_(t) {}
    Variant(Array a) : v_(std::move(a)) {}
    Variant(std::shared_ptr<const DataPacket> p);

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool is_null() const { return kind() == Kind::Null; }
    bool is_text() const { return kind() == Kind::Text; }
    bool is_number() const { return kind() == Kind::Number; }
    bool is_array() const { return kind() == Kind::Array; }
    bool is_packet() const { return kind() == Kind::Packet; }

    // Conversions as the platform does them: a number reads as text in the host's format,
    // a text reads as a number with the host's decimal separator. Null reads as "" and 0.
    std::string as_string() const;
    double as_number() const;
    bool as_bool() const;
    DateTime as_date_time() const;

    const std::string& text() const { return std::get<std::string>(v_); }
    double number() const { return std::get<double>(v_); }
    const Array& array() const { return std::get<Array>(v_); }
    Array& array() { return std::get<Array>(v_); }
    const std::shared_ptr<const DataPacket>& packet() const;

    bool operator==(const Variant& o) const;

    // JSON as it travels: null, string, number, boolean; a date-time as {"$dt": "ISO"};
    // an array as a JSON array; a packet as its JSON object.
    nlohmann::json to_json() const;
    static Variant from_json(const nlohmann::json& j);

  private:
    std::variant<std::monostate, std::string, double, bool, DateTime, Array, std::shared_ptr<const DataPacket>> v_;
};

const char* kind_name(Variant::Kind k);

}  // namespace acerto::platform
