#pragma once
#include <QDate>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>

// Box-office sizes of one data set. "full" is the operators' scale; "tenth"
// is the same shape at a tenth of it, for the linearity checks.
struct Scale {
    QString label;      // "10k" or "100k" (projects)
    int projects = 0;   // N
    int limits = 0;     // 3 N purchase limits
    int performances = 0; // 10 N over three years; a 90-day search finds ~0.8 N
    int exclusions = 0; // N / 5 codes held by one project
};

// How many change history entries a data set is made with.
inline qint64 HistoryEntries(const Scale &s)
{
    return qint64(s.projects) * 10;
}

Scale FullScale();
Scale TenthScale();

// The session context every benchmark runs under: node 01, group G01, user admin, kind A.
QString BenchContext();

// Fills the process database (Database::open first; schema not yet created)
// through the module's own data modules and pipe. Performances run from
// anchor - 365 days to anchor + 729 days.
void GenerateDataSet(const Scale &scale, const QDate &anchor, const std::function<void(const QString &)> &progress);

// What the benchmarks take from a generated data set.
struct DataSetFacts {
    QString exclusionProject;  // holds the exclusion list (its performances)
    QString insertProject;     // receives the 1,000 performances added
    QStringList addCodes;      // 1,000 performances no project holds
    QString deleteProject;     // holds the 5,000 performances deleted (only while measured)
    QStringList deleteCodes;   // 5,000 others no project holds
    QList<QPair<QString, QString>> limitPairs; // existing (project, member class) limits
};
DataSetFacts ReadFacts(const QDate &anchor);
