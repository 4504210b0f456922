#include "uUISearchProduct_pro.h"
#include "uCDSearchproduct_pro.h"
#include <ClientDataSet.h>
#include <CommaText.h>
#include <Context.h>
#include <DBDateEdit.h>
#include <DBEdit.h>
#include <DBGrid.h>
#include <DeskLayout.h>
#include <DBLookupComboBox.h>
#include <DataSource.h>
#include <ErrorHandler.h>
#include <QAction>
#include <QCheckBox>
#include <QPushButton>
#include <QShowEvent>

QPointer<TUISearchProduct_pro> UISearchProduct_pro;

namespace {
// A push button that shows an action's caption and state and runs it when clicked.
void BindAction(QPushButton *button, QAction *action)
{
    const auto sync = [button, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
    };
    sync();
    QObject::connect(action, &QAction::changed, button, sync);
    QObject::connect(button, &QPushButton::clicked, action, Guarded([action](bool) { action->trigger(); }));
}

// A grid column as wide as the field's display width in characters of the grid's font.
GridColumn Column(const TQELDBGrid *grid, const QString &field, const QString &title, int displayWidth)
{
    return GridColumn{field, title, displayWidth * grid->fontMetrics().averageCharWidth() + 12};
}
} // namespace

TUISearchProduct_pro::TUISearchProduct_pro(QWidget *owner) : QDialog(owner)
{
    setupUi(this);

    setWindowTitle(QStringLiteral("查询演出"));
    // Only the close box: no minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    resize(863, 541);
    QELPanel2->setFont(SongFont());
    dgrd_Product->setFont(SongFont());

    SnapIn = new TQELCSnapIn(this);
    SnapIn->setObjectName(QStringLiteral("SnapIn"));
    QELCSnapIn1 = new TQELCSnapIn(this);
    QELCSnapIn1->setObjectName(QStringLiteral("QELCSnapIn1"));

    QELActionList1 = new QObject(this);
    QELActionList1->setObjectName(QStringLiteral("QELActionList1"));
    actOk = new QAction(QStringLiteral("确定(&O)"), QELActionList1);
    actOk->setObjectName(QStringLiteral("actOk"));
    actCancel = new QAction(QStringLiteral("关闭"), QELActionList1);
    actCancel->setObjectName(QStringLiteral("actCancel"));

    dsSearch = new TQELDataSource(this);
    dsSearch->setObjectName(QStringLiteral("dsSearch"));
    dsProduct = new TQELDataSource(this);
    dsProduct->setObjectName(QStringLiteral("dsProduct"));
    dsProductClass = new TQELDataSource(this);
    dsProductClass->setObjectName(QStringLiteral("dsProductClass"));
    dsPlace = new TQELDataSource(this);
    dsPlace->setObjectName(QStringLiteral("dsPlace"));
    dsCityBrief = new TQELDataSource(this);
    dsCityBrief->setObjectName(QStringLiteral("dsCityBrief"));

    dgrd_Product->SetMultiSelect(true);
    dgrd_Product->SetColumns({
        // Names are Chinese: twenty full-width characters, not twenty average ones.
        GridColumn{QStringLiteral("CNAME"), QStringLiteral("名称(中文)"), 20 * dgrd_Product->fontMetrics().horizontalAdvance(QChar(0x540D)) + 12},
        Column(dgrd_Product, QStringLiteral("PlaceName"), QStringLiteral("上演剧场"), 16),
        Column(dgrd_Product, QStringLiteral("HAPPENTIME"), QStringLiteral("上演时间"), 20),
        Column(dgrd_Product, QStringLiteral("WEEK"), QStringLiteral("星期"), 10),
        Column(dgrd_Product, QStringLiteral("PRODUCTCLASSNAME"), QStringLiteral("演出类别"), 10),
        // Project names are Chinese too.
        GridColumn{QStringLiteral("PROJECTNAME"), QStringLiteral("所属项目"), 12 * dgrd_Product->fontMetrics().horizontalAdvance(QChar(0x540D)) + 12},
    });
    // Sorting is for finding performances in the whole list: its top shows.
    dgrd_Product->SetSortShowsTop(true);

    FormCreate(this);

    connect(SnapIn, &TQELCSnapIn::OnContextChange, this, Guarded([this](TQELCSnapIn *sender) { SnapInContextChange(sender); }));
    connect(QELCSnapIn1, &TQELCSnapIn::OnContextChange, this, Guarded([this](TQELCSnapIn *sender) { SnapInContextChange(sender); }));
    connect(actOk, &QAction::triggered, this, Guarded([this](bool) { actOkExecute(actOk); }));
    connect(actCancel, &QAction::triggered, this, Guarded([this](bool) { actCancelExecute(actCancel); }));
    // The update check runs whenever the list changes content, cursor or state.
    connect(dsProduct, &TQELDataSource::DataChange, this, Guarded([this] { actOkUpdate(actOk); }));
    connect(dgrd_Product, &QAbstractItemView::doubleClicked, this, Guarded([this](const QModelIndex &) { dgrd_ProductDblClick(dgrd_Product); }));
    BindAction(btn_ProductActOk, actOk);
    BindAction(btn_ProductActCancel, actCancel);
    actOkUpdate(actOk);
    TQELDeskLayout::Remember(this, TQELDeskLayout::Keep::ColumnWidths); // its size, place and order are designed
}

TUISearchProduct_pro::~TUISearchProduct_pro()
{
    FormDestroy(this);
    if (UISearchProduct_pro == this)
        UISearchProduct_pro = nullptr;
}

TCDSearchProduct_pro *TUISearchProduct_pro::DataModule() const
{
    return m_data;
}

void TUISearchProduct_pro::FormCreate(QObject *)
{
    m_data = new TCDSearchProduct_pro(this);
    CDSearchProduct_pro = m_data;

    dsSearch->SetDataSet(m_data->cdsCondition);
    dsProduct->SetDataSet(m_data->cdsProduct);
    dsProductClass->SetDataSet(m_data->cdsProductClassBrief);
    dsPlace->SetDataSet(m_data->cdsPlaceBrief);
    dsCityBrief->SetDataSet(m_data->cdsCityBrief);
    dgrd_Product->SetDataSource(dsProduct);

    dbox_BTime->SetDataSource(dsSearch);
    dbox_BTime->SetDataField(QStringLiteral("BHappenTime"));
    dbox_ETime->SetDataSource(dsSearch);
    dbox_ETime->SetDataField(QStringLiteral("EHappenTime"));
    // A part of the name, matched as typed (the catalogue takes it literally).
    edt_ProductName->SetDataSource(dsSearch);
    edt_ProductName->SetDataField(QStringLiteral("ProductName"));

    // Each look-up starts with an empty entry: no choice means any.
    const struct {
        TQELDBLookupComboBox *box;
        TQELDataSource *list;
        const char *field;
        const char *key;
    } lookups[] = {
        {dbox_ProductClass, dsProductClass, "ProductClassCode", "PRODUCTCLASSCODE"},
        {DBComb_CityCode, dsCityBrief, "CITYCODE", "CITYCODE"},
        {DBComb_PlaceCode, dsPlace, "PlaceCODE", "PLACECODE"},
    };
    for (const auto &l : lookups) {
        l.box->SetEmptyEntry(true);
        l.box->SetListSource(l.list);
        l.box->SetKeyField(QLatin1String(l.key));
        l.box->SetListField(QStringLiteral("CNAME"));
        l.box->SetDataSource(dsSearch);
        l.box->SetDataField(QLatin1String(l.field));
    }

    BindAction(BitBtn1, m_data->actRetrieve);
    BindAction(btn_ProductReset, m_data->actReset);
    // Enter in the name box searches, as in the other windows' filter boxes.
    connect(edt_ProductName, &QLineEdit::returnPressed, m_data->actRetrieve, &QAction::trigger);
    connect(ckb_Unassigned, &QCheckBox::toggled, this, Guarded([this](bool on) { m_data->SetOnlyUnassigned(on); }));
}

void TUISearchProduct_pro::FormDestroy(QObject *)
{
    // Unbind first, so no view reads the module while it goes.
    dgrd_Product->SetDataSource(nullptr);
    for (TQELDataSource *ds : {dsSearch, dsProduct, dsProductClass, dsPlace, dsCityBrief})
        ds->SetDataSet(nullptr);
    if (CDSearchProduct_pro == m_data)
        CDSearchProduct_pro = nullptr;
    delete m_data.data();
}

void TUISearchProduct_pro::SnapInContextChange(QObject *)
{
    // Whichever snap-in announced it, the context is the one SnapIn holds.
    Context = SnapIn->Context();
    m_data->SetContext(Context);
}

void TUISearchProduct_pro::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous())
        Guarded([this] { FormShow(this); })();
}

void TUISearchProduct_pro::FormShow(QObject *)
{
    m_data->ExcludeProducts = ExcludeProducts;
    m_data->AllStatus = AllStatus;
    if (!m_data->cdsProductClassBrief->Active())
        m_data->GetProductClassBrief();
    if (!m_data->cdsPlaceBrief->Active())
        m_data->GetPlaceBrief();
    // The two above are the catalogue service's own calls; the city list and
    // the first search go together.
    m_data->GetCityBriefAndSearch(!m_data->cdsCityBrief->Active(), !m_data->cdsProduct->Active());
}

void TUISearchProduct_pro::actOkUpdate(QObject *)
{
    const TQELClientDataSet *ds = dsProduct->DataSet();
    actOk->setEnabled(ds && ds->Active() && ds->RecordCount() > 0);
}

void TUISearchProduct_pro::actOkExecute(QObject *)
{
    // Read in one pass over the selection, straight into comma text: moving
    // the cursor row by row would repaint the grid for each of tens of
    // thousands of rows, and a string per row would cost more than the pass.
    try {
        SelectedProducts = dgrd_Product->SelectedCommaText(QStringLiteral("PRODUCTCODE"));
    } catch (...) {
        // The dialog stays open, with no pick.
        SelectedProducts = WriteCommaText({});
        throw;
    }
    done(1);
}

void TUISearchProduct_pro::actCancelExecute(QObject *)
{
    done(2);
}

void TUISearchProduct_pro::dgrd_ProductDblClick(QObject *)
{
    actOkUpdate(actOk);
    actOk->trigger(); // does nothing while disabled
}

void TUISearchProduct_pro::reject()
{
    done(2);
}
