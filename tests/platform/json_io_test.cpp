// The JSON every call travels in: written by hand, read with simdjson into variants and packets.
#include <gtest/gtest.h>

#include "acerto/platform/errors.h"
#include "acerto/platform/json_io.h"
#include "acerto/platform/packet.h"

using namespace acerto::platform;

TEST(JsonIo, NumbersAndTextsArriveExactly) {
    Variant v = read_json_variant(R"([0.1, 12.5, -3, 1e-7, 9007199254740993, 18446744073709551615, "ação \u00e7\n\"x\"", true, null])");
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
    Variant::Array in{Variant("a\"b\\c\x01"), Variant(0.30000000000000004), Variant(DateTime::parse_iso("2026-12-07 09:30:00"))};
    std::string text;
    write_json(text, Variant(in));
    Variant back = read_json_variant(text);
    for (std::size_t i = 0; i < in.size(); ++i) EXPECT_TRUE(back.array()[i] == in[i]) << i;
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
    for (int i = 0; i < 20000; ++i)
        p.rows().push_back({Variant(std::to_string(i % 10000)), Variant(i * 0.25),
                            i % 3 ? Variant() : Variant(DateTime::parse_iso("2026-12-07 10:00:00"))});
    for (std::size_t rows : {20000u, 1u, 20000u}) {
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
