#pragma once
#include "DataSource.h"
#include "GridSortModel.h"
#include "HostGlobal.h"
#include <QPointer>
#include <QTableView>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QLabel;
class QMenu;
class ExportTable;

// A read-only data grid over a data source: whole-row selection, fixed row
// heights, the current row follows the dataset's cursor and the other way round.
//
// The operator's comforts: a click on a column title sorts the rows shown
// (ascending, descending, then the list's own order again) without touching
// the dataset's order; a line under the rows counts them ("共 N 条", and
// "已选 M 条" where several rows may be picked); an empty list says so; Ctrl+C
// and a context menu copy the picked rows and export the list to Excel or
// CSV; the last column runs on to the right edge when the columns are
// narrower than the grid (its width, as the form set it, stays); a width the
// operator drags stays across reloads, and 恢复默认布局 in the menu gives the
// form's widths and the list's own order back.
//
// The view's model is a TQELGridSortModel over the data source. Where the
// grid takes an index (visualRect, scrollTo, the selection model's select
// and setCurrentIndex) an index of the data source is accepted too and
// mapped to its row as shown.
class QELHOST_EXPORT TQELDBGrid : public QTableView {
    Q_OBJECT
public:
    explicit TQELDBGrid(QWidget *parent = nullptr);
    ~TQELDBGrid() override;

    void SetDataSource(TQELDataSource *ds);
    TQELDataSource *DataSource() const { return m_source; }
    void SetColumns(const QList<GridColumn> &columns);
    // The columns as the form designed them.
    const QList<GridColumn> &Columns() const { return m_columns; }
    // The widths the columns have now, by column: the form's, or where the
    // operator dragged them. They stay across reloads until SetColumns.
    QList<int> ColumnWidths() const { return m_widths; }
    // Widths to show instead of the form's (a saved layout), by column; a
    // missing entry, or one of 0 or less, gives the form's. A width is kept
    // within MinColumnWidth and MaxColumnWidth, so no column gets lost.
    void SetColumnWidths(const QList<int> &widths);
    static constexpr int MinColumnWidth = 16;
    static constexpr int MaxColumnWidth = 4000;
    // The columns' widths as the form set them and the list's own order.
    void RestoreDefaultLayout();
    void SetMultiSelect(bool on);
    bool MultiSelect() const { return selectionMode() == QAbstractItemView::ExtendedSelection; }

    // The rows the operator selected, as bookmarks, in the order of selecting.
    QList<TQELClientDataSet::TBookmark> SelectedRows() const;
    // The text of one field of each selected row, in the same order, read
    // straight from the rows: no cursor move, no view update per row.
    QStringList SelectedTexts(const QString &field) const;
    // The same texts as comma text (WriteCommaText of SelectedTexts), built
    // without a string per row.
    QString SelectedCommaText(const QString &field) const;

    // Sorts the rows shown by a column (-1: the list's own order), as a click
    // on its title does; the title shows an arrow. Kept across reloads.
    void SortByColumn(int column, Qt::SortOrder order = Qt::AscendingOrder);
    int SortColumn() const { return m_view->sortColumn(); }
    Qt::SortOrder SortOrder() const { return m_view->sortOrder(); }
    TQELGridSortModel *SortModel() const { return m_view; }
    // After a sort, the first row shown becomes current and shows, instead
    // of the current record wherever the sort put it (the picks stay).
    void SetSortShowsTop(bool on) { m_sortShowsTop = on; }

    // The line under the rows, and its text.
    QLabel *CountLabel() const { return m_count; }
    QString CountText() const;
    static QString EmptyText();
    // Another desk changed what the list shows: the count line says so until
    // the next reload. The rows stay as they are.
    void SetStale(bool on);
    bool Stale() const { return m_stale; }
    static QString StaleText();

    // What Ctrl+C puts on the clipboard: the titles, then the selected rows
    // (else the current row) in the order shown, one line each, cells as
    // shown and separated by tabs.
    QString CopyText() const;
    void CopyToClipboard() const;
    // The whole list as shown (order, visible columns, titles, widths).
    std::unique_ptr<ExportTable> ExportData() const;
    void ExportXlsx(const QString &fileName) const;
    void ExportCsv(const QString &fileName) const;

    // The context menu: 复制, 导出为 Excel…, 导出为 CSV…, 导出为 PDF…, 打印…, 恢复默认布局, then
    // every action a form added, in order. The grid does not own added actions.
    void AddContextAction(QAction *action);
    QList<QAction *> ContextActions() const;
    QAction *CopyAction() const { return m_actCopy; }
    QAction *ExportXlsxAction() const { return m_actXlsx; }
    QAction *ExportCsvAction() const { return m_actCsv; }
    QAction *ExportPdfAction() const { return m_actPdf; }
    QAction *PrintAction() const { return m_actPrint; }
    QAction *RestoreLayoutAction() const { return m_actLayout; }

    // What the list is called in a suggested export name ("演出项目" gives
    // 演出项目_2026-12-08.xlsx); the window's title when not set.
    void SetExportName(const QString &name);
    QString ExportName() const;
    // Says something in the count line for a few seconds (where an export went).
    void ShowNotice(const QString &text);
    // Said before the count, for as long as the list is shown (whose rows they are).
    void SetCountPrefix(const QString &text);

    // Asks where to export to; an empty name cancels. The default shows a
    // save-file dialog; tests put their own in place (nullptr restores it).
    using SaveFileNameFn = std::function<QString(QWidget *parent, const QString &caption, const QString &suggested, const QString &filter)>;
    static void SetSaveFileNameHook(SaveFileNameFn fn);

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;

signals:
    // The line under the rows changed (rows or selection).
    void CountChanged();
    // The operator asked for the designed layout (RestoreDefaultLayout has run).
    void DefaultLayoutRestored();

protected:
    void paintEvent(QPaintEvent *e) override;
    void updateGeometries() override;
    void resizeEvent(QResizeEvent *e) override;
    void changeEvent(QEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles = QList<int>()) override;

private:
    template <class F>
    void forEachSelected(const TQELClientDataSet &set, F f) const;
    void applyColumns();
    void syncFromCursor();
    void onCurrentChanged(const QModelIndex &current);
    void onSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    void onHeaderClicked(int section);
    void exportAs(bool excel);
    void exportPdf();
    // The list as shown in Qt's print preview, printed from there.
    void printList();
    void updateCount();
    void layoutCount();
    int lastColumn() const;
    QRect fillRect() const;
    void paintFill();
    QModelIndex toView(const QModelIndex &index) const;

    QPointer<TQELDataSource> m_source;
    TQELGridSortModel *m_view;
    QList<GridColumn> m_columns;
    QLabel *m_count = nullptr;
    int m_countHeight = 0;
    QList<int> m_widths; // by column: the form's, or the operator's
    bool m_applying = false;
    QAction *m_actCopy, *m_actXlsx, *m_actCsv, *m_actPdf, *m_actPrint, *m_actLayout;
    QList<QPointer<QAction>> m_extraActions;
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
    QString m_exportName;
    QString m_notice; // said in the count line for a few seconds
    QString m_prefix; // said before the count
    bool m_stale = false;
    bool m_sortShowsTop = false;
};
