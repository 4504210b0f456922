// The table writers: CSV bytes as written, the .xlsx read back by another
// reader (openpyxl), and what a failed write leaves behind.
#include "DataPacket.h"
#include "Database.h"
#include "Errors.h"
#include "Backend.h"
#include "HostError.h"
#include "TableExport.h"
#include "Xlsx.h"
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

ExportCell text(const char *utf8)
{
    ExportCell c;
    c.kind = ExportCell::Text;
    c.text = QByteArray(utf8);
    return c;
}

ExportCell number(double v, const char *shown)
{
    ExportCell c;
    c.kind = ExportCell::Number;
    c.number = v;
    c.text = QByteArray(shown);
    return c;
}

ExportCell when(QDate d, QTime t)
{
    ExportCell c;
    c.kind = ExportCell::DateTime;
    c.stamp = DataPacket::stampFromDateTime(QDateTime(d, t));
    c.text = QDateTime(d, t).toString(QStringLiteral("yyyy-MM-dd hh:mm")).toUtf8();
    return c;
}

// Codes with leading zeros, quotes, commas, line breaks, Chinese, blanks, a
// formula-looking text and a number too large for a double.
ExportRows awkwardTable()
{
    ExportRows t;
    t.cols = {{QStringLiteral("编码"), ExportKind::Text, 80},
              {QStringLiteral("名称"), ExportKind::Text, 200},
              {QStringLiteral("数量"), ExportKind::Number, 60},
              {QStringLiteral("上演时间"), ExportKind::DateTime, 131}};
    t.rows.push_back({text("007"), text("北京, 音乐厅"), number(12, "12"), when(QDate(2025, 3, 4), QTime(19, 30))});
    t.rows.push_back({text("A\"B"), text("第一行\n第二行"), ExportCell(), ExportCell()});
    t.rows.push_back({text(""), text("say \"hi\""), number(-3.5, "-3.5"), when(QDate(2024, 12, 31), QTime(23, 59))});
    t.rows.push_back({ExportCell(), text("=1+1"), text("9007199254740993"), ExportCell()});
    t.rows.push_back({text("+SUM(1,2)"), text("@SUM(1+1)"), number(-2, "-2"), ExportCell()});
    t.rows.push_back({text("-减"), text("\t制表"), ExportCell(), ExportCell()});
    return t;
}

const QByteArray kAwkwardCsv = QByteArray("\xEF\xBB\xBF"
                                          "编码,名称,数量,上演时间\r\n"
                                          "\"=\"\"007\"\"\",\"北京, 音乐厅\",12,2025-03-04 19:30\r\n"
                                          "\"A\"\"B\",\"第一行\n第二行\",,\r\n"
                                          ",\"say \"\"hi\"\"\",-3.5,2024-12-31 23:59\r\n"
                                          ",'=1+1,\"=\"\"9007199254740993\"\"\",\r\n"
                                          "\"'+SUM(1,2)\",'@SUM(1+1),-2,\r\n"
                                          "'-减,'\t制表,,\r\n");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// A file size limit for this process: writes past it fail with EFBIG, as a
// full disk fails them half-way (the signal it would raise is ignored).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = m_old;
        lim.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

ExportRows bigTable(int rows)
{
    ExportRows t;
    t.cols = {{QStringLiteral("编码"), ExportKind::Text, 80}, {QStringLiteral("名称"), ExportKind::Text, 200}};
    // Names that do not compress away: the file really grows with the rows.
    quint64 x = 12345;
    for (int i = 0; i < rows; ++i) {
        const QByteArray code = QByteArray::number(i).rightJustified(8, '0');
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        const QByteArray name = "演出" + QByteArray::number(x, 36);
        t.rows.push_back({text(code.constData()), text(name.constData())});
    }
    return t;
}

using Writer = void (*)(const ExportTable &, const QString &);

} // namespace

TEST(CsvExport, QuotesWhatNeedsItAndKeepsEverythingElseAsShown)
{
    EXPECT_EQ(CsvBytes(awkwardTable()), kAwkwardCsv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("演出.csv"));
    ExportCsv(awkwardTable(), path);
    EXPECT_EQ(readAll(path), kAwkwardCsv);
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("演出.csv")}) << "no temporary file left";
}

TEST(CsvExport, NoRowsGivesTheTitlesAlone)
{
    ExportRows t = awkwardTable();
    t.rows.clear();
    EXPECT_EQ(CsvBytes(t), QByteArray("\xEF\xBB\xBF编码,名称,数量,上演时间\r\n"));
}

TEST(CsvExport, ReplacesAnExistingFileWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.csv"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(100000, 'x'));
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    ExportCsv(awkwardTable(), path);
    EXPECT_EQ(readAll(path), kAwkwardCsv) << "nothing of the old, longer content remains";
    EXPECT_EQ(QFile::permissions(path) & (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther), QFile::ReadOwner | QFile::WriteOwner)
        << "the replaced file keeps its permissions";
}

TEST(XlsxExport, CellsReadBackWithTheirTypesFormatsAndWidths)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("演出.xlsx"));
    ExportXlsx(awkwardTable(), path);
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("演出.xlsx")}) << "no temporary file left";
    QString error;
    const QJsonObject sheet = readXlsx(path, &error);
    ASSERT_FALSE(sheet.isEmpty()) << error.toStdString();
    EXPECT_EQ(sheet.value(QStringLiteral("sheets")).toInt(), 1);
    ASSERT_EQ(xlsxRowCount(sheet), 7);
    const QString fmt = QStringLiteral("|yyyy-mm-dd hh:mm");
    EXPECT_EQ(xlsxRow(sheet, 0), (QStringList{"s:编码", "s:名称", "s:数量", "s:上演时间"}));
    EXPECT_EQ(xlsxRow(sheet, 1), (QStringList{"s:007", "s:北京, 音乐厅", "n:12", "d:2025-03-04 19:30:00" + fmt}));
    EXPECT_EQ(xlsxRow(sheet, 2), (QStringList{"s:A\"B", "s:第一行\n第二行"}));
    EXPECT_EQ(xlsxRow(sheet, 3), (QStringList{"-", "s:say \"hi\"", "n:-3.5", "d:2024-12-31 23:59:00" + fmt}));
    EXPECT_EQ(xlsxRow(sheet, 4), (QStringList{"-", "s:=1+1", "s:9007199254740993"}));
    EXPECT_EQ(xlsxRow(sheet, 5), (QStringList{"s:+SUM(1,2)", "s:@SUM(1+1)", "n:-2"})) << "typed text cells run nothing";
    const QJsonObject widths = sheet.value(QStringLiteral("widths")).toObject();
    // About a character per 7 pixels, as Excel counts them.
    const double a = widths.value(QStringLiteral("A")).toDouble(), b = widths.value(QStringLiteral("B")).toDouble(),
                 c = widths.value(QStringLiteral("C")).toDouble(), d = widths.value(QStringLiteral("D")).toDouble();
    EXPECT_NEAR(a, 75 / 7.0, 1.0);
    EXPECT_NEAR(b, 195 / 7.0, 1.0);
    EXPECT_NEAR(c, 55 / 7.0, 1.0);
    EXPECT_NEAR(d, 126 / 7.0, 1.0);
    const QJsonArray bold = sheet.value(QStringLiteral("titleBold")).toArray();
    ASSERT_EQ(bold.size(), 4);
    EXPECT_TRUE(bold.at(0).toBool());
}

TEST(XlsxExport, NoRowsGivesTheTitlesAlone)
{
    ExportRows t = awkwardTable();
    t.rows.clear();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("empty.xlsx"));
    ExportXlsx(t, path);
    const QJsonObject sheet = readXlsx(path);
    ASSERT_EQ(xlsxRowCount(sheet), 1);
    EXPECT_EQ(xlsxRow(sheet, 0), (QStringList{"s:编码", "s:名称", "s:数量", "s:上演时间"}));
}

class ExportFailure : public ::testing::TestWithParam<Writer> {};

TEST_P(ExportFailure, AFolderThatIsAFileIsNamedAndNothingIsWritten)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("plain.txt"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep");
    }
    const QString target = file + QStringLiteral("/x.out");
    try {
        GetParam()(awkwardTable(), target);
        FAIL() << "the write should fail";
    } catch (const EHostError &e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("导出失败：无法写入“") + target + QStringLiteral("”："))) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains(QStringLiteral("路径中有一项不是文件夹"))) << e.message().toStdString();
    }
    EXPECT_EQ(readAll(file), QByteArray("keep"));
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("plain.txt")});
}

TEST_P(ExportFailure, AMissingFolderOrAFolderAsTheNameIsRefused)
{
    QTemporaryDir dir;
    try {
        GetParam()(awkwardTable(), dir.filePath(QStringLiteral("no/such/x.out")));
        FAIL() << "the write should fail";
    } catch (const EHostError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("文件夹不存在"))) << e.message().toStdString();
    }
    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    try {
        GetParam()(awkwardTable(), dir.filePath(QStringLiteral("sub")));
        FAIL() << "the write should fail";
    } catch (const EHostError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("该名称是一个文件夹"))) << e.message().toStdString();
    }
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("sub")});
    EXPECT_TRUE(entries(dir.filePath(QStringLiteral("sub"))).isEmpty());
}

TEST_P(ExportFailure, ADiskThatFailsHalfWayKeepsTheOldFileAndLeavesNoPart)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.out"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the previous export");
    }
    const ExportRows table = bigTable(20000); // about 1 MB either way
    try {
        FileSizeLimit limit(64 * 1024);
        GetParam()(table, path);
        FAIL() << "the write should fail past 64 KB";
    } catch (const EHostError &e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("导出失败：无法写入“") + path)) << e.message().toStdString();
        // CSV hears it from the system; the workbook finds its sheet cut short when read back.
        EXPECT_TRUE(e.message().contains(QStringLiteral("文件超过了系统允许的大小")) || e.message().contains(QStringLiteral("可能是磁盘空间不足或文件大小受限")))
            << e.message().toStdString();
        EXPECT_TRUE(e.message().endsWith(QStringLiteral("没有留下不完整的文件。"))) << e.message().toStdString();
    }
    EXPECT_EQ(readAll(path), QByteArray("the previous export"));
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("list.out")}) << "no temporary file left";
    // With room again the same export goes through.
    GetParam()(table, path);
    EXPECT_GT(QFileInfo(path).size(), 64 * 1024);
}

TEST_P(ExportFailure, ALinkIsWrittenThroughAReadOnlyFileAndTheDatabaseAreRefusedALongNameWorks)
{
    QTemporaryDir dir;
    const QString shared = dir.filePath(QStringLiteral("shared.out")), link = dir.filePath(QStringLiteral("link.out"));
    const QString readOnly = dir.filePath(QStringLiteral("ro.out"));
    for (const QString &f : {shared, readOnly}) {
        QFile out(f);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("old");
    }
    ASSERT_TRUE(QFile::link(shared, link));
    GetParam()(awkwardTable(), link);
    EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link stays";
    EXPECT_GT(QFileInfo(shared).size(), 100) << "the file it names is written";

    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup);
    const QString refused = thrownMessage([&] { GetParam()(awkwardTable(), readOnly); });
    EXPECT_TRUE(refused.contains(QStringLiteral("只读"))) << refused.toStdString();
    EXPECT_EQ(readAll(readOnly), QByteArray("old"));

    // The longest name the system takes, replaced a second time.
    const QString longName = dir.filePath(QString(251, QLatin1Char('n')) + QStringLiteral(".out"));
    GetParam()(awkwardTable(), longName);
    GetParam()(awkwardTable(), longName);
    EXPECT_GT(QFileInfo(longName).size(), 100);

    const QString db = dir.filePath(QStringLiteral("box.db"));
    Database::open(QStringLiteral("sqlite:") + db);
    const auto close = qScopeGuard([] { Database::close(); });
    Database::connection()->execScript("CREATE TABLE t (x INTEGER); INSERT INTO t VALUES (1);");
    const qint64 size = QFileInfo(db).size();
    ASSERT_TRUE(QFile::link(db, dir.filePath(QStringLiteral("db-link.out"))));
    for (const QString &target : {db, db + QStringLiteral("-wal"), db + QStringLiteral("-journal"), dir.filePath(QStringLiteral("db-link.out"))}) {
        const QString msg = thrownMessage([&] { GetParam()(awkwardTable(), target); });
        EXPECT_TRUE(msg.contains(QStringLiteral("正在使用的数据库文件"))) << target.toStdString() << msg.toStdString();
    }
    EXPECT_EQ(QFileInfo(db).size(), size);
    EXPECT_FALSE(QFileInfo::exists(db + QStringLiteral("-journal")));
    EXPECT_EQ(Database::connection()->query("SELECT count(*) FROM t").integer(0, 0), 1);
}

INSTANTIATE_TEST_SUITE_P(Writers, ExportFailure, ::testing::Values(&ExportCsv, &ExportXlsx),
                         [](const ::testing::TestParamInfo<Writer> &writer) { return writer.param == &ExportCsv ? std::string("Csv") : std::string("Xlsx"); });

TEST(XlsxExport, ALargeTableReadsBackWhole)
{
    const ExportRows table = bigTable(3000);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.xlsx"));
    ExportXlsx(table, path);
    const QJsonObject sheet = readXlsx(path);
    ASSERT_EQ(xlsxRowCount(sheet), 3001);
    ExportCell first, last;
    table.cell(0, 1, first);
    table.cell(2999, 1, last);
    EXPECT_EQ(xlsxRow(sheet, 1), (QStringList{"s:00000000", "s:" + QString::fromUtf8(first.text)}));
    EXPECT_EQ(xlsxRow(sheet, 3000), (QStringList{"s:00002999", "s:" + QString::fromUtf8(last.text)}));
}
