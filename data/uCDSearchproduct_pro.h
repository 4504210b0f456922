#pragma once
#include "ProjectGlobal.h"
#include <ClientDataSet.h>
#include <QObject>
#include <QPointer>
#include <QVariant>

class QAction;

// The data behind the performance search dialog: the search conditions, the
// look-up lists, the catalogue search and the in-memory narrowing of its
// result to what this operator may pick.
class QELUIPROJECT_EXPORT TCDSearchProduct_pro : public QObject {
    Q_OBJECT
public:
    explicit TCDSearchProduct_pro(QObject *owner = nullptr);
    ~TCDSearchProduct_pro() override;

    // Components.
    TQELClientDataSet *cdsCondition;
    TQELClientDataSet *cdsPlaceBrief;
    TQELClientDataSet *cdsProductClassBrief;
    TQELClientDataSet *cdsCityBrief;
    TQELClientDataSet *cdsProduct;
    QObject *SeatReclaim; // the action list
    QAction *actRetrieve;
    QAction *actReset;

    QString Context;
    // false: only status "5" and "6"; true: "0" to "7".
    bool AllStatus = false;
    // Comma text of PRODUCTCODEs left out of every result.
    QString ExcludeProducts;

    void SetContext(const QString &context);
    void GetProductClassBrief();
    void GetPlaceBrief();
    void GetCityBrief();
    // GetCityBrief (cities) and the first search (search: ResetCondition,
    // then actRetrieveExecute's search), their statements in one round trip.
    void GetCityBriefAndSearch(bool cities, bool search);
    void ResetCondition(bool all);
    void SearchProduct();
    void actRetrieveExecute(QObject *Sender);
    void actResetExecute(QObject *Sender);
    // The calculated fields of cdsProduct (WEEK), for one row.
    QVariant cdsProductCalcFields(const TQELClientDataSet &DataSet, int row, int field) const;
    void DataModuleDestroy(QObject *Sender);

    // "星期天" … "星期六"; empty for an invalid date.
    static QString WeekdayName(const QDate &day);

private:
    QString CitySql() const;
    // The search's rows, narrowed to what this operator may see and pick.
    void ShowProducts(DataPacket &&rows);
    // Closes the old rows and opens these, unfiltered.
    void installRows(DataPacket &&rows);
    int m_weekField = -1;
    int m_timeField = -1;
};

QELUIPROJECT_EXPORT extern QPointer<TCDSearchProduct_pro> CDSearchProduct_pro;
