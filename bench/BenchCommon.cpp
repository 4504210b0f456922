#include "BenchCommon.h"
#include <Database.h>
#include <SqlText.h>
#include "BenchUi.h"
#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QRegularExpression>
#include <chrono>
#include <iostream>

namespace bench {

CountingPresenter g_presenter;

void say(const QString &s)
{
    std::cerr << "[qelbench] " << s.toStdString() << std::endl;
}

void pressKey(QWidget *w, Qt::Key key, Qt::KeyboardModifiers mods)
{
    QKeyEvent down(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(w, &down);
    QKeyEvent up(QEvent::KeyRelease, key, mods);
    QApplication::sendEvent(w, &up);
}

// Maps 宋体 to an installed Song/Ming face, as qelclient does.
void mapFonts()
{
    QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
                                                       QStringLiteral("Noto Serif CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"));
}

// ---- statements -------------------------------------------------------------------

// Transaction control is the client's own business: a floor replays the data
// statements only, in one transaction of its own where it writes.
bool isTransactionControl(const QString &sql)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(begin|commit|rollback|savepoint|release|end)\\b"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re.match(sql).hasMatch();
}

bool isQuery(const QByteArray &sql)
{
    const QByteArray head = sql.trimmed().left(6).toLower();
    return head.startsWith("select") || head.startsWith("with");
}

// Every data statement a pipe sent while f ran.
std::vector<QByteArray> record(const std::function<void()> &f)
{
    QStringList seen;
    Database::setTraceHook([&seen](const QString &, const QString &sql) { seen << sql; });
    try {
        f();
    } catch (...) {
        Database::setTraceHook({});
        throw;
    }
    Database::setTraceHook({});
    std::vector<QByteArray> out;
    for (const QString &q : seen)
        if (!isTransactionControl(q))
            out.push_back(q.toUtf8());
    return out;
}

// The engine alone on recorded statements: queries stepped to the end with
// every cell fetched and nothing kept, the others executed.
void replay(RawEngine &raw, const std::vector<QByteArray> &sqls)
{
    for (const QByteArray &q : sqls) {
        if (isQuery(q))
            benchmark::DoNotOptimize(raw.touch(q));
        else
            raw.exec(q);
    }
}

QByteArray beginSql(const Env &env)
{
    // As the host begins: SQLite takes the write lock up front.
    return env.engine == QLatin1String("sqlite") ? QByteArray("BEGIN IMMEDIATE") : QByteArray("BEGIN");
}

void replayInOneTransaction(Env &env, const std::vector<QByteArray> &sqls)
{
    env.raw->exec(beginSql(env));
    try {
        replay(*env.raw, sqls);
    } catch (...) {
        env.raw->exec("ROLLBACK");
        throw;
    }
    env.raw->exec("COMMIT");
}

// Assignments made and removed behind the module's back, between measured calls.
void unassign(Env &env, const QString &project)
{
    env.raw->exec(QByteArray("DELETE FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = ") + project.toUtf8());
}

void assign(Env &env, const QString &project, const QStringList &codes)
{
    env.raw->exec(beginSql(env));
    for (qsizetype i = 0; i < codes.size(); i += 1000) {
        QString sql = QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) VALUES ");
        for (qsizetype j = i; j < std::min(codes.size(), i + 1000); ++j)
            sql += (j > i ? QStringLiteral(",(") : QStringLiteral("(")) + project + QLatin1Char(',') + QuotedStr(codes[j]) + QLatin1Char(')');
        env.raw->exec(sql.toUtf8());
    }
    env.raw->exec("COMMIT");
}

qint64 assignedCount(Env &env, const QString &project)
{
    std::vector<QVariant> cells;
    env.raw->query(QByteArray("SELECT COUNT(*) FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = ") + project.toUtf8(), cells);
    return cells.empty() ? -1 : cells[0].toLongLong();
}

// ---- windows ------------------------------------------------------------------------

TFrmProject *openWindow()
{
    auto *w = new TFrmProject();
    FrmProject = w;
    w->SetContext(BenchContext());
    return w;
}

// The catalogue search as the performance window opens it: every status, the
// project's own codes excluded; shown non-modally so the bench keeps control.
// Returns once the grid has painted.
QPointer<TUISearchProduct_pro> openSearchDialog(const Env &env, bool &painted)
{
    QPointer<TUISearchProduct_pro> dlg = new TUISearchProduct_pro();
    UISearchProduct_pro = dlg.data();
    dlg->SnapIn->SetContext(BenchContext());
    dlg->AllStatus = true;
    dlg->ExcludeProducts = env.exclusionText;
    PaintCounter paints(dlg->dgrd_Product->viewport());
    dlg->show();
    painted = spinUntil([&] { return paints.count > 0; }) && painted;
    return dlg;
}

QPointer<TFrmProductProject> openProductWindow(const QString &project)
{
    QPointer<TFrmProductProject> w = new TFrmProductProject();
    FrmProductProject = w.data();
    w->Context = BenchContext();
    w->ProjectID = project;
    PaintCounter paints(w->dgrproduct->viewport());
    w->show();
    spinUntil([&] { return paints.count > 0; });
    settle();
    return w;
}

void fillLimitDialog(Env &env, LimitDialog &d)
{
    d.dlg = std::make_unique<TFormprojectinfo>();
    d.dlg->setWindowTitle(QStringLiteral("新增项目限购"));
    env.cd->getpromemberinfo(d.dlg->cbbproject, d.dlg->cbbmemberclassname, d.projectIds, d.memberIds);
    d.dlg->cbbproject->setCurrentIndex(-1);
    d.dlg->cbbmemberclassname->setCurrentIndex(-1);
    d.dlg->cbblimit_type->setCurrentIndex(0);
    d.dlg->ckbenable->setChecked(true);
}

bool showLimitDialog(LimitDialog &d)
{
    PaintCounter dialog(d.dlg.get()), box(d.dlg->cbbproject);
    d.dlg->show();
    return spinUntil([&] { return dialog.count > 0 && box.count > 0; });
}

// ---- the benchmarks ----------------------------------------------------------------

double timedCall(const std::function<void()> &f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void bmRotation(benchmark::State &st, Env *env, const std::string &measure, const std::vector<Contender> &cs)
{
    double &turn = env->counts[measure + "/turn"];
    const Collect collect;
    for (auto _ : st) {
        const size_t first = size_t(turn++);
        for (size_t k = 0; k < cs.size(); ++k) {
            const Contender &c = cs[(first + k) % cs.size()];
            if (c.before)
                c.before();
            env->samples[measure + "/" + c.name].push_back(timedCall(c.run));
            if (c.after)
                c.after();
        }
    }
}

} // namespace bench
