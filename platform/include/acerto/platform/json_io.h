#pragma once
// Fast JSON text for variants and packets (packets of thousands of rows travel on every load
// of a budget): written straight to text, and read by simdjson into variants and packets
// without a general-purpose document in between.
#include <string>
#include <string_view>

#include "acerto/platform/variant.h"

namespace acerto::platform {

class DataPacket;

void write_json(std::string& out, const Variant& v);
void write_json(std::string& out, const DataPacket& p);
void write_json_string(std::string& out, std::string_view s);

// Reads a JSON text into a variant (objects are packets or {"$dt": ...}); throws PacketError.
Variant read_json_variant(std::string_view text);

// Reads a JSON object's members into variants, for envelopes such as {"result": ...}.
// Returns false when the text is not a JSON object.
bool read_json_object(std::string_view text, std::vector<std::pair<std::string, Variant>>& members);

}  // namespace acerto::platform
