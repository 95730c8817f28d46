// Packets and deltas, by both readers (simdjson's for what travels, the JSON library's for
// fixtures and tests): a text is either a packet or refused with a packet error, and a packet
// written and read again is written the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "acerto/platform/errors.h"
#include "acerto/platform/json_io.h"
#include "acerto/platform/packet.h"

using namespace acerto::platform;

namespace {

// The packet's text after a second pass through `parse` must be the text of the first.
void check_stable(const DataPacket& p) {
    std::string once = p.dump();
    std::string twice = DataPacket::parse(once).dump();
    if (once != twice) std::abort();
    // The JSON library's writer and reader agree with ours on it.
    DataPacket q = DataPacket::from_json(nlohmann::json::parse(once));
    if (q.dump() != once) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The JSON library's variant reader recurses on depth: long nested texts are the other
    // reader's to meet (its depth is bounded).
    if (size > 65536) return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        check_stable(DataPacket::parse(text));
    } catch (const PacketError&) {
    }
    auto j = nlohmann::json::parse(text, nullptr, false);
    if (!j.is_discarded()) {
        try {
            DataPacket p = DataPacket::from_json(j);
            (void)p.to_json().dump();
            (void)Variant::from_json(j);
        } catch (const PacketError&) {
        }
    }
    return 0;
}
