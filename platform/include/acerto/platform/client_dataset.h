#pragma once
// The client dataset: a dataset filled from data packets that keeps a log of the changes posted
// since it was loaded or last merged, and hands them over as a delta packet.
#include <memory>

#include "acerto/platform/dataset.h"

namespace acerto::platform {

class ClientDataSet : public DataSet {
  public:
    using DataSet::DataSet;

    // Opens empty with the declared fields.
    void create_dataset();
    // Replaces the content with the packet's rows and clears the change log. Columns are
    // matched to the declared fields by name; a declared field the packet lacks reads Null.
    // A dataset without declared fields takes the packet's. Throws PacketError on a non-packet.
    void set_data(const Variant& data);
    void set_data(const DataPacket& packet);
    void set_data(DataPacket&& packet);  // takes the packet's rows instead of copying them
    // Loads another client dataset's current content, as set_data(other.data()) does, with
    // the columns matched by name, in one pass.
    void set_data_from(const ClientDataSet& other);
    // The current content as a packet (a pending edit is not included).
    Variant data() const;
    DataPacket data_packet() const;
    // The change log as a delta packet (inserted, modified, deleted rows in change order).
    Variant delta() const;
    // Number of records changed since the last load or merge.
    int change_count() const { return static_cast<int>(log_.size()); }
    // Accepts the logged changes as the new original state.
    void merge_change_log();
    // Undoes every logged change (and a pending edit), back to the last load or merge.
    void cancel_updates();

    void open() override;

  protected:
    void record_inserted(const std::shared_ptr<Record>& rec) override;
    void record_modified(const std::shared_ptr<Record>& rec) override;
    void record_deleted(const std::shared_ptr<Record>& rec, int position) override;
    void content_cleared() override;

  private:
    std::vector<std::shared_ptr<Record>> log_;
    std::vector<std::pair<std::shared_ptr<Record>, int>> deleted_;
};

}  // namespace acerto::platform
