#include "GridSortModel.h"
#include <QItemSelection>
#include <algorithm>

TQELGridSortModel::TQELGridSortModel(QObject *parent) : QAbstractProxyModel(parent) {}

void TQELGridSortModel::setSourceModel(QAbstractItemModel *source)
{
    auto *ds = qobject_cast<TQELDataSource *>(source);
    if (source && !ds)
        return;
    beginResetModel();
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = ds;
    QAbstractProxyModel::setSourceModel(ds);
    m_column = -1;
    m_order = Qt::AscendingOrder;
    setOrder({});
    m_resetting = false;
    if (ds) {
        connect(ds, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
        connect(ds, &QAbstractItemModel::modelReset, this, [this] {
            if (m_column >= columnCount())
                m_column = -1;
            std::vector<int> order;
            setOrder(computeOrder(order) ? std::move(order) : std::vector<int>());
            endResetModel();
        });
        // The data source never moves rows about; should a model do so, start over.
        connect(ds, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] { beginResetModel(); });
        connect(ds, &QAbstractItemModel::layoutChanged, this, [this] {
            std::vector<int> order;
            setOrder(computeOrder(order) ? std::move(order) : std::vector<int>());
            endResetModel();
        });
        connect(ds, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex &, int first, int last) { onRowsAboutToBeRemoved(first, last); });
        connect(ds, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex &, int first, int last) { onRowsRemoved(first, last); });
        connect(ds, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex &, int first, int last) { onRowsAboutToBeInserted(first, last); });
        connect(ds, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first, int last) { onRowsInserted(first, last); });
        connect(ds, &QAbstractItemModel::dataChanged, this, &TQELGridSortModel::onDataChanged);
        connect(ds, &QAbstractItemModel::headerDataChanged, this, &TQELGridSortModel::onHeaderDataChanged);
        connect(ds, &QAbstractItemModel::columnsAboutToBeInserted, this, [this] { beginResetModel(); });
        connect(ds, &QAbstractItemModel::columnsInserted, this, [this] { endResetModel(); });
        connect(ds, &QAbstractItemModel::columnsAboutToBeRemoved, this, [this] { beginResetModel(); });
        connect(ds, &QAbstractItemModel::columnsRemoved, this, [this] {
            m_column = -1;
            setOrder({});
            endResetModel();
        });
    }
    endResetModel();
}

void TQELGridSortModel::sortBy(int column, Qt::SortOrder order)
{
    m_column = column >= 0 && column < columnCount() ? column : -1;
    m_order = order;
    std::vector<int> next;
    const bool any = computeOrder(next);
    if (!any && m_toSource.empty())
        return; // nothing moves
    const QList<QPersistentModelIndex> none;
    emit layoutAboutToBeChanged(none, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    std::vector<int> at(size_t(from.size()));
    for (qsizetype i = 0; i < from.size(); ++i)
        at[size_t(i)] = sourceRow(from[i].row());
    setOrder(any ? std::move(next) : std::vector<int>());
    QModelIndexList to;
    to.reserve(from.size());
    for (qsizetype i = 0; i < from.size(); ++i)
        to.append(index(viewRow(at[size_t(i)]), from[i].column()));
    changePersistentIndexList(from, to);
    emit layoutChanged(none, QAbstractItemModel::VerticalSortHint);
}

bool TQELGridSortModel::computeOrder(std::vector<int> &toSource) const
{
    const TQELClientDataSet *ds = m_source ? m_source->DataSet() : nullptr;
    const int n = m_source ? m_source->rowCount() : 0;
    if (m_column < 0 || !ds || n < 2)
        return false;
    const int field = m_source->fieldOf(m_column);
    if (field < 0)
        return false;
    // One key per row from the packet, then one sort of (key, position)
    // pairs: no model call and no string per cell.
    std::vector<qint64> key;
    std::vector<uint8_t> blank;
    ds->SortKeys(field, key, blank);
    struct Item {
        qint64 key;
        int pos;
    };
    std::vector<Item> items;
    items.reserve(size_t(n));
    std::vector<int> blanks;
    for (int pos = 0; pos < n; ++pos) {
        const int row = ds->rowAt(pos);
        if (blank[size_t(row)])
            blanks.push_back(pos);
        else
            items.push_back({key[size_t(row)], pos});
    }
    // Ties keep the list's order (the position decides), in both directions.
    if (m_order == Qt::AscendingOrder)
        std::sort(items.begin(), items.end(), [](const Item &a, const Item &b) { return a.key != b.key ? a.key < b.key : a.pos < b.pos; });
    else
        std::sort(items.begin(), items.end(), [](const Item &a, const Item &b) { return a.key != b.key ? a.key > b.key : a.pos < b.pos; });
    toSource.clear();
    toSource.reserve(size_t(n));
    for (const Item &i : items)
        toSource.push_back(i.pos);
    toSource.insert(toSource.end(), blanks.begin(), blanks.end());
    return true;
}

void TQELGridSortModel::setOrder(std::vector<int> toSource)
{
    m_toSource = std::move(toSource);
    m_fromSource.assign(m_toSource.size(), -1);
    for (size_t i = 0; i < m_toSource.size(); ++i)
        m_fromSource[size_t(m_toSource[i])] = int(i);
}

void TQELGridSortModel::onRowsAboutToBeRemoved(int first, int last)
{
    if (m_toSource.empty()) {
        beginRemoveRows(QModelIndex(), first, last);
    } else if (first == last) {
        const int v = viewRow(first);
        beginRemoveRows(QModelIndex(), v, v);
    } else {
        // Several rows at once lie anywhere in the sorted view.
        m_resetting = true;
        beginResetModel();
    }
}

void TQELGridSortModel::onRowsRemoved(int first, int last)
{
    if (m_toSource.empty()) {
        endRemoveRows();
        return;
    }
    const int k = last - first + 1;
    std::vector<int> next;
    next.reserve(m_toSource.size());
    for (int s : m_toSource) {
        if (s < first)
            next.push_back(s);
        else if (s > last)
            next.push_back(s - k);
    }
    setOrder(next.size() < 2 ? std::vector<int>() : std::move(next));
    if (m_resetting) {
        m_resetting = false;
        endResetModel();
    } else {
        endRemoveRows();
    }
}

void TQELGridSortModel::onRowsAboutToBeInserted(int first, int last)
{
    if (m_toSource.empty()) {
        beginInsertRows(QModelIndex(), first, last);
        return;
    }
    // New rows go below the sorted ones until the next sort or reload.
    const int n = int(m_toSource.size());
    beginInsertRows(QModelIndex(), n, n + last - first);
}

void TQELGridSortModel::onRowsInserted(int first, int last)
{
    if (m_toSource.empty()) {
        endInsertRows();
        return;
    }
    const int k = last - first + 1;
    std::vector<int> next = std::move(m_toSource);
    for (int &s : next)
        if (s >= first)
            s += k;
    for (int s = first; s <= last; ++s)
        next.push_back(s);
    setOrder(std::move(next));
    endInsertRows();
}

void TQELGridSortModel::onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    if (!topLeft.isValid() || !bottomRight.isValid())
        return;
    if (m_toSource.empty()) {
        emit dataChanged(index(topLeft.row(), topLeft.column()), index(bottomRight.row(), bottomRight.column()), roles);
    } else if (topLeft.row() == bottomRight.row()) {
        const int v = viewRow(topLeft.row());
        emit dataChanged(index(v, topLeft.column()), index(v, bottomRight.column()), roles);
    } else {
        emit dataChanged(index(0, topLeft.column()), index(rowCount() - 1, bottomRight.column()), roles);
    }
}

void TQELGridSortModel::onHeaderDataChanged(Qt::Orientation orientation, int first, int last)
{
    if (orientation == Qt::Horizontal || m_toSource.empty()) {
        emit headerDataChanged(orientation, first, last);
    } else if (first == last) {
        const int v = viewRow(first);
        if (v >= 0 && v < rowCount())
            emit headerDataChanged(orientation, v, v);
    } else if (rowCount() > 0) {
        emit headerDataChanged(orientation, 0, rowCount() - 1);
    }
}

QModelIndex TQELGridSortModel::mapToSource(const QModelIndex &proxyIndex) const
{
    if (!m_source || !proxyIndex.isValid() || proxyIndex.model() != this)
        return QModelIndex();
    return m_source->index(sourceRow(proxyIndex.row()), proxyIndex.column());
}

QModelIndex TQELGridSortModel::mapFromSource(const QModelIndex &sourceIndex) const
{
    if (!m_source || !sourceIndex.isValid() || sourceIndex.model() != m_source)
        return QModelIndex();
    return index(viewRow(sourceIndex.row()), sourceIndex.column());
}

QItemSelection TQELGridSortModel::mapSelectionFromSource(const QItemSelection &selection) const
{
    // Range by range (the base class goes cell by cell).
    QItemSelection out;
    for (const QItemSelectionRange &r : selection) {
        if (r.model() != m_source)
            continue;
        if (m_toSource.empty()) {
            out.append(QItemSelectionRange(index(r.top(), r.left()), index(r.bottom(), r.right())));
            continue;
        }
        for (int row = r.top(); row <= r.bottom(); ++row) {
            const int v = viewRow(row);
            out.append(QItemSelectionRange(index(v, r.left()), index(v, r.right())));
        }
    }
    return out;
}

QModelIndex TQELGridSortModel::index(int row, int column, const QModelIndex &parent) const
{
    // Views ask for every row of a long list at times (a column's selection
    // state): no more than the bounds' own cost.
    if (parent.isValid() || row < 0 || column < 0 || !m_source)
        return QModelIndex();
    const int rows = m_toSource.empty() ? m_source->rowCount() : int(m_toSource.size());
    if (row >= rows || column >= m_source->columnCount())
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex TQELGridSortModel::parent(const QModelIndex &) const { return QModelIndex(); }

QModelIndex TQELGridSortModel::sibling(int row, int column, const QModelIndex &) const { return index(row, column); }

bool TQELGridSortModel::hasChildren(const QModelIndex &parent) const
{
    return !parent.isValid() && rowCount() > 0 && columnCount() > 0;
}

int TQELGridSortModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_source)
        return 0;
    return m_toSource.empty() ? m_source->rowCount() : int(m_toSource.size());
}

int TQELGridSortModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_source ? 0 : m_source->columnCount();
}

QVariant TQELGridSortModel::data(const QModelIndex &index, int role) const
{
    if (!m_source || !index.isValid())
        return QVariant();
    return m_source->data(m_source->index(sourceRow(index.row()), index.column()), role);
}

QVariant TQELGridSortModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (!m_source)
        return QVariant();
    if (orientation == Qt::Vertical) {
        if (section < 0 || section >= rowCount())
            return QVariant();
        section = sourceRow(section);
    }
    return m_source->headerData(section, orientation, role);
}

Qt::ItemFlags TQELGridSortModel::flags(const QModelIndex &index) const
{
    if (!m_source || !index.isValid())
        return Qt::NoItemFlags;
    // The index is ours and in range: the source's index without its checks.
    return m_source->flags(createSourceIndex(sourceRow(index.row()), index.column(), nullptr));
}
