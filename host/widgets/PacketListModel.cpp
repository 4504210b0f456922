#include "PacketListModel.h"

TQELPacketListModel::TQELPacketListModel(DataPacket packet, int column, QObject *parent)
    : QAbstractListModel(parent), m_packet(std::move(packet)), m_column(column)
{
}

int TQELPacketListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_packet.rowCount();
}

QVariant TQELPacketListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_packet.rowCount() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return QVariant();
    return m_packet.text(index.row(), m_column);
}
