#include "DBGrid.h"
#include "CommaText.h"
#include "HostError.h"
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
    clearSelected();
    if (ds && !m_columns.isEmpty())
        ds->setColumns(m_columns);
    setModel(ds);
    if (!ds)
        return;
    applyColumns();
    connect(ds, &QAbstractItemModel::modelReset, this, [this] {
        clearSelected();
        applyColumns();
        syncFromCursor();
    });
    // A removed row's bookmark is never handed out again until a reset, so
    // SelectedRows() simply leaves rows that are gone.
    connect(ds, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { m_rowsRemoved = true; });
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
    const int rows = set->RecordCount();
    for (const QItemSelectionRange &r : deselected)
        for (int row = r.top(); row <= r.bottom() && row < rows; ++row)
            deselect(set->rowAt(row));
    for (const QItemSelectionRange &r : selected)
        for (int row = r.top(); row <= r.bottom() && row < rows; ++row)
            select(set->rowAt(row));
}

void TQELDBGrid::clearSelected()
{
    m_selectOrder.clear();
    m_selectStamp.clear();
    m_nextStamp = 1;
    m_selectedCount = 0;
    m_rowsRemoved = false;
}

void TQELDBGrid::select(int bookmark)
{
    if (bookmark < 0)
        return;
    if (size_t(bookmark) >= m_selectStamp.size())
        m_selectStamp.resize(size_t(bookmark) + 1, 0);
    if (m_selectStamp[size_t(bookmark)] != 0)
        return;
    m_selectStamp[size_t(bookmark)] = m_nextStamp;
    m_selectOrder.emplace_back(bookmark, m_nextStamp++);
    ++m_selectedCount;
}

void TQELDBGrid::deselect(int bookmark)
{
    if (bookmark < 0 || size_t(bookmark) >= m_selectStamp.size() || m_selectStamp[size_t(bookmark)] == 0)
        return;
    m_selectStamp[size_t(bookmark)] = 0;
    if (--m_selectedCount == 0) {
        // Nothing selected: every entry is stale.
        m_selectOrder.clear();
        return;
    }
    // Drop the stale entries once they outnumber the live ones.
    if (m_selectOrder.size() > size_t(2 * m_selectedCount) + 1024) {
        std::erase_if(m_selectOrder, [this](const std::pair<int, quint32> &e) { return m_selectStamp[size_t(e.first)] != e.second; });
    }
}

template <class F>
void TQELDBGrid::forEachSelected(const TQELClientDataSet &set, F f) const
{
    // Bookmarks are picked at random places of the rows: each check skipped
    // is a cache miss saved per row. With no stale entry every entry is live;
    // with no row removed since the last reset every bookmark is still valid.
    const bool allLive = m_selectOrder.size() == size_t(m_selectedCount);
    if (allLive && !m_rowsRemoved) {
        for (const auto &entry : m_selectOrder)
            f(entry.first);
        return;
    }
    for (const auto &[bookmark, stamp] : m_selectOrder)
        if (m_selectStamp[size_t(bookmark)] == stamp && set.BookmarkValid(bookmark))
            f(bookmark);
}

QList<TQELClientDataSet::TBookmark> TQELDBGrid::SelectedRows() const
{
    QList<TQELClientDataSet::TBookmark> out;
    const TQELClientDataSet *set = m_source ? m_source->DataSet() : nullptr;
    if (!set)
        return out;
    out.reserve(m_selectedCount);
    forEachSelected(*set, [&](int bookmark) { out.append(bookmark); });
    return out;
}

QStringList TQELDBGrid::SelectedTexts(const QString &field) const
{
    QStringList out;
    const TQELClientDataSet *set = m_source ? m_source->DataSet() : nullptr;
    if (!set)
        return out;
    const int f = set->FieldIndex(field);
    if (f < 0)
        throw EHostError(QStringLiteral("数据集中没有字段“%1”").arg(field));
    out.reserve(m_selectedCount);
    forEachSelected(*set, [&](int bookmark) { out.append(set->text(bookmark, f)); });
    return out;
}

QString TQELDBGrid::SelectedCommaText(const QString &field) const
{
    const TQELClientDataSet *set = m_source ? m_source->DataSet() : nullptr;
    if (!set)
        return WriteCommaText({});
    const int f = set->FieldIndex(field);
    if (f < 0)
        throw EHostError(QStringLiteral("数据集中没有字段“%1”").arg(field));
    CommaTextWriter out;
    if (m_selectedCount > 0)
        out.reserve(qsizetype(m_selectedCount) * 8);
    forEachSelected(*set, [&](int bookmark) {
        // Codes are ASCII: copied as bytes; anything else goes through its text.
        std::string_view bytes;
        if (!set->storedUtf8(bookmark, f, bytes) || !out.addAscii(bytes))
            out.add(set->text(bookmark, f));
    });
    return out.take();
}
