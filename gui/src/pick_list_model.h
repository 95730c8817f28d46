#pragma once
// A dataset's visible fields as a read-only table for pick lists: cells are read on demand, and a
// find text narrows the rows to those holding it in any visible column, ignoring case.
#include <QAbstractTableModel>
#include <QString>

#include <vector>

#include "acerto/platform/dataset.h"

namespace acerto::gui {

class PickListModel : public QAbstractTableModel {
  public:
    explicit PickListModel(platform::DataSet& dataset, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Shows only the rows whose visible text contains `text` (empty: every row).
    void set_filter(const QString& text);
    const QString& filter() const { return filter_; }
    // The dataset record (0-based) a shown row stands for; -1 for a row not shown.
    int record_of(int row) const;

  private:
    bool all_shown() const { return filter_.isEmpty(); }
    QString cell_text(int record, int column) const;

    platform::DataSet& dataset_;
    std::vector<platform::Field*> fields_;
    // Each record's visible cells, case-folded, one line each, so a find never spans two cells.
    std::vector<QString> folded_;
    QString filter_;
    QString folded_filter_;
    std::vector<int> shown_;  // records shown while a filter is set, in dataset order
};

}  // namespace acerto::gui
