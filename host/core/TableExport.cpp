#include "TableExport.h"
#include "Database.h"
#include "HostError.h"
#include <QDate>
#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QXmlStreamReader>
#include <xlsxwriter.h>
#include <zlib.h>

ExportTable::~ExportTable() = default;

void ExportRows::cell(int row, int column, ExportCell &out) const
{
    const auto &r = rows[size_t(row)];
    out = size_t(column) < r.size() ? r[size_t(column)] : ExportCell();
}

namespace {

// Why a file operation failed, for the operator.
QString reasonOf(int err)
{
    QString why;
    switch (err) {
    case ENOENT: why = QStringLiteral("文件夹不存在"); break;
    case ENOTDIR: why = QStringLiteral("路径中有一项不是文件夹"); break;
    case EACCES:
    case EPERM: why = QStringLiteral("没有写入该位置的权限"); break;
    case EROFS: why = QStringLiteral("该位置是只读的"); break;
    case ENOSPC:
    case EDQUOT: why = QStringLiteral("磁盘空间不足"); break;
    case EFBIG: why = QStringLiteral("文件超过了系统允许的大小"); break;
    case EISDIR: why = QStringLiteral("该名称是一个文件夹"); break;
    case ENAMETOOLONG: why = QStringLiteral("文件名太长"); break;
    case ELOOP: why = QStringLiteral("符号链接层数过多"); break;
    case EIO: why = QStringLiteral("磁盘读写出错"); break;
    default: why = QStringLiteral("系统错误"); break;
    }
    return QStringLiteral("%1（%2）").arg(why, QString::fromLocal8Bit(std::strerror(err)));
}

[[noreturn]] void fail(const QString &target, const QString &why)
{
    throw EHostError(QStringLiteral("导出失败：无法写入“%1”：%2。没有留下不完整的文件。").arg(target, why));
}

bool sameFile(const QByteArray &a, const QByteArray &b)
{
    struct stat sa, sb;
    return ::stat(a.constData(), &sa) == 0 && ::stat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Where the export really goes: through symbolic links to the file they name
// (the links stay), never onto the open database's files, never over a file
// the operator may not write.
QString resolveTarget(const QString &fileName)
{
    QFileInfo info(fileName);
    if (info.fileName().isEmpty())
        fail(fileName, QStringLiteral("没有给出文件名"));
    for (int hops = 0; info.isSymLink(); ++hops) {
        if (hops == 40)
            fail(fileName, reasonOf(ELOOP));
        info.setFile(info.symLinkTarget());
    }
    const QString target = info.absoluteFilePath();
    if (info.isDir())
        fail(target, reasonOf(EISDIR));
    // By name (a -wal or -journal may come and go) and by the file itself (a hard link).
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    const QString named = folder.isEmpty() ? target : folder + QLatin1Char('/') + info.fileName();
    const QByteArray path = QFile::encodeName(target);
    for (const QString &db : Database::files()) {
        const QFileInfo d(db);
        const QString dbFolder = QFileInfo(d.absolutePath()).canonicalFilePath();
        if ((!dbFolder.isEmpty() && named == dbFolder + QLatin1Char('/') + d.fileName()) || sameFile(path, QFile::encodeName(db)))
            throw EHostError(QStringLiteral("导出失败：“%1”是正在使用的数据库文件，不能用导出的文件覆盖它。请另选文件名。").arg(target));
    }
    struct stat st;
    if (::stat(path.constData(), &st) == 0 && (::access(path.constData(), W_OK) != 0 || (st.st_mode & 0222) == 0))
        fail(target, QStringLiteral("文件是只读的或没有写入它的权限，没有替换它"));
    return target;
}

// A hidden temporary file in the target's folder, renamed over it by
// commit(); removed on every other way out. Its name is short whatever the
// target's, so a name of the longest length the system takes still works.
// (QSaveFile names its file after the target plus seven characters, so it
// cannot replace a file whose name is that long.)
class TempTarget {
public:
    explicit TempTarget(const QString &fileName) : m_target(resolveTarget(fileName))
    {
        QByteArray templ = QFile::encodeName(QFileInfo(m_target).absolutePath() + QStringLiteral("/.qel-export-XXXXXX"));
        m_fd = ::mkstemp(templ.data());
        if (m_fd < 0)
            fail(m_target, reasonOf(errno));
        m_temp = templ;
        // The file gets the target's permissions, or the ones a new file would.
        struct stat st;
        mode_t mode;
        if (::stat(QFile::encodeName(m_target).constData(), &st) == 0) {
            mode = st.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::fchmod(m_fd, mode);
    }
    ~TempTarget()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_committed)
            ::unlink(m_temp.constData());
    }
    TempTarget(const TempTarget &) = delete;
    TempTarget &operator=(const TempTarget &) = delete;

    const QString &target() const { return m_target; }
    const QByteArray &tempPath() const { return m_temp; }

    void write(const char *p, size_t n)
    {
        while (n > 0) {
            const ssize_t w = ::write(m_fd, p, n);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                fail(m_target, reasonOf(errno));
            }
            p += w;
            n -= size_t(w);
        }
    }
    // Lets another writer fill the file by its name.
    void release()
    {
        ::close(m_fd);
        m_fd = -1;
    }
    void commit()
    {
        int fd = m_fd;
        if (fd < 0 && (fd = ::open(m_temp.constData(), O_RDONLY | O_CLOEXEC)) < 0)
            fail(m_target, reasonOf(errno));
        // On disk before it takes the name.
        if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
            const int err = errno;
            ::close(fd);
            m_fd = -1;
            fail(m_target, reasonOf(err));
        }
        const int closed = ::close(fd);
        const int err = errno;
        m_fd = -1;
        if (closed != 0)
            fail(m_target, reasonOf(err));
        if (::rename(m_temp.constData(), QFile::encodeName(m_target).constData()) != 0)
            fail(m_target, reasonOf(errno));
        m_committed = true;
    }

private:
    QString m_target;
    QByteArray m_temp;
    int m_fd = -1;
    bool m_committed = false;
};

void appendCsvField(QByteArray &out, const QByteArray &v)
{
    bool quote = false;
    for (char c : v) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out += v;
        return;
    }
    out += '"';
    for (char c : v) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

bool StartsLikeFormula(const QByteArray &text)
{
    return !text.isEmpty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' || text[0] == '\t' || text[0] == '\r');
}

namespace {

// A code of digits that a spreadsheet would read as a number and so lose
// (leading zeros, or more digits than a double holds).
bool digitCode(const QByteArray &text)
{
    if (text.size() < 2 || !(text[0] == '0' || text.size() > 15))
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void appendCsvCell(QByteArray &out, const ExportCell &cell)
{
    if (cell.kind != ExportCell::Text) {
        appendCsvField(out, cell.text);
    } else if (StartsLikeFormula(cell.text)) {
        appendCsvField(out, '\'' + cell.text);
    } else if (digitCode(cell.text)) {
        // ="0012": a constant of digits only, which every spreadsheet shows as
        // the text 0012; nothing else is ever written this way.
        out += "\"=\"\"" + cell.text + "\"\"\"";
    } else {
        appendCsvField(out, cell.text);
    }
}

// Calls flush(bytes) with the CSV text, a chunk at a time.
template <class F>
void writeCsv(const ExportTable &table, F flush)
{
    const QList<ExportColumn> cols = table.columns();
    QByteArray out;
    out.reserve(1 << 20);
    out += "\xEF\xBB\xBF";
    for (int c = 0; c < cols.size(); ++c) {
        if (c)
            out += ',';
        appendCsvField(out, cols[c].title.toUtf8());
    }
    out += "\r\n";
    ExportCell cell;
    const int rows = table.rowCount();
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols.size(); ++c) {
            if (c)
                out += ',';
            table.cell(r, c, cell);
            if (cell.kind != ExportCell::Blank)
                appendCsvCell(out, cell);
        }
        out += "\r\n";
        if (out.size() >= (1 << 20) - 4096) {
            flush(out);
            out.clear();
        }
    }
    flush(out);
}

// Excel counts a column's width in characters of its default font (about 7
// pixels each, plus 5 of padding).
double excelWidth(int pixels)
{
    return std::max(1.0, (pixels - 5) / 7.0);
}

constexpr int kExcelRows = 1048576;
constexpr int kExcelCellChars = 32767;

quint32 le16(const QByteArray &b, qsizetype at) { return quint32(uchar(b[at])) | quint32(uchar(b[at + 1])) << 8; }
quint32 le32(const QByteArray &b, qsizetype at) { return le16(b, at) | le16(b, at + 2) << 16; }

// Reads a written workbook back: every part of the package complete (its
// data inflates to its stated size and checksum, every XML part parses) and
// the sheet holding all its rows. The library writes through temporary files
// without checking every write, so a disk that fills up can leave a short
// but well-formed package; this is where that shows. Empty when sound.
QString checkXlsx(const QString &path, int rowsWanted)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return f.errorString();
    const QByteArray zip = f.readAll();
    // The end of the central directory: its signature within the last 64 KB.
    qsizetype end = -1;
    for (qsizetype i = zip.size() - 22; i >= 0 && i >= zip.size() - 22 - 65535; --i) {
        if (le32(zip, i) == 0x06054b50) {
            end = i;
            break;
        }
    }
    if (end < 0)
        return QStringLiteral("文件不完整（缺少 ZIP 目录）");
    const quint32 entries = le16(zip, end + 10);
    qsizetype at = le32(zip, end + 16);
    int sheetRows = -1;
    for (quint32 n = 0; n < entries; ++n) {
        if (at + 46 > zip.size() || le32(zip, at) != 0x02014b50)
            return QStringLiteral("文件不完整（ZIP 目录损坏）");
        const quint32 method = le16(zip, at + 10), crc = le32(zip, at + 16), packed = le32(zip, at + 20), size = le32(zip, at + 24);
        const quint32 nameLen = le16(zip, at + 28), extraLen = le16(zip, at + 30), commentLen = le16(zip, at + 32);
        const qsizetype local = le32(zip, at + 42);
        const QString name = QString::fromUtf8(zip.mid(at + 46, nameLen));
        at += 46 + nameLen + extraLen + commentLen;
        if (local + 30 > zip.size() || le32(zip, local) != 0x04034b50)
            return QStringLiteral("文件不完整（%1）").arg(name);
        const qsizetype data = local + 30 + le16(zip, local + 26) + le16(zip, local + 28);
        if (data + packed > zip.size())
            return QStringLiteral("文件不完整（%1）").arg(name);
        QByteArray plain;
        if (method == 0) {
            plain = zip.mid(data, packed);
        } else if (method == 8) {
            plain.resize(size);
            z_stream z = {};
            if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
                return QStringLiteral("无法检查文件");
            z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zip.constData() + data));
            z.avail_in = packed;
            z.next_out = reinterpret_cast<Bytef *>(plain.data());
            z.avail_out = size;
            const int r = inflate(&z, Z_FINISH);
            const uLong out = z.total_out;
            inflateEnd(&z);
            if (r != Z_STREAM_END || out != size)
                return QStringLiteral("文件不完整（%1）").arg(name);
        } else {
            return QStringLiteral("未知的压缩方式（%1）").arg(name);
        }
        if (crc32(0, reinterpret_cast<const Bytef *>(plain.constData()), uInt(plain.size())) != crc)
            return QStringLiteral("文件校验失败（%1）").arg(name);
        if (!name.endsWith(QLatin1String(".xml")) && !name.endsWith(QLatin1String(".rels")))
            continue;
        QXmlStreamReader xml(plain);
        const bool sheet = name == QLatin1String("xl/worksheets/sheet1.xml");
        int rows = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && sheet && xml.name() == QLatin1String("row"))
                ++rows;
        }
        if (xml.hasError())
            return QStringLiteral("文件不完整（%1：%2）").arg(name, xml.errorString());
        if (sheet)
            sheetRows = rows;
    }
    if (sheetRows != rowsWanted)
        return QStringLiteral("文件不完整（工作表应有 %1 行，实有 %2 行）").arg(rowsWanted).arg(std::max(sheetRows, 0));
    return QString();
}

QString xlsxReason(lxw_error e, int err)
{
    QString why = QString::fromLatin1(lxw_strerror(e));
    if (err != 0)
        return reasonOf(err) + QStringLiteral("；") + why;
    return QStringLiteral("生成 Excel 文件出错（%1）").arg(why);
}

} // namespace

QByteArray CsvBytes(const ExportTable &table)
{
    QByteArray all;
    writeCsv(table, [&](const QByteArray &chunk) { all += chunk; });
    return all;
}

void ExportCsv(const ExportTable &table, const QString &fileName)
{
    TempTarget file(fileName);
    writeCsv(table, [&](const QByteArray &chunk) { file.write(chunk.constData(), size_t(chunk.size())); });
    file.commit();
}

void ExportToFile(const QString &fileName, const std::function<void(QIODevice &)> &write)
{
    TempTarget file(fileName);
    file.release();
    {
        QFile out(QFile::decodeName(file.tempPath()));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail(file.target(), out.errorString());
        write(out);
        out.close();
        if (out.error() != QFileDevice::NoError)
            fail(file.target(), out.errorString());
    }
    file.commit();
}

void ExportXlsx(const ExportTable &table, const QString &fileName)
{
    const QList<ExportColumn> cols = table.columns();
    const int rows = table.rowCount();
    if (rows >= kExcelRows)
        throw EHostError(QStringLiteral("导出失败：共 %1 行，超过了 Excel 工作表最多 %2 行的限制。请改为导出 CSV。").arg(rows).arg(kExcelRows - 1));
    TempTarget file(fileName);
    file.release();
    const QByteArray folder = QFile::encodeName(QFileInfo(file.target()).absolutePath());
    lxw_workbook_options options = {};
    // Rows go straight to a temporary file in the same folder: memory stays
    // flat whatever the row count, and a full disk shows up here.
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char *>(folder.constData());
    errno = 0;
    lxw_workbook *book = workbook_new_opt(file.tempPath().constData(), &options);
    if (!book)
        fail(file.target(), reasonOf(errno ? errno : EIO));
    lxw_worksheet *sheet = workbook_add_worksheet(book, nullptr);
    lxw_format *title = workbook_add_format(book);
    format_set_bold(title);
    lxw_format *when = workbook_add_format(book);
    format_set_num_format(when, "yyyy-mm-dd hh:mm");
    lxw_error failed = sheet ? LXW_NO_ERROR : LXW_ERROR_MEMORY_MALLOC_FAILED;
    int failedErrno = 0;
    auto check = [&](lxw_error e) {
        if (e != LXW_NO_ERROR && failed == LXW_NO_ERROR) {
            failed = e;
            failedErrno = errno;
        }
    };
    try {
        for (int c = 0; sheet && c < cols.size(); ++c)
            check(worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), excelWidth(cols[c].widthPixels), nullptr));
        for (int c = 0; sheet && c < cols.size(); ++c)
            check(worksheet_write_string(sheet, 0, lxw_col_t(c), cols[c].title.toUtf8().constData(), title));
        ExportCell cell;
        for (int r = 0; sheet && failed == LXW_NO_ERROR && r < rows; ++r) {
            const lxw_row_t at = lxw_row_t(r) + 1;
            for (int c = 0; c < cols.size(); ++c) {
                table.cell(r, c, cell);
                switch (cell.kind) {
                case ExportCell::Blank: break;
                case ExportCell::Number: check(worksheet_write_number(sheet, at, lxw_col_t(c), cell.number, nullptr)); break;
                case ExportCell::DateTime: {
                    constexpr qint64 dayMs = 86400000;
                    const qint64 day = cell.stamp >= 0 ? cell.stamp / dayMs : -((-cell.stamp + dayMs - 1) / dayMs);
                    const qint64 ms = cell.stamp - day * dayMs;
                    int y = 0, m = 0, d = 0;
                    QDate::fromJulianDay(day).getDate(&y, &m, &d);
                    lxw_datetime dt = {y, m, d, int(ms / 3600000), int(ms / 60000 % 60), double(ms % 60000) / 1000.0};
                    check(worksheet_write_datetime(sheet, at, lxw_col_t(c), &dt, when));
                    break;
                }
                case ExportCell::Text:
                    if (cell.text.isEmpty())
                        break;
                    if (cell.text.size() > kExcelCellChars && QString::fromUtf8(cell.text).size() > kExcelCellChars) {
                        // A cell holds at most 32,767 characters.
                        const QByteArray cut = QString::fromUtf8(cell.text).left(kExcelCellChars).toUtf8();
                        check(worksheet_write_string(sheet, at, lxw_col_t(c), cut.constData(), nullptr));
                    } else {
                        check(worksheet_write_string(sheet, at, lxw_col_t(c), cell.text.constData(), nullptr));
                    }
                    break;
                }
            }
        }
    } catch (...) {
        workbook_close(book);
        throw;
    }
    errno = 0;
    const lxw_error closed = workbook_close(book);
    const int closeErrno = errno;
    if (failed != LXW_NO_ERROR)
        fail(file.target(), xlsxReason(failed, failedErrno));
    if (closed != LXW_NO_ERROR)
        fail(file.target(), xlsxReason(closed, closeErrno));
    const QString broken = checkXlsx(QFile::decodeName(file.tempPath()), rows + 1);
    if (!broken.isEmpty())
        fail(file.target(), QStringLiteral("写入未能完成，可能是磁盘空间不足或文件大小受限：%1").arg(broken));
    file.commit();
}
