#pragma once
// Fast JSON text for variants and packets (packets of thousands of rows travel on every load
// of a budget): written straight to text, and read by simdjson into variants and packets
// without a general-purpose document in between.
//
// Numbers are written so that this reader accepts them and a second pass writes the same
// text: the shortest form that reads back exactly, in scientific notation from 1e18 up (a
// longer integer would not read as one), zero without its sign, and null for NaN and the
// infinities, which JSON cannot hold. See docs/packets.md.
#include <cstddef>
#include <string>
#include <string_view>

#include "acerto/platform/errors.h"
#include "acerto/platform/variant.h"

namespace acerto::platform {

class DataPacket;

// What reading one text may cost. A request's parsed form takes several times the memory of
// its text, so a request is bounded in bytes, in values (every number, text, array, object
// and null counts) and in nesting depth before anything is built from it.
struct JsonLimits {
    std::size_t max_bytes;
    std::size_t max_values;
    std::size_t max_depth;
    // A text up to this size is read by the thread's kept parser; a larger one by a parser of
    // its own, freed after it (a server thread should not hold on to the memory of its largest
    // request, while a client reads its large answers faster with the parser it keeps).
    std::size_t kept_parser_bytes;

    // What one request to the application server may hold: the largest delta the screen can
    // send (a whole grid of 9,999 lines changed) fits well within it.
    static constexpr JsonLimits request() { return {8u << 20, 500'000, 32, 1u << 20}; }
    // Answers of our own server: only the depth is bounded (the reader recurses on it).
    static constexpr JsonLimits answer() {
        return {static_cast<std::size_t>(-1), static_cast<std::size_t>(-1), 32, 8u << 20};
    }
};

// A text over one of the limits; nothing was built from it.
class JsonLimitError : public PacketError {
  public:
    using PacketError::PacketError;
};

void write_json(std::string& out, const Variant& v);
void write_json(std::string& out, const DataPacket& p);
void write_json_string(std::string& out, std::string_view s);

// Reads a JSON text into a variant (objects are packets or {"$dt": ...}); throws
// JsonSyntaxError, JsonLimitError or PacketError.
Variant read_json_variant(std::string_view text, const JsonLimits& limits = JsonLimits::request());

// Reads a JSON object's members into variants, for envelopes such as {"result": ...}.
// Returns false when the text is not a JSON object.
bool read_json_object(std::string_view text, std::vector<std::pair<std::string, Variant>>& members,
                      const JsonLimits& limits = JsonLimits::answer());

}  // namespace acerto::platform
