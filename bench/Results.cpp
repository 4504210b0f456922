#include "Results.h"
#include <algorithm>
#include <iostream>

Collector::Collector()
{
    // Progress goes to stderr; stdout carries only the table.
    SetOutputStream(&std::cerr);
    SetErrorStream(&std::cerr);
}

void Collector::ReportRuns(const std::vector<Run> &runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run &r : runs) {
        if (r.run_type != Run::RT_Iteration || r.error_occurred || r.iterations == 0)
            continue;
        Measure &m = m_runs[r.run_name.function_name];
        m.seconds.push_back(r.real_accumulated_time / double(r.iterations));
        for (const auto &[key, c] : r.counters)
            m.counters[key].push_back(c.value);
    }
}

double Collector::median(const std::string &name) const
{
    const auto it = m_runs.find(name);
    if (it == m_runs.end() || it->second.seconds.empty())
        return 0;
    std::vector<double> v = it->second.seconds;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Collector::best(const std::string &name) const
{
    const auto it = m_runs.find(name);
    if (it == m_runs.end() || it->second.seconds.empty())
        return 0;
    return *std::min_element(it->second.seconds.begin(), it->second.seconds.end());
}

double Collector::spread(const std::string &name) const
{
    const auto it = m_runs.find(name);
    if (it == m_runs.end() || it->second.seconds.size() < 2)
        return 0;
    const auto [lo, hi] = std::minmax_element(it->second.seconds.begin(), it->second.seconds.end());
    const double med = median(name);
    return med > 0 ? (*hi - *lo) / med : 0;
}

double Collector::counterBest(const std::string &name, const std::string &key) const
{
    const auto it = m_runs.find(name);
    if (it == m_runs.end())
        return 0;
    const auto c = it->second.counters.find(key);
    if (c == it->second.counters.end() || c->second.empty())
        return 0;
    return *std::min_element(c->second.begin(), c->second.end());
}

double Collector::counter(const std::string &name, const std::string &key, double fallback) const
{
    const auto it = m_runs.find(name);
    if (it == m_runs.end())
        return fallback;
    const auto c = it->second.counters.find(key);
    if (c == it->second.counters.end() || c->second.empty())
        return fallback;
    double sum = 0;
    for (double v : c->second)
        sum += v;
    return sum / double(c->second.size());
}

void Table::section(const QString &title)
{
    m_rows.push_back({QStringLiteral("**%1**").arg(title), QString(), QString(), QString(), QString(), QString()});
}

void Table::row(const QString &measure, const QString &module, const QString &baseline, const QString &ratio, const QString &target, bool ok,
                bool judged)
{
    QString verdict;
    if (judged) {
        verdict = ok ? QStringLiteral("ok") : QStringLiteral("**MISSED**");
        if (!ok)
            ++m_failures;
    }
    m_rows.push_back({measure, module, baseline, ratio, target, verdict});
}

QString Table::markdown() const
{
    const QStringList head = {QStringLiteral("measure"), QStringLiteral("module"), QStringLiteral("baseline"), QStringLiteral("ratio"),
                              QStringLiteral("target"), QString()};
    std::vector<int> width(head.size(), 3);
    auto widen = [&](const QStringList &cells) {
        for (int i = 0; i < cells.size(); ++i)
            width[size_t(i)] = std::max(width[size_t(i)], int(cells[i].size()));
    };
    widen(head);
    for (const QStringList &r : m_rows)
        widen(r);
    auto line = [&](const QStringList &cells) {
        QString s = QStringLiteral("|");
        for (int i = 0; i < cells.size(); ++i) {
            const bool right = i >= 1 && i <= 3;
            s += QLatin1Char(' ') + (right ? cells[i].rightJustified(width[size_t(i)]) : cells[i].leftJustified(width[size_t(i)])) +
                 QStringLiteral(" |");
        }
        return s + QLatin1Char('\n');
    };
    QString out = line(head);
    QStringList rule;
    for (size_t i = 0; i < width.size(); ++i)
        rule << ((i >= 1 && i <= 3) ? QString(width[i] - 1, QLatin1Char('-')) + QLatin1Char(':') : QString(width[i], QLatin1Char('-')));
    out += line(rule);
    for (const QStringList &r : m_rows)
        out += line(r);
    for (const QString &n : m_notes)
        out += QStringLiteral("\n") + n;
    return out;
}

QString formatSeconds(double s)
{
    if (s <= 0)
        return QStringLiteral("—");
    if (s >= 1)
        return QStringLiteral("%1 s").arg(s, 0, 'f', 2);
    if (s >= 1e-3)
        return QStringLiteral("%1 ms").arg(s * 1e3, 0, 'f', s >= 0.1 ? 0 : 1);
    return QStringLiteral("%1 µs").arg(s * 1e6, 0, 'f', 1);
}

QString formatBytes(double b)
{
    if (b >= 1024.0 * 1024)
        return QStringLiteral("%1 MiB").arg(b / 1024 / 1024, 0, 'f', 1);
    return QStringLiteral("%1 KiB").arg(b / 1024, 0, 'f', 1);
}

QString formatRatio(double r)
{
    if (r <= 0)
        return QStringLiteral("—");
    return QStringLiteral("%1×").arg(r, 0, 'f', r >= 10 ? 1 : 2);
}
