#pragma once
// Data packets: how a table travels between the application server and a client dataset.
// A packet is field definitions plus rows (each row an array, in field order); a delta packet
// is field definitions plus changes in the order they were made. See docs/packets.md.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "acerto/platform/variant.h"

namespace acerto::platform {

enum class FieldType { String, FixedChar, Float, Integer, DateTime, Boolean };

const char* field_type_name(FieldType t);
FieldType field_type_from_name(std::string_view name);  // throws PacketError

struct FieldDef {
    std::string name;
    FieldType type = FieldType::String;
    int size = 0;  // characters, for text types
    bool operator==(const FieldDef&) const = default;
};

using Row = std::vector<Variant>;

enum class ChangeKind { Insert, Modify, Delete };

struct Change {
    ChangeKind kind = ChangeKind::Insert;
    Row original;  // Modify, Delete: the values as last loaded or merged
    Row values;    // Insert, Modify: the values now
};

class DataPacket {
  public:
    DataPacket() = default;
    explicit DataPacket(std::vector<FieldDef> fields) : fields_(std::move(fields)) {}

    const std::vector<FieldDef>& fields() const { return fields_; }
    std::vector<FieldDef>& fields() { return fields_; }
    // Index of a field by name (case-insensitive), or -1.
    int index_of(std::string_view name) const;

    bool is_delta() const { return delta_; }
    void set_delta(bool d) { delta_ = d; }

    const std::vector<Row>& rows() const { return rows_; }
    std::vector<Row>& rows() { return rows_; }
    const std::vector<Change>& changes() const { return changes_; }
    std::vector<Change>& changes() { return changes_; }

    // Value of a row's field by name; Null when the packet has no such field.
    const Variant& value(const Row& row, std::string_view field) const;

    nlohmann::json to_json() const;
    static DataPacket from_json(const nlohmann::json& j);  // throws PacketError
    std::string dump() const;
    // Reads a packet's text within the limits of an answer (a request is read as a variant,
    // within a request's limits); throws PacketError.
    static DataPacket parse(std::string_view text);

  private:
    std::vector<FieldDef> fields_;
    std::vector<Row> rows_;
    std::vector<Change> changes_;
    bool delta_ = false;
};

// A date given as a number of days (0 is 1899-12-30), when it names a day of years 1 to 9999
// to the millisecond; any other number is no date.
bool date_of_days(double days, DateTime& out);

// Converts a JSON cell to the field's type (dates from ISO text); throws PacketError.
Variant cell_from_json(const nlohmann::json& j, FieldType type);
nlohmann::json cell_to_json(const Variant& v, FieldType type);

}  // namespace acerto::platform
