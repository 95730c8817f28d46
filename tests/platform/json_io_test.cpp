// The JSON every call travels in: written by hand, read with simdjson into variants and packets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "acerto/platform/errors.h"
#include "acerto/platform/json_io.h"
#include "acerto/platform/packet.h"

using namespace acerto::platform;

TEST(JsonIo, NumbersAndTextsArriveExactly) {
    Variant v = read_json_variant(
        R"([0.1, 12.5, -3, 1e-7, 9007199254740993, 18446744073709551615, "ação \u00e7\n\"x\"", true, null])");
    const auto& a = v.array();
    ASSERT_EQ(a.size(), 9u);
    EXPECT_EQ(a[0].number(), 0.1);
    EXPECT_EQ(a[1].number(), 12.5);
    EXPECT_EQ(a[2].number(), -3.0);
    EXPECT_EQ(a[3].number(), 1e-7);
    EXPECT_EQ(a[4].number(), 9007199254740992.0);  // the nearest double
    EXPECT_EQ(a[5].number(), 18446744073709551615.0);
    EXPECT_EQ(a[6].text(), "ação ç\n\"x\"");
    EXPECT_TRUE(a[7].as_bool());
    EXPECT_TRUE(a[8].is_null());

    // What is written reads back the same, the date-time included.
    Variant::Array in{Variant("a\"b\\c\x01"), Variant(0.30000000000000004),
                      Variant(DateTime::parse_iso("2026-12-07 09:30:00"))};
    std::string text;
    write_json(text, Variant(in));
    Variant back = read_json_variant(text);
    for (std::size_t i = 0; i < in.size(); ++i) EXPECT_TRUE(back.array()[i] == in[i]) << i;

    // Escapes at either end, between plain runs and side by side; accented letters as they are.
    std::string written;
    write_json_string(written, "\tação \"x\"\\\r\nfim\x1f");
    EXPECT_EQ(written, R"("\tação \"x\"\\\r\nfim\u001f")");
    written.clear();
    write_json_string(written, "");
    EXPECT_EQ(written, "\"\"");
}

TEST(JsonIo, BadTextIsASyntaxErrorAndABadPacketAPacketError) {
    EXPECT_THROW(read_json_variant("[1,"), JsonSyntaxError);
    EXPECT_THROW(read_json_variant(""), JsonSyntaxError);
    EXPECT_THROW(read_json_variant("[1] x"), JsonSyntaxError);
    EXPECT_THROW(read_json_variant("[\"\xff\"]"), JsonSyntaxError);  // not UTF-8
    EXPECT_THROW(read_json_variant(R"([{"fields":[{"name":"A","type":"float"}],"rows":[[1,2]]}])"), PacketError);
    EXPECT_THROW(read_json_variant(R"({"fields":[{"name":"A","size":1.5}],"rows":[]})"), PacketError);

    std::vector<std::pair<std::string, Variant>> members;
    EXPECT_FALSE(read_json_object("[1]", members));
    EXPECT_FALSE(read_json_object("{\"result\":", members));
    ASSERT_TRUE(read_json_object(R"({"error":"N_PARAM_TPCTREC|05","result":null})", members));
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].first, "error");
    EXPECT_EQ(members[0].second.text(), "N_PARAM_TPCTREC|05");
}

TEST(JsonIo, LargePacketsAndSmallOnesAfterThemReadWhole) {
    // A thread's parser is kept between calls: a small text after a large one must not see
    // anything of the large one.
    DataPacket p({{"NRLINHA", FieldType::String, 4}, {"QT", FieldType::Float, 0}, {"DT", FieldType::DateTime, 0}});
    for (int i = 0; i < 60000; ++i)
        p.rows().push_back({Variant(std::to_string(i % 10000)), Variant(i * 0.25),
                            i % 3 ? Variant() : Variant(DateTime::parse_iso("2026-12-07 10:00:00"))});
    // 60,000 rows are over a megabyte: read by a parser of their own, then the kept one again.
    for (std::size_t rows : {20000u, 1u, 60000u, 1u, 20000u}) {
        DataPacket q(p.fields());
        q.rows().assign(p.rows().begin(), p.rows().begin() + static_cast<long>(rows));
        std::string text;
        write_json(text, Variant(std::make_shared<const DataPacket>(q)));
        Variant back = read_json_variant(text);
        ASSERT_TRUE(back.is_packet());
        ASSERT_EQ(back.packet()->rows().size(), rows);
        EXPECT_EQ(back.packet()->rows().back(), q.rows().back());
    }
}

namespace {

// write(read(text)): what the writer makes of what the reader took in.
std::string rewritten(std::string_view text) {
    std::string out;
    write_json(out, read_json_variant(text));
    return out;
}

// A kilobyte figure of /proc/self/status ("VmRSS", "VmHWM").
long status_kb(const char* name) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    std::size_t n = std::strlen(name);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, name, n) == 0 && line[n] == ':') kb = std::atol(line + n + 1);
    std::fclose(f);
    return kb;
}

// In a child process: the peak memory that reading `text` adds, in kB, printed to stderr;
// exits 0 when it stays within `limit_kb`.
[[noreturn]] void exit_with_peak_growth(const std::string& text, long limit_kb) {
    std::FILE* reset = std::fopen("/proc/self/clear_refs", "w");
    if (reset) {
        std::fputs("5", reset);  // the peak starts again from what is resident now
        std::fclose(reset);
    }
    long before = status_kb("VmRSS");
    try {
        (void)read_json_variant(text);
    } catch (const PacketError&) {
    }
    long growth = status_kb("VmHWM") - before;
    std::fprintf(stderr, "reading %zu bytes: peak grew %ld kB\n", text.size(), growth);
    std::_Exit(before > 0 && growth <= limit_kb ? 0 : 1);
}

}  // namespace

TEST(JsonIo, NumbersAreWrittenSoTheyReadBackAndStayTheSame) {
    // Texts the reader takes; what the writer makes of them reads back and is written the same.
    for (const char* text : {"[-0]", "[-0E4]", "[-0.0]", "[1e20]", "[99999999999199991e3]", "[18446744073709551615]",
                             "[-9223372036854775808]", "[123456789012345678]", "[1.7976931348623157e308]", "[5e-324]",
                             "[1e-400]", "[0.1]", "[-12.5e-3]", "[4503599627370497.5]"}) {
        std::string once = rewritten(text);
        EXPECT_EQ(rewritten(once), once) << text << " -> " << once;
    }
    EXPECT_EQ(rewritten("[-0E4, 1e20, 99999999999199991e3, 18446744073709551615]"),
              "[0,1e+20,9.999999999919999e+19,1.8446744073709552e+19]");
    // What JSON cannot hold is written as null.
    std::string out;
    write_json(out, Variant(Variant::Array{Variant(std::nan("")), Variant(HUGE_VAL), Variant(-HUGE_VAL)}));
    EXPECT_EQ(out, "[null,null,null]");
    // The same in a packet's cells, integers included.
    DataPacket p({{"QT", FieldType::Float, 0}, {"N", FieldType::Integer, 0}});
    p.rows().push_back({Variant(99999999999199991e3), Variant(1e300)});
    p.rows().push_back({Variant(-0.0), Variant(-2.5)});
    std::string text;
    write_json(text, Variant(std::make_shared<const DataPacket>(p)));
    Variant back = read_json_variant(text);
    EXPECT_EQ(back.packet()->rows()[0][0].number(), 99999999999199991e3);
    EXPECT_EQ(back.packet()->rows()[0][1].number(), 1e300);
    EXPECT_EQ(back.packet()->rows()[1][1].number(), -2.0);
    EXPECT_EQ(rewritten(text), text);
}

TEST(JsonIo, APacketsSizesTypesAndDatesAreCheckedBeforeUse) {
    auto packet = [](const std::string& field, const std::string& row) {
        return R"({"fields":[)" + field + R"(],"rows":[[)" + row + "]]}";
    };
    EXPECT_THROW(read_json_variant(packet(R"({"name":"A","size":1e20})", "null")), PacketError);
    EXPECT_THROW(read_json_variant(packet(R"({"name":"A","size":-4})", "null")), PacketError);
    EXPECT_THROW(read_json_variant(packet(R"({"name":"A","size":"4"})", "null")), PacketError);
    EXPECT_THROW(read_json_variant(packet(R"({"name":"A","type":5})", "null")), PacketError);
    EXPECT_EQ(read_json_variant(packet(R"({"name":"A","size":4.0})", "\"x\"")).packet()->fields()[0].size, 4);
    // A date as days since 1899-12-30: only days of years 1 to 9999.
    const std::string dt = R"({"name":"D","type":"datetime"})";
    EXPECT_THROW(read_json_variant(packet(dt, "1e308")), PacketError);
    EXPECT_THROW(read_json_variant(packet(dt, "-106751991167300")), PacketError);
    EXPECT_THROW(read_json_variant(packet(dt, "2958466")), PacketError);  // 10000-01-01
    EXPECT_EQ(read_json_variant(packet(dt, "46363.5")).packet()->rows()[0][0].as_date_time().iso(),
              "2026-12-07 12:00:00");
    EXPECT_THROW(read_json_variant(packet(dt, "\"-292275125-05-14 00:00:00\"")), PacketError);
    // A date-time variant that names no day is a packet error, like any malformed value.
    EXPECT_THROW(read_json_variant(R"([{"$dt":"2026-02-30"}])"), PacketError);
}

TEST(JsonIo, ARequestIsBoundedInBytesValuesAndDepth) {
    const JsonLimits limits = JsonLimits::request();
    // Bytes.
    std::string big(limits.max_bytes + 1, ' ');
    big.front() = '[';
    big.back() = ']';
    EXPECT_THROW(read_json_variant(big), JsonLimitError);
    // Values: half a million empty arrays are refused; the same text is an answer's to read.
    std::string arrays = "[";
    for (std::size_t i = 0; i < limits.max_values / 2 + 1; ++i) arrays += i ? ",[]" : "[]";
    arrays += "]";
    ASSERT_LT(arrays.size(), limits.max_bytes);
    EXPECT_THROW(read_json_variant(arrays), JsonLimitError);
    std::vector<std::pair<std::string, Variant>> members;
    ASSERT_TRUE(read_json_object("{\"result\":" + arrays + "}", members));
    EXPECT_EQ(members[0].second.array().size(), limits.max_values / 2 + 1);
    // Commas inside texts count too, but a text of many values within the limit reads.
    std::string texts = "[";
    for (int i = 0; i < 100000; ++i) texts += i ? ",\"a,b\"" : "\"a,b\"";
    texts += "]";
    EXPECT_EQ(read_json_variant(texts).array().size(), 100000u);
    // Depth: as deep as a delta inside an argument list is far within it; beyond it, refused
    // with its own message rather than as bad JSON.
    auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_NO_THROW(read_json_variant(nested(limits.max_depth)));
    EXPECT_THROW(read_json_variant(nested(limits.max_depth + 1)), JsonLimitError);
    EXPECT_THROW(read_json_variant(nested(100000)), JsonLimitError);
    EXPECT_THROW(read_json_object("{\"result\":" + nested(100000) + "}", members), JsonLimitError);
}

TEST(JsonIo, AMaximumRequestOfEmptyArraysCostsLessThanItsOwnSize) {
    // Parsed whole, a text of empty arrays took about 25 times its size. Now a text over the
    // value limit is refused before anything is built from it.
    const std::size_t size = JsonLimits::request().max_bytes;
    std::string text = "[";
    while (text.size() + 4 < size) text += "[],";
    text += "[]]";
    EXPECT_EXIT(exit_with_peak_growth(text, static_cast<long>(size / 1024)), ::testing::ExitedWithCode(0), "");
    // The largest text of empty arrays that is read costs a bounded amount: well under 64 MB.
    std::string within = "[";
    for (std::size_t i = 0; i < JsonLimits::request().max_values / 2 - 1; ++i) within += i ? ",[]" : "[]";
    within += "]";
    EXPECT_EXIT(exit_with_peak_growth(within, 64 * 1024), ::testing::ExitedWithCode(0), "");
}
