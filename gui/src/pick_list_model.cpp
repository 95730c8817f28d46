#include "pick_list_model.h"

namespace acerto::gui {

namespace {
// The fields read a given record for as long as this lives.
class DisplayRecord {
  public:
    DisplayRecord(platform::DataSet& dataset, int record) : dataset_(dataset) { dataset_.set_display_record(record); }
    ~DisplayRecord() { dataset_.set_display_record(-1); }
    DisplayRecord(const DisplayRecord&) = delete;
    DisplayRecord& operator=(const DisplayRecord&) = delete;

  private:
    platform::DataSet& dataset_;
};
}  // namespace

PickListModel::PickListModel(platform::DataSet& dataset, QObject* parent)
    : QAbstractTableModel(parent), dataset_(dataset) {
    for (const auto& f : dataset_.fields())
        if (f->visible) fields_.push_back(f.get());
    // Read once when the list opens, so that each key typed only scans text already in memory.
    const int records = dataset_.record_count();
    folded_.reserve(static_cast<std::size_t>(records));
    for (int r = 0; r < records; ++r) {
        DisplayRecord at(dataset_, r);
        QString text;
        for (platform::Field* f : fields_) {
            text += QString::fromStdString(f->display_text());
            text += QChar('\n');
        }
        folded_.push_back(text.toCaseFolded());
    }
}

int PickListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return all_shown() ? static_cast<int>(folded_.size()) : static_cast<int>(shown_.size());
}

int PickListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

int PickListModel::record_of(int row) const {
    if (row < 0 || row >= rowCount()) return -1;
    return all_shown() ? row : shown_[static_cast<std::size_t>(row)];
}

QString PickListModel::cell_text(int record, int column) const {
    if (record < 0 || record >= dataset_.record_count()) return {};
    DisplayRecord at(dataset_, record);
    return QString::fromStdString(fields_[static_cast<std::size_t>(column)]->display_text());
}

QVariant PickListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.column() >= columnCount()) return {};
    return cell_text(record_of(index.row()), index.column());
}

QVariant PickListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount()) return {};
    return QString::fromStdString(fields_[static_cast<std::size_t>(section)]->label());
}

Qt::ItemFlags PickListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void PickListModel::set_filter(const QString& text) {
    if (text == filter_) return;
    QString folded = text.toCaseFolded();
    beginResetModel();
    if (folded.isEmpty()) {
        shown_.clear();
    } else {
        // A key that lengthens the text can only drop rows: scan the rows shown, not all of them.
        const bool narrows = !folded_filter_.isEmpty() && folded.contains(folded_filter_);
        std::vector<int> shown;
        auto keep_if_found = [&](int record) {
            if (folded_[static_cast<std::size_t>(record)].contains(folded)) shown.push_back(record);
        };
        if (narrows)
            for (int record : shown_) keep_if_found(record);
        else
            for (int record = 0; record < static_cast<int>(folded_.size()); ++record) keep_if_found(record);
        shown_ = std::move(shown);
    }
    filter_ = text;
    folded_filter_ = folded;
    endResetModel();
}

}  // namespace acerto::gui
