#include "DataSource.h"

TQELDataSource::TQELDataSource(QObject *parent) : QAbstractTableModel(parent) {}

void TQELDataSource::SetDataSet(TQELClientDataSet *ds)
{
    beginResetModel();
    if (m_ds)
        disconnect(m_ds, nullptr, this, nullptr);
    m_ds = ds;
    if (m_ds) {
        connect(m_ds, &TQELClientDataSet::aboutToReset, this, [this] { beginResetModel(); });
        connect(m_ds, &TQELClientDataSet::reset, this, [this] {
            resolveFields();
            m_current = m_ds->RecNo();
            endResetModel();
            emit DataChange();
        });
        connect(m_ds, &TQELClientDataSet::rowAboutToBeRemoved, this, [this](int pos) { beginRemoveRows(QModelIndex(), pos, pos); });
        connect(m_ds, &TQELClientDataSet::rowRemoved, this, [this](int) {
            endRemoveRows();
            emit DataChange();
        });
        connect(m_ds, &TQELClientDataSet::rowAboutToBeInserted, this, [this](int pos) { beginInsertRows(QModelIndex(), pos, pos); });
        connect(m_ds, &TQELClientDataSet::rowInserted, this, [this](int) {
            endInsertRows();
            emit DataChange();
        });
        connect(m_ds, &TQELClientDataSet::rowChanged, this, [this](int pos) {
            if (columnCount() == 0 || rowCount() == 0)
                return;
            if (pos < 0)
                emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
            else if (pos < rowCount())
                emit dataChanged(index(pos, 0), index(pos, columnCount() - 1));
        });
        connect(m_ds, &TQELClientDataSet::cursorMoved, this, &TQELDataSource::onCursorMoved);
        connect(m_ds, &TQELClientDataSet::stateChanged, this, &TQELDataSource::DataChange);
        connect(m_ds, &QObject::destroyed, this, [this] {
            beginResetModel();
            m_fieldOf.clear();
            endResetModel();
            emit DataChange();
        });
    }
    resolveFields();
    m_current = m_ds ? m_ds->RecNo() : -1;
    endResetModel();
    emit DataChange();
}

void TQELDataSource::setColumns(const QList<GridColumn> &columns)
{
    beginResetModel();
    m_columns.clear();
    m_columns.reserve(columns.size());
    for (const GridColumn &c : columns)
        m_columns.append(DataColumn{c.field, c.title, c.alignment, c.titleAlignment});
    resolveFields();
    endResetModel();
}

void TQELDataSource::resolveFields()
{
    m_fieldOf.clear();
    if (!m_columns.isEmpty()) {
        for (const DataColumn &c : m_columns)
            m_fieldOf.push_back(m_ds ? m_ds->FieldIndex(c.field) : -1);
        return;
    }
    if (!m_ds)
        return;
    for (int f = 0; f < m_ds->FieldCount(); ++f)
        if (m_ds->FieldDefAt(f).visible)
            m_fieldOf.push_back(f);
}

void TQELDataSource::onCursorMoved(int pos)
{
    const int old = m_current;
    m_current = pos;
    // The row indicator lives in the vertical header.
    if (old >= 0 && old < rowCount())
        emit headerDataChanged(Qt::Vertical, old, old);
    if (pos >= 0 && pos < rowCount() && pos != old)
        emit headerDataChanged(Qt::Vertical, pos, pos);
    emit DataChange();
}

int TQELDataSource::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_ds || !m_ds->Active())
        return 0;
    return m_ds->RecordCount();
}

int TQELDataSource::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return m_columns.isEmpty() ? int(m_fieldOf.size()) : int(m_columns.size());
}

QVariant TQELDataSource::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_ds || index.row() >= rowCount() || index.column() >= int(m_fieldOf.size()))
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return m_columns.isEmpty() ? QVariant() : QVariant(int(m_columns[index.column()].alignment));
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return QVariant();
    if (m_fieldOf[size_t(index.column())] < 0)
        return QVariant();
    return displayText(index.row(), index.column());
}

QString TQELDataSource::displayText(int pos, int column) const
{
    const int f = fieldOf(column);
    if (f < 0 || !m_ds)
        return QString();
    const int row = m_ds->rowAt(pos);
    if (m_ds->FieldDefAt(f).type == FieldType::DateTime) {
        const QDateTime dt = m_ds->dateTime(row, f);
        return dt.isValid() ? dt.toString(QStringLiteral("yyyy-MM-dd hh:mm")) : QString();
    }
    return m_ds->text(row, f);
}

QVariant TQELDataSource::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole)
            return section == m_current ? QStringLiteral("▶") : QString();
        return QVariant();
    }
    if (section < 0 || section >= columnCount())
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return m_columns.isEmpty() ? QVariant(int(Qt::AlignCenter)) : QVariant(int(m_columns[section].titleAlignment));
    if (role != Qt::DisplayRole)
        return QVariant();
    if (!m_columns.isEmpty()) {
        // A title may end in a line break; the header shows one line.
        QString t = m_columns[section].title;
        t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        while (t.endsWith(QLatin1Char('\n')))
            t.chop(1);
        return t;
    }
    const FieldDef &f = m_ds->FieldDefAt(m_fieldOf[size_t(section)]);
    return f.displayLabel.isEmpty() ? f.name : f.displayLabel;
}

Qt::ItemFlags TQELDataSource::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
