#pragma once
#include "ProjectGlobal.h"
#include <ClientDataSet.h>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <memory>
#include <vector>

class QAction;
class TProductHolders;

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
    // true: only performances no project holds are listed.
    bool OnlyUnassigned = false;
    // false: the catalogue search alone, without the read of who holds what;
    // PROJECTNAME stays empty and OnlyUnassigned narrows nothing.
    bool ReadHolders = true;

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
    // Sets OnlyUnassigned and narrows the rows already found again, in memory.
    void SetOnlyUnassigned(bool on);
    // The calculated fields of cdsProduct (WEEK, PROJECTNAME), for one row.
    QVariant cdsProductCalcFields(const TQELClientDataSet &DataSet, int row, int field) const;
    void DataModuleDestroy(QObject *Sender);

    // "星期天" … "星期六"; empty for an invalid date.
    static QString WeekdayName(const QDate &day);

private:
    QString CitySql() const;
    // The catalogue's query, then (ReadHolders) every performance a project
    // holds, with the project's name.
    QStringList SearchSqls() const;
    // The search's rows and their holders from the tail of a batch's answers.
    void ShowFound(QList<DataPacket> &answers);
    // The search's rows, narrowed to what this operator may see and pick,
    // with who holds each of them.
    void ShowProducts(DataPacket &&found, DataPacket &&holders);
    // Closes the old rows and opens these, unfiltered.
    void installRows(std::shared_ptr<const DataPacket> rows);
    // The narrowing of the last search, and the tick, as the dataset's filter.
    void applyNarrowing();
    int m_weekField = -1;
    int m_timeField = -1;
    int m_holderField = -1;
    // Of the rows installed; empty before the last search's narrowing is done.
    std::shared_ptr<const std::vector<uint8_t>> m_shown;
    std::shared_ptr<const TProductHolders> m_holders;
};

QELUIPROJECT_EXPORT extern QPointer<TCDSearchProduct_pro> CDSearchProduct_pro;
