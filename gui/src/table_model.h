#pragma once
// The table model adapter: a data grid of the screen model, as Qt's views read it.
#include <QAbstractTableModel>

#include "acerto/platform/controls.h"

namespace acerto::gui {

class GridModel : public QAbstractTableModel {
  public:
    explicit GridModel(platform::DBGrid& grid, QObject* parent = nullptr);
    ~GridModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    platform::DBGrid& grid() { return grid_; }
    // The model's visible columns, by the grid's column index.
    int grid_column(int view_column) const;
    int view_column(int grid_column) const;
    // Re-reads the grid (called when it says it changed).
    void refresh();

  private:
    platform::DBGrid& grid_;
    std::vector<int> visible_;
    int rows_ = 0;
    int observer_ = 0;
};

}  // namespace acerto::gui
