// The server's write methods on any request: SetConfirmar and SetDeletar either apply the
// deltas or refuse them with a text, and what they leave stored still loads: the settlement's
// answer is JSON our own reader takes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "acerto/platform/errors.h"
#include "acerto/platform/json_io.h"
#include "acerto/server/fixture.h"
#include "acerto/server/module.h"

using namespace acerto;
using platform::Variant;

namespace {

// Two budgets of branch 0001, one with a settlement of a line already, on a database in
// memory-backed storage (each write is a transaction with its fsync).
struct World {
    std::unique_ptr<server::Database> db;
    std::unique_ptr<server::AcertoModule> module;
    World() {
        std::string dir =
            std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path().string();
        std::string path = dir + "/acerto-delta-fuzz-" + std::to_string(::getpid()) + ".sqlite";
        for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(path + end);
        db = server::Database::open(path);
        db->ensure_schema();
        server::load_fixture(*db, nlohmann::json::parse(R"({
            "FILIAL": [{"CDFILIAL": "0001"}],
            "ORCAMENTO": [{"CDFILIAL": "0001", "NRORCAEVENTO": "0000000042", "NRSEQORCAEVE": "01", "CDDEPTO": "010"},
                          {"CDFILIAL": "0001", "NRORCAEVENTO": "0000000043"}],
            "ACERTO": [{"CDFILIAL": "0001", "NRORCAEVENTO": "0000000042", "NRSEQORCAEVE": "01",
                        "IDSITUACERTO": "P", "DTACERTOOREV": "2026-12-07 10:00:00"}],
            "ACERTOQUEBRA": [{"CDFILIAL": "0001", "NRORCAEVENTO": "0000000042", "NRSEQORCAEVE": "00",
                              "NRACERTOQUEB": "0001", "QTACERTOQUEB": 3, "VRACERTOQUEB": 2.5}]})"));
        module = std::make_unique<server::AcertoModule>(*db);
    }
};

void check_loads(server::AcertoModule& m, const char* number) {
    Variant answer = m.call("GetOrcamento", {Variant("0001"), Variant(number)});
    std::string text;
    platform::write_json(text, answer);
    std::string again;
    platform::write_json(again, platform::read_json_variant(text, platform::JsonLimits::answer()));
    if (again != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    if (size < 1) return 0;
    // The first byte picks the method; the rest is the request's body.
    const bool deletar = data[0] & 1;
    std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    Variant args;
    try {
        args = platform::read_json_variant(body);
    } catch (const platform::PacketError&) {
        return 0;
    }
    if (!args.is_array()) return 0;
    try {
        world.module->call(deletar ? "SetDeletar" : "SetConfirmar", args.array());
    } catch (const server::Refusal&) {
    }
    check_loads(*world.module, "0000000042");
    check_loads(*world.module, "0000000043");
    return 0;
}
