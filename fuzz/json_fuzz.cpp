// The JSON reader and writer: whatever a request holds, reading it either succeeds or throws
// the reader's own error, and what was read is written as text the reader takes back and
// writes again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "acerto/platform/errors.h"
#include "acerto/platform/json_io.h"

using namespace acerto::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Variant v;
    try {
        v = read_json_variant(text);
    } catch (const PacketError&) {
        // Not JSON, beyond a limit, or a malformed packet: refused with a text, as it should be.
    }
    if (!v.is_null()) {
        std::string once;
        write_json(once, v);
        std::string twice;
        // What the writer made must read back (a longer text is no request: answer limits).
        write_json(twice, read_json_variant(once, JsonLimits::answer()));
        if (once != twice) std::abort();
    }
    // The envelope reader of the client, on the same text.
    std::vector<std::pair<std::string, Variant>> members;
    try {
        (void)read_json_object(text, members);
    } catch (const PacketError&) {
    }
    return 0;
}
