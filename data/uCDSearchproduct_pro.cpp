#include "uCDSearchproduct_pro.h"
#include <ByteKeyTable.h>
#include <CommaText.h>
#include <Context.h>
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <Pipe.h>
#include <ProductShow.h>
#include <SqlText.h>
#include <QAction>
#include <QDate>
#include <QHash>
#include <algorithm>
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
    cdsProduct->SetIndexFieldNames(QStringLiteral("CNAME;HAPPENTIME"));
    m_weekField = cdsProduct->FieldIndex(QStringLiteral("WEEK"));
    m_timeField = cdsProduct->FieldIndex(QStringLiteral("HAPPENTIME"));
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

void TCDSearchProduct_pro::GetCityBrief()
{
    TCADBPipe2 pipe;
    TQELContext context;
    context.SetAsString(Context);
    const QString sql = QStringLiteral("Select NodeCode, CityCode, CName  from QEL_PLACE_CITY where NodeCode = ") + QuotedStr(context.NodeCode());
    cdsCityBrief->SetData(pipe.GetData(Context, sql));
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

void TCDSearchProduct_pro::SearchProduct()
{
    TCAProductShow show;
    DataPacket rows = show.GetProduct(Context, cdsCondition->GetData());
    // The new rows start unfiltered; the caller narrows them again. Closing
    // first spares running the old filter over the old rows.
    cdsProduct->Close();
    cdsProduct->SetFiltered(false);
    cdsProduct->SetFilter({});
    cdsProduct->SetData(std::move(rows));
}

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
    SearchProduct();
    narrowResults();
}

void TCDSearchProduct_pro::narrowResults()
{
    if (!cdsProduct->Active())
        return;
    TQELContext context;
    context.SetAsString(Context);
    const QString kind = context.KindCode();
    enum class Owner { Anyone, OwnGroup, OwnUser };
    Owner owner = Owner::OwnUser;
    QString who = context.UserName();
    if (kind == QLatin1String("A") || kind == QLatin1String("C")) {
        owner = Owner::Anyone;
    } else if (kind == QLatin1String("G")) {
        owner = Owner::OwnGroup;
        who = context.Group();
    }
    const bool all = AllStatus;
    const int status = cdsProduct->FieldIndex(QStringLiteral("STATUS"));
    const int ownerField = cdsProduct->FieldIndex(owner == Owner::OwnGroup ? QStringLiteral("CREATEGROUP") : QStringLiteral("CREATEUSER"));
    const auto statusInRange = [all](const auto &s) {
        return all ? (s >= QLatin1String("0") && s <= QLatin1String("7")) : (s == QLatin1String("5") || s == QLatin1String("6"));
    };
    // The same test on plain ASCII bytes: for those, byte order is text order.
    const auto asciiStatusInRange = [all](std::string_view s) {
        using namespace std::string_view_literals;
        return all ? (s >= "0"sv && s <= "7"sv) : (s == "5"sv || s == "6"sv);
    };
    // Most cells are plain ASCII as stored: those are compared as bytes, which
    // for ASCII is the same as comparing their text; anything else (edited,
    // null, other characters) is read as text, as before.
    const QByteArray whoBytes = who.toUtf8();
    const std::string_view whoView(whoBytes.constData(), size_t(whoBytes.size()));
    const bool whoAscii = isAscii(whoView);
    // Values are compared, never spliced into an expression: a quote in a
    // group or user name is just a character of that name.
    const auto visible = [&](int row) {
        std::string_view bytes;
        if (cdsProduct->storedUtf8(row, status, bytes) && isAscii(bytes)) {
            while (!bytes.empty() && bytes.back() == ' ')
                bytes.remove_suffix(1);
            if (!asciiStatusInRange(bytes))
                return false;
        } else {
            if (cdsProduct->isNull(row, status))
                return false;
            if (!statusInRange(withoutTrailingBlanks(cdsProduct->text(row, status))))
                return false;
        }
        if (owner == Owner::Anyone)
            return true;
        if (whoAscii && cdsProduct->storedUtf8(row, ownerField, bytes) && isAscii(bytes))
            return bytes == whoView;
        return !cdsProduct->isNull(row, ownerField) && cdsProduct->text(row, ownerField) == who;
    };

    // Each listed code takes away one visible row, the first in the shown
    // order: a code listed twice, two rows. ASCII codes are keyed by their
    // bytes (held in one buffer), other codes by their text; an ASCII text
    // never equals a text with another character, so the two never overlap.
    std::vector<int> left; // how many rows each distinct code may still take away
    const auto asciiText = [](QStringView t) { return std::all_of(t.cbegin(), t.cend(), [](QChar ch) { return ch.unicode() < 0x80; }); };
    std::string asciiCodes;
    asciiCodes.reserve(size_t(ExcludeProducts.size())); // never grows below: the views stay valid
    ByteKeyTable byAscii(size_t(ExcludeProducts.size() / 8 + 1));
    QHash<QString, int> byText;
    qsizetype toTake = 0;
    ReadCommaItems(ExcludeProducts, [&](QStringView c) {
        int id;
        if (asciiText(c)) {
            const size_t start = asciiCodes.size();
            for (QChar ch : c)
                asciiCodes.push_back(char(ch.unicode()));
            const auto [known, added] = byAscii.insert(std::string_view(asciiCodes.data() + start, size_t(c.size())), int(left.size()));
            if (added)
                left.push_back(0);
            else
                asciiCodes.resize(start);
            id = known;
        } else {
            const QString text = c.toString();
            auto it = byText.find(text);
            if (it == byText.end()) {
                it = byText.insert(text, int(left.size()));
                left.push_back(0);
            }
            id = *it;
        }
        ++left[size_t(id)];
        ++toTake;
    });
    const int codeField = cdsProduct->FieldIndex(QStringLiteral("productcode"));
    const auto codeId = [&](int row) {
        std::string_view bytes;
        if (cdsProduct->storedUtf8(row, codeField, bytes) && isAscii(bytes))
            return byAscii.find(bytes);
        if (cdsProduct->isNull(row, codeField))
            return -1;
        const QString t = cdsProduct->text(row, codeField);
        if (asciiText(t)) {
            const QByteArray b = t.toLatin1();
            return byAscii.find(std::string_view(b.constData(), size_t(b.size())));
        }
        return byText.value(t, -1);
    };

    // Every row is decided in the packet's own order, which reads its cells
    // front to back; only the taking away needs the shown order, and that
    // pass reads the small array made here. 0: hidden; 1: shown, no
    // listed code; 2 + id: shown unless its code takes it away.
    const int rows = cdsProduct->packet().rowCount();
    std::vector<int> state(size_t(rows), 0);
    for (int row = 0; row < rows; ++row) {
        if (!visible(row))
            continue;
        const int id = toTake > 0 ? codeId(row) : -1;
        state[size_t(row)] = id < 0 ? 1 : 2 + id;
    }
    // One pass decides every row; the filter then only looks the answer up,
    // so the view is rebuilt once. Removed in memory only.
    auto shown = std::make_shared<std::vector<uint8_t>>(size_t(rows), 0);
    const int count = cdsProduct->RecordCount();
    for (int pos = 0; pos < count; ++pos) {
        const int row = cdsProduct->rowAt(pos);
        const int st = state[size_t(row)];
        if (st == 0)
            continue;
        if (st >= 2 && toTake > 0 && left[size_t(st - 2)] > 0) {
            --left[size_t(st - 2)];
            --toTake;
            continue;
        }
        (*shown)[size_t(row)] = 1;
    }
    cdsProduct->SetFilter([shown](const TQELClientDataSet &, int row) { return size_t(row) < shown->size() && (*shown)[size_t(row)]; });
    cdsProduct->SetFiltered(true);
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
    if (field != m_weekField || row < 0)
        return QVariant();
    const QDateTime when = DataSet.dateTime(row, m_timeField);
    return when.isValid() ? QVariant(WeekdayName(when.date())) : QVariant();
}
