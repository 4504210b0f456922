#include "DBGrid.h"
#include "CommaText.h"
#include "ErrorHandler.h"
#include "FileDialog.h"
#include "GridPrint.h"
#include "HostError.h"
#include "TableExport.h"
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

namespace {

TQELDBGrid::SaveFileNameFn &saveFileNameHook()
{
    static TQELDBGrid::SaveFileNameFn hook;
    return hook;
}

// The last section's look runs on to the right edge when the sections end
// short of it; presses there count as presses on that section.
class GridHeader : public QHeaderView {
public:
    explicit GridHeader(QWidget *parent) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    int lastSection() const
    {
        for (int v = count() - 1; v >= 0; --v)
            if (!isSectionHidden(logicalIndex(v)))
                return logicalIndex(v);
        return -1;
    }
    // Where the sections end, or -1 when they reach the edge.
    int gapStart() const
    {
        const int last = lastSection();
        if (last < 0)
            return -1;
        const int end = sectionViewportPosition(last) + sectionSize(last);
        return end < viewport()->width() ? end : -1;
    }
    void paintEvent(QPaintEvent *e) override
    {
        QHeaderView::paintEvent(e);
        if (gapStart() < 0)
            return;
        // The last section again, as wide as the room.
        const int last = lastSection();
        const int x = sectionViewportPosition(last);
        QPainter p(viewport());
        p.setFont(font());
        paintSection(&p, QRect(x, 0, viewport()->width() - x, viewport()->height()), last);
    }
    // A press in the room right of the last section, moved onto that section.
    QPointF moved(const QMouseEvent *e) const
    {
        const int gap = gapStart();
        if (gap < 0 || e->position().x() < gap)
            return e->position();
        const int last = lastSection();
        return QPointF(sectionViewportPosition(last) + sectionSize(last) / 2.0, e->position().y());
    }
    void mousePressEvent(QMouseEvent *e) override
    {
        const QPointF at = moved(e);
        if (at == e->position())
            return QHeaderView::mousePressEvent(e);
        QMouseEvent m(e->type(), at, mapToGlobal(at), e->button(), e->buttons(), e->modifiers(), e->pointingDevice());
        QHeaderView::mousePressEvent(&m);
        e->setAccepted(m.isAccepted());
    }
    void mouseReleaseEvent(QMouseEvent *e) override
    {
        const QPointF at = moved(e);
        if (at == e->position())
            return QHeaderView::mouseReleaseEvent(e);
        QMouseEvent m(e->type(), at, mapToGlobal(at), e->button(), e->buttons(), e->modifiers(), e->pointingDevice());
        QHeaderView::mouseReleaseEvent(&m);
        e->setAccepted(m.isAccepted());
    }
};

// Takes the data source's indexes as well as the view's, so code that
// addresses the grid in dataset positions keeps working over a sorted view.
class GridSelectionModel : public QItemSelectionModel {
public:
    explicit GridSelectionModel(TQELGridSortModel *model, QObject *parent) : QItemSelectionModel(model, parent), m_view(model) {}

    void setCurrentIndex(const QModelIndex &index, QItemSelectionModel::SelectionFlags command) override
    {
        QItemSelectionModel::setCurrentIndex(map(index), command);
    }
    void select(const QModelIndex &index, QItemSelectionModel::SelectionFlags command) override
    {
        QItemSelectionModel::select(map(index), command);
    }
    void select(const QItemSelection &selection, QItemSelectionModel::SelectionFlags command) override
    {
        for (const QItemSelectionRange &r : selection) {
            if (r.model() == m_view->dataSource()) {
                QItemSelectionModel::select(m_view->mapSelectionFromSource(selection), command);
                return;
            }
        }
        QItemSelectionModel::select(selection, command);
    }

private:
    QModelIndex map(const QModelIndex &index) const
    {
        return index.isValid() && index.model() == m_view->dataSource() ? m_view->mapFromSource(index) : index;
    }
    TQELGridSortModel *m_view;
};

// The list as the grid shows it, read from the dataset row by row.
class GridTable : public ExportTable {
public:
    explicit GridTable(const TQELDBGrid &grid) : m_view(grid.SortModel()), m_source(grid.DataSource())
    {
        m_ds = m_source ? m_source->DataSet() : nullptr;
        const QHeaderView *header = grid.horizontalHeader();
        for (int v = 0; v < header->count(); ++v) {
            const int c = header->logicalIndex(v);
            if (header->isSectionHidden(c))
                continue;
            ExportColumn col;
            col.title = m_view->headerData(c, Qt::Horizontal).toString();
            col.widthPixels = grid.columnWidth(c);
            if (m_source && c < m_source->columns().size())
                col.horizontalAlignment = int(m_source->columns()[c].alignment & Qt::AlignHorizontal_Mask);
            const int f = m_source ? m_source->fieldOf(c) : -1;
            if (f >= 0 && m_ds) {
                const FieldType t = m_ds->FieldDefAt(f).type;
                col.kind = t == FieldType::DateTime ? ExportKind::DateTime : t == FieldType::Text ? ExportKind::Text : ExportKind::Number;
            }
            m_cols.append(col);
            m_column.push_back(c);
            m_field.push_back(f);
            m_type.push_back(f >= 0 && m_ds ? m_ds->FieldDefAt(f).type : FieldType::Text);
        }
    }
    QList<ExportColumn> columns() const override { return m_cols; }
    int rowCount() const override { return m_ds && m_ds->Active() ? m_view->rowCount() : 0; }
    void cell(int row, int column, ExportCell &out) const override
    {
        const int f = m_field[size_t(column)];
        const int pos = m_view->sourceRow(row);
        const int r = m_ds->rowAt(pos);
        out.kind = ExportCell::Blank;
        if (f < 0 || m_ds->isNull(r, f))
            return;
        switch (m_type[size_t(column)]) {
        case FieldType::Text: {
            std::string_view bytes;
            if (m_ds->storedUtf8(r, f, bytes))
                out.text = QByteArray(bytes.data(), qsizetype(bytes.size()));
            else
                out.text = m_ds->text(r, f).toUtf8();
            out.kind = ExportCell::Text;
            return;
        }
        case FieldType::Integer: {
            const qint64 v = m_ds->integer(r, f);
            out.text = m_source->displayText(pos, m_column[size_t(column)]).toUtf8();
            // A spreadsheet number is a double: beyond 2^53 the digits go as text.
            out.kind = std::llabs(v) <= (qint64(1) << 53) ? ExportCell::Number : ExportCell::Text;
            out.number = double(v);
            return;
        }
        case FieldType::Float: {
            bool ok = false;
            out.number = m_ds->value(r, f).toDouble(&ok);
            out.text = m_source->displayText(pos, m_column[size_t(column)]).toUtf8();
            out.kind = ok ? ExportCell::Number : ExportCell::Text;
            return;
        }
        case FieldType::DateTime: {
            const QDateTime dt = m_ds->dateTime(r, f);
            if (!dt.isValid())
                return;
            out.stamp = DataPacket::stampFromDateTime(dt);
            out.text = m_source->displayText(pos, m_column[size_t(column)]).toUtf8();
            out.kind = ExportCell::DateTime;
            return;
        }
        }
    }

private:
    const TQELGridSortModel *m_view;
    const TQELDataSource *m_source;
    const TQELClientDataSet *m_ds = nullptr;
    QList<ExportColumn> m_cols;
    std::vector<int> m_column, m_field;
    std::vector<FieldType> m_type;
};

// A cell for tab-separated text: quoted when it holds a tab, a line break or a quote.
QString tabCell(const QString &v)
{
    if (!v.contains(QLatin1Char('\t')) && !v.contains(QLatin1Char('\n')) && !v.contains(QLatin1Char('\r')) && !v.contains(QLatin1Char('"')))
        return v;
    QString q = v;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

} // namespace

TQELDBGrid::TQELDBGrid(QWidget *parent) : QTableView(parent), m_view(new TQELGridSortModel(this)), m_count(nullptr)
{
    setHorizontalHeader(new GridHeader(this));
    setModel(m_view);
    QItemSelectionModel *oldSelection = selectionModel();
    setSelectionModel(new GridSelectionModel(m_view, this));
    delete oldSelection;
    // The titles never show the selection (highlightSections is off), so
    // they get a selection model of their own that stays empty: with the
    // table's, every repaint asked it about each column down every row.
    horizontalHeader()->setSelectionModel(new QItemSelectionModel(m_view, horizontalHeader()));

    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the list: walking its cells moved the current record, and
    // F2 or Delete then acted on another row than the one the operator meant.
    setTabKeyNavigation(false);
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
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, Guarded([this](int section) { onHeaderClicked(section); }));
    // A width the operator drags stays across reloads: a reload resets the
    // header, and applyColumns puts these back.
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (!m_applying && size > 0 && column < m_widths.size())
            m_widths[column] = size;
    });

    connect(m_view, &QAbstractItemModel::modelReset, this, [this] {
        m_stale = false;
        clearSelected();
        applyColumns();
        syncFromCursor();
        updateCount();
    });
    // A removed row's bookmark is never handed out again until a reset, so
    // SelectedRows() simply leaves rows that are gone.
    connect(m_view, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { m_rowsRemoved = true; });
    connect(m_view, &QAbstractItemModel::rowsRemoved, this, &TQELDBGrid::updateCount);
    connect(m_view, &QAbstractItemModel::rowsInserted, this, &TQELDBGrid::updateCount);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex &cur) { onCurrentChanged(cur); });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &TQELDBGrid::onSelectionChanged);

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("gridCount"));
    m_count->setContentsMargins(4, 0, 4, 0);
    m_count->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layoutCount();
    updateCount();

    m_actCopy = new QAction(QStringLiteral("复制"), this);
    m_actCopy->setObjectName(QStringLiteral("actGridCopy"));
    m_actCopy->setShortcut(QKeySequence::Copy);
    m_actCopy->setShortcutContext(Qt::WidgetShortcut);
    m_actXlsx = new QAction(QStringLiteral("导出为 Excel…"), this);
    m_actXlsx->setObjectName(QStringLiteral("actGridExportXlsx"));
    m_actCsv = new QAction(QStringLiteral("导出为 CSV…"), this);
    m_actCsv->setObjectName(QStringLiteral("actGridExportCsv"));
    connect(m_actCopy, &QAction::triggered, this, Guarded([this](bool) { CopyToClipboard(); }));
    connect(m_actXlsx, &QAction::triggered, this, Guarded([this](bool) { exportAs(true); }));
    connect(m_actCsv, &QAction::triggered, this, Guarded([this](bool) { exportAs(false); }));
    m_actPrint = new QAction(QStringLiteral("打印…"), this);
    m_actPrint->setObjectName(QStringLiteral("actGridPrint"));
    m_actPdf = new QAction(QStringLiteral("导出为 PDF…"), this);
    m_actPdf->setObjectName(QStringLiteral("actGridExportPdf"));
    connect(m_actPrint, &QAction::triggered, this, Guarded([this](bool) { printList(); }));
    connect(m_actPdf, &QAction::triggered, this, Guarded([this](bool) { exportPdf(); }));
    m_actLayout = new QAction(QStringLiteral("恢复默认布局"), this);
    m_actLayout->setObjectName(QStringLiteral("actGridDefaultLayout"));
    connect(m_actLayout, &QAction::triggered, this, Guarded([this](bool) {
                RestoreDefaultLayout();
                emit DefaultLayoutRestored();
            }));
}

TQELDBGrid::~TQELDBGrid() = default;

void TQELDBGrid::SetColumns(const QList<GridColumn> &columns)
{
    m_columns = columns;
    m_widths.clear();
    for (const GridColumn &c : m_columns)
        m_widths.append(c.width);
    m_view->sortBy(-1, Qt::AscendingOrder);
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    if (m_source)
        m_source->setColumns(m_columns);
    applyColumns();
}

void TQELDBGrid::SetMultiSelect(bool on)
{
    setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
    updateCount();
}

void TQELDBGrid::applyColumns()
{
    m_applying = true;
    for (int i = 0; i < m_widths.size(); ++i)
        setColumnWidth(i, m_widths[i]);
    m_applying = false;
}

void TQELDBGrid::SetColumnWidths(const QList<int> &widths)
{
    for (int i = 0; i < m_widths.size(); ++i) {
        const int w = i < widths.size() ? widths[i] : 0;
        m_widths[i] = w > 0 ? std::clamp(w, MinColumnWidth, MaxColumnWidth) : m_columns[i].width;
    }
    applyColumns();
}

void TQELDBGrid::RestoreDefaultLayout()
{
    SetColumnWidths({});
    SortByColumn(-1);
}

void TQELDBGrid::SetDataSource(TQELDataSource *ds)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    const bool same = ds == m_source;
    m_source = ds;
    clearSelected();
    if (ds && !m_columns.isEmpty())
        ds->setColumns(m_columns);
    if (!same || m_view->dataSource() != ds) {
        m_view->setSourceModel(ds);
        horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    }
    updateCount();
    if (!ds)
        return;
    applyColumns();
    connect(ds, &TQELDataSource::DataChange, this, &TQELDBGrid::syncFromCursor);
    syncFromCursor();
}

void TQELDBGrid::syncFromCursor()
{
    if (m_syncing || !m_source || !m_source->DataSet())
        return;
    const int pos = m_source->DataSet()->RecNo();
    const int row = pos < 0 || pos >= m_view->rowCount() ? -1 : m_view->viewRow(pos);
    const QModelIndex cur = currentIndex();
    if (row < 0 || (cur.isValid() && cur.row() == row))
        return;
    m_syncing = true;
    const int col = cur.isValid() ? cur.column() : 0;
    // Move the current row without touching the operator's multi-row selection.
    selectionModel()->setCurrentIndex(m_view->index(row, col),
                                      selectionMode() == QAbstractItemView::ExtendedSelection ? QItemSelectionModel::NoUpdate
                                                                                              : QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_syncing = false;
}

void TQELDBGrid::onCurrentChanged(const QModelIndex &current)
{
    if (m_syncing || !m_source || !m_source->DataSet() || !current.isValid())
        return;
    m_syncing = true;
    m_source->DataSet()->MoveTo(m_view->sourceRow(current.row()));
    m_syncing = false;
}

void TQELDBGrid::onSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    const TQELClientDataSet *set = m_source ? m_source->DataSet() : nullptr;
    if (!set)
        return;
    const int rows = std::min(set->RecordCount(), m_view->rowCount());
    for (const QItemSelectionRange &r : deselected)
        for (int row = r.top(); row <= r.bottom() && row < rows; ++row)
            deselect(set->rowAt(m_view->sourceRow(row)));
    for (const QItemSelectionRange &r : selected)
        for (int row = r.top(); row <= r.bottom() && row < rows; ++row)
            select(set->rowAt(m_view->sourceRow(row)));
    updateCount();
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

// ---- sorting ----------------------------------------------------------------

void TQELDBGrid::onHeaderClicked(int section)
{
    // Ascending, descending, then the list's own order again.
    if (SortColumn() != section)
        SortByColumn(section, Qt::AscendingOrder);
    else if (SortOrder() == Qt::AscendingOrder)
        SortByColumn(section, Qt::DescendingOrder);
    else
        SortByColumn(-1);
}

void TQELDBGrid::SortByColumn(int column, Qt::SortOrder order)
{
    {
        WaitCursor wait;
        m_view->sortBy(column, order);
    }
    horizontalHeader()->setSortIndicator(m_view->sortColumn(), order);
    horizontalHeader()->viewport()->update();
    if (m_sortShowsTop && m_view->rowCount() > 0) {
        const int col = currentIndex().isValid() ? currentIndex().column() : 0;
        selectionModel()->setCurrentIndex(m_view->index(0, col), MultiSelect() ? QItemSelectionModel::NoUpdate
                                                                               : QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollToTop();
        return;
    }
    // The current record stays current wherever it went.
    if (currentIndex().isValid())
        QTableView::scrollTo(currentIndex());
}

// ---- counts and the empty list ------------------------------------------------

QString TQELDBGrid::EmptyText() { return QStringLiteral("没有符合条件的记录"); }

QString TQELDBGrid::StaleText() { return QStringLiteral("其他操作员已修改，按 F5 刷新"); }

void TQELDBGrid::SetStale(bool on)
{
    m_stale = on;
    updateCount();
}

void TQELDBGrid::SetCountPrefix(const QString &text)
{
    m_prefix = text;
    updateCount();
}

QString TQELDBGrid::CountText() const
{
    const TQELClientDataSet *set = m_source ? m_source->DataSet() : nullptr;
    const int rows = set && set->Active() ? m_view->rowCount() : 0;
    QString text = (m_prefix.isEmpty() ? QString() : m_prefix + QStringLiteral("　")) + QStringLiteral("共 %1 条").arg(rows);
    if (MultiSelect())
        text += QStringLiteral("　已选 %1 条").arg(m_selectedCount);
    if (!m_notice.isEmpty())
        text += QStringLiteral("　") + m_notice;
    if (m_stale)
        text += QStringLiteral("　") + StaleText();
    return text;
}

void TQELDBGrid::updateCount()
{
    const QString text = CountText();
    if (m_count->text() == text)
        return;
    m_count->setText(text);
    emit CountChanged();
}

void TQELDBGrid::updateGeometries()
{
    // The table lays out its headers and sets the viewport's margins for
    // them; the count line takes a strip below the rows, above the
    // horizontal scroll bar.
    QTableView::updateGeometries();
    if (!m_count)
        return; // still being built
    const QMargins m = viewportMargins();
    if (m.bottom() != m_countHeight)
        setViewportMargins(m.left(), m.top(), m.right(), m_countHeight);
    const QRect vp = viewport()->geometry();
    const int left = contentsRect().left();
    m_count->setGeometry(left, vp.bottom() + 1, vp.right() + 1 - left, m_countHeight);
}

void TQELDBGrid::layoutCount()
{
    const int h = m_count->fontMetrics().height() + 6;
    if (h == m_countHeight)
        return;
    m_countHeight = h;
    updateGeometries();
}

void TQELDBGrid::resizeEvent(QResizeEvent *e)
{
    QTableView::resizeEvent(e);
    updateGeometries();
}

void TQELDBGrid::changeEvent(QEvent *e)
{
    QTableView::changeEvent(e);
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange)
        layoutCount();
}

// ---- the last column to the right edge ------------------------------------------

int TQELDBGrid::lastColumn() const
{
    const QHeaderView *h = horizontalHeader();
    for (int v = h->count() - 1; v >= 0; --v)
        if (!h->isSectionHidden(h->logicalIndex(v)))
            return h->logicalIndex(v);
    return -1;
}

// The room right of the last column, in viewport coordinates; empty when none.
QRect TQELDBGrid::fillRect() const
{
    const int last = lastColumn();
    if (last < 0)
        return QRect();
    const int end = columnViewportPosition(last) + columnWidth(last);
    const int right = viewport()->width();
    return end < right ? QRect(end, 0, right - end, viewport()->height()) : QRect();
}

void TQELDBGrid::paintFill()
{
    const QRect gap = fillRect();
    const int rows = m_view->rowCount();
    if (gap.isEmpty() || rows == 0)
        return;
    const int last = lastColumn();
    const int x = columnViewportPosition(last);
    const int right = viewport()->width();
    const int first = std::max(0, rowAt(0));
    int end = rowAt(viewport()->height() - 1);
    if (end < 0)
        end = rows - 1;
    QStyleOptionViewItem base;
    initViewItemOption(&base);
    const int gridSize = showGrid() ? 1 : 0;
    const QColor gridColor = QColor::fromRgba(uint(style()->styleHint(QStyle::SH_Table_GridLineColor, &base, this)));
    QPainter p(viewport());
    for (int r = first; r <= end; ++r) {
        const QModelIndex index = m_view->index(r, last);
        const int y = rowViewportPosition(r);
        const int h = rowHeight(r);
        QStyleOptionViewItem opt = base;
        // The whole cell again, as wide as the room allows.
        opt.rect = QRect(x, y, right - x, h - gridSize);
        if (selectionModel()->isSelected(index))
            opt.state |= QStyle::State_Selected;
        p.fillRect(opt.rect, opt.palette.brush(QPalette::Base));
        itemDelegateForIndex(index)->paint(&p, opt, index);
        if (gridSize) {
            p.setPen(gridColor);
            p.drawLine(x, y + h - 1, right, y + h - 1);
        }
    }
}

void TQELDBGrid::paintEvent(QPaintEvent *e)
{
    QTableView::paintEvent(e);
    paintFill();
    const TQELClientDataSet *set = m_source ? m_source->DataSet() : nullptr;
    if (set && set->Active() && m_view->rowCount() == 0) {
        QPainter p(viewport());
        p.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        p.drawText(viewport()->rect(), Qt::AlignCenter, EmptyText());
    }
}

void TQELDBGrid::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QTableView::selectionChanged(selected, deselected);
    const QRect gap = fillRect();
    if (!gap.isEmpty())
        viewport()->update(gap);
}

void TQELDBGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    const QRect gap = fillRect();
    if (!gap.isEmpty())
        viewport()->update(gap);
}

void TQELDBGrid::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    QTableView::dataChanged(topLeft, bottomRight, roles);
    const QRect gap = fillRect();
    if (!gap.isEmpty())
        viewport()->update(gap);
}

QModelIndex TQELDBGrid::indexAt(const QPoint &point) const
{
    const QModelIndex at = QTableView::indexAt(point);
    if (at.isValid())
        return at;
    // The room right of the last column belongs to it.
    const QRect gap = fillRect();
    const int row = rowAt(point.y());
    if (row >= 0 && gap.contains(point))
        return m_view->index(row, lastColumn());
    return at;
}

QModelIndex TQELDBGrid::toView(const QModelIndex &index) const
{
    return index.isValid() && m_source && index.model() == m_source ? m_view->mapFromSource(index) : index;
}

QRect TQELDBGrid::visualRect(const QModelIndex &index) const { return QTableView::visualRect(toView(index)); }

void TQELDBGrid::scrollTo(const QModelIndex &index, ScrollHint hint) { QTableView::scrollTo(toView(index), hint); }

// ---- copy, export and the context menu ----------------------------------------------

QString TQELDBGrid::CopyText() const
{
    const TQELClientDataSet *set = m_source ? m_source->DataSet() : nullptr;
    if (!set || !set->Active())
        return QString();
    std::vector<int> rows; // as shown
    rows.reserve(size_t(m_selectedCount));
    forEachSelected(*set, [&](int bookmark) {
        const int pos = set->posOf(bookmark);
        if (pos >= 0)
            rows.push_back(m_view->viewRow(pos));
    });
    std::sort(rows.begin(), rows.end());
    if (rows.empty() && currentIndex().isValid())
        rows.push_back(currentIndex().row());
    if (rows.empty())
        return QString();
    std::vector<int> cols;
    std::vector<bool> text; // a text field: its cells may look like formulas
    const QHeaderView *header = horizontalHeader();
    for (int v = 0; v < header->count(); ++v) {
        const int c = header->logicalIndex(v);
        if (header->isSectionHidden(c))
            continue;
        cols.push_back(c);
        const int f = m_source->fieldOf(c);
        text.push_back(f >= 0 && set->FieldDefAt(f).type == FieldType::Text);
    }
    QString out;
    for (size_t i = 0; i < cols.size(); ++i) {
        if (i)
            out += QLatin1Char('\t');
        out += tabCell(m_view->headerData(cols[i], Qt::Horizontal).toString());
    }
    out += QLatin1Char('\n');
    for (int row : rows) {
        const int pos = m_view->sourceRow(row);
        for (size_t i = 0; i < cols.size(); ++i) {
            if (i)
                out += QLatin1Char('\t');
            const QString cell = m_source->displayText(pos, cols[i]);
            // A spreadsheet pasted into must not run a name as a formula.
            if (text[i] && StartsLikeFormula(cell.left(1).toUtf8()))
                out += tabCell(QLatin1Char('\'') + cell);
            else
                out += tabCell(cell);
        }
        out += QLatin1Char('\n');
    }
    return out;
}

void TQELDBGrid::CopyToClipboard() const
{
    const QString text = CopyText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

std::unique_ptr<ExportTable> TQELDBGrid::ExportData() const { return std::make_unique<GridTable>(*this); }

void TQELDBGrid::ExportXlsx(const QString &fileName) const { ::ExportXlsx(*ExportData(), fileName); }

void TQELDBGrid::ExportCsv(const QString &fileName) const { ::ExportCsv(*ExportData(), fileName); }

void TQELDBGrid::SetSaveFileNameHook(SaveFileNameFn fn) { saveFileNameHook() = std::move(fn); }

void TQELDBGrid::SetExportName(const QString &name) { m_exportName = name; }

QString TQELDBGrid::ExportName() const
{
    QString name = m_exportName.isEmpty() ? window()->windowTitle().trimmed() : m_exportName;
    if (name.isEmpty())
        name = QStringLiteral("导出");
    // A project's name may hold characters no file name may.
    for (QChar &c : name)
        if (QStringLiteral("/\\:*?\"<>|").contains(c))
            c = QLatin1Char('_');
    return name;
}

void TQELDBGrid::exportAs(bool excel)
{
    const QString suffix = excel ? QStringLiteral("xlsx") : QStringLiteral("csv");
    const QString caption = excel ? QStringLiteral("导出为 Excel") : QStringLiteral("导出为 CSV");
    const QString filter = excel ? QStringLiteral("Excel 工作簿 (*.xlsx)") : QStringLiteral("CSV 文件 (*.csv)");
    const QString suggested =
        QDir(ExportFolder()).filePath(ExportName() + QLatin1Char('_') + QDate::currentDate().toString(Qt::ISODate) + QLatin1Char('.') + suffix);
    QString file = saveFileNameHook() ? saveFileNameHook()(this, caption, suggested, filter) : AskSaveFileName(this, caption, suggested, filter, suffix);
    if (file.isEmpty())
        return;
    file = WithSuffix(file, suffix);
    {
        WaitCursor wait;
        if (excel)
            ExportXlsx(file);
        else
            ExportCsv(file);
    }
    RememberExportFolder(QFileInfo(file).absolutePath());
    ShowNotice(QStringLiteral("已导出到 %1").arg(QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath())));
}

namespace {
// Landscape when the columns are wider than a portrait page holds at screen size.
void pageFor(QPagedPaintDevice &device, int columnsWidth)
{
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), columnsWidth > 700 ? QPageLayout::Landscape : QPageLayout::Portrait,
                                     QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
}

int columnsWidth(const ExportTable &table)
{
    int w = 0;
    for (const ExportColumn &c : table.columns())
        w += c.widthPixels;
    return w;
}
} // namespace

void TQELDBGrid::printList()
{
    const std::unique_ptr<ExportTable> table = ExportData();
    QPrinter printer(QPrinter::HighResolution);
    pageFor(printer, columnsWidth(*table));
    QPrintPreviewDialog preview(&printer, this);
    preview.setWindowTitle(QStringLiteral("打印预览 - %1").arg(ExportName()));
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, Guarded([&](QPrinter *target) { PrintTable(*table, ExportName(), font(), *target); }));
    preview.exec();
}

void TQELDBGrid::exportPdf()
{
    const QString caption = QStringLiteral("导出为 PDF");
    const QString filter = QStringLiteral("PDF 文件 (*.pdf)");
    const QString suggested = QDir(ExportFolder()).filePath(ExportName() + QLatin1Char('_') + QDate::currentDate().toString(Qt::ISODate) + QStringLiteral(".pdf"));
    QString file = saveFileNameHook() ? saveFileNameHook()(this, caption, suggested, filter) : AskSaveFileName(this, caption, suggested, filter, QStringLiteral("pdf"));
    if (file.isEmpty())
        return;
    file = WithSuffix(file, QStringLiteral("pdf"));
    {
        WaitCursor wait;
        const std::unique_ptr<ExportTable> table = ExportData();
        ExportToFile(file, [&](QIODevice &out) {
            QPdfWriter pdf(&out);
            pdf.setTitle(ExportName());
            pdf.setCreator(QStringLiteral("票务管理"));
            pageFor(pdf, columnsWidth(*table));
            PrintTable(*table, ExportName(), font(), pdf);
        });
    }
    RememberExportFolder(QFileInfo(file).absolutePath());
    ShowNotice(QStringLiteral("已导出到 %1").arg(QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath())));
}

void TQELDBGrid::ShowNotice(const QString &text)
{
    m_notice = text;
    m_count->setToolTip(text);
    updateCount();
    // Long enough to read a path; the next one replaces it.
    QTimer::singleShot(10000, this, [this, text] {
        if (m_notice != text)
            return;
        m_notice.clear();
        m_count->setToolTip(QString());
        updateCount();
    });
}

void TQELDBGrid::AddContextAction(QAction *action)
{
    if (action && !m_extraActions.contains(action))
        m_extraActions.append(action);
}

QList<QAction *> TQELDBGrid::ContextActions() const
{
    QList<QAction *> out{m_actCopy, m_actXlsx, m_actCsv, m_actPdf, m_actPrint, m_actLayout};
    for (const QPointer<QAction> &a : m_extraActions)
        if (a)
            out.append(a);
    return out;
}

void TQELDBGrid::contextMenuEvent(QContextMenuEvent *e)
{
    const TQELClientDataSet *set = m_source ? m_source->DataSet() : nullptr;
    const bool rows = set && set->Active() && m_view->rowCount() > 0;
    m_actCopy->setEnabled(rows);
    m_actXlsx->setEnabled(set && set->Active());
    m_actCsv->setEnabled(set && set->Active());
    m_actPdf->setEnabled(set && set->Active());
    m_actPrint->setEnabled(set && set->Active());
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("gridContextMenu"));
    menu.addAction(m_actCopy);
    menu.addSeparator();
    menu.addAction(m_actXlsx);
    menu.addAction(m_actCsv);
    menu.addAction(m_actPdf);
    menu.addAction(m_actPrint);
    menu.addSeparator();
    menu.addAction(m_actLayout);
    bool separated = false;
    for (const QPointer<QAction> &a : m_extraActions) {
        if (!a)
            continue;
        if (!separated)
            menu.addSeparator();
        separated = true;
        menu.addAction(a);
    }
    menu.exec(e->globalPos());
    e->accept();
}

void TQELDBGrid::keyPressEvent(QKeyEvent *e)
{
    if (e->matches(QKeySequence::Copy)) {
        try {
            CopyToClipboard();
        } catch (...) {
            HandleException(std::current_exception());
        }
        e->accept();
        return;
    }
    QTableView::keyPressEvent(e);
}
