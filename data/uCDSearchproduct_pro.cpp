#include "uCDSearchproduct_pro.h"
#include <ByteKeyTable.h>
#include <CommaText.h>
#include <Context.h>
#include <Database.h>
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <Pipe.h>
#include <ProductShow.h>
#include <SqlText.h>
#include <QAction>
#include <QDate>
#include <QHash>
#include <algorithm>
#include <future>
#include <system_error>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

QPointer<TCDSearchProduct_pro> CDSearchProduct_pro;

namespace {
FieldDef dataField(const char *name, FieldType type, int size, const QString &label = QString(), int displayWidth = 0, bool visible = true,
                   bool required = false)
{
    FieldDef f;
    f.name = QLatin1String(name);
    f.type = type;
    f.size = size;
    f.displayLabel = label;
    f.displayWidth = displayWidth;
    f.visible = visible;
    f.required = required;
    return f;
}

FieldDef lookupField(const char *name, int size, const QString &label, int displayWidth, const char *keyField, TQELClientDataSet *list,
                     const char *listKey, const char *listResult)
{
    FieldDef f = dataField(name, FieldType::Text, size, label, displayWidth);
    f.kind = FieldKind::Lookup;
    f.keyField = QLatin1String(keyField);
    f.lookupDataSet = list;
    f.lookupKeyField = QLatin1String(listKey);
    f.lookupResultField = QLatin1String(listResult);
    return f;
}

bool isAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A dataset filter compares a status code without its trailing blanks.
QString withoutTrailingBlanks(QString s)
{
    while (!s.isEmpty() && s.back() == QLatin1Char(' '))
        s.chop(1);
    return s;
}
} // namespace

TCDSearchProduct_pro::TCDSearchProduct_pro(QObject *owner)
    : QObject(owner),
      cdsCondition(new TQELClientDataSet(this)),
      cdsPlaceBrief(new TQELClientDataSet(this)),
      cdsProductClassBrief(new TQELClientDataSet(this)),
      cdsCityBrief(new TQELClientDataSet(this)),
      cdsProduct(new TQELClientDataSet(this)),
      SeatReclaim(new QObject(this)),
      actRetrieve(new QAction(QStringLiteral("查询"), SeatReclaim)),
      actReset(new QAction(QStringLiteral("重置"), SeatReclaim))
{
    setObjectName(QStringLiteral("CDSearchProduct_pro"));
    cdsCondition->setObjectName(QStringLiteral("cdsCondition"));
    cdsPlaceBrief->setObjectName(QStringLiteral("cdsPlaceBrief"));
    cdsProductClassBrief->setObjectName(QStringLiteral("cdsProductClassBrief"));
    cdsCityBrief->setObjectName(QStringLiteral("cdsCityBrief"));
    cdsProduct->setObjectName(QStringLiteral("cdsProduct"));
    SeatReclaim->setObjectName(QStringLiteral("SeatReclaim"));
    actRetrieve->setObjectName(QStringLiteral("actRetrieve"));
    actReset->setObjectName(QStringLiteral("actReset"));

    cdsCondition->AddFieldDef(dataField("ProductName", FieldType::Text, 64, QStringLiteral("演出名称")));
    cdsCondition->AddFieldDef(dataField("ProductClassCode", FieldType::Text, 12, QString(), 8));
    cdsCondition->AddFieldDef(dataField("PlaceCODE", FieldType::Text, 8));
    cdsCondition->AddFieldDef(dataField("BHappenTime", FieldType::DateTime, 0));
    cdsCondition->AddFieldDef(dataField("EHappenTime", FieldType::DateTime, 0));
    cdsCondition->AddFieldDef(dataField("StatusCode", FieldType::Text, 1));
    cdsCondition->AddFieldDef(dataField("CITYCODE", FieldType::Text, 8));
    // Open from the start, without a record: the first reset makes it.
    cdsCondition->CreateDataSet();

    cdsPlaceBrief->AddFieldDef(dataField("PLACECODE", FieldType::Text, 8, QStringLiteral("场所编号"), 0, true, true));
    cdsPlaceBrief->AddFieldDef(dataField("CNAME", FieldType::Text, 64, QStringLiteral("名称(中文)")));
    cdsPlaceBrief->AddFieldDef(dataField("ENAME", FieldType::Text, 64, QStringLiteral("名称(英文)")));
    cdsPlaceBrief->AddFieldDef(dataField("CITYCODE", FieldType::Text, 8));
    cdsPlaceBrief->SetIndexFieldNames(QStringLiteral("CNAME"));

    cdsProductClassBrief->AddFieldDef(dataField("PRODUCTCLASSCODE", FieldType::Text, 8, QStringLiteral("类别编号"), 0, true, true));
    cdsProductClassBrief->AddFieldDef(dataField("CNAME", FieldType::Text, 64, QStringLiteral("名称(中文)")));
    cdsProductClassBrief->AddFieldDef(dataField("ENAME", FieldType::Text, 64, QStringLiteral("名称(英文)")));
    cdsProductClassBrief->SetIndexFieldNames(QStringLiteral("CNAME"));

    cdsCityBrief->AddFieldDef(dataField("NODECODE", FieldType::Text, 2, QString(), 0, true, true));
    cdsCityBrief->AddFieldDef(dataField("CITYCODE", FieldType::Text, 8, QString(), 0, true, true));
    cdsCityBrief->AddFieldDef(dataField("CNAME", FieldType::Text, 20));

    cdsProduct->AddFieldDef(dataField("PRODUCTCODE", FieldType::Text, 20, QString(), 0, false));
    cdsProduct->AddFieldDef(dataField("CNAME", FieldType::Text, 128, QStringLiteral("名称(中文)"), 20, true, true));
    cdsProduct->AddFieldDef(lookupField("PlaceName", 80, QStringLiteral("上演剧场"), 16, "PLACECODE", cdsPlaceBrief, "PLACECODE", "CNAME"));
    cdsProduct->AddFieldDef(dataField("HAPPENTIME", FieldType::DateTime, 0, QStringLiteral("上演时间"), 20, true, true));
    cdsProduct->AddFieldDef(dataField("PRODUCTCLASSCODE", FieldType::Text, 4, QStringLiteral("演出类别"), 0, false, true));
    FieldDef week = dataField("WEEK", FieldType::Text, 10, QStringLiteral("星期"), 10);
    week.kind = FieldKind::Calculated;
    cdsProduct->AddFieldDef(week);
    cdsProduct->AddFieldDef(
        lookupField("PRODUCTCLASSNAME", 10, QStringLiteral("演出类别"), 10, "PRODUCTCLASSCODE", cdsProductClassBrief, "PRODUCTCLASSCODE", "CNAME"));
    cdsProduct->AddFieldDef(dataField("PLACECODE", FieldType::Text, 5, QStringLiteral("剧场"), 0, false, true));
    cdsProduct->AddFieldDef(dataField("MAPCODE", FieldType::Text, 20, QString(), 0, false));
    cdsProduct->AddFieldDef(dataField("CREATEGROUP", FieldType::Text, 20, QString(), 0, false));
    cdsProduct->AddFieldDef(dataField("PLACEGROUP", FieldType::Text, 20, QString(), 0, false));
    cdsProduct->AddFieldDef(dataField("STATUS", FieldType::Text, 20, QString(), 0, false));
    cdsProduct->AddFieldDef(dataField("CREATEUSER", FieldType::Text, 20, QString(), 0, false));
    cdsProduct->AddFieldDef(dataField("PRODUCTOWNERGROUP", FieldType::Text, 5, QString(), 0, false));
    // The project that already holds the performance; empty when free.
    FieldDef holder = dataField("PROJECTNAME", FieldType::Text, 100, QStringLiteral("所属项目"), 20);
    holder.kind = FieldKind::Calculated;
    cdsProduct->AddFieldDef(holder);
    cdsProduct->SetIndexFieldNames(QStringLiteral("CNAME;HAPPENTIME"));
    m_weekField = cdsProduct->FieldIndex(QStringLiteral("WEEK"));
    m_timeField = cdsProduct->FieldIndex(QStringLiteral("HAPPENTIME"));
    m_holderField = cdsProduct->FieldIndex(QStringLiteral("PROJECTNAME"));
    cdsProduct->SetOnCalcField([this](const TQELClientDataSet &ds, int row, int field) { return cdsProductCalcFields(ds, row, field); });

    connect(actRetrieve, &QAction::triggered, this, Guarded([this](bool) { actRetrieveExecute(actRetrieve); }));
    connect(actReset, &QAction::triggered, this, Guarded([this](bool) { actResetExecute(actReset); }));
}

TCDSearchProduct_pro::~TCDSearchProduct_pro()
{
    DataModuleDestroy(this);
}

void TCDSearchProduct_pro::DataModuleDestroy(QObject *)
{
    // Only this instance's own entry; another live search keeps its global.
    if (CDSearchProduct_pro == this)
        CDSearchProduct_pro = nullptr;
}

void TCDSearchProduct_pro::SetContext(const QString &context)
{
    Context = context;
}

void TCDSearchProduct_pro::GetProductClassBrief()
{
    if (cdsProductClassBrief->Active())
        return;
    TCAProductShow show;
    cdsProductClassBrief->SetData(show.GetProductClassBrief(Context));
}

void TCDSearchProduct_pro::GetPlaceBrief()
{
    if (cdsPlaceBrief->Active())
        return;
    TCAProductShow show;
    cdsPlaceBrief->SetData(show.GetValidPlaceBrief(Context, true));
}

QString TCDSearchProduct_pro::CitySql() const
{
    TQELContext context;
    context.SetAsString(Context);
    return QStringLiteral("Select NodeCode, CityCode, CName  from QEL_PLACE_CITY where NodeCode = ") + QuotedStr(context.NodeCode());
}

void TCDSearchProduct_pro::GetCityBrief()
{
    TCADBPipe2 pipe;
    cdsCityBrief->SetData(pipe.GetData(Context, CitySql()));
}

QStringList TCDSearchProduct_pro::SearchSqls() const
{
    QStringList sqls{TCAProductShow::ProductQuery(cdsCondition->GetData(), Database::connection()->engine())};
    // All holdings, not only the searched days': a scan of the holdings costs
    // a few per cent of the search, a look-up for every row found a third.
    if (ReadHolders)
        sqls << QStringLiteral("select PP.PRODUCTCODE, PJ.CNAME from QEL_PROJECT_PRODUCT PP inner join QEL_PROJECT PJ on PJ.ID = PP.PROJECTID");
    return sqls;
}

void TCDSearchProduct_pro::ShowFound(QList<DataPacket> &answers)
{
    DataPacket holders = ReadHolders ? answers.takeLast() : DataPacket();
    ShowProducts(answers.takeLast(), std::move(holders));
}

void TCDSearchProduct_pro::GetCityBriefAndSearch(bool cities, bool search)
{
    QStringList sqls;
    if (cities)
        sqls << CitySql();
    DataPacket conditions;
    if (search) {
        // The search's statement is composed from the reset conditions.
        conditions = cdsCondition->GetData();
        ResetCondition(true);
        sqls << SearchSqls();
    }
    if (sqls.isEmpty())
        return;
    WaitCursor busy;
    TCADBPipe2 pipe;
    BatchOutcome out = pipe.GetDataBatch(Context, sqls);
    if (cities && !out.rows.isEmpty())
        cdsCityBrief->SetData(out.rows.takeFirst());
    if (out.failure) {
        // The conditions are reset only once the cities are in.
        if (search && out.done() < qsizetype(cities))
            cdsCondition->SetData(conditions);
        std::rethrow_exception(out.failure);
    }
    if (search)
        ShowFound(out.rows);
}

void TCDSearchProduct_pro::ResetCondition(bool)
{
    const QDate today = QDate::currentDate();
    cdsCondition->Edit();
    cdsCondition->FieldByName(QStringLiteral("BHappenTime")).SetAsDateTime(QDateTime(today, QTime(0, 0)));
    cdsCondition->FieldByName(QStringLiteral("EHappenTime")).SetAsDateTime(QDateTime(today.addDays(90), QTime(0, 0)));
    for (const char *name : {"PLACECODE", "PRODUCTCLASSCODE", "ProductName", "CityCode"})
        cdsCondition->FieldByName(QLatin1String(name)).SetAsString(QString());
    cdsCondition->Post();
    if (cdsPlaceBrief->Filtered())
        cdsPlaceBrief->SetFiltered(false);
}

void TCDSearchProduct_pro::installRows(std::shared_ptr<const DataPacket> rows)
{
    // The new rows start unfiltered; the caller narrows them again. Closing
    // first spares running the old filter over the old rows.
    m_shown.reset();
    m_holders.reset();
    cdsProduct->Close();
    cdsProduct->SetFiltered(false);
    cdsProduct->SetFilter({});
    cdsProduct->SetData(std::move(rows));
}

void TCDSearchProduct_pro::SearchProduct()
{
    TCAProductShow show;
    installRows(std::make_shared<const DataPacket>(show.GetProduct(Context, cdsCondition->GetData())));
}

// Who holds each row found: the holdings read beside the search, matched to
// the rows by code.
class TProductHolders {
public:
    explicit TProductHolders(DataPacket &&holders) : m_holders(std::move(holders)) {}

    // Reads only the rows found (read-only) and the holdings, so it may run
    // on another thread while the rows are installed.
    void match(const DataPacket &found)
    {
        const int c = found.columnIndex(QStringLiteral("PRODUCTCODE"));
        const DataPacket::Column *code = c < 0 ? nullptr : &found.columnData(c);
        const int rows = found.rowCount();
        m_of.assign(size_t(rows), -1);
        if (!code || m_holders.columnCount() < 2 || m_holders.rowCount() == 0)
            return;
        const DataPacket::Column &held = m_holders.columnData(0);
        if (code->def.type == FieldType::Text && held.def.type == FieldType::Text) {
            // The same code is the same UTF-8 on both sides.
            ByteKeyTable byCode(size_t(m_holders.rowCount()));
            for (int h = m_holders.rowCount() - 1; h >= 0; --h)
                if (!held.nulls[size_t(h)])
                    byCode.insert(DataPacket::utf8(held, h), h);
            for (int row = 0; row < rows; ++row)
                if (!code->nulls[size_t(row)])
                    m_of[size_t(row)] = byCode.find(DataPacket::utf8(*code, row));
            return;
        }
        QHash<QString, int> byText;
        for (int h = m_holders.rowCount() - 1; h >= 0; --h)
            if (!m_holders.isNull(h, 0))
                byText.insert(m_holders.text(h, 0), h);
        for (int row = 0; row < rows; ++row)
            if (!code->nulls[size_t(row)])
                m_of[size_t(row)] = byText.value(found.text(row, c), -1);
    }

    bool held(int row) const { return size_t(row) < m_of.size() && m_of[size_t(row)] >= 0; }
    QVariant name(int row) const { return held(row) ? m_holders.value(m_of[size_t(row)], 1) : QVariant(); }

private:
    DataPacket m_holders;  // PRODUCTCODE, project name
    std::vector<int> m_of; // by row found: its holder, -1 when free
};

namespace {
enum class Owner { Anyone, OwnGroup, OwnUser };

// What one narrowing hides: rows whose status is out of range, rows of other
// owners, and the listed codes. Each listed code takes away one visible row,
// the first in the shown order: a code listed twice, two rows.
class Narrowing {
public:
    Narrowing(const QString &contextText, bool allStatus) : m_all(allStatus)
    {
        TQELContext context;
        context.SetAsString(contextText);
        const QString kind = context.KindCode();
        m_who = context.UserName();
        if (kind == QLatin1String("A") || kind == QLatin1String("C")) {
            m_owner = Owner::Anyone;
        } else if (kind == QLatin1String("G")) {
            m_owner = Owner::OwnGroup;
            m_who = context.Group();
        }
        m_whoBytes = m_who.toUtf8();
        m_whoAscii = isAscii(whoView());
    }

    QString ownerField() const { return m_owner == Owner::OwnGroup ? QStringLiteral("CREATEGROUP") : QStringLiteral("CREATEUSER"); }

    // Reads the listed codes, then decides the rows whose cells the rules
    // read are plain ASCII text, from their bytes alone (for ASCII, comparing
    // bytes is comparing text); the others stay undecided for finish().
    // Reads nothing but its arguments, the rows read-only, so it may run on
    // another thread while the rows are installed.
    void decideFromBytes(const QString &excluded, const DataPacket &found)
    {
        const auto column = [&found](const QString &name) -> const DataPacket::Column * {
            const int c = found.columnIndex(name);
            return c < 0 ? nullptr : &found.columnData(c);
        };
        const DataPacket::Column *status = column(QStringLiteral("STATUS")), *owner = column(ownerField()),
                                 *code = column(QStringLiteral("PRODUCTCODE"));
        const int rows = found.rowCount();
        readExclusions(excluded);
        m_state.assign(size_t(rows), kUndecided);
        const auto plainText = [](const DataPacket::Column *c) { return c && c->def.type == FieldType::Text; };
        const bool byOwner = m_owner != Owner::Anyone;
        if (!plainText(status) || (byOwner && (!plainText(owner) || !m_whoAscii)) || (m_toTake > 0 && !plainText(code)))
            return;
        for (int row = 0; row < rows; ++row) {
            if (status->nulls[size_t(row)])
                continue;
            std::string_view bytes = DataPacket::utf8(*status, row);
            if (!isAscii(bytes))
                continue;
            while (!bytes.empty() && bytes.back() == ' ')
                bytes.remove_suffix(1);
            if (!asciiStatusInRange(bytes)) {
                m_state[size_t(row)] = kHidden;
                continue;
            }
            if (byOwner) {
                if (owner->nulls[size_t(row)])
                    continue;
                bytes = DataPacket::utf8(*owner, row);
                if (!isAscii(bytes))
                    continue;
                if (bytes != whoView()) {
                    m_state[size_t(row)] = kHidden;
                    continue;
                }
            }
            int id = -1;
            if (m_toTake > 0 && !code->nulls[size_t(row)]) {
                bytes = DataPacket::utf8(*code, row);
                if (!isAscii(bytes))
                    continue;
                id = m_byAscii.find(bytes);
            }
            m_state[size_t(row)] = id < 0 ? kShown : kListed + id;
        }
    }

    // Decides the rows left undecided by their text, then takes the listed
    // codes away in the shown order. 1 for each row to show, by bookmark.
    std::shared_ptr<std::vector<uint8_t>> finish(const TQELClientDataSet &ds)
    {
        const int rows = ds.packet().rowCount();
        if (m_state.size() != size_t(rows))
            m_state.assign(size_t(rows), kUndecided);
        const int status = ds.FieldIndex(QStringLiteral("STATUS"));
        const int owner = ds.FieldIndex(ownerField());
        const int code = ds.FieldIndex(QStringLiteral("productcode"));
        for (int row = 0; row < rows; ++row)
            if (m_state[size_t(row)] == kUndecided)
                m_state[size_t(row)] = decideFromText(ds, row, status, owner, code);

        auto shown = std::make_shared<std::vector<uint8_t>>(size_t(rows), 0);
        qsizetype toTake = m_toTake;
        const int count = ds.RecordCount();
        for (int pos = 0; pos < count; ++pos) {
            const int row = ds.rowAt(pos);
            const int st = m_state[size_t(row)];
            if (st == kHidden)
                continue;
            if (st >= kListed && toTake > 0 && m_left[size_t(st - kListed)] > 0) {
                --m_left[size_t(st - kListed)];
                --toTake;
                continue;
            }
            (*shown)[size_t(row)] = 1;
        }
        return shown;
    }

private:
    static constexpr int kUndecided = -1, kHidden = 0, kShown = 1, kListed = 2; // kListed + the code's id

    static bool asciiText(QStringView t)
    {
        return std::all_of(t.cbegin(), t.cend(), [](QChar ch) { return ch.unicode() < 0x80; });
    }
    std::string_view whoView() const { return std::string_view(m_whoBytes.constData(), size_t(m_whoBytes.size())); }
    bool asciiStatusInRange(std::string_view s) const
    {
        using namespace std::string_view_literals;
        return m_all ? (s >= "0"sv && s <= "7"sv) : (s == "5"sv || s == "6"sv);
    }
    bool statusInRange(const QString &s) const
    {
        return m_all ? (s >= QLatin1String("0") && s <= QLatin1String("7")) : (s == QLatin1String("5") || s == QLatin1String("6"));
    }

    // ASCII codes are keyed by their bytes (held in one buffer), other codes
    // by their text; an ASCII text never equals a text with another
    // character, so the two never overlap.
    void readExclusions(const QString &excluded)
    {
        m_asciiCodes.reserve(size_t(excluded.size())); // never grows below: the views stay valid
        ReadCommaItems(excluded, [&](QStringView c) {
            int id;
            if (asciiText(c)) {
                const size_t start = m_asciiCodes.size();
                for (QChar ch : c)
                    m_asciiCodes.push_back(char(ch.unicode()));
                const auto [known, added] = m_byAscii.insert(std::string_view(m_asciiCodes.data() + start, size_t(c.size())), int(m_left.size()));
                if (added)
                    m_left.push_back(0);
                else
                    m_asciiCodes.resize(start);
                id = known;
            } else {
                const QString text = c.toString();
                auto it = m_byText.find(text);
                if (it == m_byText.end()) {
                    it = m_byText.insert(text, int(m_left.size()));
                    m_left.push_back(0);
                }
                id = *it;
            }
            ++m_left[size_t(id)];
            ++m_toTake;
        });
    }

    // The same rules on the dataset's text, for cells that are edited, null,
    // of another type or not plain ASCII. Values are compared, never spliced
    // into an expression: a quote in a group or user name is just a
    // character of that name.
    int decideFromText(const TQELClientDataSet &ds, int row, int status, int owner, int code) const
    {
        if (ds.isNull(row, status) || !statusInRange(withoutTrailingBlanks(ds.text(row, status))))
            return kHidden;
        if (m_owner != Owner::Anyone && (ds.isNull(row, owner) || ds.text(row, owner) != m_who))
            return kHidden;
        if (m_toTake == 0 || ds.isNull(row, code))
            return kShown;
        const QString t = ds.text(row, code);
        int id;
        if (asciiText(t)) {
            const QByteArray b = t.toLatin1();
            id = m_byAscii.find(std::string_view(b.constData(), size_t(b.size())));
        } else {
            id = m_byText.value(t, -1);
        }
        return id < 0 ? kShown : kListed + id;
    }

    bool m_all;
    Owner m_owner = Owner::OwnUser;
    QString m_who;
    QByteArray m_whoBytes;
    bool m_whoAscii = false;
    std::vector<int> m_left; // how many rows each distinct code may still take away
    std::string m_asciiCodes;
    ByteKeyTable m_byAscii;
    QHash<QString, int> m_byText;
    qsizetype m_toTake = 0;
    std::vector<int> m_state;
};
} // namespace

void TCDSearchProduct_pro::actRetrieveExecute(QObject *)
{
    if (cdsCondition->State() == DataSetState::Edit || cdsCondition->State() == DataSetState::Insert)
        cdsCondition->Post();
    const QDateTime from = cdsCondition->FieldByName(QStringLiteral("BHappenTime")).AsDateTime();
    const QDateTime to = cdsCondition->FieldByName(QStringLiteral("EHappenTime")).AsDateTime();
    if (from.isValid() && to.isValid() && from.date() > to.date()) {
        ShowWarningMessage(QStringLiteral("上演时间的起始日期（%1）晚于截止日期（%2），请重新选择。")
                               .arg(from.date().toString(QStringLiteral("yyyy-MM-dd")), to.date().toString(QStringLiteral("yyyy-MM-dd"))),
                           QStringLiteral("提示"));
        return;
    }
    WaitCursor busy;
    // The catalogue's query and who holds what, in one round trip.
    TCADBPipe2 pipe;
    BatchOutcome out = pipe.GetDataBatch(Context, SearchSqls());
    if (out.failure)
        std::rethrow_exception(out.failure);
    ShowFound(out.rows);
}

void TCDSearchProduct_pro::ShowProducts(DataPacket &&found, DataPacket &&holdings)
{
    Narrowing narrowing(Context, AllStatus);
    auto holders = std::make_shared<TProductHolders>(std::move(holdings));
    // Read-only from here on. The thread and the dataset share the rows, so
    // deciding them by their bytes runs beside the ordering that installing
    // them does; the dataset copies them before it would write to them, and
    // the thread keeps them alive as long as it reads them.
    const auto rows = std::make_shared<const DataPacket>(std::move(found));
    const auto decide = [&narrowing, &holders, excluded = ExcludeProducts, rows] {
        narrowing.decideFromBytes(excluded, *rows);
        holders->match(*rows);
    };
    // Declared after what the thread writes to: on any exception the thread
    // is joined before those go.
    std::future<void> decided;
    try {
        decided = std::async(std::launch::async, decide);
    } catch (const std::system_error &) {
        decide(); // no thread to be had: in turn
    }
    try {
        installRows(rows);
        if (decided.valid())
            decided.get();
        // The filter only looks the answer up, so the view is rebuilt once.
        // Removed in memory only.
        m_shown = narrowing.finish(*cdsProduct);
        m_holders = std::move(holders);
        applyNarrowing();
    } catch (...) {
        // Rows this operator may not see or pick are never left on show.
        if (decided.valid())
            decided.wait();
        cdsProduct->Close();
        throw;
    }
}

void TCDSearchProduct_pro::applyNarrowing()
{
    const auto shown = m_shown;
    const auto holders = OnlyUnassigned ? m_holders : nullptr;
    cdsProduct->SetFilter([shown, holders](const TQELClientDataSet &, int row) {
        return size_t(row) < shown->size() && (*shown)[size_t(row)] && !(holders && holders->held(row));
    });
    // A filtered set has just rebuilt its view: once is enough.
    if (!cdsProduct->Filtered())
        cdsProduct->SetFiltered(true);
}

void TCDSearchProduct_pro::SetOnlyUnassigned(bool on)
{
    OnlyUnassigned = on;
    // The rows found are all in memory: no new search.
    if (cdsProduct->Active() && m_shown && m_holders)
        applyNarrowing();
}

void TCDSearchProduct_pro::actResetExecute(QObject *)
{
    if (ShowConfirmMessage(QStringLiteral("您确定要重新选择查询条件吗？"), QStringLiteral("请确认")) != mrYes)
        return;
    ResetCondition(true);
    cdsProduct->Close();
}

QString TCDSearchProduct_pro::WeekdayName(const QDate &day)
{
    static const char *const names[] = {"星期一", "星期二", "星期三", "星期四", "星期五", "星期六", "星期天"};
    if (!day.isValid())
        return QString();
    return QString::fromUtf8(names[day.dayOfWeek() - 1]);
}

QVariant TCDSearchProduct_pro::cdsProductCalcFields(const TQELClientDataSet &DataSet, int row, int field) const
{
    if (field == m_holderField && row >= 0)
        return m_holders ? m_holders->name(row) : QVariant();
    if (field != m_weekField || row < 0)
        return QVariant();
    const QDateTime when = DataSet.dateTime(row, m_timeField);
    return when.isValid() ? QVariant(WeekdayName(when.date())) : QVariant();
}
