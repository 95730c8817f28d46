#include <gtest/gtest.h>

#include <cmath>

#include <nlohmann/json.hpp>

#include "acerto/platform/errors.h"
#include "acerto/platform/packet.h"

using namespace acerto::platform;

namespace {
DataPacket sample() {
    DataPacket p({{"CDFILIAL", FieldType::String, 4},
                  {"NRSEQORCAEVE", FieldType::FixedChar, 2},
                  {"QTACERTOQUEB", FieldType::Float, 0},
                  {"NRLINHAS", FieldType::Integer, 0},
                  {"DTACERTOOREV", FieldType::DateTime, 0},
                  {"IDATIVO", FieldType::Boolean, 0}});
    p.rows().push_back({Variant("0001"), Variant("00"), Variant(2.5), Variant(3),
                        Variant(DateTime::parse_iso("2026-12-07 00:00:00")), Variant(true)});
    p.rows().push_back({Variant("0002"), Variant(), Variant(), Variant(), Variant(), Variant()});
    return p;
}
}  // namespace

TEST(Packet, RoundTripKeepsTypesNullsAndOrder) {
    DataPacket p = sample();
    std::string text = p.dump();
    // Rows travel as arrays, not objects with repeated names.
    auto j = nlohmann::json::parse(text);
    ASSERT_TRUE(j["rows"][0].is_array());
    EXPECT_EQ(j["rows"][0][4], "2026-12-07 00:00:00");

    DataPacket q = DataPacket::parse(text);
    ASSERT_EQ(q.fields(), p.fields());
    ASSERT_EQ(q.rows().size(), 2u);
    EXPECT_EQ(q.rows()[0], p.rows()[0]);
    EXPECT_TRUE(q.rows()[1][1].is_null());
    EXPECT_EQ(q.value(q.rows()[0], "qtacertoqueb").number(), 2.5);
    EXPECT_TRUE(q.value(q.rows()[0], "NOPE").is_null());
}

TEST(Packet, DeltaRoundTripKeepsOriginalsAndChangeOrder) {
    DataPacket d({{"K", FieldType::String, 4}, {"V", FieldType::Float, 0}});
    d.set_delta(true);
    d.changes().push_back({ChangeKind::Modify, {Variant("A"), Variant(1.0)}, {Variant("A"), Variant(2.0)}});
    d.changes().push_back({ChangeKind::Insert, {}, {Variant("B"), Variant(5.0)}});
    d.changes().push_back({ChangeKind::Delete, {Variant("C"), Variant()}, {}});
    DataPacket e = DataPacket::parse(d.dump());
    ASSERT_TRUE(e.is_delta());
    ASSERT_EQ(e.changes().size(), 3u);
    EXPECT_EQ(e.changes()[0].kind, ChangeKind::Modify);
    EXPECT_EQ(e.changes()[0].original[1].number(), 1.0);
    EXPECT_EQ(e.changes()[0].values[1].number(), 2.0);
    EXPECT_EQ(e.changes()[1].kind, ChangeKind::Insert);
    EXPECT_EQ(e.changes()[2].kind, ChangeKind::Delete);
    EXPECT_TRUE(e.changes()[2].original[1].is_null());
}

TEST(Packet, MalformedInputIsRefusedWithAClearText) {
    EXPECT_THROW(DataPacket::parse("{"), PacketError);
    EXPECT_THROW(DataPacket::parse("{}"), PacketError);
    EXPECT_THROW(DataPacket::parse(R"({"fields":[{"name":"A","type":"weird"}],"rows":[]})"), PacketError);
    EXPECT_THROW(DataPacket::parse(R"({"fields":[{"name":"A"}],"rows":[["x","y"]]})"), PacketError);
    EXPECT_THROW(DataPacket::parse(R"({"fields":[{"name":"A","type":"float"}],"rows":[["x"]]})"), PacketError);
    EXPECT_THROW(DataPacket::parse(R"({"fields":[{"name":"A"}],"delta":[{"op":"upsert"}]})"), PacketError);
    EXPECT_THROW(DataPacket::parse(R"({"fields":[{"name":"A"}],"delta":[{"op":"modify","new":["x"]}]})"), PacketError);
}

TEST(VariantJson, EveryKindTravels) {
    Variant::Array a{Variant(),
                     Variant("texto"),
                     Variant(1.5),
                     Variant(true),
                     Variant(DateTime::parse_iso("2026-01-02 03:04:05")),
                     Variant(Variant::Array{Variant("x")}),
                     Variant(std::make_shared<const DataPacket>(sample()))};
    Variant v(a);
    Variant back = Variant::from_json(v.to_json());
    ASSERT_TRUE(back.is_array());
    ASSERT_EQ(back.array().size(), a.size());
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(back.array()[i] == a[i]) << i;
}

TEST(PacketJson, MalformedObjectsArePacketErrorsNotTheJsonLibrarysOwn) {
    using nlohmann::json;
    auto field = [](json f) { return json{{"fields", json::array({f})}, {"rows", json::array()}}; };
    // Each of these once escaped as the JSON library's type error, or converted out of range.
    for (const json& j :
         {field({{"name", "A"}, {"type", 5}}), field({{"name", "A"}, {"size", 1e20}}),
          field({{"name", "A"}, {"size", -1}}), field({{"name", "A"}, {"size", "4"}}), field({{"name", 7}}),
          json{{"fields", json::array({"A"})}}, json{{"fields", json::array()}, {"delta", json::array({{{"op", 1}}})}},
          json{{"fields", json::array()}, {"delta", json::object()}}}) {
        EXPECT_THROW(DataPacket::from_json(j), PacketError) << j.dump();
        EXPECT_THROW(Variant::from_json(j), PacketError) << j.dump();
    }
    EXPECT_EQ(DataPacket::from_json(field({{"name", "A"}, {"size", 4.0}})).fields()[0].size, 4);
    EXPECT_THROW(Variant::from_json(json{{"$dt", "2026-13-01"}}), PacketError);
    // A date as days: only days of years 1 to 9999.
    EXPECT_THROW(cell_from_json(json(1e308), FieldType::DateTime), PacketError);
    EXPECT_THROW(cell_from_json(json(-1e14), FieldType::DateTime), PacketError);
    EXPECT_EQ(cell_from_json(json(46363), FieldType::DateTime).as_date_time().iso(), "2026-12-07 00:00:00");
}

TEST(PacketJson, CellsOutsideSixtyFourBitsAreWrittenWithoutOverflow) {
    using nlohmann::json;
    EXPECT_EQ(cell_to_json(Variant(1e300), FieldType::Integer), json(1e300));
    EXPECT_EQ(cell_to_json(Variant(-9.3e18), FieldType::Integer), json(-9.3e18));
    EXPECT_EQ(cell_to_json(Variant(42.9), FieldType::Integer), json(42));
    EXPECT_TRUE(cell_to_json(Variant(HUGE_VAL), FieldType::Integer).is_null());
}
