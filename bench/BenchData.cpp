#include "BenchData.h"
#include <SqlText.h>
#include <Context.h>
#include <Database.h>
#include <Dialogs.h>
#include <HostError.h>
#include <Pipe.h>
#include <Lcg.h>
#include <Schema.h>
#include <uCDProductProject.h>
#include <QDateTime>
#include <vector>

namespace {

quint32 mix(quint32 x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

QString u(const char *s)
{
    return QString::fromUtf8(s);
}

struct City {
    const char *node, *code, *name;
};
const City kCities[] = {
    {"01", "010", "北京"},   {"01", "022", "天津"},  {"01", "0311", "石家庄"}, {"01", "0351", "太原"},
    {"01", "0531", "济南"},  {"01", "0532", "青岛"}, {"02", "021", "上海"},    {"02", "0571", "杭州"},
    {"02", "025", "南京"},   {"02", "0512", "苏州"}, {"02", "0574", "宁波"},   {"02", "0551", "合肥"},
};
const char *const kHalls[] = {"大剧院", "音乐厅", "话剧艺术中心", "保利剧院", "艺术中心小剧场"};

struct ShowClass {
    const char *code, *name, *ename;
    std::vector<const char *> titles;
};
const std::vector<ShowClass> &showClasses()
{
    static const std::vector<ShowClass> classes = {
        {"C01", "音乐会", "Concert",
         {"柴可夫斯基交响音乐会", "贝多芬第九交响曲音乐会", "莫扎特经典作品音乐会", "久石让动漫作品交响音乐会", "勃拉姆斯交响作品音乐会",
          "大师钢琴独奏会", "肖邦夜曲钢琴独奏会", "中国民族管弦乐音乐会", "二胡与琵琶民乐专场", "弦乐四重奏室内乐音乐会",
          "经典影视金曲交响音乐会", "新年音乐会"}},
        {"C02", "话剧", "Drama",
         {"《茶馆》", "《雷雨》", "《日出》", "《暗恋桃花源》", "《恋爱的犀牛》", "《白鹿原》", "《窝头会馆》", "《天下第一楼》",
          "《北京法源寺》", "《活着》", "《四世同堂》"}},
        {"C03", "歌剧", "Opera",
         {"《茶花女》", "《卡门》", "《图兰朵》", "《蝴蝶夫人》", "《费加罗的婚礼》", "《江姐》", "《白毛女》", "《魔笛》"}},
        {"C04", "舞蹈", "Dance",
         {"天鹅湖 芭蕾舞剧", "胡桃夹子 芭蕾舞剧", "睡美人 芭蕾舞剧", "吉赛尔 芭蕾舞剧", "《红色娘子军》芭蕾舞剧", "《朱鹮》舞剧",
          "《只此青绿》舞蹈诗剧", "《永不消逝的电波》舞剧", "《孔子》舞剧"}},
        {"C05", "戏曲", "Chinese Opera",
         {"京剧《锁麟囊》", "京剧《贵妃醉酒》", "京剧《四郎探母》", "昆曲《牡丹亭》", "越剧《红楼梦》", "黄梅戏《天仙配》", "豫剧《花木兰》",
          "评剧《花为媒》", "川剧《白蛇传》"}},
        {"C06", "儿童剧", "Children's Theatre",
         {"《马兰花》", "《白雪公主》", "《三只小猪》", "《丑小鸭》", "《西游记之大闹天宫》", "《小王子》", "《宝莲灯》", "《海底小纵队》"}},
        {"C07", "曲艺", "Folk Arts",
         {"相声大会", "经典相声专场", "评书《三国演义》专场", "京韵大鼓名家专场", "苏州评弹专场", "曲艺名家经典晚会"}},
        {"C08", "杂技", "Acrobatics",
         {"《时空之旅》多媒体梦幻剧", "杂技剧《战马》", "国际马戏精品秀", "《天鹅湖》杂技芭蕾", "中国杂技团精品晚会"}},
    };
    return classes;
}
const char *const kEditions[] = {"", "经典版", "新版", "原版引进"};
const char *const kTags[] = {"", "", "", "（加演场）", "（首演）", "（巡演）", "（周年纪念版）", "（中文版）", "（亲子专场）", "（夜场）"};

const char *const kMemberClasses[][2] = {
    {"M01", "钻石会员"}, {"M02", "白金会员"}, {"M03", "金卡会员"}, {"M04", "银卡会员"}, {"M05", "普通会员"},
    {"M06", "学生会员"}, {"M07", "企业会员"}, {"M08", "长者会员"}, {"M09", "家庭会员"}, {"M10", "剧院之友"},
};
const char *const kThemes[] = {"交响乐音乐季", "国际戏剧季", "周末亲子剧场", "大师钢琴独奏会系列", "经典歌剧月", "芭蕾舞精品展演",
                               "京昆名家名段演出季", "相声曲艺贺岁专场", "国际马戏杂技节", "夏季音乐节", "经典剧目回顾展",
                               "新春音乐会系列", "民族音乐会系列", "青年导演戏剧作品展", "原创舞剧展演", "越剧黄梅戏经典展演",
                               "暑期儿童戏剧节", "室内乐沙龙", "爵士音乐周", "小剧场话剧节", "高校学生艺术季", "企业包场专享"};

struct Title {
    QString name;
    int showClass;
};

// Every name a performance can carry: title x edition x tag.
std::vector<Title> titlePool()
{
    std::vector<Title> pool;
    const auto &classes = showClasses();
    for (int c = 0; c < int(classes.size()); ++c)
        for (const char *t : classes[size_t(c)].titles)
            for (const char *e : kEditions)
                for (const char *tag : kTags) {
                    const QString name = u(e) + u(t) + u(tag);
                    if (tag[0] == '\0' && pool.size() && pool.back().name == name)
                        continue;
                    pool.push_back(Title{name, c});
                }
    // City stops as tags too: the same production touring.
    for (int c = 0; c < int(classes.size()); ++c)
        for (const char *t : classes[size_t(c)].titles)
            for (const City &city : kCities)
                pool.push_back(Title{u(t) + QStringLiteral("（%1站）").arg(u(city.name)), c});
    return pool;
}

struct Venue {
    QString code, node, city, name;
    bool valid;
};

std::vector<Venue> venues()
{
    std::vector<Venue> out;
    int serial = 0;
    for (const City &c : kCities) {
        for (const char *hall : kHalls) {
            ++serial;
            const QString code = QStringLiteral("P%1%2").arg(QLatin1String(c.node)).arg(serial, 2, 10, QLatin1Char('0'));
            // A few halls are out of use.
            out.push_back(Venue{code, QLatin1String(c.node), QLatin1String(c.code), u(c.name) + u(hall), serial % 17 != 0});
        }
    }
    return out;
}

void run(TCADBPipe2 &pipe, const QString &sql)
{
    pipe.ExecSQL(BenchContext(), sql);
}

// Rows of one multi-row INSERT, sent through the pipe 1,000 at a time.
class Batch {
public:
    Batch(TCADBPipe2 &pipe, QString head) : m_pipe(pipe), m_head(std::move(head)) {}
    void add(const QString &row)
    {
        if (m_rows == 0)
            m_sql = m_head;
        else
            m_sql += QLatin1Char(',');
        m_sql += row;
        if (++m_rows == 1000)
            flush();
    }
    void flush()
    {
        if (m_rows)
            run(m_pipe, m_sql);
        m_rows = 0;
        m_sql.clear();
    }

private:
    TCADBPipe2 &m_pipe;
    QString m_head, m_sql;
    int m_rows = 0;
};

class CountingPresenter : public MessagePresenter {
public:
    int present(MessageKind, const QString &text, const QString &, int) override
    {
        ++count;
        last = text;
        return 1;
    }
    int count = 0;
    QString last;
};

} // namespace

Scale FullScale()
{
    return Scale{QStringLiteral("100k"), 100000, 300000, 1000000, 20000};
}

Scale TenthScale()
{
    return Scale{QStringLiteral("10k"), 10000, 30000, 100000, 2000};
}

QString BenchContext()
{
    return TQELContext::Compose({QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("admin"), QStringLiteral("A")});
}

void GenerateDataSet(const Scale &scale, const QDate &anchor, const std::function<void(const QString &)> &progress)
{
    CreateSchema(*Database::connection());
    const QString ctx = BenchContext();
    CountingPresenter presenter;
    MessagePresenter *before = SetMessagePresenter(&presenter);
    struct Restore {
        MessagePresenter *p;
        ~Restore() { SetMessagePresenter(p); }
    } restore{before};

    TCADBPipe2 pipe;
    // Bulk load: the rows below keep every rule the tables' triggers check, so
    // where the server allows it (superuser) the triggers stay off meanwhile.
    const bool postgres = Database::connection()->engine() == QLatin1String("postgresql");
    bool triggersOff = false;
    if (postgres) {
        try {
            run(pipe, QStringLiteral("SET session_replication_role = replica"));
            triggersOff = true;
        } catch (const EHostError &) {
        }
    }
    const std::vector<Venue> halls = venues();
    const auto &classes = showClasses();
    {
        PipeTransaction tx(pipe);
        for (const auto &m : kMemberClasses)
            run(pipe, QStringLiteral("INSERT INTO um_member_class (MEMBER_CLASS_ID, MEMBER_CLASS_NAME) VALUES (%1, %2)")
                          .arg(QuotedStr(QLatin1String(m[0])), QuotedStr(u(m[1]))));
        for (const City &c : kCities)
            run(pipe, QStringLiteral("INSERT INTO QEL_PLACE_CITY (NodeCode, CityCode, CName) VALUES (%1, %2, %3)")
                          .arg(QuotedStr(QLatin1String(c.node)), QuotedStr(QLatin1String(c.code)), QuotedStr(u(c.name))));
        for (const ShowClass &c : classes)
            run(pipe, QStringLiteral("INSERT INTO QEL_PRODUCT_CLASS (PRODUCTCLASSCODE, CNAME, ENAME) VALUES (%1, %2, %3)")
                          .arg(QuotedStr(QLatin1String(c.code)), QuotedStr(u(c.name)), QuotedStr(QLatin1String(c.ename))));
        for (const Venue &v : halls)
            run(pipe, QStringLiteral("INSERT INTO qel_place (PLACECODE, NODECODE, CNAME, ENAME, CITYCODE, ISVALID) VALUES (%1, %2, %3, %4, %5, %6)")
                          .arg(QuotedStr(v.code), QuotedStr(v.node), QuotedStr(v.name), QuotedStr(v.code + QStringLiteral(" Hall")),
                               QuotedStr(v.city), QuotedStr(v.valid ? QStringLiteral("1") : QStringLiteral("0"))));
        tx.commit();
    }

    // Projects and purchase limits, 1,000 rows a statement through the pipe.
    progress(QStringLiteral("%1 projects").arg(scale.projects));
    Lcg rng(20270128u);
    Batch projects(pipe, QStringLiteral("INSERT INTO QEL_Project(CName, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) Values "));
    {
        PipeTransaction tx(pipe);
        for (int i = 0; i < scale.projects; ++i) {
            const City &city = kCities[mix(quint32(i)) % std::size(kCities)];
            const QString name = u(city.name) + u(kThemes[mix(quint32(i) * 7u + 1u) % std::size(kThemes)]) +
                                 QStringLiteral("（第%1期）").arg(i + 1, 6, 10, QLatin1Char('0'));
            const int discount = (i % 4 == 0) ? 0 : 70 + rng.below(26);
            const int tickets = discount ? 1 + rng.below(6) : 0, shows = discount ? 1 + rng.below(5) : 0;
            projects.add(QLatin1Char('(') + QuotedStr(name) + QStringLiteral(",%1,%2,%3)").arg(discount).arg(tickets).arg(shows));
        }
        projects.flush();
        tx.commit();
    }
    const DataPacket ids = pipe.GetData(ctx, QStringLiteral("select ID from QEL_PROJECT order by ID"));

    // Every fifth project one identity-card limit, the others two to five
    // member classes: 3 N in all.
    progress(QStringLiteral("%1 purchase limits").arg(scale.limits));
    Batch limits(pipe, QStringLiteral("INSERT INTO qel_project_member_limit(PID,MEMBER_CLASS_ID,MAX_NUM,limit_type,enable) Values "));
    {
        PipeTransaction tx(pipe);
        for (int i = 0; i < ids.rowCount(); ++i) {
            const QString pid = ids.text(i, 0);
            const int k = i % 5;
            const QString enable = rng.below(100) < 15 ? QStringLiteral("0") : QStringLiteral("1");
            if (k == 0) {
                limits.add(QStringLiteral("(%1,'',%2,'2','%3')").arg(pid).arg(2 + rng.below(9)).arg(enable));
                continue;
            }
            const int first = int(mix(quint32(i)) % 10);
            for (int j = 0; j <= k; ++j)
                limits.add(QStringLiteral("(%1,'%2',%3,'1','%4')")
                               .arg(pid, QLatin1String(kMemberClasses[(first + j * 3) % 10][0]))
                               .arg(2 + rng.below(9))
                               .arg(enable));
        }
        limits.flush();
        tx.commit();
    }

    // The catalogue: productions run for weeks, so names repeat; a box office
    // ten times the size runs ten times the productions at once.
    progress(QStringLiteral("%1 performances").arg(scale.performances));
    const std::vector<Title> pool = titlePool();
    std::vector<std::vector<int>> hallsOfClass(classes.size());
    for (int v = 0; v < int(halls.size()); ++v)
        if (halls[size_t(v)].valid)
            for (size_t c = 0; c < classes.size(); ++c)
                hallsOfClass[c].push_back(v);
    const int concurrent = std::max(20, int(qint64(700) * scale.performances / 1000000));
    const int days = 1095;
    const QDate start = anchor.addDays(-365);
    static const char *const times[] = {"10:30:00", "14:30:00", "19:30:00", "19:30:00", "19:30:00", "20:00:00"};
    static const char statuses[] = "55555555556666660123474";
    Batch shows(pipe, QStringLiteral("INSERT INTO QEL_PRODUCT (PRODUCTCODE, CNAME, HAPPENTIME, PRODUCTCLASSCODE, PLACECODE, NODECODE, "
                                     "MAPCODE, CREATEGROUP, PLACEGROUP, STATUS, CREATEUSER, PRODUCTOWNERGROUP) VALUES "));
    {
        PipeTransaction tx(pipe);
        for (int i = 0; i < scale.performances; ++i) {
            const int d = int(qint64(i) * days / scale.performances);
            const quint32 production = quint32(d / 28) * 100003u + quint32(rng.below(concurrent));
            const Title &title = pool[mix(production) % pool.size()];
            const auto &fit = hallsOfClass[size_t(title.showClass)];
            const Venue &v = halls[size_t(fit[mix(production ^ 0x5bd1e995u) % fit.size()])];
            const QString when = start.addDays(d).toString(Qt::ISODate) + QLatin1Char(' ') + QLatin1String(times[rng.below(6)]);
            const char status = statuses[rng.below(int(sizeof statuses) - 1)];
            QString row = QStringLiteral("('PR%1',").arg(i + 1, 8, 10, QLatin1Char('0'));
            row += QuotedStr(title.name);
            row += QStringLiteral(",'%1','%2','%3','%4','MAP%5','G%6','PG%4','%7','user%8','OG0%9')")
                       .arg(when, QLatin1String(classes[size_t(title.showClass)].code), v.code, v.node, v.code.right(2))
                       .arg(mix(production) % 20 + 1, 2, 10, QLatin1Char('0'))
                       .arg(QLatin1Char(status))
                       .arg(mix(production * 31u) % 40 + 1, 2, 10, QLatin1Char('0'))
                       .arg(mix(production) % 3 + 1);
            shows.add(row);
        }
        shows.flush();
        tx.commit();
    }

    if (triggersOff)
        run(pipe, QStringLiteral("SET session_replication_role = DEFAULT"));

    // The exclusion list: one project holds N/5 performances of the searched
    // 90 days, added the window's way (TcdProductProject::InsertProduct).
    progress(QStringLiteral("%1 assigned performances").arg(scale.exclusions));
    {
        const QString from = anchor.toString(Qt::ISODate) + QStringLiteral(" 00:00:00");
        const DataPacket window = pipe.GetData(ctx, QStringLiteral("select PRODUCTCODE from QEL_PRODUCT where HAPPENTIME >= '%1' and STATUS in ('5','6') "
                                                                   "order by PRODUCTCODE")
                                                        .arg(from));
        TcdProductProject pp;
        pp.Context = ctx;
        PipeTransaction tx(*pp.DBPipe);
        const QString pid = ids.text(0, 0);
        int added = 0;
        for (int r = 0; r < window.rowCount() && added < scale.exclusions; r += 3, ++added)
            pp.InsertProduct(pid, window.text(r, 0));
        tx.commit();
        if (added < scale.exclusions)
            throw EHostError(QStringLiteral("too few performances for the exclusion list"));
    }
    // The change history of a desk that has run for a year: ten entries a
    // project in all. The loads above left theirs where triggers ran; the
    // rest are edits of the projects' discounts by forty operators.
    {
        const qint64 wanted = HistoryEntries(scale);
        qint64 have = pipe.GetData(ctx, QStringLiteral("select count(*) from QEL_PROJECT_HISTORY")).integer(0, 0);
        progress(QStringLiteral("%1 history entries").arg(wanted));
        Batch history(pipe, QStringLiteral("INSERT INTO QEL_PROJECT_HISTORY (CHANGED_AT, TXID, NODECODE, USERGROUP, USERNAME, ROW_KIND, ACTION, "
                                           "PROJECT_ID, PROJECT_NAME, ROW_KEY, BEFORE_VALUES, AFTER_VALUES) VALUES "));
        PipeTransaction tx(pipe);
        const QDateTime first(anchor.addDays(-365), QTime(8, 0));
        const qint64 span = qint64(365) * 86400;
        for (qint64 i = have; i < wanted; ++i) {
            const int row = int(i % ids.rowCount());
            const QString pid = ids.text(row, 0);
            const int from = 70 + int(mix(quint32(i)) % 26), to = 70 + int(mix(quint32(i) * 3u + 1u) % 26);
            const int op = int(mix(quint32(i) * 5u + 2u) % 40) + 1;
            const QString when = first.addSecs(i * span / wanted).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            history.add(QStringLiteral("('%1',%2,'01','G%3','user%4','project','update',%5,'项目%5',NULL,"
                                       "'{\"CROSSDISCOUNT\":%6}','{\"CROSSDISCOUNT\":%7}')")
                            .arg(when)
                            .arg(i + 1)
                            .arg(op % 5 + 1, 2, 10, QLatin1Char('0'))
                            .arg(op, 2, 10, QLatin1Char('0'))
                            .arg(pid)
                            .arg(from)
                            .arg(to));
        }
        history.flush();
        tx.commit();
    }
    if (presenter.count)
        throw EHostError(QStringLiteral("data set: %1").arg(presenter.last));
    // As a live server would have them (autovacuum); SQLite files carry no
    // statistics unless someone runs ANALYZE, and the host never does.
    if (postgres) {
        progress(QStringLiteral("statistics"));
        run(pipe, QStringLiteral("VACUUM ANALYZE"));
    }
}

DataSetFacts ReadFacts(const QDate &anchor)
{
    TCADBPipe2 pipe;
    const QString ctx = BenchContext();
    DataSetFacts f;
    const DataPacket ids = pipe.GetData(ctx, QStringLiteral("select ID from QEL_PROJECT where ID <= 3 order by ID"));
    if (ids.rowCount() < 3)
        throw EHostError(QStringLiteral("data set has no projects"));
    f.exclusionProject = ids.text(0, 0);
    f.insertProject = ids.text(1, 0);
    f.deleteProject = ids.text(2, 0);
    const QString later = anchor.addDays(200).toString(Qt::ISODate) + QStringLiteral(" 00:00:00");
    const DataPacket codes = pipe.GetData(
        ctx, QStringLiteral("select PRODUCTCODE from QEL_PRODUCT where HAPPENTIME >= '%1' order by HAPPENTIME, PRODUCTCODE").arg(later));
    for (int r = 0; r < codes.rowCount() && f.addCodes.size() < 1000; r += 2)
        f.addCodes << codes.text(r, 0);
    for (int r = 1; r < codes.rowCount() && f.deleteCodes.size() < 5000; r += 2)
        f.deleteCodes << codes.text(r, 0);
    const DataPacket pairs =
        pipe.GetData(ctx, QStringLiteral("select PID, MEMBER_CLASS_ID from qel_project_member_limit where limit_type = '1' order by PID, MEMBER_CLASS_ID"));
    for (int r = 0; r < pairs.rowCount() && f.limitPairs.size() < 1000; r += std::max(1, pairs.rowCount() / 1000))
        f.limitPairs.append({pairs.text(r, 0), pairs.text(r, 1)});
    return f;
}
