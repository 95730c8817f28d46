#include "acerto/platform/dataset.h"

#include <algorithm>

#include "acerto/platform/errors.h"
#include "acerto/platform/text.h"

namespace acerto::platform {

const char* state_name(DataSetState s) {
    switch (s) {
        case DataSetState::Inactive:
            return "inactive";
        case DataSetState::Browse:
            return "browse";
        case DataSetState::Edit:
            return "edit";
        case DataSetState::Insert:
            return "insert";
        case DataSetState::CalcFields:
            return "calcfields";
    }
    return "?";
}

DataSet::DataSet(std::string name) : name_(std::move(name)) {}

void DataSet::fire(const Event& e, const char* event) {
    if (!e) return;
    if (tracing()) trace("  " + name_ + "." + event);
    e(*this);
}

DataSet::~DataSet() {
    for (DataSource* s : std::vector<DataSource*>(sources_)) s->set_dataset(nullptr);
}

Field& DataSet::add_field(const FieldDef& def) {
    if (active()) throw DataSetError("Campos de " + name_ + " não podem ser criados com o conjunto aberto.");
    if (find_field(def.name)) throw DataSetError("Campo " + def.name + " duplicado em " + name_ + ".");
    int index = static_cast<int>(fields_.size());
    fields_.push_back(std::make_unique<Field>(*this, def, false, index));
    data_index_.push_back(index);
    ++data_fields_;
    return *fields_.back();
}

Field& DataSet::add_calc_field(std::string name, FieldType type, int size) {
    if (active()) throw DataSetError("Campos de " + name_ + " não podem ser criados com o conjunto aberto.");
    int index = static_cast<int>(fields_.size());
    fields_.push_back(std::make_unique<Field>(*this, FieldDef{std::move(name), type, size}, true, index));
    return *fields_.back();
}

Field* DataSet::find_field(std::string_view name) const {
    for (const auto& f : fields_)
        if (f->name() == name) return f.get();
    for (const auto& f : fields_)
        if (iequals(f->name(), name)) return f.get();
    return nullptr;
}

Field& DataSet::field(std::string_view name) const {
    Field* f = find_field(name);
    if (!f) throw DataSetError(name_ + ": campo '" + std::string(name) + "' não encontrado.");
    return *f;
}

std::vector<FieldDef> DataSet::data_field_defs() const {
    std::vector<FieldDef> defs;
    defs.reserve(static_cast<std::size_t>(data_fields_));
    for (int i : data_index_) defs.push_back(fields_[static_cast<std::size_t>(i)]->def());
    return defs;
}

Row DataSet::make_row() const {
    return Row(fields_.size());
}

Row DataSet::data_values(const Row& full) const {
    Row out;
    out.reserve(static_cast<std::size_t>(data_fields_));
    for (int i : data_index_) out.push_back(full[static_cast<std::size_t>(i)]);
    return out;
}

Row DataSet::full_values(const Row& data) const {
    Row out(fields_.size());
    for (std::size_t k = 0; k < data_index_.size() && k < data.size(); ++k)
        out[static_cast<std::size_t>(data_index_[k])] = data[k];
    return out;
}

void DataSet::ensure_active(const char* op) const {
    if (!active())
        throw DataSetError(std::string("Não é possível ") + op + ": o conjunto de dados " + name_ + " está fechado.");
}

const Row* DataSet::active_row() const {
    if (display_row_) return display_row_;
    if (calc_row_) return calc_row_;
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return &buffer_;
    if (cur_ >= 0 && cur_ < record_count()) return &rows_[static_cast<std::size_t>(cur_)]->values;
    return nullptr;
}

Row* DataSet::active_row_mut() {
    return const_cast<Row*>(active_row());
}

void DataSet::set_display_record(int index) {
    display_row_ = (index >= 0 && index < record_count()) ? &rows_[static_cast<std::size_t>(index)]->values : nullptr;
}

int DataSet::rec_no() const {
    if (state_ == DataSetState::Insert) return insert_pos_ + 1;
    return cur_ + 1;
}

void DataSet::set_state(DataSetState s) {
    if (state_ == s) return;
    state_ = s;
    for (DataSource* src : std::vector<DataSource*>(sources_)) src->notify_state();
}

void DataSet::notify_data_changed(Field* field) {
    for (DataSource* src : std::vector<DataSource*>(sources_)) src->notify_data(field);
}

void DataSet::calculate(Row& row) {
    if (!on_calc_fields || data_fields_ == static_cast<int>(fields_.size())) return;
    for (const auto& f : fields_)
        if (f->calculated()) row[static_cast<std::size_t>(f->index())] = Variant();
    DataSetState saved = state_;
    Row* saved_row = calc_row_;
    const Row* saved_display = display_row_;
    display_row_ = nullptr;
    calc_row_ = &row;
    state_ = DataSetState::CalcFields;
    struct Restore {
        DataSet& d;
        DataSetState s;
        Row* r;
        const Row* disp;
        ~Restore() {
            d.state_ = s;
            d.calc_row_ = r;
            d.display_row_ = disp;
        }
    } restore{*this, saved, saved_row, saved_display};
    on_calc_fields(*this);
}

void DataSet::field_changed(Field& field) {
    modified_ = true;
    if (editing()) calculate(buffer_);
    if (field.on_change) field.on_change(field);
    notify_data_changed(&field);
}

void DataSet::load_rows(std::vector<Row> rows) {
    if (active()) close();
    fire(before_open, "before_open");
    content_cleared();
    rows_.clear();
    rows_.reserve(rows.size());
    const bool full = data_fields_ == static_cast<int>(fields_.size());
    for (auto& r : rows) {
        auto rec = std::make_shared<Record>();
        rec->values = full ? std::move(r) : full_values(r);
        rec->values.resize(fields_.size());
        rows_.push_back(std::move(rec));
    }
    if (!full && on_calc_fields)
        for (auto& rec : rows_) calculate(rec->values);
    cur_ = rows_.empty() ? -1 : 0;
    bof_ = true;
    eof_ = rows_.empty();
    modified_ = false;
    set_state(DataSetState::Browse);
    for (DataSource* src : std::vector<DataSource*>(sources_)) src->notify_active();
    fire(after_open, "after_open");
    if (!rows_.empty() && after_scroll) after_scroll(*this);
}

void DataSet::open() {
    if (active()) return;
    fire(before_open, "before_open");
    cur_ = rows_.empty() ? -1 : 0;
    bof_ = true;
    eof_ = rows_.empty();
    set_state(DataSetState::Browse);
    for (DataSource* src : std::vector<DataSource*>(sources_)) src->notify_active();
    fire(after_open, "after_open");
    if (!rows_.empty() && after_scroll) after_scroll(*this);
}

void DataSet::close() {
    if (!active()) return;
    fire(before_close, "before_close");
    buffer_.clear();
    rows_.clear();
    content_cleared();
    cur_ = -1;
    modified_ = false;
    bof_ = eof_ = true;
    set_state(DataSetState::Inactive);
    for (DataSource* src : std::vector<DataSource*>(sources_)) src->notify_active();
    fire(after_close, "after_close");
}

void DataSet::update_record() {
    if (!editing()) throw DataSetError("O conjunto de dados " + name_ + " não está em modo de edição ou inclusão.");
    for (DataSource* src : std::vector<DataSource*>(sources_)) src->notify_update();
}

void DataSet::check_browse_mode() {
    ensure_active("continuar");
    if (!editing()) return;
    update_record();
    if (modified_)
        post();
    else
        cancel();
}

void DataSet::scroll_to(int index) {
    check_browse_mode();
    fire(before_scroll, "before_scroll");
    cur_ = index;
    notify_data_changed(nullptr);
    fire(after_scroll, "after_scroll");
}

void DataSet::first() {
    ensure_active("ir ao primeiro registro");
    scroll_to(rows_.empty() ? -1 : 0);
    bof_ = true;
    eof_ = rows_.empty();
}

void DataSet::last() {
    ensure_active("ir ao último registro");
    scroll_to(record_count() - 1);
    eof_ = true;
    bof_ = rows_.empty();
}

void DataSet::next() {
    ensure_active("ir ao próximo registro");
    check_browse_mode();
    if (cur_ + 1 < record_count()) {
        scroll_to(cur_ + 1);
        bof_ = eof_ = false;
    } else {
        eof_ = true;
    }
}

void DataSet::prior() {
    ensure_active("ir ao registro anterior");
    check_browse_mode();
    if (cur_ > 0) {
        scroll_to(cur_ - 1);
        bof_ = eof_ = false;
    } else {
        bof_ = true;
    }
}

void DataSet::move_to(int rec_no) {
    ensure_active("mudar de registro");
    if (rec_no < 1 || rec_no > record_count())
        throw DataSetError(name_ + ": registro " + std::to_string(rec_no) + " não existe.");
    check_browse_mode();
    if (rec_no - 1 == cur_) return;
    scroll_to(rec_no - 1);
    bof_ = cur_ == 0;
    eof_ = false;
}

void DataSet::edit() {
    ensure_active("alterar");
    if (editing()) return;
    if (rows_.empty()) {
        // Putting an empty dataset into edit starts an insert, as the screen's platform does.
        insert();
        return;
    }
    fire(before_edit, "before_edit");
    buffer_ = rows_[static_cast<std::size_t>(cur_)]->values;
    modified_ = false;
    set_state(DataSetState::Edit);
    notify_data_changed(nullptr);
    fire(after_edit, "after_edit");
}

void DataSet::insert() {
    do_insert(false);
}
void DataSet::append() {
    do_insert(true);
}

void DataSet::do_insert(bool append) {
    ensure_active("incluir");
    check_browse_mode();
    fire(before_insert, "before_insert");
    fire(before_scroll, "before_scroll");
    buffer_ = make_row();
    saved_cur_ = cur_;
    insert_pos_ = append ? record_count() : std::max(cur_, 0);
    modified_ = false;
    set_state(DataSetState::Insert);
    fire(on_new_record, "on_new_record");
    calculate(buffer_);
    notify_data_changed(nullptr);
    fire(after_insert, "after_insert");
    // What the insert's own handlers filled in (a line number) is not the operator's typing:
    // a line left untouched is still dropped when the cursor moves.
    modified_ = false;
    fire(after_scroll, "after_scroll");
}

void DataSet::post() {
    ensure_active("gravar");
    update_record();
    fire(before_post, "before_post");
    if (!editing()) return;  // a before-post handler may have ended the edit itself
    for (const auto& f : fields_) {
        if (f->required && !f->calculated() && buffer_[static_cast<std::size_t>(f->index())].is_null())
            throw DataSetError("O campo " + f->label() + " deve ser informado.");
    }
    calculate(buffer_);
    if (state_ == DataSetState::Insert) {
        auto rec = std::make_shared<Record>();
        rec->values = std::move(buffer_);
        int pos = std::min(insert_pos_, record_count());
        rows_.insert(rows_.begin() + pos, rec);
        cur_ = pos;
        record_inserted(rec);
    } else {
        const auto& rec = rows_[static_cast<std::size_t>(cur_)];
        record_modified(rec);
        rec->values = std::move(buffer_);
    }
    buffer_.clear();
    modified_ = false;
    eof_ = bof_ = false;
    set_state(DataSetState::Browse);
    notify_data_changed(nullptr);
    fire(after_post, "after_post");
}

void DataSet::cancel() {
    if (!editing()) return;
    fire(before_cancel, "before_cancel");
    bool was_insert = state_ == DataSetState::Insert;
    buffer_.clear();
    if (was_insert) cur_ = std::min(saved_cur_, record_count() - 1);
    modified_ = false;
    set_state(DataSetState::Browse);
    notify_data_changed(nullptr);
    fire(after_cancel, "after_cancel");
}

void DataSet::remove() {
    ensure_active("excluir");
    if (state_ == DataSetState::Insert) {
        cancel();
        return;
    }
    if (rows_.empty()) throw DataSetError("Não é possível excluir: o conjunto de dados " + name_ + " está vazio.");
    fire(before_delete, "before_delete");
    fire(before_scroll, "before_scroll");
    int pos = cur_;
    std::shared_ptr<Record> rec = rows_[static_cast<std::size_t>(pos)];
    rows_.erase(rows_.begin() + pos);
    buffer_.clear();
    modified_ = false;
    cur_ = std::min(pos, record_count() - 1);
    eof_ = rows_.empty();
    record_deleted(rec, pos);
    if (state_ != DataSetState::Browse) set_state(DataSetState::Browse);
    notify_data_changed(nullptr);
    fire(after_delete, "after_delete");
    fire(after_scroll, "after_scroll");
}

void DataSet::attach(DataSource* ds) {
    if (std::find(sources_.begin(), sources_.end(), ds) == sources_.end()) sources_.push_back(ds);
}

void DataSet::detach(DataSource* ds) {
    std::erase(sources_, ds);
}

void DataSet::focus_field(Field& field) {
    for (DataSource* src : std::vector<DataSource*>(sources_))
        if (src->notify_focus(field)) return;
}

// ---------------------------------------------------------------------------------------------

DataSource::DataSource(std::string name, DataSet* dataset) : name_(std::move(name)) {
    set_dataset(dataset);
}

DataSource::~DataSource() {
    if (dataset_) dataset_->detach(this);
    std::vector<DataLink*> links;
    links.swap(links_);
    for (DataLink* l : links) l->source_ = nullptr;
    for (DataLink* l : links) l->source_destroyed();
}

void DataSource::set_dataset(DataSet* ds) {
    if (dataset_ == ds) return;
    if (dataset_) dataset_->detach(this);
    dataset_ = ds;
    if (dataset_) dataset_->attach(this);
    for (DataLink* l : std::vector<DataLink*>(links_)) l->active_changed();
}

void DataSource::edit() {
    if (dataset_ && auto_edit && dataset_->state() == DataSetState::Browse) dataset_->edit();
}

// ---------------------------------------------------------------------------------------------

DataLink::~DataLink() {
    link_to(nullptr);
}

void DataLink::link_to(DataSource* source) {
    if (source_ == source) return;
    if (source_) std::erase(source_->links_, this);
    source_ = source;
    if (source_) source_->links_.push_back(this);
}

void DataSource::notify_state() {
    for (DataLink* l : std::vector<DataLink*>(links_)) l->state_changed();
    if (on_state_change) {
        if (tracing()) trace("  " + name_ + ".OnStateChange");
        on_state_change(*this);
    }
}

void DataSource::notify_active() {
    for (DataLink* l : std::vector<DataLink*>(links_)) l->active_changed();
}

void DataSource::notify_data(Field* field) {
    for (DataLink* l : std::vector<DataLink*>(links_)) l->data_changed(field);
    if (on_data_change) on_data_change(*this, field);
}

void DataSource::notify_update() {
    for (DataLink* l : std::vector<DataLink*>(links_)) l->update_data();
}

bool DataSource::notify_focus(Field& field) {
    for (DataLink* l : std::vector<DataLink*>(links_))
        if (l->focus_field(field)) return true;
    return false;
}

}  // namespace acerto::platform
