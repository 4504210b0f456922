// qelstress: one operator desk, driven at random through the project data
// modules, for the concurrency and crash tests. It writes one log line per
// operation (after the operation has answered), with a single write(2) each,
// so a line is either whole or absent even when the process is killed.
//
//   qelstress --database URL --desk K --log FILE [--seed S] [--ops N] [--seconds T]
//             [--mode stress|add|churn] [--project ID]
//
// Modes:
//   stress  random project, limit and performance commands, checks first as the
//           windows do (default).
//   add     adds every unassigned performance to project ID, one by one
//           (brepeat, then InsertProduct), then removes them again, in a loop.
//   churn   builds a project with limits and performances, then deletes it, in a loop.
//           With --hold-in-delete the first delete stops for good between its
//           first and second statement (logging HOLD), so a test can kill it there.
//
// Log line (tab separated): desk seq start_ns end_ns outcome op args...
//   outcome: ok (acknowledged), fail (server refused), lost (connection lost),
//            check (the module's check refused; nothing written), read.
// Times are CLOCK_MONOTONIC, comparable between processes of one machine.
#include "Context.h"
#include "Database.h"
#include "Dialogs.h"
#include "HostError.h"
#include "CommaText.h"
#include "SqlText.h"
#include "uCDProductProject.h"
#include "uCDProject.h"
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

qint64 nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Records what the module would show the operator; never opens a window.
class Recorder : public MessagePresenter {
public:
    int present(MessageKind, const QString &text, const QString &, int) override
    {
        messages << text;
        return mrYes;
    }
    QStringList messages;
};

QString oneLine(QString s)
{
    for (QChar &c : s)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return s;
}

class Log {
public:
    explicit Log(const QString &path)
    {
        m_fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    ~Log()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    void line(const QStringList &fields)
    {
        const QByteArray b = fields.join(QLatin1Char('\t')).toUtf8() + '\n';
        qsizetype done = 0;
        while (done < b.size()) {
            const ssize_t n = ::write(m_fd, b.constData() + done, size_t(b.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            done += n;
        }
    }

private:
    int m_fd = -1;
};

struct Limit {
    QString pid, mc, type, max, enable;
};

class Desk {
public:
    Desk(int desk, quint64 seed, Log &log, Recorder &rec) : m_desk(desk), m_rng(seed), m_log(log), m_rec(rec)
    {
        m_ctx = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("桌%1").arg(desk), QStringLiteral("A")});
        m_cd.Context = m_ctx;
        m_pp.Context = m_ctx;
    }

    int acked = 0, failed = 0, refused = 0, reads = 0, lost = 0, conflicts = 0;

    void loadCatalogue()
    {
        const DataPacket p = m_cd.DBPipe->GetData(m_ctx, QStringLiteral("select PRODUCTCODE from QEL_PRODUCT order by PRODUCTCODE"));
        for (int r = 0; r < p.rowCount(); ++r)
            m_products << p.text(r, 0);
        const DataPacket m = m_cd.DBPipe->GetData(m_ctx, QStringLiteral("select MEMBER_CLASS_ID from um_member_class order by MEMBER_CLASS_ID"));
        for (int r = 0; r < m.rowCount(); ++r)
            m_classes << m.text(r, 0);
        if (m_products.isEmpty() || m_classes.isEmpty())
            throw EHostError(QStringLiteral("演出目录或会员类别为空，无法开始"));
    }

    // One random command, as an operator would give it.
    void randomCommand()
    {
        const int projects = int(projectIds().size());
        int roll = int(m_rng.bounded(100));
        if (projects < 6)
            roll = 0; // keep something to work on
        else if (projects > 40 && roll < 12)
            roll = 20; // and not too much
        if (roll < 10)
            newProject();
        else if (roll < 17)
            editProject();
        else if (roll < 22)
            deleteProject();
        else if (roll < 42)
            newLimit();
        else if (roll < 54)
            editLimit();
        else if (roll < 62)
            deleteLimit();
        else if (roll < 88)
            addPerformance();
        else if (roll < 97)
            removePerformance();
        else
            readLists();
    }

    // add mode: every unassigned performance to one project, then all removed again.
    void addAll(const QString &pid, const std::function<bool()> &goOn)
    {
        m_pp.ProjectID = pid;
        QStringList mine;
        for (const QString &code : std::as_const(m_products)) {
            if (!goOn())
                return;
            if (addOne(pid, code))
                mine << code;
        }
        for (const QString &code : std::as_const(mine)) {
            if (!goOn())
                return;
            run(QStringLiteral("A-"), {pid, code}, [&] {
                m_pp.DelProductProject(pid, code);
                return true;
            });
        }
    }

    // churn mode: a whole booking rule built, then deleted in one command.
    void churnOnce(int round)
    {
        const QString name = QStringLiteral("桌%1-整体%2").arg(m_desk).arg(round);
        QString pid;
        if (!run(QStringLiteral("P+"), {name}, [&] { return m_cd.InsertPro(name, 10, 2, 3); }))
            return;
        pid = idOf(name);
        if (pid.isEmpty())
            return;
        int limits = 0, performances = 0;
        for (int i = 0; i < 3 && i < m_classes.size(); ++i)
            if (run(QStringLiteral("L+"), {pid, m_classes[i], QStringLiteral("1"), QString::number(i + 2), QStringLiteral("1")},
                    [&] { return m_cd.Insertmemberlimit(pid, m_classes[i], QString::number(i + 2), QStringLiteral("1"), QStringLiteral("1")); }))
                ++limits;
        const QStringList free = unassigned(5);
        for (const QString &code : free)
            if (addOne(pid, code))
                ++performances;
        m_log.line({QString::number(m_desk), QString::number(++m_seq), QString::number(nowNs()), QString::number(nowNs()), QStringLiteral("ok"),
                    QStringLiteral("BUILT"), pid, QString::number(limits), QString::number(performances)});
        run(QStringLiteral("PD"), {pid}, [&] {
            m_cd.DelPro(TCDProject::ProjectIdFromText(pid));
            return true;
        });
    }

    QString idOf(const QString &name)
    {
        const DataPacket p = m_cd.DBPipe->GetData(m_ctx, QStringLiteral("select ID from QEL_PROJECT where CNAME=") + QuotedStr(name));
        return p.rowCount() ? p.text(0, 0) : QString();
    }

private:
    // Runs one writing command; logs it with its outcome; true when acknowledged.
    bool run(const QString &op, const QStringList &args, const std::function<bool()> &body)
    {
        const qint64 start = nowNs();
        QString outcome, detail;
        m_rec.messages.clear();
        m_checkWhy.clear();
        try {
            const bool done = body();
            // InsertProduct reports its own failure in a message box instead of throwing.
            if (!m_rec.messages.isEmpty()) {
                outcome = QStringLiteral("fail");
                detail = m_rec.messages.join(QLatin1Char(' '));
            } else {
                outcome = done ? QStringLiteral("ok") : QStringLiteral("fail");
                if (!done)
                    detail = QStringLiteral("no row written");
            }
        } catch (const EConnectionLost &e) {
            outcome = QStringLiteral("lost");
            detail = e.message();
        } catch (const EHostError &e) {
            outcome = QStringLiteral("fail");
            detail = e.message();
        }
        const qint64 end = nowNs();
        // Refused by a check inside the save's transaction (another desk
        // changed the row since it was read, or a limit rule): nothing written.
        if (!m_checkWhy.isEmpty()) {
            outcome = QStringLiteral("check");
            detail = m_checkWhy;
            ++(m_checkWhy == QLatin1String("changed elsewhere") ? conflicts : refused);
        } else if (outcome == QLatin1String("ok"))
            ++acked;
        else if (outcome == QLatin1String("lost"))
            ++lost;
        else
            ++failed;
        QStringList fields = {QString::number(m_desk), QString::number(++m_seq), QString::number(start), QString::number(end), outcome, op};
        fields += args;
        if (!detail.isEmpty())
            fields << QStringLiteral("#") + oneLine(detail);
        m_log.line(fields);
        return outcome == QLatin1String("ok");
    }

    void checkRefused(const QString &op, const QStringList &args, const QString &why)
    {
        ++refused;
        const QString t = QString::number(nowNs());
        QStringList fields = {QString::number(m_desk), QString::number(++m_seq), t, t, QStringLiteral("check"), op};
        fields += args;
        fields << QStringLiteral("#") + why;
        m_log.line(fields);
    }

    QStringList projectIds()
    {
        m_cd.GetProject(QString());
        QStringList ids;
        TQELClientDataSet *ds = m_cd.cdsProject;
        const TField id = ds->FieldByName(QStringLiteral("ID"));
        for (ds->First(); !ds->Eof(); ds->Next())
            ids << id.AsString();
        ++reads;
        return ids;
    }

    template <class L>
    const typename L::value_type &pick(const L &list)
    {
        return list[qsizetype(m_rng.bounded(quint32(list.size())))];
    }

    QString randomMax() { return QString::number(1 + m_rng.bounded(20)); }
    QString randomEnable() { return m_rng.bounded(4) ? QStringLiteral("1") : QStringLiteral("0"); }
    int pct() { return int(m_rng.bounded(101)); }

    void newProject()
    {
        const QString name = QStringLiteral("桌%1-项目%2").arg(m_desk).arg(++m_names);
        const int d = pct(), t = pct(), p = pct();
        if (!m_cd.ChkProName(-1, name)) {
            checkRefused(QStringLiteral("P+"), {name}, QStringLiteral("name taken"));
            return;
        }
        QString id = QStringLiteral("-1");
        // The ID is looked up after the insert, as the list reload would show it.
        const bool ok = run(QStringLiteral("P+"), {name, QString::number(d), QString::number(t), QString::number(p)},
                            [&] { return m_cd.InsertPro(name, d, t, p); });
        if (ok) {
            try {
                const QString found = idOf(name);
                if (!found.isEmpty())
                    id = found;
            } catch (const EHostError &) {
            }
            m_log.line({QString::number(m_desk), QString::number(++m_seq), QString::number(nowNs()), QString::number(nowNs()),
                        QStringLiteral("read"), QStringLiteral("ID"), name, id});
        }
    }

    // Edits as the project window saves them: over the row its list showed,
    // which is often a list loaded a while ago, and often one of the first
    // projects, so that desks meet on the same rows.
    void editProject()
    {
        TQELClientDataSet *ds = m_cd.cdsProject;
        if (!ds->Active() || ds->IsEmpty() || m_rng.bounded(3) == 0)
            m_cd.GetProject(QString());
        if (ds->IsEmpty())
            return;
        const int rows = ds->RecordCount();
        ds->MoveTo(int(m_rng.bounded(quint32(m_rng.bounded(2) ? std::min(rows, 3) : rows))));
        const qint64 id = ds->FieldByName(QStringLiteral("ID")).AsInteger();
        const TProjectRow read{ds->FieldByName(QStringLiteral("CName")).AsString(), int(ds->FieldByName(QStringLiteral("CrossDiscount")).AsInteger()),
                               int(ds->FieldByName(QStringLiteral("CrosTNum")).AsInteger()), int(ds->FieldByName(QStringLiteral("CrossPNum")).AsInteger())};
        // Every edit renames, so its history entry is its own.
        const TProjectRow mine{QStringLiteral("桌%1-改名%2").arg(m_desk).arg(++m_names), pct(), pct(), pct()};
        const QStringList args = {QString::number(id), mine.CName, QString::number(mine.CrossDiscount), QString::number(mine.CrosTNum),
                                  QString::number(mine.CrossPNum), read.CName, QString::number(read.CrossDiscount), QString::number(read.CrosTNum),
                                  QString::number(read.CrossPNum)};
        if (!m_cd.ChkProName(id, mine.CName))
            return checkRefused(QStringLiteral("PE"), args, QStringLiteral("name taken"));
        run(QStringLiteral("PE"), args, [&] {
            TProjectRow now;
            if (m_cd.EdtProChecked(id, read, mine, now) == TSaveOutcome::Changed)
                m_checkWhy = QStringLiteral("changed elsewhere");
            return true;
        });
    }

    void deleteProject()
    {
        const QStringList ids = projectIds();
        if (ids.isEmpty())
            return;
        const QString id = pick(ids);
        run(QStringLiteral("PD"), {id}, [&] {
            m_cd.DelPro(TCDProject::ProjectIdFromText(id));
            return true;
        });
    }

    void newLimit()
    {
        const QStringList ids = projectIds();
        if (ids.isEmpty())
            return;
        const QString pid = pick(ids);
        const bool byClass = m_rng.bounded(10) < 7;
        const QString type = byClass ? QStringLiteral("1") : QStringLiteral("2");
        const QString mc = byClass ? pick(m_classes) : QString();
        const QString max = randomMax(), enable = randomEnable();
        const QStringList args = {pid, mc, type, max, enable};
        if (m_cd.bhaveproxglx(pid, type))
            return checkRefused(QStringLiteral("L+"), args, QStringLiteral("other type"));
        if (m_cd.bhavepromem(pid, mc, QString()))
            return checkRefused(QStringLiteral("L+"), args, QStringLiteral("class taken"));
        run(QStringLiteral("L+"), args, [&] { return m_cd.Insertmemberlimit(pid, mc, max, type, enable); });
    }

    QList<Limit> limitList()
    {
        m_cd.GetProjectmember(QString());
        ++reads;
        QList<Limit> out;
        TQELClientDataSet *ds = m_cd.cdsprojectmember;
        for (ds->First(); !ds->Eof(); ds->Next())
            out << Limit{ds->FieldByName(QStringLiteral("projectid")).AsString(), ds->FieldByName(QStringLiteral("MEMBER_CLASS_ID")).AsString(),
                         ds->FieldByName(QStringLiteral("limit_type")).AsString(), ds->FieldByName(QStringLiteral("max_num")).AsString(),
                         ds->FieldByName(QStringLiteral("enable")).AsString()};
        return out;
    }

    void editLimit()
    {
        const QList<Limit> limits = limitList();
        if (limits.isEmpty())
            return;
        const Limit l = pick(limits);
        // Mostly the same type with another class or quantity; now and then the other type.
        QString type = l.type;
        if (m_rng.bounded(5) == 0)
            type = type == QLatin1String("1") ? QStringLiteral("2") : QStringLiteral("1");
        const QString mc = type == QLatin1String("1") ? pick(m_classes) : QString();
        const QString max = randomMax(), enable = randomEnable();
        const QStringList args = {l.pid, l.mc, mc, type, max, enable, l.max, l.type, l.enable};
        run(QStringLiteral("LE"), args, [&] {
            TLimitRow now;
            const TSaveOutcome out = m_cd.UpdateLimitChecked(l.pid, l.mc, {l.max, l.type, l.enable}, mc, {max, type, enable}, now);
            if (out == TSaveOutcome::Changed)
                m_checkWhy = QStringLiteral("changed elsewhere");
            else if (out == TSaveOutcome::OtherType)
                m_checkWhy = QStringLiteral("other type");
            else if (out == TSaveOutcome::SameClass)
                m_checkWhy = QStringLiteral("class taken");
            return out == TSaveOutcome::Saved;
        });
    }

    void deleteLimit()
    {
        const QList<Limit> limits = limitList();
        if (limits.isEmpty())
            return;
        const Limit l = pick(limits);
        run(QStringLiteral("L-"), {l.pid, l.mc, l.type}, [&] {
            m_cd.Dellimit(TCDProject::ProjectIdFromText(l.pid), l.mc, l.type);
            return true;
        });
    }

    bool addOne(const QString &pid, const QString &code)
    {
        QString name;
        if (m_pp.brepeat(code, name)) {
            checkRefused(QStringLiteral("A+"), {pid, code}, QStringLiteral("assigned"));
            return false;
        }
        return run(QStringLiteral("A+"), {pid, code}, [&] {
            m_pp.InsertProduct(pid, code);
            return true;
        });
    }

    QStringList unassigned(int n)
    {
        QStringList out;
        for (int tries = 0; tries < 4 * n && out.size() < n; ++tries) {
            const QString code = pick(m_products);
            QString name;
            if (!out.contains(code) && !m_pp.brepeat(code, name))
                out << code;
        }
        return out;
    }

    void addPerformance()
    {
        const QStringList ids = projectIds();
        if (ids.isEmpty())
            return;
        const QString pid = pick(ids);
        m_pp.ProjectID = pid;
        addOne(pid, pick(m_products));
    }

    void removePerformance()
    {
        const QStringList ids = projectIds();
        if (ids.isEmpty())
            return;
        const QString pid = pick(ids);
        const QStringList codes = ReadCommaText(m_pp.sgetproduct(pid));
        ++reads;
        if (codes.isEmpty())
            return;
        const QString code = pick(codes);
        run(QStringLiteral("A-"), {pid, code}, [&] {
            m_pp.DelProductProject(pid, code);
            return true;
        });
    }

    void readLists()
    {
        const QStringList ids = projectIds();
        m_cd.GetProjectmember(QString());
        if (!ids.isEmpty()) {
            m_pp.ProjectID = pick(ids);
            m_pp.GetProductProject(QString());
        }
        reads += 2;
    }

    int m_desk;
    QRandomGenerator m_rng;
    Log &m_log;
    Recorder &m_rec;
    QString m_ctx;
    TCDProject m_cd;
    TcdProductProject m_pp;
    QStringList m_products, m_classes;
    int m_seq = 0;
    int m_names = 0;
    QString m_checkWhy;
};

QString argValue(const QStringList &args, const QString &name, const QString &fallback = QString())
{
    const qsizetype i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString url = argValue(args, QStringLiteral("--database"));
    const QString logPath = argValue(args, QStringLiteral("--log"));
    const int desk = argValue(args, QStringLiteral("--desk"), QStringLiteral("1")).toInt();
    const quint64 seed = argValue(args, QStringLiteral("--seed"), QString::number(desk)).toULongLong();
    const int ops = argValue(args, QStringLiteral("--ops"), QStringLiteral("300")).toInt();
    const double seconds = argValue(args, QStringLiteral("--seconds"), QStringLiteral("60")).toDouble();
    const QString mode = argValue(args, QStringLiteral("--mode"), QStringLiteral("stress"));
    if (url.isEmpty() || logPath.isEmpty()) {
        std::fprintf(stderr, "usage: qelstress --database URL --desk K --log FILE [--seed S] [--ops N] [--seconds T] [--mode stress|add|churn] "
                             "[--project ID]\n");
        return 2;
    }
    Log log(logPath);
    if (!log.ok()) {
        std::fprintf(stderr, "qelstress: cannot open log %s\n", qPrintable(logPath));
        return 2;
    }
    Recorder rec;
    SetMessagePresenter(&rec);
    const qint64 deadline = nowNs() + qint64(seconds * 1e9);
    int done = 0;
    try {
        Database::open(url);
        Desk d(desk, seed, log, rec);
        d.loadCatalogue();
        const auto goOn = [&] { return done < ops && nowNs() < deadline; };
        if (mode == QLatin1String("add")) {
            const QString pid = argValue(args, QStringLiteral("--project"));
            while (goOn()) {
                d.addAll(pid, [&] { return ++done <= ops && nowNs() < deadline; });
            }
        } else if (mode == QLatin1String("churn")) {
            if (args.contains(QStringLiteral("--hold-in-delete"))) {
                Database::setTraceHook([&log, desk](const QString &, const QString &sql) {
                    if (!sql.startsWith(QLatin1String("Delete From QEL_PROJECT_PRODUCT"), Qt::CaseInsensitive))
                        return;
                    const QString t = QString::number(nowNs());
                    log.line({QString::number(desk), QStringLiteral("0"), t, t, QStringLiteral("read"), QStringLiteral("HOLD"), sql});
                    ::sleep(60);
                });
            }
            for (int round = 1; goOn(); ++round, ++done)
                d.churnOnce(round);
        } else {
            for (; goOn(); ++done) {
                try {
                    d.randomCommand();
                } catch (const EConnectionLost &e) {
                    // A read that lost the server: the next command reconnects.
                    ++d.lost;
                    std::fprintf(stderr, "desk %d: %s\n", desk, e.what());
                } catch (const EHostError &e) {
                    // A failing read or check ends that command only, as in a window.
                    ++d.failed;
                    std::fprintf(stderr, "desk %d: %s\n", desk, e.what());
                }
            }
        }
        std::printf("desk %d: commands %d, acknowledged %d, refused by server %d, refused by checks %d, lost %d, list reads %d, conflicts shown %d\n",
                    desk, done, d.acked, d.failed, d.refused, d.lost, d.reads, d.conflicts);
    } catch (const EHostError &e) {
        std::fprintf(stderr, "qelstress desk %d: %s\n", desk, e.what());
        SetMessagePresenter(nullptr);
        return 1;
    }
    SetMessagePresenter(nullptr);
    Database::close();
    return 0;
}
