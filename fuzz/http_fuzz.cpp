// The server's HTTP request reader on any bytes: it takes requests, asks for more, or refuses
// (too large, malformed), never takes a body over its limit, and reads the same requests
// whether the bytes arrive at once or in two parts split anywhere. (A header cut in two may be
// refused only once its end arrives: a reader still waiting has read a prefix of the other's.)
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "acerto/platform/http.h"

using acerto::platform::http::RequestReader;

namespace {

constexpr std::size_t kMaxBody = 1024;

struct Outcome {
    std::vector<std::tuple<std::string, std::string, std::string, bool>> requests;
    RequestReader::Status end = RequestReader::Status::More;
    bool operator==(const Outcome&) const = default;
};

// Feeds `input` as the two parts before and after `split`, as a connection would read them.
Outcome read_all(std::string_view input, std::size_t split) {
    Outcome out;
    std::string pending;
    auto reader = std::make_unique<RequestReader>(kMaxBody);
    for (std::string_view part : {input.substr(0, split), input.substr(split)}) {
        pending.append(part);
        for (;;) {
            std::size_t used = 0;
            RequestReader::Status status = reader->feed(pending, used);
            if (used > pending.size()) std::abort();
            pending.erase(0, used);
            if (status == RequestReader::Status::More) break;
            if (status != RequestReader::Status::Done) {
                out.end = status;
                return out;
            }
            auto r = reader->take();
            if (r.body.size() > kMaxBody) std::abort();
            out.requests.emplace_back(r.method, r.target, r.body, r.keep_alive);
            reader = std::make_unique<RequestReader>(kMaxBody);
        }
    }
    return out;
}

bool consistent(const Outcome& a, const Outcome& b) {
    using Status = RequestReader::Status;
    if (a.end != Status::More && b.end != Status::More) return a == b;
    const Outcome& waiting = a.end == Status::More ? a : b;
    const Outcome& other = a.end == Status::More ? b : a;
    return waiting.requests.size() <= other.requests.size() &&
           std::equal(waiting.requests.begin(), waiting.requests.end(), other.requests.begin());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first two bytes choose where the bytes are split; the rest is what arrives.
    std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::size_t split = (static_cast<std::size_t>(data[0]) << 8 | data[1]) % (input.size() + 1);
    if (!consistent(read_all(input, split), read_all(input, input.size()))) std::abort();
    return 0;
}
