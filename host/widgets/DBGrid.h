#pragma once
#include "DataSource.h"
#include "HostGlobal.h"
#include <QPointer>
#include <QTableView>
#include <utility>
#include <vector>

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
    QList<TQELClientDataSet::TBookmark> SelectedRows() const;
    // The text of one field of each selected row, in the same order, read
    // straight from the rows: no cursor move, no view update per row.
    QStringList SelectedTexts(const QString &field) const;
    // The same texts as comma text (WriteCommaText of SelectedTexts), built
    // without a string per row.
    QString SelectedCommaText(const QString &field) const;

private:
    template <class F>
    void forEachSelected(const TQELClientDataSet &set, F f) const;
    void applyColumns();
    void syncFromCursor();
    void onCurrentChanged(const QModelIndex &current);
    void onSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);

    QPointer<TQELDataSource> m_source;
    QList<GridColumn> m_columns;
    void clearSelected();
    void select(int bookmark);
    void deselect(int bookmark);

    // Selection list kept for O(1) per row: each selecting appends (bookmark,
    // stamp); an entry counts while the bookmark's stamp still matches, so a
    // deselect only clears the stamp and stale entries are dropped in bulk.
    std::vector<std::pair<int, quint32>> m_selectOrder;
    std::vector<quint32> m_selectStamp; // by bookmark; 0 = not selected
    quint32 m_nextStamp = 1;
    int m_selectedCount = 0;
    bool m_rowsRemoved = false; // since the last reset: some bookmarks may be gone
    bool m_syncing = false;
};
