#include "DBGrid.h"
#include <QHeaderView>
#include <QItemSelectionModel>

TQELDBGrid::TQELDBGrid(QWidget *parent) : QTableView(parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAlternatingRowColors(false);
    setShowGrid(true);
    setWordWrap(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Fixed heights: a 100,000-row list never measures its rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    verticalHeader()->setFixedWidth(18);
    verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
}

void TQELDBGrid::SetColumns(const QList<GridColumn> &columns)
{
    m_columns = columns;
    if (m_source)
        m_source->setColumns(m_columns);
    applyColumns();
}

void TQELDBGrid::SetMultiSelect(bool on)
{
    setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

void TQELDBGrid::applyColumns()
{
    for (int i = 0; i < m_columns.size(); ++i)
        setColumnWidth(i, m_columns[i].width);
}

void TQELDBGrid::SetDataSource(TQELDataSource *ds)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = ds;
    m_selected.clear();
    if (ds && !m_columns.isEmpty())
        ds->setColumns(m_columns);
    setModel(ds);
    if (!ds)
        return;
    applyColumns();
    connect(ds, &QAbstractItemModel::modelReset, this, [this] {
        m_selected.clear();
        applyColumns();
        syncFromCursor();
    });
    connect(ds, &QAbstractItemModel::rowsRemoved, this, [this] {
        const TQELClientDataSet *set = m_source ? m_source->DataSet() : nullptr;
        m_selected.erase(std::remove_if(m_selected.begin(), m_selected.end(), [set](int b) { return !set || !set->BookmarkValid(b); }), m_selected.end());
    });
    connect(ds, &TQELDataSource::DataChange, this, &TQELDBGrid::syncFromCursor);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex &cur) { onCurrentChanged(cur); });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &TQELDBGrid::onSelectionChanged);
    syncFromCursor();
}

void TQELDBGrid::syncFromCursor()
{
    if (m_syncing || !m_source || !m_source->DataSet())
        return;
    const int pos = m_source->DataSet()->RecNo();
    const QModelIndex cur = currentIndex();
    if (pos < 0 || (cur.isValid() && cur.row() == pos))
        return;
    m_syncing = true;
    const int col = cur.isValid() ? cur.column() : 0;
    // Move the current row without touching the operator's multi-row selection.
    selectionModel()->setCurrentIndex(m_source->index(pos, col),
                                      selectionMode() == QAbstractItemView::ExtendedSelection ? QItemSelectionModel::NoUpdate
                                                                                              : QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_syncing = false;
}

void TQELDBGrid::onCurrentChanged(const QModelIndex &current)
{
    if (m_syncing || !m_source || !m_source->DataSet() || !current.isValid())
        return;
    m_syncing = true;
    m_source->DataSet()->MoveTo(current.row());
    m_syncing = false;
}

void TQELDBGrid::onSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    const TQELClientDataSet *set = m_source ? m_source->DataSet() : nullptr;
    if (!set)
        return;
    for (const QItemSelectionRange &r : deselected)
        for (int row = r.top(); row <= r.bottom(); ++row)
            if (row < set->RecordCount())
                m_selected.removeAll(set->rowAt(row));
    for (const QItemSelectionRange &r : selected)
        for (int row = r.top(); row <= r.bottom(); ++row)
            if (row < set->RecordCount() && !m_selected.contains(set->rowAt(row)))
                m_selected.append(set->rowAt(row));
}
