#pragma once
#include "DataSource.h"
#include "HostGlobal.h"
#include <QAbstractProxyModel>
#include <QPointer>
#include <vector>

// The grid's own row order over a data source: a permutation of the
// dataset's view, so the operator can sort a list while the dataset (and the
// data modules walking it) keep their order. Unsorted it is the identity and
// holds no table. Flat rows and columns only; rows are never filtered.
class QELHOST_EXPORT TQELGridSortModel : public QAbstractProxyModel {
    Q_OBJECT
public:
    explicit TQELGridSortModel(QObject *parent = nullptr);

    // Takes a TQELDataSource (or nothing); any other model is refused.
    void setSourceModel(QAbstractItemModel *source) override;
    TQELDataSource *dataSource() const { return m_source; }

    // Orders the rows by a column's values (column -1: the list's own
    // order). Blank cells (null or empty) come last in either direction;
    // rows with equal values keep the list's order. Re-applied after every
    // reload, until the columns change or sorting is switched off.
    void sortBy(int column, Qt::SortOrder order);
    int sortColumn() const { return m_column; }
    Qt::SortOrder sortOrder() const { return m_order; }
    bool sorted() const { return !m_toSource.empty(); }

    // A row of this model and its position in the dataset's view.
    int sourceRow(int row) const { return m_toSource.empty() ? row : m_toSource[size_t(row)]; }
    int viewRow(int sourceRow) const
    {
        if (sourceRow < 0)
            return -1;
        return m_fromSource.empty() ? sourceRow : m_fromSource[size_t(sourceRow)];
    }

    QModelIndex mapToSource(const QModelIndex &proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex &sourceIndex) const override;
    QItemSelection mapSelectionFromSource(const QItemSelection &selection) const override;
    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    QModelIndex sibling(int row, int column, const QModelIndex &idx) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    // The order by m_column / m_order over the current rows; false when unsorted.
    bool computeOrder(std::vector<int> &toSource) const;
    void setOrder(std::vector<int> toSource);
    void onRowsAboutToBeRemoved(int first, int last);
    void onRowsRemoved(int first, int last);
    void onRowsAboutToBeInserted(int first, int last);
    void onRowsInserted(int first, int last);
    void onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles);
    void onHeaderDataChanged(Qt::Orientation orientation, int first, int last);

    QPointer<TQELDataSource> m_source;
    int m_column = -1;
    Qt::SortOrder m_order = Qt::AscendingOrder;
    std::vector<int> m_toSource;   // row → position in the dataset's view; empty = identity
    std::vector<int> m_fromSource; // its inverse
    bool m_resetting = false;      // a change the rows cannot follow one by one
};
