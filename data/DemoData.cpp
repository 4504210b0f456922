#include "DemoData.h"
#include "Gbk.h"
#include "Lcg.h"
#include <QDateTime>
#include <QSet>
#include <algorithm>
#include <iterator>
#include <vector>

namespace {

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

QString sqlText(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString sqlText(const char *utf8)
{
    return sqlText(u(utf8));
}

// Project IDs come from the database; children find their project by its unique name.
QString selectForProject(const QString &projectName, const QString &values)
{
    return QStringLiteral("SELECT ID, ") + values + QStringLiteral(" FROM QEL_PROJECT WHERE CNAME = ") + sqlText(projectName);
}

struct MemberClass {
    const char *code;
    const char *name;
};

const MemberClass kMemberClasses[] = {
    {"M01", "钻石会员"}, {"M02", "白金会员"}, {"M03", "金卡会员"}, {"M04", "银卡会员"},
    {"M05", "普通会员"}, {"M06", "学生会员"}, {"M07", "企业会员"}, {"M08", "长者会员"},
    {"M09", "家庭会员"}, {"M10", "剧院之友"},
};

struct City {
    const char *node;
    const char *code;
    const char *name;
};

const City kCities[] = {
    {"01", "010", "北京"}, {"01", "022", "天津"}, {"01", "0311", "石家庄"},
    {"02", "021", "上海"}, {"02", "0571", "杭州"}, {"02", "025", "南京"},
};

struct ShowClass {
    const char *code;
    const char *name;
    const char *ename;
    int weight; // share of the season's programme
    std::vector<const char *> titles;
};

const std::vector<ShowClass> &showClasses()
{
    static const std::vector<ShowClass> classes = {
        {"C01", "音乐会", "Concert", 25,
         {"柴可夫斯基交响音乐会", "贝多芬第九交响曲音乐会", "莫扎特经典作品音乐会", "久石让动漫作品交响音乐会",
          "勃拉姆斯交响作品音乐会", "大师钢琴独奏会", "肖邦夜曲钢琴独奏会", "青年钢琴家独奏音乐会",
          "中国民族管弦乐音乐会", "二胡与琵琶民乐专场", "弦乐四重奏室内乐音乐会", "经典影视金曲交响音乐会"}},
        {"C02", "话剧", "Drama", 20,
         {"《茶馆》北京人艺经典话剧", "《雷雨》曹禺经典话剧", "《日出》经典话剧", "《暗恋桃花源》",
          "《恋爱的犀牛》小剧场话剧", "《白鹿原》话剧", "《窝头会馆》", "《天下第一楼》", "《北京法源寺》"}},
        {"C03", "歌剧", "Opera", 8,
         {"《茶花女》经典歌剧", "《卡门》经典歌剧", "《图兰朵》歌剧", "《蝴蝶夫人》歌剧", "《费加罗的婚礼》喜歌剧",
          "《江姐》民族歌剧", "《白毛女》民族歌剧"}},
        {"C04", "舞蹈", "Dance", 12,
         {"天鹅湖 芭蕾舞剧", "胡桃夹子 芭蕾舞剧", "睡美人 芭蕾舞剧", "吉赛尔 芭蕾舞剧", "《红色娘子军》芭蕾舞剧",
          "《朱鹮》舞剧", "《只此青绿》舞蹈诗剧", "《永不消逝的电波》舞剧"}},
        {"C05", "戏曲", "Chinese Opera", 12,
         {"京剧《锁麟囊》", "京剧《贵妃醉酒》", "京剧《四郎探母》", "昆曲《牡丹亭》青春版", "越剧《红楼梦》",
          "黄梅戏《天仙配》", "豫剧《花木兰》", "评剧《花为媒》"}},
        {"C06", "儿童剧", "Children's Theatre", 12,
         {"《马兰花》儿童剧", "《白雪公主》童话剧", "《三只小猪》亲子剧", "《丑小鸭》音乐儿童剧",
          "《西游记之大闹天宫》儿童剧", "《小王子》儿童剧", "《宝莲灯》亲子剧"}},
        {"C07", "曲艺", "Folk Arts", 6,
         {"相声大会", "经典相声专场", "评书《三国演义》专场", "京韵大鼓名家专场", "苏州评弹专场", "曲艺名家经典晚会"}},
        {"C08", "杂技", "Acrobatics", 5,
         {"《时空之旅》多媒体梦幻剧", "杂技剧《战马》", "国际马戏精品秀", "《天鹅湖》杂技芭蕾", "中国杂技团精品晚会"}},
    };
    return classes;
}

struct Venue {
    const char *code;
    const char *node;
    const char *city;
    const char *name;
    const char *ename;
    const char *classes; // last digits of the class codes this hall takes
    bool valid;
};

const Venue kVenues[] = {
    {"P0101", "01", "010", "首都剧场", "Capital Theatre", "2367", true},
    {"P0102", "01", "010", "国家大剧院歌剧院", "NCPA Opera House", "1345", true},
    {"P0103", "01", "010", "国家大剧院音乐厅", "NCPA Concert Hall", "1", true},
    {"P0104", "01", "010", "北京保利剧院", "Beijing Poly Theatre", "12345678", true},
    {"P0105", "01", "010", "中山公园音乐堂", "Forbidden City Concert Hall", "1", true},
    {"P0106", "01", "010", "天桥艺术中心大剧场", "Tianqiao Performing Arts Center", "12345678", true},
    {"P0107", "01", "022", "天津大剧院", "Tianjin Grand Theatre", "12345678", true},
    {"P0108", "01", "022", "天津音乐厅", "Tianjin Concert Hall", "1", true},
    {"P0109", "01", "0311", "石家庄大剧院", "Shijiazhuang Grand Theatre", "12345678", true},
    {"P0110", "01", "0311", "河北会堂", "Hebei Hall", "1578", false},
    {"P0201", "02", "021", "上海大剧院", "Shanghai Grand Theatre", "12345678", true},
    {"P0202", "02", "021", "上海东方艺术中心", "Shanghai Oriental Art Center", "1345", true},
    {"P0203", "02", "021", "上海话剧艺术中心", "Shanghai Dramatic Arts Centre", "267", true},
    {"P0204", "02", "0571", "杭州剧院", "Hangzhou Theatre", "12345678", true},
    {"P0205", "02", "025", "江苏大剧院", "Jiangsu Centre for the Performing Arts", "12345678", true},
    {"P0206", "02", "025", "南京人民大会堂", "Nanjing People's Hall", "1578", false},
};

struct Project {
    QString name;
    int discount; // percent of the full price, 0 = no cross discount
    int tickets;
    int performances;
};

std::vector<Project> projects(const QDate &today)
{
    // Seasonal names point at the next such season, not one already over.
    const int y = today.year();
    const int concertSeason = today.month() >= 9 ? y : y - 1; // seasons open in September
    const QString springFestival = QString::number(today.month() >= 3 ? y + 1 : y);
    const QString summer = QString::number(today.month() >= 9 ? y + 1 : y);
    return {
        {QStringLiteral("%1/%2").arg(concertSeason).arg((concertSeason + 1) % 100, 2, 10, QLatin1Char('0')) + u("交响乐音乐季"), 80, 2, 5},
        {u("国际戏剧季"), 80, 4, 3},
        {u("周末亲子剧场"), 90, 2, 2},
        {u("大师钢琴独奏会系列"), 88, 2, 3},
        {u("经典歌剧月"), 85, 2, 2},
        {u("芭蕾舞精品展演"), 90, 4, 2},
        {u("京昆名家名段演出季"), 80, 2, 3},
        {u("相声曲艺贺岁专场"), 95, 6, 2},
        {u("国际马戏杂技节"), 88, 4, 2},
        {summer + u("夏季音乐节"), 75, 10, 5},
        {u("北京人艺经典剧目回顾展"), 85, 2, 4},
        {springFestival + u("新春音乐会系列"), 85, 2, 2},
        {u("民族音乐会系列"), 90, 2, 2},
        {u("青年导演戏剧作品展"), 0, 0, 0},
        {u("中国原创舞剧展演"), 85, 2, 2},
        {u("越剧黄梅戏经典展演"), 0, 0, 0},
        {u("暑期儿童戏剧节"), 80, 4, 3},
        {u("室内乐沙龙"), 90, 1, 2},
        {u("爵士音乐周"), 0, 0, 0},
        {u("小剧场话剧节"), 85, 4, 2},
        {u("歌剧院开放日"), 50, 1, 1},
        {u("高校学生艺术季"), 70, 1, 2},
        {u("企业包场专享"), 0, 0, 0},
        {u("长三角巡演季"), 85, 3, 2},
        {u("金秋戏曲展演月"), 80, 2, 3},
    };
}

// Which projects carry which kind of purchase limit (indexes into projects()).
// A project has one kind or none, never both.
const int kMemberClassLimited[] = {0, 1, 3, 5, 9, 11, 19};
const int kIdCardLimited[] = {2, 7, 8, 16, 21};

struct Show {
    QDateTime when;
    int showClass;
    int venue;
    QString name;
    QString code;
};

struct Series {
    int project;
    int showClass;
    QStringList keywords; // any of them in the name; empty = the whole class
    bool weekendOnly;
    int count;
};

} // namespace

QStringList DemoDataStatements(const QDate &today)
{
    Lcg rng(20270128u);
    QStringList out;
    const auto &classes = showClasses();

    for (const auto &m : kMemberClasses)
        out << QStringLiteral("INSERT INTO um_member_class (MEMBER_CLASS_ID, MEMBER_CLASS_NAME) VALUES (%1, %2)")
                   .arg(sqlText(m.code), sqlText(m.name));

    for (const auto &c : kCities)
        out << QStringLiteral("INSERT INTO QEL_PLACE_CITY (NodeCode, CityCode, CName) VALUES (%1, %2, %3)")
                   .arg(sqlText(c.node), sqlText(c.code), sqlText(c.name));

    for (const auto &c : classes)
        out << QStringLiteral("INSERT INTO QEL_PRODUCT_CLASS (PRODUCTCLASSCODE, CNAME, ENAME) VALUES (%1, %2, %3)")
                   .arg(sqlText(c.code), sqlText(c.name), sqlText(c.ename));

    for (const auto &v : kVenues)
        out << QStringLiteral("INSERT INTO qel_place (PLACECODE, NODECODE, CNAME, ENAME, CITYCODE, ISVALID) VALUES (%1, %2, %3, %4, %5, %6)")
                   .arg(sqlText(v.code), sqlText(v.node), sqlText(v.name), sqlText(v.ename), sqlText(v.city),
                        sqlText(v.valid ? "1" : "0"));

    const std::vector<Project> proj = projects(today);
    for (const auto &p : proj)
        out << QStringLiteral("INSERT INTO QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) VALUES (%1, %2, %3, %4)")
                   .arg(sqlText(p.name))
                   .arg(p.discount)
                   .arg(p.tickets)
                   .arg(p.performances);

    const int memberClassCount = int(std::size(kMemberClasses));
    for (int pi : kMemberClassLimited) {
        // Distinct classes per project: the pair (PID, MEMBER_CLASS_ID) is unique.
        std::vector<int> order(static_cast<size_t>(memberClassCount));
        for (int i = 0; i < memberClassCount; ++i)
            order[size_t(i)] = i;
        for (int i = memberClassCount - 1; i > 0; --i)
            std::swap(order[size_t(i)], order[size_t(rng.below(i + 1))]);
        const int n = rng.between(1, 4);
        std::sort(order.begin(), order.begin() + n);
        for (int k = 0; k < n; ++k) {
            const QString values = QStringLiteral("%1, %2, '1', %3")
                                       .arg(sqlText(kMemberClasses[order[size_t(k)]].code))
                                       .arg(rng.between(2, 10))
                                       .arg(sqlText(rng.chance(15) ? "0" : "1"));
            out << QStringLiteral("INSERT INTO qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) ")
                       + selectForProject(proj[size_t(pi)].name, values);
        }
    }
    for (int pi : kIdCardLimited) {
        const QString values = QStringLiteral("'', %1, '2', %2").arg(rng.between(2, 10)).arg(sqlText(rng.chance(15) ? "0" : "1"));
        out << QStringLiteral("INSERT INTO qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) ")
                   + selectForProject(proj[size_t(pi)].name, values);
    }

    // The season: about 400 performances from ten days ago to half a year ahead.
    int totalWeight = 0;
    for (const auto &c : classes)
        totalWeight += c.weight;
    const int venueCount = int(std::size(kVenues));
    std::vector<Show> shows;
    QSet<QString> booked; // a hall holds one matinee and one evening show a day
    while (shows.size() < 400) {
        int roll = rng.below(totalWeight), ci = 0;
        while (roll >= classes[size_t(ci)].weight)
            roll -= classes[size_t(ci++)].weight;
        const ShowClass &sc = classes[size_t(ci)];
        const QChar classDigit = QLatin1Char(sc.code[2]);

        std::vector<int> halls;
        for (int vi = 0; vi < venueCount; ++vi)
            if (kVenues[vi].valid && QLatin1String(kVenues[vi].classes).contains(classDigit))
                halls.push_back(vi);
        const int vi = halls[size_t(rng.below(int(halls.size())))];
        const Venue &v = kVenues[vi];

        const QDate day = today.addDays(rng.between(-10, 180));
        const bool weekend = day.dayOfWeek() >= 6;
        QTime at;
        if (qstrcmp(sc.code, "C06") == 0) // children's plays are afternoon shows
            at = rng.chance(80) ? QTime(14, 30) : QTime(19, 30);
        else if (weekend)
            at = rng.chance(30) ? QTime(14, 30) : QTime(19, 30);
        else
            at = rng.chance(75) ? QTime(19, 30) : QTime(20, 0);
        const QDateTime when(day, at);
        const QString slot = QLatin1String(v.code) + day.toString(Qt::ISODate) + (at.hour() < 17 ? u("A") : u("E"));
        if (booked.contains(slot))
            continue;
        booked.insert(slot);

        QString name = u(sc.titles[size_t(rng.below(int(sc.titles.size())))]);
        const int tag = rng.below(100);
        if (tag < 12) {
            for (const auto &c : kCities)
                if (qstrcmp(c.code, v.city) == 0)
                    name += QStringLiteral("（%1站）").arg(u(c.name));
        } else if (tag < 20) {
            name += u("（加演场）");
        } else if (tag < 25) {
            name += u("（首演）");
        }
        shows.push_back(Show{when, ci, vi, name, QString()});
    }
    std::sort(shows.begin(), shows.end(), [](const Show &a, const Show &b) {
        return a.when != b.when ? a.when < b.when : qstrcmp(kVenues[a.venue].code, kVenues[b.venue].code) < 0;
    });

    static const char *const groups[] = {"G01", "G02", "G03"};
    static const char *const users[] = {"admin", "zhangsan", "lisi", "wangwu"};
    static const char *const owners[] = {"OG01", "OG02", "OG03"};
    int serial = 0;
    for (Show &s : shows) {
        s.code = QStringLiteral("PR%1%2").arg(s.when.date().year()).arg(++serial, 6, 10, QLatin1Char('0'));
        const Venue &v = kVenues[s.venue];
        // Most of a live season sits in states 5 and 6; a few shows in each of the others.
        static const char statuses[] = "55555555556666666012347";
        const char status[2] = {statuses[rng.below(int(sizeof statuses) - 1)], '\0'};
        out << QStringLiteral("INSERT INTO QEL_PRODUCT (PRODUCTCODE, CNAME, HAPPENTIME, PRODUCTCLASSCODE, PLACECODE, NODECODE, "
                              "MAPCODE, CREATEGROUP, PLACEGROUP, STATUS, CREATEUSER, PRODUCTOWNERGROUP) "
                              "VALUES (%1, %2, %3, %4, %5, %6, %7, %8, %9, %10, %11, %12)")
                   .arg(sqlText(s.code), sqlText(s.name),
                        sqlText(s.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
                        sqlText(classes[size_t(s.showClass)].code), sqlText(v.code), sqlText(v.node),
                        sqlText(QStringLiteral("MAP%1").arg(s.venue + 1, 2, 10, QLatin1Char('0'))),
                        sqlText(groups[rng.below(3)]),
                        sqlText(QStringLiteral("PG%1").arg(QLatin1String(v.node))))
                   .arg(sqlText(status), sqlText(users[rng.below(4)]), sqlText(owners[rng.below(3)]));
    }

    // A handful of projects already carry upcoming performances that fit their theme.
    const std::vector<Series> series = {
        {0, 0, {u("交响"), u("管弦")}, false, 7},
        {1, 1, {}, false, 8},
        {2, 5, {}, true, 6},
        {3, 0, {u("钢琴")}, false, 5},
        {5, 3, {u("芭蕾")}, false, 6},
        {6, 4, {u("京剧"), u("昆曲")}, false, 6},
    };
    QSet<QString> assigned; // a performance belongs to at most one project
    for (const Series &ser : series) {
        std::vector<const Show *> fits;
        for (const Show &s : shows) {
            if (s.showClass != ser.showClass || s.when.date() < today || assigned.contains(s.code))
                continue;
            if (ser.weekendOnly && s.when.date().dayOfWeek() < 6)
                continue;
            if (!ser.keywords.isEmpty()
                && std::none_of(ser.keywords.begin(), ser.keywords.end(), [&](const QString &k) { return s.name.contains(k); }))
                continue;
            fits.push_back(&s);
        }
        for (int i = int(fits.size()) - 1; i > 0; --i)
            std::swap(fits[size_t(i)], fits[size_t(rng.below(i + 1))]);
        fits.resize(std::min(fits.size(), size_t(ser.count)));
        std::sort(fits.begin(), fits.end(), [](const Show *a, const Show *b) { return a->code < b->code; });
        for (const Show *s : fits) {
            assigned.insert(s->code);
            out << QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) ")
                       + selectForProject(proj[size_t(ser.project)].name, sqlText(s->code));
        }
    }
    return out;
}

QByteArray DemoDataScript(const QDate &today)
{
    const QString script = DemoDataStatements(today).join(QStringLiteral(";\n")) + QStringLiteral(";\n");
    // Statements here bypass the pipe and its GBK check; the database must
    // never receive text its GBK clients cannot read back.
    CheckGbkText(script);
    return script.toUtf8();
}

void LoadDemoData(Backend &db, const QDate &today)
{
    const QByteArray script = DemoDataScript(today);
    BackendTransaction tx(db);
    db.execScript(script);
    tx.commit();
}
