#pragma once
#include "DataSource.h"
#include "HostGlobal.h"
#include <QPointer>
#include <QTableView>

// A read-only data grid over a data source: whole-row selection, fixed row
// heights, the current row follows the dataset's cursor and the other way round.
class QELHOST_EXPORT TQELDBGrid : public QTableView {
    Q_OBJECT
public:
    explicit TQELDBGrid(QWidget *parent = nullptr);

    void SetDataSource(TQELDataSource *ds);
    TQELDataSource *DataSource() const { return m_source; }
    void SetColumns(const QList<GridColumn> &columns);
    void SetMultiSelect(bool on);

    // The rows the operator selected, as bookmarks, in the order of selecting.
    QList<TQELClientDataSet::TBookmark> SelectedRows() const { return m_selected; }

private:
    void applyColumns();
    void syncFromCursor();
    void onCurrentChanged(const QModelIndex &current);
    void onSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);

    QPointer<TQELDataSource> m_source;
    QList<GridColumn> m_columns;
    QList<TQELClientDataSet::TBookmark> m_selected;
    bool m_syncing = false;
};
