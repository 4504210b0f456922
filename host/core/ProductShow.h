#pragma once
#include "DataPacket.h"
#include "CoreGlobal.h"
#include <QString>

// The catalogue service: performance classes, venues and the performance
// search, read from the process database through a data pipe (so the GBK
// check and the statement trace apply). Made for one call and dropped after it.
class QELCORE_EXPORT TCAProductShow {
public:
    TCAProductShow();
    ~TCAProductShow();
    TCAProductShow(const TCAProductShow &) = delete;
    TCAProductShow &operator=(const TCAProductShow &) = delete;

    // PRODUCTCLASSCODE, CNAME, ENAME of every performance class.
    DataPacket GetProductClassBrief(const QString &context);
    // PLACECODE, CNAME, ENAME, CITYCODE of the venues; validOnly: only those in use.
    DataPacket GetValidPlaceBrief(const QString &context, bool validOnly);
    // The performances that match the first row of the condition packet:
    // ProductName (contained in the name, taken literally), ProductClassCode,
    // PlaceCODE, CITYCODE (the venue's city), BHappenTime .. EHappenTime (whole
    // days) and StatusCode. An empty or missing condition matches anything.
    DataPacket GetProduct(const QString &context, const DataPacket &conditions);

    // The query GetProduct sends for these conditions on the given engine
    // ("sqlite" or "postgresql"); every value enters it through QuotedStr.
    static QString ProductQuery(const DataPacket &conditions, const QString &engine);
};
