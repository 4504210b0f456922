#pragma once
#include "DataPacket.h"
#include "HostGlobal.h"
#include <QAbstractListModel>

// A read-only list over one text column of a packet, for pick lists of
// 100,000 names: a name becomes a string only when a view asks for it.
class QELHOST_EXPORT TQELPacketListModel : public QAbstractListModel {
    Q_OBJECT
public:
    TQELPacketListModel(DataPacket packet, int column, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    DataPacket m_packet;
    int m_column;
};
