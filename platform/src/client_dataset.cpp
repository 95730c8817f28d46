#include "acerto/platform/client_dataset.h"

#include <algorithm>

#include "acerto/platform/errors.h"

namespace acerto::platform {

void ClientDataSet::create_dataset() {
    if (fields().empty()) throw DataSetError("O conjunto de dados " + name() + " não tem campos definidos.");
    load_rows({});
}

void ClientDataSet::open() {
    if (active()) return;
    create_dataset();
}

void ClientDataSet::set_data(const Variant& data) {
    if (!data.is_packet()) throw PacketError(name() + ": o valor recebido não é um pacote de dados.");
    set_data(*data.packet());
}

void ClientDataSet::set_data(DataPacket&& packet) {
    if (!packet.is_delta() && !fields().empty() && packet.fields() == data_field_defs()) {
        load_rows(std::move(packet.rows()));
        return;
    }
    set_data(static_cast<const DataPacket&>(packet));
}

void ClientDataSet::set_data(const DataPacket& packet) {
    if (packet.is_delta()) throw PacketError(name() + ": um delta não pode ser carregado como dados.");
    if (fields().empty())
        for (const auto& d : packet.fields()) add_field(d);

    // Column of the packet for each declared data field, and whether its type must be converted.
    std::vector<FieldDef> defs = data_field_defs();
    std::vector<int> column(defs.size());
    std::vector<bool> convert(defs.size());
    bool identity = defs.size() == packet.fields().size();
    for (std::size_t k = 0; k < defs.size(); ++k) {
        column[k] = packet.index_of(defs[k].name);
        convert[k] = column[k] >= 0 && packet.fields()[static_cast<std::size_t>(column[k])].type != defs[k].type;
        if (column[k] != static_cast<int>(k) || convert[k]) identity = false;
    }
    std::vector<Row> rows;
    rows.reserve(packet.rows().size());
    if (identity) {
        rows = packet.rows();
    } else {
        std::vector<Field*> data_fields;
        for (const auto& f : fields())
            if (!f->calculated()) data_fields.push_back(f.get());
        for (const auto& src : packet.rows()) {
            Row r(defs.size());
            for (std::size_t k = 0; k < defs.size(); ++k) {
                if (column[k] < 0 || static_cast<std::size_t>(column[k]) >= src.size()) continue;
                const Variant& v = src[static_cast<std::size_t>(column[k])];
                r[k] = convert[k] ? data_fields[k]->coerce(v) : v;
            }
            rows.push_back(std::move(r));
        }
    }
    load_rows(std::move(rows));
}

void ClientDataSet::set_data_from(const ClientDataSet& other) {
    if (fields().empty())
        for (const auto& d : other.data_field_defs()) add_field(d);
    // For each of this dataset's data fields, the other's field of that name.
    std::vector<const Field*> from;
    for (const auto& f : fields())
        if (!f->calculated()) {
            const Field* o = other.find_field(f->name());
            from.push_back(o && !o->calculated() ? o : nullptr);
        }
    std::vector<Row> rows;
    rows.reserve(other.rows_.size());
    std::size_t k = 0;
    for (const auto& rec : other.rows_) {
        Row r(from.size());
        k = 0;
        for (const Field* o : from) {
            if (o) r[k] = rec->values[static_cast<std::size_t>(o->index())];
            ++k;
        }
        rows.push_back(std::move(r));
    }
    load_rows(std::move(rows));
}

DataPacket ClientDataSet::data_packet() const {
    DataPacket p(data_field_defs());
    p.rows().reserve(rows_.size());
    for (const auto& rec : rows_) p.rows().push_back(data_values(rec->values));
    return p;
}

Variant ClientDataSet::data() const {
    return Variant(std::make_shared<const DataPacket>(data_packet()));
}

Variant ClientDataSet::delta() const {
    auto p = std::make_shared<DataPacket>(data_field_defs());
    p->set_delta(true);
    for (const auto& rec : log_) {
        Change ch;
        if (rec->deleted) {
            ch.kind = ChangeKind::Delete;
            ch.original = *rec->original;
        } else if (!rec->original) {
            ch.kind = ChangeKind::Insert;
            ch.values = data_values(rec->values);
        } else {
            ch.kind = ChangeKind::Modify;
            ch.original = *rec->original;
            ch.values = data_values(rec->values);
        }
        p->changes().push_back(std::move(ch));
    }
    return Variant(std::shared_ptr<const DataPacket>(std::move(p)));
}

void ClientDataSet::record_inserted(const std::shared_ptr<Record>& rec) {
    rec->logged = true;
    rec->original.reset();
    log_.push_back(rec);
}

void ClientDataSet::record_modified(const std::shared_ptr<Record>& rec) {
    if (rec->logged) return;  // inserted or already modified since the last merge
    rec->original = data_values(rec->values);
    rec->logged = true;
    log_.push_back(rec);
}

void ClientDataSet::record_deleted(const std::shared_ptr<Record>& rec, int position) {
    if (rec->logged && !rec->original) {
        // Inserted and deleted since the last merge: nothing for the server to know.
        std::erase(log_, rec);
        return;
    }
    if (!rec->logged) {
        rec->original = data_values(rec->values);
        rec->logged = true;
        log_.push_back(rec);
    }
    rec->deleted = true;
    deleted_.emplace_back(rec, position);
}

void ClientDataSet::content_cleared() {
    log_.clear();
    deleted_.clear();
}

void ClientDataSet::merge_change_log() {
    for (const auto& rec : log_) {
        rec->logged = false;
        rec->original.reset();
    }
    log_.clear();
    deleted_.clear();
}

void ClientDataSet::cancel_updates() {
    cancel();
    if (log_.empty()) return;
    // Inserted rows go; modified rows take their original values back; deleted rows return
    // to where they were, the latest deletion first.
    std::erase_if(rows_, [](const std::shared_ptr<Record>& r) { return r->logged && !r->original; });
    for (const auto& rec : log_) {
        if (rec->deleted || !rec->original) continue;
        rec->values = full_values(*rec->original);
        calculate(rec->values);
    }
    for (auto it = deleted_.rbegin(); it != deleted_.rend(); ++it) {
        auto& rec = it->first;
        rec->values = full_values(*rec->original);
        calculate(rec->values);
        int pos = std::min(it->second, record_count());
        rows_.insert(rows_.begin() + pos, rec);
    }
    for (const auto& rec : log_) {
        rec->logged = false;
        rec->deleted = false;
        rec->original.reset();
    }
    log_.clear();
    deleted_.clear();
    cur_ = rows_.empty() ? -1 : std::clamp(cur_, 0, record_count() - 1);
    notify_data_changed(nullptr);
}

}  // namespace acerto::platform
