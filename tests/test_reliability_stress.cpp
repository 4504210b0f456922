// Several desks at once: eight qelstress processes work one database through
// the data modules; afterwards every rule holds and every acknowledged write
// is still there. Also the race a desk can lose, played out deterministically.
#include "Database.h"
#include "Errors.h"
#include "HistoryReplay.h"
#include "HostError.h"
#include "Pipe.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "stress/StressLog.h"
#include "uCDProductProject.h"
#include "uCDProject.h"
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <thread>

namespace {

const QString kCtx = QStringLiteral("01\rG01\r测试\rA\r\r\r\r");

// The final state of the three tables the module writes.
struct Snapshot {
    struct Project {
        QString name;
        int d = 0, t = 0, p = 0;
    };
    struct Limit {
        QString type, max, enable;
    };
    QHash<QString, Project> projects;                // ID
    QHash<QPair<QString, QString>, Limit> limits;    // (PID, MEMBER_CLASS_ID)
    QHash<QString, QString> assignments;             // PRODUCTCODE -> PROJECTID

    explicit Snapshot(TestDatabase &db)
    {
        DataPacket p = db.query(QStringLiteral("select ID, CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM from QEL_PROJECT"));
        for (int r = 0; r < p.rowCount(); ++r)
            projects.insert(p.text(r, 0), {p.text(r, 1), int(p.integer(r, 2)), int(p.integer(r, 3)), int(p.integer(r, 4))});
        p = db.query(QStringLiteral("select PID, MEMBER_CLASS_ID, limit_type, MAX_NUM, enable from qel_project_member_limit"));
        for (int r = 0; r < p.rowCount(); ++r)
            limits.insert({p.text(r, 0), p.text(r, 1)}, {p.text(r, 2), p.text(r, 3), p.text(r, 4)});
        p = db.query(QStringLiteral("select PRODUCTCODE, PROJECTID from QEL_PROJECT_PRODUCT"));
        for (int r = 0; r < p.rowCount(); ++r)
            assignments.insert(p.text(r, 0), p.text(r, 1));
    }
};

// Checks each acknowledged write against the final state. A write is checked
// only when no other write that could undo it (acknowledged, or cut off by a
// lost connection, by any desk) ended after it started: such writes either
// happened before it or raced it, and only the former is certain.
class AckChecker {
public:
    explicit AckChecker(std::vector<stress::Op> ops) : m_ops(std::move(ops))
    {
        // The IDs the desks looked up right after their inserts.
        for (const stress::Op &o : m_ops)
            if (o.op == QLatin1String("ID"))
                m_ids.insert(o.arg(0), o.arg(1));
        for (const stress::Op &o : m_ops)
            if (o.op == QLatin1String("PD") && o.mayHaveApplied())
                m_deleted.insert(o.arg(0));
    }

    int verified = 0, overwritten = 0, raced = 0;
    // Acknowledged assignments found in place, for the checker's own test.
    QList<QPair<QString, QString>> assignmentsFound;
    QStringList violations;

    void check(const Snapshot &s)
    {
        for (const stress::Op &w : m_ops) {
            if (!w.acked())
                continue;
            const QString &op = w.op;
            if (op == QLatin1String("P+"))
                projectCreated(w, s);
            else if (op == QLatin1String("PE"))
                projectEdited(w, s);
            else if (op == QLatin1String("PD"))
                expect(w, !s.projects.contains(w.arg(0)), QStringLiteral("deleted project is back"));
            else if (op == QLatin1String("L+"))
                limitWritten(w, s, w.arg(0), w.arg(1), w.arg(2), w.arg(3), w.arg(4), QString());
            else if (op == QLatin1String("LE"))
                limitWritten(w, s, w.arg(0), w.arg(2), w.arg(3), w.arg(4), w.arg(5), w.arg(1));
            else if (op == QLatin1String("L-"))
                limitDeleted(w, s);
            else if (op == QLatin1String("A+"))
                assigned(w, s);
            else if (op == QLatin1String("A-"))
                unassigned(w, s);
        }
    }

private:
    // Whether another write that may have taken effect (and could undo w)
    // ended after w started: later (after w ended) or racing (overlapping).
    bool superseded(const stress::Op &w, const std::function<bool(const stress::Op &)> &touches)
    {
        bool later = false, racing = false;
        for (const stress::Op &o : m_ops) {
            if (&o == &w || !o.mayHaveApplied() || o.end <= w.start || !touches(o))
                continue;
            if (o.start >= w.end)
                later = true;
            else
                racing = true;
        }
        if (racing)
            ++raced;
        else if (later)
            ++overwritten;
        return racing || later;
    }
    void expect(const stress::Op &w, bool ok, const QString &what)
    {
        ++verified;
        if (!ok)
            violations << QStringLiteral("desk %1 #%2 %3 %4: %5").arg(w.desk).arg(w.seq).arg(w.op, w.args.join(QLatin1Char(' ')), what);
    }
    static bool isOp(const stress::Op &o, const char *name) { return o.op == QLatin1String(name); }

    void projectCreated(const stress::Op &w, const Snapshot &s)
    {
        const QString id = m_ids.value(w.arg(0), QStringLiteral("-1"));
        const auto touches = [&](const stress::Op &o) { return (isOp(o, "PE") || isOp(o, "PD")) && o.arg(0) == id; };
        if (id == QLatin1String("-1")) {
            ++raced;
            return;
        }
        if (superseded(w, touches))
            return;
        const auto it = s.projects.constFind(id);
        expect(w, it != s.projects.cend() && it->name == w.arg(0) && it->d == w.arg(1).toInt() && it->t == w.arg(2).toInt() && it->p == w.arg(3).toInt(),
               QStringLiteral("new project missing or changed"));
    }

    void projectEdited(const stress::Op &w, const Snapshot &s)
    {
        const QString id = w.arg(0);
        const auto touches = [&](const stress::Op &o) { return (isOp(o, "PE") || isOp(o, "PD")) && o.arg(0) == id; };
        if (superseded(w, touches))
            return;
        const auto it = s.projects.constFind(id);
        if (it == s.projects.cend()) {
            // An edit of a project deleted earlier changes nothing: only a delete explains its absence.
            expect(w, m_deleted.contains(id), QStringLiteral("edited project vanished without a delete"));
            return;
        }
        expect(w, it->name == w.arg(1) && it->d == w.arg(2).toInt() && it->t == w.arg(3).toInt() && it->p == w.arg(4).toInt(),
               QStringLiteral("edited project lost its values"));
    }

    static bool touchesLimit(const stress::Op &o, const QString &pid, const QString &mc)
    {
        if (isOp(o, "PD"))
            return o.arg(0) == pid;
        if (o.arg(0) != pid)
            return false;
        if (isOp(o, "L+") || isOp(o, "L-"))
            return o.arg(1) == mc;
        if (isOp(o, "LE"))
            return o.arg(1) == mc || o.arg(2) == mc;
        return false;
    }

    void limitWritten(const stress::Op &w, const Snapshot &s, const QString &pid, const QString &mc, const QString &type, const QString &max,
                      const QString &enable, const QString &movedFrom)
    {
        const bool moved = isOp(w, "LE") && movedFrom != mc;
        const auto touches = [&](const stress::Op &o) { return touchesLimit(o, pid, mc) || (moved && touchesLimit(o, pid, movedFrom)); };
        if (superseded(w, touches))
            return;
        const auto it = s.limits.constFind({pid, mc});
        expect(w, it != s.limits.cend() && it->type == type && it->max.toInt() == max.toInt() && it->enable == enable,
               QStringLiteral("limit missing or changed"));
        if (moved)
            expect(w, !s.limits.contains({pid, movedFrom}), QStringLiteral("moved limit still under its old class"));
    }

    void limitDeleted(const stress::Op &w, const Snapshot &s)
    {
        const QString pid = w.arg(0), mc = w.arg(1), type = w.arg(2);
        const auto touches = [&](const stress::Op &o) {
            return o.arg(0) == pid && ((isOp(o, "L+") && o.arg(1) == mc) || (isOp(o, "LE") && o.arg(2) == mc));
        };
        if (superseded(w, touches))
            return;
        const auto it = s.limits.constFind({pid, mc});
        expect(w, it == s.limits.cend() || it->type != type, QStringLiteral("deleted limit is back"));
    }

    void assigned(const stress::Op &w, const Snapshot &s)
    {
        const QString pid = w.arg(0), code = w.arg(1);
        const auto touches = [&](const stress::Op &o) {
            return ((isOp(o, "A+") || isOp(o, "A-")) && o.arg(1) == code) || (isOp(o, "PD") && o.arg(0) == pid);
        };
        if (superseded(w, touches))
            return;
        const bool there = s.assignments.value(code) == pid;
        expect(w, there, QStringLiteral("assignment missing or moved"));
        if (there)
            assignmentsFound << qMakePair(pid, code);
    }

    void unassigned(const stress::Op &w, const Snapshot &s)
    {
        const QString pid = w.arg(0), code = w.arg(1);
        const auto touches = [&](const stress::Op &o) { return isOp(o, "A+") && o.arg(1) == code; };
        if (superseded(w, touches))
            return;
        expect(w, s.assignments.value(code) != pid, QStringLiteral("removed assignment is back"));
    }

    std::vector<stress::Op> m_ops;
    QHash<QString, QString> m_ids;
    QSet<QString> m_deleted;
};

// Each desk's writes against its history entries (its user name is 桌K):
// walking both in order, every acknowledged change has its entries (one per
// changed row, in one transaction), a refused one has none, and no entry is
// left over without a change that explains it.
class HistoryMatcher {
public:
    struct Entry {
        qint64 id = 0, txid = 0;
        QString node, group, user, kind, action, projectId, key;
        history::Fields before, after;
    };

    HistoryMatcher(const std::vector<stress::Op> &ops, TestDatabase &db, qint64 after)
    {
        const DataPacket p = db.query(QStringLiteral("SELECT ID, TXID, NODECODE, USERGROUP, USERNAME, ROW_KIND, ACTION, PROJECT_ID, ROW_KEY, BEFORE_VALUES, "
                                                     "AFTER_VALUES FROM QEL_PROJECT_HISTORY WHERE ID > %1 ORDER BY ID")
                                          .arg(after));
        std::map<int, std::vector<std::vector<Entry>>> groups; // desk -> transactions in order
        for (int r = 0; r < p.rowCount(); ++r) {
            Entry e{p.integer(r, 0), p.integer(r, 1), p.text(r, 2), p.text(r, 3), p.text(r, 4), p.text(r, 5), p.text(r, 6), p.text(r, 7), p.text(r, 8),
                    history::parseValues(p.text(r, 9)), history::parseValues(p.text(r, 10))};
            ++entries;
            if (!e.user.startsWith(QStringLiteral("桌")) || e.node != QLatin1String("01") || e.group != QLatin1String("G01")) {
                violations << QStringLiteral("entry %1 has no desk's operator: %2/%3/%4").arg(e.id).arg(e.node, e.group, e.user);
                continue;
            }
            auto &desk = groups[e.user.mid(1).toInt()];
            if (desk.empty() || desk.back().front().txid != e.txid)
                desk.emplace_back();
            desk.back().push_back(e);
        }
        std::map<int, std::vector<const stress::Op *>> writes;
        for (const stress::Op &o : ops)
            if (isWrite(o) && o.outcome != QLatin1String("check") && o.outcome != QLatin1String("read"))
                writes[o.desk].push_back(&o);
        for (auto &[desk, list] : writes) {
            std::sort(list.begin(), list.end(), [](const stress::Op *a, const stress::Op *b) { return a->seq < b->seq; });
            const std::vector<std::vector<Entry>> &mine = groups[desk];
            size_t g = 0;
            for (const stress::Op *o : list) {
                if (g < mine.size() && matches(*o, mine[g])) {
                    if (o->outcome == QLatin1String("fail"))
                        violations << QStringLiteral("desk %1 #%2 %3 was refused, yet has entries").arg(desk).arg(o->seq).arg(o->op);
                    ++matched;
                    ++g;
                } else if (o->acked() && mustWrite(*o)) {
                    violations << QStringLiteral("desk %1 #%2 %3 %4 acknowledged without its entry").arg(desk).arg(o->seq).arg(o->op, o->args.join(QLatin1Char(' ')));
                }
            }
            for (; g < mine.size(); ++g)
                violations << QStringLiteral("desk %1: entries from %2 (%3 %4) without an acknowledged change")
                                  .arg(desk)
                                  .arg(mine[g].front().id)
                                  .arg(mine[g].front().kind, mine[g].front().action);
        }
        for (const auto &[desk, mine] : groups)
            if (!writes.count(desk))
                violations << QStringLiteral("entries of desk %1, which wrote nothing").arg(desk);
    }

    int entries = 0, matched = 0;
    QStringList violations;

private:
    static bool isWrite(const stress::Op &o)
    {
        static const QStringList names = {QStringLiteral("P+"), QStringLiteral("PE"), QStringLiteral("PD"), QStringLiteral("L+"),
                                          QStringLiteral("LE"), QStringLiteral("L-"), QStringLiteral("A+"), QStringLiteral("A-")};
        return names.contains(o.op);
    }
    // The commands whose success means a row was written (the others
    // report success also when the row was already gone).
    static bool mustWrite(const stress::Op &o)
    {
        return o.op == QLatin1String("P+") || o.op == QLatin1String("L+") || o.op == QLatin1String("LE") || o.op == QLatin1String("A+");
    }
    static bool one(const std::vector<Entry> &g, const char *kind, const char *action, const QString &project)
    {
        return g.size() == 1 && g[0].kind == QLatin1String(kind) && g[0].action == QLatin1String(action) && g[0].projectId == project;
    }
    static bool same(const history::Fields &f, const char *field, const QString &value) { return f.value(QLatin1String(field)) == value; }
    static bool sameNumber(const history::Fields &f, const char *field, const QString &value)
    {
        return f.contains(QLatin1String(field)) && f.value(QLatin1String(field)).toInt() == value.toInt();
    }

    static bool matches(const stress::Op &o, const std::vector<Entry> &g)
    {
        const QString &op = o.op;
        if (op == QLatin1String("P+"))
            return g.size() == 1 && g[0].kind == QLatin1String("project") && g[0].action == QLatin1String("insert") && same(g[0].after, "CNAME", o.arg(0)) &&
                   sameNumber(g[0].after, "CROSSDISCOUNT", o.arg(1)) && sameNumber(g[0].after, "CROSTNUM", o.arg(2)) &&
                   sameNumber(g[0].after, "CROSSPNUM", o.arg(3));
        // An edit lands over the row the desk read, or is shown as a conflict.
        if (op == QLatin1String("PE"))
            return one(g, "project", "update", o.arg(0)) && same(g[0].after, "CNAME", o.arg(1)) && sameNumber(g[0].after, "CROSSDISCOUNT", o.arg(2)) &&
                   sameNumber(g[0].after, "CROSTNUM", o.arg(3)) && sameNumber(g[0].after, "CROSSPNUM", o.arg(4)) && same(g[0].before, "CNAME", o.arg(5)) &&
                   sameNumber(g[0].before, "CROSSDISCOUNT", o.arg(6)) && sameNumber(g[0].before, "CROSTNUM", o.arg(7)) &&
                   sameNumber(g[0].before, "CROSSPNUM", o.arg(8));
        if (op == QLatin1String("PD")) {
            if (g.empty() || g[0].kind != QLatin1String("project") || g[0].action != QLatin1String("delete") || g[0].projectId != o.arg(0))
                return false;
            for (size_t i = 1; i < g.size(); ++i)
                if (g[i].kind == QLatin1String("project") || g[i].action != QLatin1String("delete") || g[i].projectId != o.arg(0))
                    return false;
            return true;
        }
        if (op == QLatin1String("L+"))
            return one(g, "limit", "insert", o.arg(0)) && g[0].key == o.arg(1) && same(g[0].after, "LIMIT_TYPE", o.arg(2)) &&
                   sameNumber(g[0].after, "MAX_NUM", o.arg(3)) && same(g[0].after, "ENABLE", o.arg(4));
        if (op == QLatin1String("LE"))
            return one(g, "limit", "update", o.arg(0)) && same(g[0].before, "MEMBER_CLASS_ID", o.arg(1)) && g[0].key == o.arg(2) &&
                   same(g[0].after, "LIMIT_TYPE", o.arg(3)) && sameNumber(g[0].after, "MAX_NUM", o.arg(4)) && same(g[0].after, "ENABLE", o.arg(5)) &&
                   ((sameNumber(g[0].before, "MAX_NUM", o.arg(6)) && same(g[0].before, "LIMIT_TYPE", o.arg(7)) && same(g[0].before, "ENABLE", o.arg(8))) ||
                    (sameNumber(g[0].before, "MAX_NUM", o.arg(4)) && same(g[0].before, "LIMIT_TYPE", o.arg(3)) && same(g[0].before, "ENABLE", o.arg(5))));
        if (op == QLatin1String("L-"))
            return one(g, "limit", "delete", o.arg(0)) && g[0].key == o.arg(1) && same(g[0].before, "LIMIT_TYPE", o.arg(2));
        if (op == QLatin1String("A+"))
            return one(g, "product", "insert", o.arg(0)) && g[0].key == o.arg(1);
        if (op == QLatin1String("A-"))
            return one(g, "product", "delete", o.arg(0)) && g[0].key == o.arg(1);
        return false;
    }
};

// Every rule the module's checks keep, read straight from the tables.
void expectRulesHold(TestDatabase &db)
{
    EXPECT_EQ(db.query(QStringLiteral("select PRODUCTCODE from QEL_PROJECT_PRODUCT group by PRODUCTCODE having count(*) > 1")).rowCount(), 0)
        << "a performance is in two projects";
    EXPECT_EQ(db.query(QStringLiteral("select PID, MEMBER_CLASS_ID from qel_project_member_limit group by PID, MEMBER_CLASS_ID having count(*) > 1"))
                  .rowCount(),
              0)
        << "two limits share a project and member class";
    EXPECT_EQ(db.query(QStringLiteral("select PID from qel_project_member_limit group by PID having count(distinct limit_type) > 1")).rowCount(), 0)
        << "a project's limits mix both types";
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT_PRODUCT where PROJECTID not in (select ID from QEL_PROJECT)")), 0)
        << "assignments of a deleted project are left";
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from qel_project_member_limit where PID not in (select ID from QEL_PROJECT)")), 0)
        << "limits of a deleted project are left";
    if (!db.isPostgres()) {
        EXPECT_EQ(db.scalar(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    }
}

// Acknowledged commands that may have found their row already gone (an edit
// or delete another desk beat): they need no entry.
int refusedWithoutRow(const std::vector<stress::Op> &ops)
{
    int n = 0;
    for (const stress::Op &o : ops)
        n += o.acked() && (o.op == QLatin1String("PE") || o.op == QLatin1String("PD") || o.op == QLatin1String("L-") || o.op == QLatin1String("A-"));
    return n;
}

int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

TEST(ConcurrentDesks, EightDesksKeepEveryRuleAndLoseNoAcknowledgedWrite)
{
    TestDatabase db(true);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const int desks = envInt("QEL_STRESS_DESKS", 8);
    const int ops = envInt("QEL_STRESS_OPS", 500);
    const int seconds = envInt("QEL_STRESS_SECONDS", 60);
    const int seed = envInt("QEL_STRESS_SEED", 20240601);
    ASSERT_GE(desks, 8);
    // The demo data's entries; the desks' follow.
    const qint64 historyStart = db.scalar(QStringLiteral("select max(ID) from QEL_PROJECT_HISTORY")).toLongLong();

    QElapsedTimer timer;
    timer.start();
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int k = 1; k <= desks; ++k)
        procs.push_back(stress::startDesk({QStringLiteral("--database"), db.url(), QStringLiteral("--desk"), QString::number(k),
                                           QStringLiteral("--seed"), QString::number(seed + k), QStringLiteral("--ops"), QString::number(ops),
                                           QStringLiteral("--seconds"), QString::number(seconds), QStringLiteral("--log"),
                                           dir.filePath(QStringLiteral("desk%1.log").arg(k))}));
    for (auto &p : procs)
        ASSERT_TRUE(p->waitForStarted(10000)) << "qelstress did not start: " << p->errorString().toStdString();
    for (size_t i = 0; i < procs.size(); ++i) {
        QProcess &p = *procs[i];
        // Each desk stops by itself after its commands or its seconds.
        if (!p.waitForFinished((seconds + 60) * 1000)) {
            p.kill();
            p.waitForFinished(5000);
            ADD_FAILURE() << "desk " << i + 1 << " did not stop by itself";
        }
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "desk " << i + 1 << " crashed";
        EXPECT_EQ(p.exitCode(), 0) << "desk " << i + 1 << ": " << p.readAllStandardError().toStdString();
        std::cout << p.readAllStandardOutput().toStdString();
    }
    const double elapsed = timer.elapsed() / 1000.0;

    std::vector<stress::Op> all;
    for (int k = 1; k <= desks; ++k) {
        const std::vector<stress::Op> ops1 = stress::readLog(dir.filePath(QStringLiteral("desk%1.log").arg(k)));
        all.insert(all.end(), ops1.begin(), ops1.end());
    }
    std::map<QString, int> acked, refusedByServer;
    int checks = 0, lost = 0, typeRaces = 0, goneRaces = 0;
    std::map<std::string, int> causes;
    for (const stress::Op &o : all) {
        if (o.outcome == QLatin1String("ok"))
            ++acked[o.op];
        else if (o.outcome == QLatin1String("check"))
            ++checks;
        else if (o.outcome == QLatin1String("lost"))
            ++lost;
        else if (o.outcome == QLatin1String("fail")) {
            ++refusedByServer[o.op];
            // The desk that loses a race is told why, in Chinese first.
            EXPECT_TRUE(chineseFirst(o.detail) || o.detail == QLatin1String("no row written")) << o.detail.toStdString();
            typeRaces += o.detail.contains(QStringLiteral("同一项目的限购类型必须一致"));
            goneRaces += o.detail.contains(QStringLiteral("项目不存在"));
            if (o.detail.contains(QStringLiteral("同一项目的限购类型必须一致")))
                ++causes["type rule"];
            else if (o.detail.contains(QStringLiteral("项目不存在")))
                ++causes["project deleted meanwhile"];
            else if (o.detail.contains(QLatin1String("unique"), Qt::CaseInsensitive) || o.detail.contains(QLatin1String("duplicate")))
                ++causes["unique key"];
            else if (o.detail.contains(QStringLiteral("同时修改")))
                ++causes["deadlock or serialisation"];
            else if (o.detail.contains(QStringLiteral("占用")))
                ++causes["busy file"];
            else if (o.detail == QLatin1String("no row written"))
                ++causes["row gone meanwhile"];
            else
                ++causes["other: " + o.detail.left(40).toStdString()];
        }
    }
    EXPECT_EQ(lost, 0) << "no connection was cut in this run";
    int ackTotal = 0;
    for (const auto &[op, n] : acked)
        ackTotal += n;
    EXPECT_GE(ackTotal, desks * 20) << "the desks did too little to prove anything";

    expectRulesHold(db);
    AckChecker checker(all);
    checker.check(Snapshot(db));
    EXPECT_TRUE(checker.violations.isEmpty()) << checker.violations.mid(0, 20).join(QLatin1Char('\n')).toStdString();
    EXPECT_GE(checker.verified, desks * 10) << "too few writes could be checked";

    // The history: replayed from the start it gives exactly the tables, and
    // each desk's changes and entries pair up one to one.
    const QStringList replay = history::mismatches(db);
    EXPECT_TRUE(replay.isEmpty()) << replay.mid(0, 20).join(QLatin1Char('\n')).toStdString();
    const HistoryMatcher matcher(all, db, historyStart);
    EXPECT_TRUE(matcher.violations.isEmpty()) << matcher.violations.mid(0, 20).join(QLatin1Char('\n')).toStdString();
    EXPECT_GE(matcher.matched, ackTotal - refusedWithoutRow(all)) << "acknowledged changes without entries";
    // Both checks notice an entry gone missing.
    const QString someEntry = db.scalar(QStringLiteral("select min(ID) from QEL_PROJECT_HISTORY where ID > %1 and ROW_KIND = 'product' and ACTION = 'insert'")
                                            .arg(historyStart));
    ASSERT_FALSE(someEntry.isEmpty());
    db.execUnchecked(QStringLiteral("delete from QEL_PROJECT_HISTORY where ID = ") + someEntry); // the history refuses it otherwise
    EXPECT_FALSE(HistoryMatcher(all, db, historyStart).violations.isEmpty());
    EXPECT_FALSE(history::mismatches(db).isEmpty());

    // The check itself notices a lost write: take one verified assignment away.
    ASSERT_FALSE(checker.assignmentsFound.isEmpty());
    const auto [lostPid, lostCode] = checker.assignmentsFound.first();
    db.exec(QStringLiteral("delete from QEL_PROJECT_PRODUCT where PRODUCTCODE = '%1'").arg(lostCode));
    AckChecker again(all);
    again.check(Snapshot(db));
    EXPECT_EQ(again.violations.size(), 1) << again.violations.join(QLatin1Char('\n')).toStdString();

    // Figures for the record.
    std::cout << "engine " << (db.isPostgres() ? "postgresql" : "sqlite") << ", desks " << desks << ", seed " << seed << ", " << elapsed << " s\n"
              << "log lines " << all.size() << ", acknowledged writes " << ackTotal << ", refused by checks " << checks << ", lost " << lost << '\n';
    for (const auto &[op, n] : acked)
        std::cout << "  acknowledged " << op.toStdString() << ' ' << n << '\n';
    for (const auto &[op, n] : refusedByServer)
        std::cout << "  refused by the server " << op.toStdString() << ' ' << n << '\n';
    for (const auto &[cause, n] : causes)
        std::cout << "  refusal cause " << cause << ' ' << n << '\n';
    std::cout << "races lost to the type rule " << typeRaces << ", to a deleted project " << goneRaces << '\n'
              << "acknowledged writes verified in place " << checker.verified << ", undone by a later write " << checker.overwritten
              << ", raced by a concurrent write " << checker.raced << '\n'
              << "history entries of the desks " << matcher.entries << ", paired with their changes " << matcher.matched << std::endl;
    ::testing::Test::RecordProperty("acknowledged", ackTotal);
    ::testing::Test::RecordProperty("verified", checker.verified);
}

// ---- the race a desk can lose, step by step ------------------------------------------

class RaceTest : public ::testing::Test {
protected:
    RaceTest()
    {
        cd.Context = kCtx;
        pp.Context = kCtx;
    }
    void SetUp() override
    {
        db.exec(QStringLiteral("insert into um_member_class values ('M1', '金卡')"));
        db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('春季音乐节')"));
        pid = db.scalar(QStringLiteral("select ID from QEL_PROJECT where CNAME = '春季音乐节'"));
    }
    // Runs rival on another desk's connection just before the first statement
    // that starts with prefix leaves this desk: the window between check and write.
    void beforeStatement(const QString &prefix, std::function<void(Backend &)> rival)
    {
        Database::setTraceHook([this, prefix, rival](const QString &, const QString &sql) {
            if (!fired && sql.startsWith(prefix, Qt::CaseInsensitive)) {
                fired = true;
                rival(other());
            }
        });
    }
    Backend &other()
    {
        if (!m_other)
            m_other = Database::connect(db.url());
        return *m_other;
    }
    void TearDown() override { Database::setTraceHook({}); }

    TestDatabase db;
    TCDProject cd;
    TcdProductProject pp;
    QString pid;
    bool fired = false;
    std::unique_ptr<Backend> m_other;
};

TEST_F(RaceTest, ALimitOfTheOtherTypeSlippingInBetweenIsRefusedClearly)
{
    // Both desks asked the checks: no limits yet, so both may go on.
    ASSERT_FALSE(cd.bhaveproxglx(pid, QStringLiteral("1")));
    ASSERT_FALSE(cd.bhavepromem(pid, QStringLiteral("M1"), QString()));
    beforeStatement(QStringLiteral("INSERT INTO qel_project_member_limit"), [&](Backend &b) {
        b.exec(QStringLiteral("INSERT INTO qel_project_member_limit(PID,MEMBER_CLASS_ID,MAX_NUM,limit_type) Values('%1','','4','2')").arg(pid).toUtf8());
    });
    const QString msg = thrownMessage([&] { cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("5"), QStringLiteral("1")); });
    ASSERT_TRUE(fired);
    EXPECT_TRUE(chineseFirst(msg)) << msg.toStdString();
    EXPECT_TRUE(msg.contains(QStringLiteral("同一项目的限购类型必须一致"))) << msg.toStdString();
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from qel_project_member_limit where PID = %1").arg(pid)), 1);
    EXPECT_EQ(db.scalar(QStringLiteral("select limit_type from qel_project_member_limit where PID = %1").arg(pid)), QStringLiteral("2"));

    // An edit that would change the type of one of two limits is refused the same way.
    Database::setTraceHook({});
    db.exec(QStringLiteral("delete from qel_project_member_limit"));
    ASSERT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("5"), QStringLiteral("1")));
    db.exec(QStringLiteral("insert into um_member_class values ('M2', '银卡')"));
    ASSERT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M2"), QStringLiteral("5"), QStringLiteral("1")));
    const QString edit = thrownMessage([&] {
        cd.updatememberlimit(pid, QString(), QStringLiteral("M2"), QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("1"));
    });
    EXPECT_TRUE(edit.contains(QStringLiteral("同一项目的限购类型必须一致"))) << edit.toStdString();
    // The only limit of a project may still change its type.
    cd.Dellimit(pid.toInt(), QStringLiteral("M2"), QStringLiteral("1"));
    EXPECT_TRUE(cd.updatememberlimit(pid, QString(), QStringLiteral("M1"), QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("1")));
    EXPECT_EQ(db.scalar(QStringLiteral("select limit_type from qel_project_member_limit where PID = %1").arg(pid)), QStringLiteral("2"));
}

TEST_F(RaceTest, AProjectDeletedInBetweenGetsNoOrphans)
{
    db.exec(QStringLiteral("insert into QEL_PRODUCT values ('P1', '梁祝', '2030-01-01 19:30:00', 'C1', 'V1', '01', null, null, null, '5', null, "
                           "null)"));
    QString name;
    ASSERT_FALSE(pp.brepeat(QStringLiteral("P1"), name));
    // Another desk deletes the project between the check and the insert, as DelPro does.
    const auto deleteProject = [&](Backend &b) {
        b.begin();
        b.exec(QStringLiteral("Delete From QEL_PROJECT where ID=%1").arg(pid).toUtf8());
        b.exec(QStringLiteral("Delete From QEL_PROJECT_PRODUCT where projectID=%1").arg(pid).toUtf8());
        b.exec(QStringLiteral("Delete From qel_project_member_limit where pID=%1").arg(pid).toUtf8());
        b.commit();
    };
    beforeStatement(QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT"), deleteProject);
    pp.InsertProduct(pid, QStringLiteral("P1"));
    ASSERT_TRUE(fired);
    // InsertProduct reports its own failure, with the database's reason after its fixed text.
    ASSERT_EQ(testPresenter().count(), 1);
    const QString shown = testPresenter().last().text;
    EXPECT_TRUE(shown.startsWith(QStringLiteral("新建失败，请检查该演出是否已经配置过项目"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("项目不存在"))) << shown.toStdString();
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT_PRODUCT")), 0);

    // The same for a limit.
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('秋季戏剧节')"));
    pid = db.scalar(QStringLiteral("select ID from QEL_PROJECT where CNAME = '秋季戏剧节'"));
    ASSERT_FALSE(cd.bhaveproxglx(pid, QStringLiteral("1")));
    fired = false;
    beforeStatement(QStringLiteral("INSERT INTO qel_project_member_limit"), deleteProject);
    const QString msg = thrownMessage([&] { cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("5"), QStringLiteral("1")); });
    ASSERT_TRUE(fired);
    EXPECT_TRUE(chineseFirst(msg) && msg.contains(QStringLiteral("项目不存在"))) << msg.toStdString();
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from qel_project_member_limit")), 0);

    // Deleting a project with its rows, in the module's order, still works.
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('冬季演出季')"));
    pid = db.scalar(QStringLiteral("select ID from QEL_PROJECT where CNAME = '冬季演出季'"));
    Database::setTraceHook({});
    ASSERT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("5"), QStringLiteral("1")));
    pp.InsertProduct(pid, QStringLiteral("P1"));
    ASSERT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT_PRODUCT")), 1);
    EXPECT_NO_THROW(cd.DelPro(pid.toInt()));
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT_PRODUCT")), 0);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from qel_project_member_limit")), 0);
}

TEST_F(RaceTest, PostgresSerialisesLimitWritersOnTheProjectRow)
{
    if (!db.isPostgres())
        GTEST_SKIP() << "PostgreSQL only: SQLite lets one writer in at a time anyway";
    ASSERT_FALSE(cd.bhaveproxglx(pid, QStringLiteral("1")));
    // The other desk has written an identity-card limit but not committed yet.
    Backend &b = other();
    b.begin();
    b.exec(QStringLiteral("INSERT INTO qel_project_member_limit(PID,MEMBER_CLASS_ID,MAX_NUM,limit_type) Values('%1','','4','2')").arg(pid).toUtf8());
    // It commits once it sees this desk's insert waiting for a lock (or after 20 s).
    std::atomic<bool> sawWait{false};
    const QString url = db.url();
    std::thread committer([&b, &sawWait, url] {
        auto watch = Database::connect(url);
        QElapsedTimer t;
        t.start();
        while (!sawWait && t.elapsed() < 20000) {
            sawWait = watch->query("select count(*) from pg_stat_activity where wait_event_type = 'Lock' and datname = current_database()")
                          .integer(0, 0) > 0;
            if (!sawWait)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        b.commit();
    });
    // Without the row lock this insert would not see the uncommitted limit and both would stay.
    const QString msg = thrownMessage([&] { cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("5"), QStringLiteral("1")); });
    committer.join();
    EXPECT_TRUE(sawWait) << "the insert should have waited for the other desk";
    EXPECT_TRUE(msg.contains(QStringLiteral("同一项目的限购类型必须一致"))) << msg.toStdString();
    EXPECT_EQ(db.count(QStringLiteral("select count(distinct limit_type) from qel_project_member_limit where PID = %1").arg(pid)), 1);
}

} // namespace
