#pragma once
#include "ClientDataSet.h"
#include "HostGlobal.h"
#include <QAbstractTableModel>
#include <QPointer>

// One column of a data grid, as the form lays it out.
struct GridColumn {
    QString field;
    QString title;
    int width = 64;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    Qt::Alignment titleAlignment = Qt::AlignCenter;
};

// What the model shows of such a column. The width is view state: the grid
// keeps it, so views over one data source never share or overwrite it.
struct DataColumn {
    QString field;
    QString title;
    Qt::Alignment alignment;
    Qt::Alignment titleAlignment;
};

// The Qt model over one dataset. Rows are the dataset's view; columns are the
// grid's columns, or every visible field when no grid has set any.
class QELHOST_EXPORT TQELDataSource : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TQELDataSource(QObject *parent = nullptr);

    void SetDataSet(TQELClientDataSet *ds);
    TQELClientDataSet *DataSet() const { return m_ds; }
    // Takes each column's field, title and alignments; widths stay with the view.
    void setColumns(const QList<GridColumn> &columns);
    const QList<DataColumn> &columns() const { return m_columns; }
    // The dataset field a column shows; -1 when it shows none.
    int fieldOf(int column) const { return column >= 0 && size_t(column) < m_fieldOf.size() ? m_fieldOf[size_t(column)] : -1; }
    // The text a cell shows, for the row at pos of the dataset's view.
    QString displayText(int pos, int column) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    // Any change of the dataset's content, cursor or state (drives action enabling).
    void DataChange();

private:
    void resolveFields();
    void onCursorMoved(int pos);
    QPointer<TQELClientDataSet> m_ds;
    QList<DataColumn> m_columns;
    std::vector<int> m_fieldOf; // dataset field of each column, -1 when absent
    int m_current = -1;
};
