#pragma once
#include <QString>
#include <QStringList>
#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

// Keeps every repetition of every benchmark (seconds per iteration, real
// time) and its counters, while the console reporter shows progress.
class Collector : public benchmark::ConsoleReporter {
public:
    Collector();
    void ReportRuns(const std::vector<Run> &runs) override;

    bool has(const std::string &name) const { return m_runs.count(name) > 0; }
    // Median over the repetitions, in seconds per iteration; 0 when absent.
    double median(const std::string &name) const;
    // Fastest repetition: background load only ever adds time.
    double best(const std::string &name) const;
    // Mean of a counter over the repetitions; fallback when absent.
    double counter(const std::string &name, const std::string &key, double fallback = 0) const;
    // Lowest value of a counter over the repetitions; 0 when absent.
    double counterBest(const std::string &name, const std::string &key) const;
    // Relative spread (max-min)/median of the repetitions.
    double spread(const std::string &name) const;

private:
    struct Measure {
        std::vector<double> seconds;
        std::map<std::string, std::vector<double>> counters;
    };
    std::map<std::string, Measure> m_runs;
};

// The one table bench/run prints (Markdown).
class Table {
public:
    void section(const QString &title);
    void row(const QString &measure, const QString &module, const QString &baseline, const QString &ratio, const QString &target, bool ok,
             bool judged = true);
    void note(const QString &text) { m_notes << text; }
    QString markdown() const;
    int failures() const { return m_failures; }

private:
    std::vector<QStringList> m_rows;
    QStringList m_notes;
    int m_failures = 0;
};

// "12.3 ms", "850 µs", "1.24 s"
QString formatSeconds(double s);
QString formatBytes(double b);
QString formatRatio(double r);
