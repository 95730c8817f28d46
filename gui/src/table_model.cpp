#include "table_model.h"

#include <QBrush>
#include <QColor>

namespace acerto::gui {

GridModel::GridModel(platform::DBGrid& grid, QObject* parent) : QAbstractTableModel(parent), grid_(grid) {
    for (std::size_t i = 0; i < grid_.columns.size(); ++i)
        if (grid_.columns[i].visible) visible_.push_back(static_cast<int>(i));
    rows_ = grid_.row_count();
    observer_ = grid_.add_observer([this](platform::Control&, platform::Property p) {
        if (p == platform::Property::Items || p == platform::Property::Text || p == platform::Property::Focus)
            refresh();
    });
}

GridModel::~GridModel() {
    grid_.remove_observer(observer_);
}

void GridModel::refresh() {
    int rows = grid_.row_count();
    if (rows != rows_) {
        beginResetModel();
        rows_ = rows;
        endResetModel();
    } else if (rows_ > 0 && !visible_.empty()) {
        emit dataChanged(index(0, 0), index(rows_ - 1, static_cast<int>(visible_.size()) - 1));
    }
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(visible_.size());
}

int GridModel::grid_column(int view_column) const {
    return view_column >= 0 && view_column < static_cast<int>(visible_.size())
               ? visible_[static_cast<std::size_t>(view_column)]
               : -1;
}

int GridModel::view_column(int grid_column) const {
    for (std::size_t i = 0; i < visible_.size(); ++i)
        if (visible_[i] == grid_column) return static_cast<int>(i);
    return -1;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_ || index.column() >= static_cast<int>(visible_.size())) return {};
    int col = visible_[static_cast<std::size_t>(index.column())];
    const platform::GridColumn& c = grid_.columns[static_cast<std::size_t>(col)];
    switch (role) {
        case Qt::DisplayRole:
            // Rows past what the dataset holds (a refresh still to come) show nothing.
            if (index.row() >= grid_.row_count()) return QString();
            return QString::fromStdString(grid_.cell_text(index.row(), col));
        case Qt::TextAlignmentRole:
            return static_cast<int>((c.alignment == platform::Alignment::Right ? Qt::AlignRight : Qt::AlignLeft) |
                                    Qt::AlignVCenter);
        case Qt::BackgroundRole:
            if (c.read_only) return QBrush(QColor(0xF0, 0xF0, 0xF0));
            return {};
        default:
            return {};
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole) return section == grid_.current_row() ? QString("▶") : QString();
        return {};
    }
    if (section < 0 || section >= static_cast<int>(visible_.size())) return {};
    int col = visible_[static_cast<std::size_t>(section)];
    if (role == Qt::DisplayRole) return QString::fromStdString(grid_.column_title(col));
    if (role == Qt::TextAlignmentRole)
        return static_cast<int>(
            (grid_.columns[static_cast<std::size_t>(col)].title_alignment == platform::Alignment::Right
                 ? Qt::AlignRight
                 : Qt::AlignLeft) |
            Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace acerto::gui
