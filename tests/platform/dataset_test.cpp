#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acerto/platform/client_dataset.h"
#include "acerto/platform/errors.h"

using namespace acerto::platform;

namespace {

// A breakage-like dataset: key, quantity, unit value and a calculated total.
struct Lines {
    ClientDataSet cds{"cdsLinhas"};
    std::vector<std::string> events;
    Lines() {
        cds.add_field("NRLINHA", FieldType::String, 4);
        cds.add_field("QT", FieldType::Float);
        cds.add_field("VR", FieldType::Float);
        cds.add_calc_field("VrTotal", FieldType::Float);
        cds.on_calc_fields = [](DataSet& d) { d["VrTotal"].set_as_float(d["QT"].as_float() * d["VR"].as_float()); };
        auto log = [this](const char* name) { return [this, name](DataSet&) { events.push_back(name); }; };
        cds.before_insert = log("before_insert");
        cds.after_insert = log("after_insert");
        cds.before_edit = log("before_edit");
        cds.after_edit = log("after_edit");
        cds.before_post = log("before_post");
        cds.after_post = log("after_post");
        cds.before_delete = log("before_delete");
        cds.after_delete = log("after_delete");
        cds.after_open = log("after_open");
    }
    void load(int n) {
        DataPacket p({{"NRLINHA", FieldType::String, 4}, {"QT", FieldType::Float, 0}, {"VR", FieldType::Float, 0}});
        for (int i = 1; i <= n; ++i)
            p.rows().push_back({Variant(std::to_string(i)), Variant(double(i)), Variant(10.0)});
        cds.set_data(p);
        events.clear();
    }
    void add(const std::string& nr, double qt) {
        cds.append();
        cds["NRLINHA"].set_as_string(nr);
        cds["QT"].set_as_float(qt);
        cds["VR"].set_as_float(1);
        cds.post();
    }
};

}  // namespace

TEST(ClientDataSet, LoadingAPacketReplacesContentClearsTheLogAndCalculates) {
    Lines l;
    l.load(3);
    EXPECT_EQ(l.cds.state(), DataSetState::Browse);
    EXPECT_EQ(l.cds.record_count(), 3);
    EXPECT_EQ(l.cds.rec_no(), 1);
    EXPECT_EQ(l.cds["VrTotal"].as_float(), 10.0);
    l.add("9", 2);
    EXPECT_EQ(l.cds.change_count(), 1);
    l.load(2);
    EXPECT_EQ(l.cds.change_count(), 0);
    EXPECT_EQ(l.cds.record_count(), 2);
}

TEST(ClientDataSet, EditOnAnEmptyDatasetStartsAnInsert) {
    Lines l;
    l.cds.create_dataset();
    l.events.clear();
    l.cds.edit();
    EXPECT_EQ(l.cds.state(), DataSetState::Insert);
    EXPECT_EQ((std::vector<std::string>{"before_insert", "after_insert"}), l.events);
}

TEST(ClientDataSet, MovingTheCursorPostsAPendingEdit) {
    Lines l;
    l.load(3);
    l.cds.edit();
    l.cds["QT"].set_as_float(7);
    EXPECT_EQ(l.cds["VrTotal"].as_float(), 70.0);  // calculated while editing
    l.cds.next();
    EXPECT_EQ(l.cds.state(), DataSetState::Browse);
    EXPECT_EQ(l.cds.change_count(), 1);
    l.cds.first();
    EXPECT_EQ(l.cds["QT"].as_float(), 7.0);
    // An insert nothing was typed into is dropped rather than posted.
    l.cds.append();
    l.cds.first();
    EXPECT_EQ(l.cds.record_count(), 3);
}

TEST(ClientDataSet, AnErrorInABeforeEventAbortsAndKeepsTheState) {
    Lines l;
    l.load(2);
    l.cds.before_edit = [](DataSet&) { throw Error("bloqueado"); };
    EXPECT_THROW(l.cds.edit(), Error);
    EXPECT_EQ(l.cds.state(), DataSetState::Browse);

    l.cds.before_edit = nullptr;
    l.cds.before_post = [](DataSet& d) {
        if (d["QT"].as_float() <= 0) throw Error("Quantidade deve ser maior que zero.");
    };
    l.cds.edit();
    l.cds["QT"].set_as_float(0);
    EXPECT_THROW(l.cds.post(), Error);
    EXPECT_EQ(l.cds.state(), DataSetState::Edit);
    EXPECT_EQ(l.cds["QT"].as_float(), 0.0);  // what was typed stays
    EXPECT_EQ(l.cds.change_count(), 0);

    l.cds.before_insert = [](DataSet&) { throw Error("não"); };
    l.cds.cancel();
    EXPECT_THROW(l.cds.insert(), Error);
    EXPECT_EQ(l.cds.state(), DataSetState::Browse);
    EXPECT_EQ(l.cds.record_count(), 2);

    l.cds.before_delete = [](DataSet&) { throw Error("não"); };
    EXPECT_THROW(l.cds.remove(), Error);
    EXPECT_EQ(l.cds.record_count(), 2);
}

TEST(ClientDataSet, FieldsRefuseWritesOutsideEditAndValuesThatDoNotFit) {
    Lines l;
    l.load(1);
    EXPECT_THROW(l.cds["QT"].set_as_float(1), DataSetError);
    l.cds.edit();
    EXPECT_THROW(l.cds["NRLINHA"].set_as_string("10000"), ConversionError);  // 5 chars into 4
    EXPECT_THROW(l.cds["QT"].set_text("abc"), ConversionError);
    l.cds["QT"].set_text("");
    EXPECT_TRUE(l.cds["QT"].is_null());
    EXPECT_THROW(l.cds["VrTotal"].set_as_float(1), DataSetError);
}

TEST(ClientDataSet, DeltaListsChangesInOrderWithOriginals) {
    Lines l;
    l.load(3);
    l.cds.move_to(2);
    l.cds.edit();
    l.cds["QT"].set_as_float(20);
    l.cds.post();
    l.cds.edit();  // a second change of the same row stays one change
    l.cds["QT"].set_as_float(21);
    l.cds.post();
    l.add("4", 4);
    l.cds.move_to(1);
    l.cds.remove();
    l.add("5", 5);
    l.cds.remove();  // inserted then deleted: nothing to send
    EXPECT_EQ(l.cds.change_count(), 3);

    Variant d = l.cds.delta();
    ASSERT_TRUE(d.is_packet());
    const DataPacket& p = *d.packet();
    ASSERT_TRUE(p.is_delta());
    ASSERT_EQ(p.fields().size(), 3u);  // calculated fields do not travel
    ASSERT_EQ(p.changes().size(), 3u);
    EXPECT_EQ(p.changes()[0].kind, ChangeKind::Modify);
    EXPECT_EQ(p.changes()[0].original[1].number(), 2.0);
    EXPECT_EQ(p.changes()[0].values[1].number(), 21.0);
    EXPECT_EQ(p.changes()[1].kind, ChangeKind::Insert);
    EXPECT_EQ(p.changes()[1].values[0].text(), "4");
    EXPECT_EQ(p.changes()[2].kind, ChangeKind::Delete);
    EXPECT_EQ(p.changes()[2].original[0].text(), "1");
}

TEST(ClientDataSet, MergeAcceptsAndCancelRestores) {
    Lines l;
    l.load(3);
    l.cds.move_to(2);
    l.cds.edit();
    l.cds["QT"].set_as_float(20);
    l.cds.post();
    l.cds.merge_change_log();
    EXPECT_EQ(l.cds.change_count(), 0);
    EXPECT_EQ(l.cds.delta().packet()->changes().size(), 0u);

    // After the merge, the merged value is the original a later change is compared with.
    l.cds.edit();
    l.cds["QT"].set_as_float(30);
    l.cds.post();
    EXPECT_EQ(l.cds.delta().packet()->changes()[0].original[1].number(), 20.0);

    l.add("4", 4);
    l.cds.move_to(1);
    l.cds.remove();
    l.cds.append();
    l.cds["NRLINHA"].set_as_string("9");  // a pending insert goes too
    l.cds.cancel_updates();
    EXPECT_EQ(l.cds.state(), DataSetState::Browse);
    EXPECT_EQ(l.cds.change_count(), 0);
    ASSERT_EQ(l.cds.record_count(), 3);
    std::vector<std::string> nrs;
    std::vector<double> qts;
    for (l.cds.first(); !l.cds.eof(); l.cds.next()) {
        nrs.push_back(l.cds["NRLINHA"].as_string());
        qts.push_back(l.cds["QT"].as_float());
        EXPECT_EQ(l.cds["VrTotal"].as_float(), l.cds["QT"].as_float() * 10);
    }
    EXPECT_EQ(nrs, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(qts, (std::vector<double>{1, 20, 3}));
}

TEST(ClientDataSet, PacketColumnsAreMatchedByNameAndConverted) {
    ClientDataSet cds("cdsPesq");
    cds.add_field("NRORCAEVENTO", FieldType::String, 15);
    cds.add_field("IDTESTE", FieldType::FixedChar, 15);  // filled locally, not in the packet
    cds.add_field("QT", FieldType::Float);
    DataPacket p({{"QT", FieldType::String, 10}, {"NRORCAEVENTO", FieldType::String, 10}});
    p.rows().push_back({Variant("2,5"), Variant("0000000001")});
    cds.set_data(p);
    EXPECT_EQ(cds["NRORCAEVENTO"].as_string(), "0000000001");
    EXPECT_TRUE(cds["IDTESTE"].is_null());
    EXPECT_EQ(cds["QT"].as_float(), 2.5);
    EXPECT_THROW(cds.set_data(Variant("x")), PacketError);
}

TEST(ClientDataSet, DisplayAndEditTextFollowFormatsAndGetText) {
    Lines l;
    l.cds["QT"].display_format = "#,##0.00";
    l.cds["QT"].edit_format = "0.00";
    l.cds["NRLINHA"].on_get_text = [](Field& f, std::string& t, bool display) {
        if (display && !f.is_null()) t = "Nº " + t;
    };
    l.load(1);
    l.cds.edit();
    l.cds["QT"].set_as_float(1234.5);
    EXPECT_EQ(l.cds["QT"].display_text(), "1.234,50");
    EXPECT_EQ(l.cds["QT"].text(), "1234,50");
    EXPECT_EQ(l.cds["NRLINHA"].display_text(), "Nº 1");
    EXPECT_EQ(l.cds["NRLINHA"].text(), "1");
}

TEST(ClientDataSet, ACopyOfAnotherDatasetMatchesColumnsByName) {
    Lines l;
    l.load(3);
    l.cds.append();
    l.cds["NRLINHA"].set_as_string("9");
    l.cds.post();  // pending changes are part of the content
    ClientDataSet copy("cdsCopia");
    copy.add_field("QT", FieldType::Float);
    copy.add_field("NRLINHA", FieldType::String, 4);
    copy.add_field("OUTRO", FieldType::String, 4);
    copy.set_data_from(l.cds);
    ASSERT_EQ(copy.record_count(), 4);
    EXPECT_EQ(copy.change_count(), 0);
    copy.last();
    EXPECT_EQ(copy["NRLINHA"].as_string(), "9");
    EXPECT_TRUE(copy["OUTRO"].is_null());
    copy.first();
    EXPECT_EQ(copy["QT"].as_float(), 1.0);
}

namespace {
// A link that records what its source tells it.
struct RecordingLink : DataLink {
    std::vector<std::string> heard;
    void active_changed() override { heard.push_back("active"); }
    void state_changed() override { heard.push_back("state"); }
    void data_changed(Field*) override { heard.push_back("data"); }
    void source_destroyed() override { heard.push_back(data_source() ? "destroyed, still bound" : "destroyed"); }
};
}  // namespace

TEST(DataSource, WhicheverOfSourceDatasetAndLinkGoesFirstTheOthersLetGo) {
    // The source first: its links are told once, already unbound, and hear nothing more.
    {
        Lines l;
        l.load(2);
        RecordingLink a, b;
        auto dts = std::make_unique<DataSource>("dts", &l.cds);
        a.link_to(dts.get());
        b.link_to(dts.get());
        dts.reset();
        EXPECT_EQ(a.heard, std::vector<std::string>{"destroyed"});
        EXPECT_EQ(b.heard, std::vector<std::string>{"destroyed"});
        l.cds.edit();
        l.cds["QT"].set_as_float(9);
        l.cds.post();
        EXPECT_EQ(a.heard.size(), 1u);
    }
    // The dataset first: the source is left without one, and its links hear it.
    {
        auto l = std::make_unique<Lines>();
        l->load(1);
        DataSource dts("dts", &l->cds);
        RecordingLink a;
        a.link_to(&dts);
        l.reset();
        EXPECT_EQ(dts.dataset(), nullptr);
        EXPECT_EQ(a.heard, std::vector<std::string>{"active"});
        EXPECT_EQ(a.data_source(), &dts);
    }
    // The link first: the source forgets it, and the dataset's changes go on.
    {
        Lines l;
        l.load(1);
        DataSource dts("dts", &l.cds);
        auto a = std::make_unique<RecordingLink>();
        a->link_to(&dts);
        a.reset();
        EXPECT_TRUE(dts.links().empty());
        l.add("2", 1);
        EXPECT_EQ(l.cds.record_count(), 2);
    }
}

TEST(DataSource, ALinkMovesBetweenSourcesAndHearsOnlyTheOneItBelongsTo) {
    Lines l;
    l.load(1);
    DataSource first("first", &l.cds), second("second", &l.cds);
    RecordingLink a;
    a.link_to(&first);
    a.link_to(&first);
    EXPECT_EQ(first.links().size(), 1u);
    a.link_to(&second);
    EXPECT_TRUE(first.links().empty());
    EXPECT_EQ(a.data_source(), &second);
    l.cds.edit();  // both sources are told; the link hears it once, through the second
    EXPECT_EQ(a.heard, (std::vector<std::string>{"state", "data"}));
    a.link_to(nullptr);
    EXPECT_TRUE(second.links().empty());
    l.cds.cancel();
    EXPECT_EQ(a.heard.size(), 2u);
}
