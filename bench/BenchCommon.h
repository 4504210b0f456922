#pragma once
// What the measures share: the data set of a group and its recorded
// statements, replaying them on the engine alone, the windows as the module
// opens them, and the rotation that times contenders side by side.
#include "Baselines.h"
#include "BenchData.h"
#include <Dialogs.h>
#include <Unitprojectinfo.h>
#include <uCDProductProject.h>
#include <uCDProject.h>
#include <uCDSearchproduct_pro.h>
#include <uUIProductProject.h>
#include <uUIProject.h>
#include <uUISearchProduct_pro.h>
#include <QByteArray>
#include <QDate>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <benchmark/benchmark.h>
#include <valgrind/callgrind.h>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class Collector;
class Table;
class TQELDataSource;

namespace bench {

// One data set on one engine, and everything the benchmarks over it use.
struct Env {
    QString engine; // "sqlite" or "postgresql"
    Scale scale;
    bool top = false; // the largest data set of its engine in this run
    QString url;
    QDate anchor;
    std::string prefix; // "sqlite/100k/"
    DataSetFacts facts;
    // Alive only while this data set's group runs.
    std::unique_ptr<RawEngine> raw;
    std::unique_ptr<QtSqlPeer> peer;
    std::unique_ptr<TCDProject> cd;
    std::unique_ptr<TcdProductProject> pp;
    std::unique_ptr<TCDSearchProduct_pro> search;
    QString exclusionText; // the exclusion project's codes, as comma text
    // The statements the module sends, recorded through the trace hook.
    QByteArray projectSql, limitSql;
    std::vector<QByteArray> searchSql, windowSql, dialogSql, limitDialogSql, conflictSql, addSql, deleteSql, historyProjectSql, historyAllSql;
    qint64 projectTextBytes = 0;
    // Seconds per call of every contender ("limit_list/engine"), in the order
    // taken: the i-th samples of one measure's contenders are one pair.
    std::map<std::string, std::vector<double>> samples;
    std::map<std::string, double> counts;
    std::map<std::string, QString> notes;
};

// Answers every message at once: Yes to confirmations, OK to the rest, which
// are counted, since none should come up while measuring.
class CountingPresenter : public MessagePresenter {
public:
    int present(MessageKind kind, const QString &text, const QString &, int) override
    {
        if (kind == MessageKind::Confirm) {
            ++confirms;
            return mrYes;
        }
        ++count;
        last = text;
        return 1;
    }
    int count = 0, confirms = 0;
    QString last;
};
extern CountingPresenter g_presenter;

// Under valgrind --tool=callgrind --collect-atstart=no, only the measured
// loops are counted; a no-op otherwise.
struct Collect {
    Collect() { CALLGRIND_TOGGLE_COLLECT; }
    ~Collect() { CALLGRIND_TOGGLE_COLLECT; }
};

// The window's bulk add where it has one; until then the loop its add button
// runs after the search dialog (brepeat + InsertProduct each), then its reload.
template <class W>
concept AddsProducts = requires(W *w, const QStringList &codes) { w->AddProducts(codes); };

template <class W>
void addTheWindowsWay(W *w, const QStringList &codes)
{
    if constexpr (AddsProducts<W>) {
        w->AddProducts(codes);
    } else {
        for (const QString &code : codes) {
            QString name;
            if (cdProductProject->brepeat(code, name))
                ShowWarningMessage(QStringLiteral("演出: ") + name + QStringLiteral("已被其他项目使用！"), QStringLiteral("警告"));
            else
                cdProductProject->InsertProduct(w->ProjectID, code);
        }
        cdProductProject->GetProductProject(w->EdtProductName->text());
    }
}

// The limit dialog as TFrmProject::insertlimit fills it before it is shown.
struct LimitDialog {
    std::unique_ptr<TFormprojectinfo> dlg;
    QStringList projectIds, memberIds;
};

// One measure, several contenders: every iteration times each contender once,
// in an order that rotates from iteration to iteration (across calls too), so
// that all of them meet the same machine. before() and after() run untimed.
struct Contender {
    std::string name;
    std::function<void()> run;
    std::function<void()> after;
    std::function<void()> before;
};

void say(const QString &s);
void pressKey(QWidget *w, Qt::Key key, Qt::KeyboardModifiers mods);
// Maps 宋体 to an installed Song/Ming face, as qelclient does.
void mapFonts();

// ---- statements
bool isTransactionControl(const QString &sql);
bool isQuery(const QByteArray &sql);
// Every data statement a pipe sent while f ran.
std::vector<QByteArray> record(const std::function<void()> &f);
// The engine alone on recorded statements: queries stepped to the end with
// every cell fetched and nothing kept, the others executed.
void replay(RawEngine &raw, const std::vector<QByteArray> &sqls);
QByteArray beginSql(const Env &env);
void replayInOneTransaction(Env &env, const std::vector<QByteArray> &sqls);
// Assignments made and removed behind the module's back, between measured calls.
void unassign(Env &env, const QString &project);
void assign(Env &env, const QString &project, const QStringList &codes);
qint64 assignedCount(Env &env, const QString &project);

// ---- windows
TFrmProject *openWindow();
// The catalogue search as the performance window opens it; returns once the grid has painted.
QPointer<TUISearchProduct_pro> openSearchDialog(const Env &env, bool &painted);
QPointer<TFrmProductProject> openProductWindow(const QString &project);
void fillLimitDialog(Env &env, LimitDialog &d);
bool showLimitDialog(LimitDialog &d);

// ---- timing
double timedCall(const std::function<void()> &f);
void bmRotation(benchmark::State &st, Env *env, const std::string &measure, const std::vector<Contender> &cs);

// ---- the measures, by file
// BenchLoads.cpp
void bmList(benchmark::State &st, Env *env, const std::string &measure, const QByteArray *sql, const std::function<void()> &load,
            TQELDataSource *source);
void bmMemory(benchmark::State &st, Env *env);
// BenchSearch.cpp
void bmSearch(benchmark::State &st, Env *env);
void bmHolders(benchmark::State &st, Env *env);
void bmSearchDialog(benchmark::State &st, Env *env);
void bmSelect(benchmark::State &st, Env *env);
void bmPeakRss(benchmark::State &st, Env *env);
int childSearchRss(int argc, char **argv);
// BenchCommands.cpp
void bmConflict(benchmark::State &st, Env *env);
void bmAdd(benchmark::State &st, Env *env);
void bmDelete(benchmark::State &st, Env *env);
void bmEditCheck(benchmark::State &st, Env *env);
void bmCopy(benchmark::State &st, Env *env);
// BenchHistory.cpp
enum class HistoryWrite { Adds, Edits, Save };
void bmHistoryWindow(benchmark::State &st, Env *env, bool all);
void bmHistoryCost(benchmark::State &st, Env *env, HistoryWrite kind);
// BenchWindows.cpp
void bmWindow(benchmark::State &st, Env *env);
void bmWindowScroll(benchmark::State &st, Env *);
void bmLimitDialog(benchmark::State &st, Env *env);
void bmDropDown(benchmark::State &st, Env *env);
void bmLimitSort(benchmark::State &st, Env *env);
void bmCold(benchmark::State &st, Env *env);
// BenchExport.cpp
void bmExport(benchmark::State &st, Env *env);
void bmPrint(benchmark::State &st, Env *env);
// BenchTable.cpp
QString thousands(double n);
void fillTable(Table &t, const Collector &c, const std::vector<Env *> &envs, const QString &engine, const QString &engineText);
QString cpuName();

} // namespace bench
