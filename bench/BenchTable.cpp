// The one table: every measure's row against its floor and target.
#include "BenchCommon.h"
#include "BenchUi.h"
#include "Results.h"
#include <QFile>
#include <QLocale>

namespace bench {

// ---- the table -----------------------------------------------------------------------

QString thousands(double n)
{
    return QLocale(QLocale::English).toString(qint64(n + 0.5));
}


// The median of a[i] / b[i]: each call against the one beside it in the same round.
double pairedRatio(const std::vector<double> &a, const std::vector<double> &b)
{
    std::vector<double> r;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] > 0 && b[i] > 0)
            r.push_back(a[i] / b[i]);
    return medianOf(r);
}

void fillTable(Table &t, const Collector &c, const std::vector<Env *> &envs, const QString &engine, const QString &engineText)
{
    const Env *full = nullptr, *tenth = nullptr;
    for (const Env *e : envs) {
        if (e->engine != engine)
            continue;
        (e->top ? full : tenth) = e;
    }
    if (!full)
        return;
    const std::string p = full->prefix;
    static const std::vector<double> none;
    auto samples = [](const Env *e, const std::string &key) -> const std::vector<double> & {
        const auto it = e->samples.find(key);
        return it == e->samples.end() ? none : it->second;
    };
    auto med = [&](const std::string &key) { return medianOf(samples(full, key)); };
    auto count = [&](const std::string &key, const Env *e = nullptr) {
        e = e ? e : full;
        const auto it = e->counts.find(key);
        return it == e->counts.end() ? 0.0 : it->second;
    };
    auto ran = [&](const std::string &key) { return !samples(full, key).empty(); };
    auto note = [&](const std::string &key) {
        const auto it = full->notes.find(key);
        return it == full->notes.end() ? QString() : it->second;
    };
    const bool pg = engine == QLatin1String("postgresql");
    t.section(QStringLiteral("%1 — %2 projects, %3 limits, %4 performances")
                  .arg(engineText, thousands(full->scale.projects), thousands(full->scale.limits), thousands(full->scale.performances)));

    // The module against a floor: medians of each side; the ratio is the
    // median of the paired ratios. Rows of measures left out are left out.
    auto versus = [&](const QString &what, const std::string &measure, const std::string &mod, const std::string &base, const QString &baseName,
                      double target, bool judged = true, const QString &targetText = QString()) {
        const std::string mk = measure + "/" + mod, bk = measure + "/" + base;
        if (!ran(mk))
            return;
        const double r = pairedRatio(samples(full, mk), samples(full, bk));
        t.row(what, formatSeconds(med(mk)), baseName + QLatin1Char(' ') + formatSeconds(med(bk)), formatRatio(r),
              targetText.isEmpty() ? QStringLiteral("≤ %1×").arg(target) : targetText, r > 0 && r <= target, judged);
    };
    auto resets = [&](const std::string &measure) {
        const double loads = count(measure + "/loads");
        return loads > 0 ? count(measure + "/resets") / loads : -1;
    };
    const QString engineAlone = QStringLiteral("engine");
    const double resetsP = resets("project_list"), resetsL = resets("limit_list");
    versus(QStringLiteral("GetProject('') → cdsProject, %1 rows, model resets per load: %2").arg(thousands(full->scale.projects)).arg(resetsP),
           "project_list", "module", "engine", engineAlone, 1.2);
    versus(QStringLiteral("GetProjectmember('') (join), %1 rows, model resets per load: %2").arg(thousands(full->scale.limits)).arg(resetsL),
           "limit_list", "module", "engine", engineAlone, 1.2);
    if (ran("project_list/module") && ran("limit_list/module") && (resetsP != 1 || resetsL != 1))
        t.row(QStringLiteral("one model reset per load"), QString::number(resetsP), QString::number(resetsL), QString(), QStringLiteral("1"), false);
    versus(QStringLiteral("TFrmProject offscreen: create, show, first paint of the grid"), "window", "module", "engine",
           QStringLiteral("engine (its %1 statements)").arg(count("window/statements")), 1.5);
    versus(QStringLiteral("search dialog as the performance window opens it (every status, %1 excluded): show, search, grid painted; "
                          "%2 found, %3 shown")
               .arg(thousands(full->scale.exclusions), thousands(count("dialog/found")), thousands(count("dialog/shown"))),
           "dialog", "module", "engine", QStringLiteral("engine (its %1 statements)").arg(count("dialog/statements")), 1.5);
    versus(QStringLiteral("catalogue search with the 所属项目 column (all %1 holdings read in its round trip, matched in memory): %2 found, %3 of "
                          "them held")
               .arg(thousands(count("holders/holdings")), thousands(count("holders/found")), thousands(count("holders/held"))),
           "holders", "with", "without", QStringLiteral("the same search without it"), 1.1);
    const QString pass = QStringLiteral("one pass reading PRODUCTCODE");
    versus(QStringLiteral("search dialog: Ctrl+A over %1 rows, grid repainted (the key's handling alone: %2)")
               .arg(thousands(count("select/rows")), formatSeconds(med("select/ctrl_a_key"))),
           "select", "ctrl_a", "pass", pass, 3);
    versus(QStringLiteral("search dialog: OK with %1 rows selected (codes as comma text)").arg(thousands(count("select/rows"))), "select", "ok",
           "pass", pass, 3);
    {
        const QString how = note("add/path") == QLatin1String("AddProducts")
                                ? QStringLiteral("TFrmProductProject::AddProducts")
                                : QStringLiteral("the add button's loop (brepeat + InsertProduct each), then the list reload");
        versus(QStringLiteral("%1 performances added: %2").arg(thousands(count("add/codes")), how), "add", "module", "engine",
               QStringLiteral("engine, its %1 statements in one transaction").arg(thousands(count("add/statements"))), 1.5);
    }
    versus(QStringLiteral("%1 selected performances deleted (ToolButton2, confirmed), list reloaded").arg(thousands(count("delete/rows"))), "delete",
           "module", "engine", QStringLiteral("engine, its %1 statements in one transaction").arg(thousands(count("delete/statements"))), 1.5);
    versus(QStringLiteral("copy of a project with %1 limits (复制项目…: ActCopy on its row, dialog answered OK, CopyPro, both lists reloaded)")
               .arg(thousands(count("copy/limits"))),
           "copy", "module", "engine", QStringLiteral("engine, its %1 statements in one transaction").arg(thousands(count("copy/statements"))), 1.5);
    versus(QStringLiteral("history window (Ctrl+H) on the project with the most entries: %1 of %2 entries listed, shown and painted")
               .arg(thousands(count("history_project/rows")), thousands(count("history/entries"))),
           "history_project", "module", "engine", engineAlone, 1.5);
    versus(QStringLiteral("history window on all projects: the newest %1 of %2 entries listed, shown and painted")
               .arg(thousands(count("history_all/rows")), thousands(count("history/entries"))),
           "history_all", "module", "engine", engineAlone, 1.5);
    versus(QStringLiteral("history cost: 1,000 performances added (AddProducts, one transaction), with the history"), "history_add", "with",
           "without", QStringLiteral("the same without its %1 history triggers").arg(count("history_add/triggers")), 1.2);
    versus(QStringLiteral("history cost: 100 project edits (EdtPro, each its own transaction), with the history"), "history_edit", "with", "without",
           QStringLiteral("the same without its %1 history triggers").arg(count("history_edit/triggers")), 1.2);
    versus(QStringLiteral("history cost as the operator waits for it: one project edit saved from the project window (EdtPro, then GetProject with the "
                          "search text that found it), with the history"),
           "history_save", "with", "without", QStringLiteral("the same without its %1 history triggers").arg(count("history_save/triggers")), 1.2,
           false);
    versus(QStringLiteral("conflict check on one project edit saved from the project window (the row read under its lock, then EdtPro, in one "
                          "transaction; then GetProject with the search text that found it)"),
           "edit_check", "checked", "plain", QStringLiteral("EdtPro alone, then the same GetProject"), 1.2, false);
    versus(QStringLiteral("(floor) the same 1,000 adds' statements on the engine alone, in one transaction, with one more row per performance "
                          "(the entry's text) in a table without indexes"),
           "history_add", "floor_entry", "floor_plain", QStringLiteral("the same without those rows"), 1.2, false);
    // The time those rows add, put on the module's own write without history.
    const auto onModule = [&](const std::string &measure) {
        const double base = med(measure + "/without"), extra = med(measure + "/floor_indexed") - med(measure + "/floor_plain");
        return base > 0 ? QStringLiteral("; added to the module's write without history: %1").arg(formatRatio((base + extra) / base)) : QString();
    };
    versus(QStringLiteral("(floor) the same, the rows inserted straight into the history table (its key, its two indexes, its size)%1")
               .arg(onModule("history_add")),
           "history_add", "floor_indexed", "floor_plain", QStringLiteral("the same without those rows"), 1.2, false);
    versus(QStringLiteral("(floor) the same 100 edits' statements on the engine alone, each its own transaction, with one more row (the entry's "
                          "text) in a table without indexes"),
           "history_edit", "floor_entry", "floor_plain", QStringLiteral("the same without that row"), 1.2, false);
    versus(QStringLiteral("(floor) the same, the row inserted straight into the history table (its key, its two indexes, its size)%1")
               .arg(onModule("history_edit")),
           "history_edit", "floor_indexed", "floor_plain", QStringLiteral("the same without that row"), 1.2, false);
    versus(QStringLiteral("(floor) Qt's own window for the history: a bare QDialog of its size whose QTableView shows the same %1 rows, already "
                          "in memory (no statement), shown and painted; above 0.5× the statement, 1.5× is out of reach")
               .arg(thousands(count("history_project/rows"))),
           "history_project", "qt_floor", "engine", engineAlone, 0.5, false);
    versus(QStringLiteral("limit dialog: getpromemberinfo fills %1 projects, dialog shown and painted").arg(thousands(count("limit_dialog/projects"))),
           "limit_dialog", "module", "engine", engineAlone, 1.5);
    if (ran("dropdown/module")) {
        const double m = med("dropdown/module");
        t.row(QStringLiteral("limit dialog: project drop-down (%1 items) opened until painted").arg(thousands(count("dropdown/items"))),
              formatSeconds(m), QString(), QString(), QStringLiteral("≤ 50 ms"), m > 0 && m <= 0.050);
    }
    // Loosely judged: the client pays once for Qt, fonts and its package,
    // which the shell never loads; at this scale the loads must dominate.
    versus(QStringLiteral("cold start: qelclient --screenshot until the main window is drawn and saved"), "cold", "module", "engine",
           QStringLiteral("%1 on the same %2 statements").arg(note("cold/shell"), QString::number(count("cold/statements"))), 2);
    versus(QStringLiteral("bhavepromem through a newly created pipe, per call"), "conflict", "module", "engine", engineAlone, 1.2, pg,
           pg ? QString() : QStringLiteral("(PostgreSQL only)"));
    if (c.has(p + "memory")) {
        const double heap = c.counter(p + "memory", "heap_bytes"), used = c.counter(p + "memory", "bytes_used");
        const double text = c.counter(p + "memory", "text_bytes");
        const double r = text > 0 ? heap / text : 0;
        t.row(QStringLiteral("memory of cdsProject, %1 projects (heap growth; bytesUsed %2)").arg(thousands(c.counter(p + "memory", "rows")), formatBytes(used)),
              formatBytes(heap), QStringLiteral("text ") + formatBytes(text), formatRatio(r), QStringLiteral("≤ 3×"), r > 0 && r <= 3);
    }
    if (c.has(p + "peak_rss")) {
        const double before = c.counter(p + "peak_rss", "before"), peak = c.counter(p + "peak_rss", "peak");
        const double text = c.counter(p + "peak_rss", "text");
        const double r = text > 0 ? (peak - before) / text : 0;
        t.row(QStringLiteral("resident memory of a client opening the search dialog (%1 found): peak %2, %3 before the dialog")
                  .arg(thousands(c.counter(p + "peak_rss", "rows")), formatBytes(peak), formatBytes(before)),
              formatBytes(peak - before), QStringLiteral("text ") + formatBytes(text), formatRatio(r), QStringLiteral("(reported)"), true, false);
    }
    if (c.has(p + "window/scroll")) {
        const double repaints = c.counter(p + "window/scroll", "repaints", -1);
        const double missed = c.counter(p + "window/scroll", "missed_last_row", 0);
        t.row(QStringLiteral("scroll to the last row (Ctrl+End), grid repaints"),
              QStringLiteral("%1 in %2").arg(repaints).arg(formatSeconds(c.median(p + "window/scroll"))), QString(), QString(),
              QStringLiteral("1 repaint"), repaints == 1 && missed == 0);
    }

    {
        const QString load = QStringLiteral("the load it follows (GetProjectmember, repainted)");
        versus(QStringLiteral("limit list, %1 rows: a click on 演出项目 sorts it in pinyin order, grid repainted").arg(thousands(count("limit_sort/rows"))),
               "limit_sort", "sort_text", "load", load, 1.5);
        versus(QStringLiteral("limit list, %1 rows: a click on 限购数量 sorts it by number, grid repainted").arg(thousands(count("limit_sort/rows"))),
               "limit_sort", "sort_number", "load", load, 1.5);
        for (const auto &[kind, label] : {std::pair<std::string, QString>{"xlsx", QStringLiteral("Excel (.xlsx)")}, {"csv", QStringLiteral("CSV")}}) {
            if (!ran("export/" + kind))
                continue;
            const double m = med("export/" + kind);
            t.row(QStringLiteral("project list, %1 rows as shown, exported to %2 (%3)")
                      .arg(thousands(count("export/rows")), label, formatBytes(count("export/" + kind + "_bytes"))),
                  formatSeconds(m), QString(), QString(), QStringLiteral("≤ 2 s"), m > 0 && m <= 2.0);
        }
        const QString plain = QStringLiteral("plain QPainter loop to a QPrinter PDF");
        versus(QStringLiteral("project list, %1 rows as shown, printed to PDF (导出为 PDF…, %2)").arg(thousands(count("print/rows")), formatBytes(count("print/pdf_bytes"))),
               "print", "pdf", "plain", plain, 1.5);
        if (ran("print/pdf") && ran("print/pdf_small")) {
            // The same list cut to its first rows: what grows faster than the rows shows here.
            const double a = med("print/pdf_small"), b = med("print/pdf"), pa = med("print/plain_small"), pb = med("print/plain");
            const double rows = count("print/rows") / std::max(1.0, count("print/rows_small"));
            const double r = a > 0 ? b / a : 0;
            t.row(QStringLiteral("print to PDF: %1 → %2 rows").arg(thousands(count("print/rows_small")), thousands(count("print/rows"))),
                  formatSeconds(a) + QStringLiteral(" → ") + formatSeconds(b), pa > 0 ? QStringLiteral("plain %1").arg(formatRatio(pb / pa)) : QString(),
                  formatRatio(r), QStringLiteral("≤ %1").arg(rows * 1.1), r > 0 && r <= rows * 1.1);
        }
    }

    if (tenth) {
        // Across the two data sets: the median call at each size.
        auto linear = [&](const QString &what, const std::string &key, const std::string &baseKey, const QString &baseName, const QString &sizes) {
            const double a = medianOf(samples(tenth, key)), b = medianOf(samples(full, key));
            if (a <= 0 || b <= 0)
                return;
            const double ra = medianOf(samples(tenth, baseKey)), rb = medianOf(samples(full, baseKey));
            const double r = b / a;
            t.row(QStringLiteral("linear, %1: %2").arg(what, sizes), formatSeconds(a) + QStringLiteral(" → ") + formatSeconds(b),
                  ra > 0 && rb > 0 ? QStringLiteral("%1 %2").arg(baseName, formatRatio(rb / ra)) : QString(), formatRatio(r), QStringLiteral("≤ 11"),
                  r <= 11);
        };
        const QString projects = QStringLiteral("%1 → %2 projects").arg(tenth->scale.label, full->scale.label);
        const QString engineF = QStringLiteral("engine");
        linear(QStringLiteral("GetProject"), "project_list/module", "project_list/engine", engineF, projects);
        linear(QStringLiteral("GetProjectmember"), "limit_list/module", "limit_list/engine", engineF, projects);
        linear(QStringLiteral("catalogue search (actRetrieveExecute)"), "search/module", "search/engine", engineF, projects);
        linear(QStringLiteral("main window open"), "window/module", "window/engine", engineF, projects);
        linear(QStringLiteral("search dialog open"), "dialog/module", "dialog/engine", engineF, projects);
        const QString rows = QStringLiteral("%1 → %2 rows").arg(thousands(count("select/rows", tenth)), thousands(count("select/rows")));
        linear(QStringLiteral("Ctrl+A"), "select/ctrl_a", "select/pass", QStringLiteral("pass"), rows);
        linear(QStringLiteral("OK"), "select/ok", "select/pass", QStringLiteral("pass"), rows);
        linear(QStringLiteral("limit dialog fill and show"), "limit_dialog/module", "limit_dialog/engine", engineF, projects);
    }

    versus(QStringLiteral("(copy: CopyPro and the same reload alone, without the window and its dialog)"), "copy", "data", "engine", engineAlone, 0,
           false, QStringLiteral("—"));
    // For reading the rows above, never judged: the catalogue query alone,
    // the naive client (every cell into a QVariant) and the Qt SQL peer.
    versus(QStringLiteral("(catalogue search alone, actRetrieveExecute, released performances: %1 found, %2 shown)")
               .arg(thousands(count("search/found")), thousands(count("search/shown"))),
           "search", "module", "engine", engineAlone, 0, false, QStringLiteral("—"));
    for (const auto &[measure, label] : {std::pair<std::string, QString>{"project_list", QStringLiteral("GetProject")},
                                         {"limit_list", QStringLiteral("GetProjectmember")},
                                         {"search", QStringLiteral("catalogue search")}}) {
        versus(QStringLiteral("(%1 vs the naive client: every cell into a QVariant)").arg(label), measure, "module", "naive",
               QStringLiteral("naive client"), 0, false, QStringLiteral("—"));
    }
    for (const auto &[measure, label] : {std::pair<std::string, QString>{"project_list", QStringLiteral("GetProject")},
                                         {"limit_list", QStringLiteral("GetProjectmember")}}) {
        const std::string mk = measure + "/module", qk = measure + "/qsql";
        if (!ran(mk) || !ran(qk))
            continue;
        const double speed = pairedRatio(samples(full, qk), samples(full, mk));
        t.row(QStringLiteral("(%1 vs QSqlQueryModel: fetchMore to the end, data() of every cell)").arg(label), formatSeconds(med(mk)),
              QStringLiteral("QSqlQueryModel ") + formatSeconds(med(qk)), formatRatio(speed) + QStringLiteral(" faster"), QStringLiteral("—"), true, false);
    }
}

QString cpuName()
{
    QFile f(QStringLiteral("/proc/cpuinfo"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
    return QStringLiteral("unknown CPU");
}

} // namespace bench
