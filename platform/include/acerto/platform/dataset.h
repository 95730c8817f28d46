#pragma once
// Datasets: an in-memory table with a cursor, the states inactive, browse, edit and insert,
// the before/after events, calculated fields and data sources. Every rule the screen expects
// of its platform lives here: an empty dataset put into edit starts an insert; moving the
// cursor posts a pending edit; an error in a before-event aborts the operation and leaves the
// state as it was.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acerto/platform/field.h"
#include "acerto/platform/packet.h"

namespace acerto::platform {

enum class DataSetState { Inactive, Browse, Edit, Insert, CalcFields };
const char* state_name(DataSetState s);

class DataSource;

// One stored record. `values` holds every field (data and calculated) in field order;
// `original` the data values as last loaded or merged (none for a record inserted since).
struct Record {
    Row values;
    std::optional<Row> original;
    bool logged = false;
    bool deleted = false;
};

class DataSet {
  public:
    using Event = std::function<void(DataSet&)>;

    explicit DataSet(std::string name);
    virtual ~DataSet();
    DataSet(const DataSet&) = delete;
    DataSet& operator=(const DataSet&) = delete;

    const std::string& name() const { return name_; }

    // Fields. Declared before the dataset opens; a dataset opened without declared fields
    // takes them from its data.
    Field& add_field(const FieldDef& def);
    Field& add_field(std::string name, FieldType type, int size = 0) {
        return add_field(FieldDef{std::move(name), type, size});
    }
    Field& add_calc_field(std::string name, FieldType type, int size = 0);
    Field& field(std::string_view name) const;  // throws DataSetError
    Field* find_field(std::string_view name) const;
    Field& operator[](std::string_view name) const { return field(name); }
    const std::vector<std::unique_ptr<Field>>& fields() const { return fields_; }
    std::vector<FieldDef> data_field_defs() const;

    // State.
    DataSetState state() const { return state_; }
    bool active() const { return state_ != DataSetState::Inactive; }
    bool editing() const { return state_ == DataSetState::Edit || state_ == DataSetState::Insert; }
    bool modified() const { return modified_; }

    virtual void open();
    void close();

    // Cursor (records counted from 1; a pending insert is not counted).
    int record_count() const { return static_cast<int>(rows_.size()); }
    int rec_no() const;
    bool is_empty() const { return rows_.empty(); }
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }
    void first();
    void last();
    void next();
    void prior();
    void move_to(int rec_no);

    // Editing.
    void edit();
    void insert();
    void append();
    void post();
    void cancel();
    void remove();  // deletes the current record
    // Makes bound controls write what they hold into the fields (before a post).
    void update_record();
    // Posts a pending edit (or cancels an unmodified one), as any cursor move does first.
    void check_browse_mode();

    // Events.
    Event before_open, after_open, before_close, after_close;
    Event before_insert, after_insert, before_edit, after_edit;
    Event before_post, after_post, before_cancel, after_cancel;
    Event before_delete, after_delete, before_scroll, after_scroll;
    Event on_new_record, on_calc_fields;

    // Data sources bound to this dataset (managed by DataSource).
    void attach(DataSource* ds);
    void detach(DataSource* ds);
    void focus_field(Field& field);

    // Record access for fields and front ends.
    const Row* active_row() const;
    Row* active_row_mut();
    const Record* record_at(int index) const {  // 0-based, for grids
        return index >= 0 && index < record_count() ? rows_[static_cast<std::size_t>(index)].get() : nullptr;
    }
    // Fields read this record while a grid paints row `index` (0-based); -1 ends it.
    void set_display_record(int index);
    void field_changed(Field& field);

  protected:
    // Hooks for the change log of a client dataset.
    virtual void record_inserted(const std::shared_ptr<Record>&) {}
    // Runs before the record's values are replaced, so the old values can be kept.
    virtual void record_modified(const std::shared_ptr<Record>&) {}
    virtual void record_deleted(const std::shared_ptr<Record>&, int /*position*/) {}
    // The content was dropped (closed) or replaced (loaded).
    virtual void content_cleared() {}
    // Loads rows (data fields in order) as the new content; opens the dataset.
    void load_rows(std::vector<Row> rows);
    void set_state(DataSetState s);
    void notify_data_changed(Field* field);
    void calculate(Row& row);
    int data_field_count() const { return data_fields_; }
    Row make_row() const;
    Row data_values(const Row& full) const;
    Row full_values(const Row& data) const;

    std::vector<std::shared_ptr<Record>> rows_;
    int cur_ = -1;  // index of the current record, -1 when empty

  private:
    void fire(const Event& e, const char* event);
    void ensure_active(const char* op) const;
    void do_insert(bool append);
    void scroll_to(int index);

    std::string name_;
    std::vector<std::unique_ptr<Field>> fields_;
    int data_fields_ = 0;
    std::vector<int> data_index_;  // row index of each data field, in order
    DataSetState state_ = DataSetState::Inactive;
    bool modified_ = false;
    bool eof_ = true, bof_ = true;
    Row buffer_;  // the record being edited or inserted
    int insert_pos_ = 0;
    int saved_cur_ = -1;
    Row* calc_row_ = nullptr;  // the record being calculated
    const Row* display_row_ = nullptr;
    std::vector<DataSource*> sources_;
};

// A control bound to a dataset through a data source. The link and its source point at each
// other, and whichever is destroyed first detaches the other, so that neither is left holding
// a freed object whatever order a form's members, controls and datasets go in.
class DataLink {
  public:
    DataLink() = default;
    virtual ~DataLink();
    DataLink(const DataLink&) = delete;
    DataLink& operator=(const DataLink&) = delete;

    // The source this link belongs to; null when none, or once that source was destroyed.
    DataSource* data_source() const { return source_; }
    // Joins the links of `source` (null: none), leaving the source it belonged to.
    void link_to(DataSource* source);

    virtual void active_changed() {}
    virtual void state_changed() {}
    virtual void data_changed(Field* /*field, null: the whole record or dataset*/) {}
    virtual void update_data() {}
    virtual bool focus_field(Field&) { return false; }
    // The source is being destroyed; data_source() is already null. Nothing else is told, since
    // this runs while the form that owns both may be half torn down.
    virtual void source_destroyed() {}

  private:
    friend class DataSource;
    DataSource* source_ = nullptr;
};

// A pointer to a data source that becomes null when the source is destroyed, for what refers
// to a source without being told of its changes (a navigator).
class DataSourceRef : public DataLink {
  public:
    DataSourceRef(DataSource* source = nullptr) { link_to(source); }
    DataSourceRef& operator=(DataSource* source) {
        link_to(source);
        return *this;
    }
    DataSource* get() const { return data_source(); }
    DataSource* operator->() const { return data_source(); }
    explicit operator bool() const { return data_source() != nullptr; }
};

class DataSource {
  public:
    explicit DataSource(std::string name, DataSet* dataset = nullptr);
    ~DataSource();
    DataSource(const DataSource&) = delete;
    DataSource& operator=(const DataSource&) = delete;

    const std::string& name() const { return name_; }
    DataSet* dataset() const { return dataset_; }
    void set_dataset(DataSet* ds);
    DataSetState state() const { return dataset_ ? dataset_->state() : DataSetState::Inactive; }
    bool auto_edit = true;

    std::function<void(DataSource&)> on_state_change;
    std::function<void(DataSource&, Field*)> on_data_change;

    // Puts the dataset into edit when it browses (a bound control starts typing).
    void edit();

    // The links joined to this source (DataLink::link_to joins and leaves).
    const std::vector<DataLink*>& links() const { return links_; }

    // Called by the dataset.
    void notify_state();
    void notify_active();
    void notify_data(Field* field);
    void notify_update();
    bool notify_focus(Field& field);

  private:
    friend class DataLink;
    std::string name_;
    DataSet* dataset_ = nullptr;
    std::vector<DataLink*> links_;
};

}  // namespace acerto::platform
