#pragma once
#include "FormSupport.h"
#include "ProjectGlobal.h"
#include <Context.h>
#include <QDialog>
#include <QPointer>
#include <memory>

namespace Ui {
class TUISearchProduct_pro;
}
class QAction;
class QFrame;
class QLabel;
class QPushButton;
class TCDSearchProduct_pro;
class TQELDataSource;
class TQELDBDateEdit;
class TQELDBGrid;
class TQELDBLookupComboBox;

// The modal dialog in which the operator searches the catalogue and picks
// performances; their codes come back as comma text in SelectedProducts.
class QELUIPROJECT_EXPORT TUISearchProduct_pro : public QDialog {
    Q_OBJECT
public:
    explicit TUISearchProduct_pro(QWidget *owner = nullptr);
    ~TUISearchProduct_pro() override;

    QString Context;
    bool AllStatus = false;
    QString ExcludeProducts;
    QString SelectedProducts;

    // Components.
    QFrame *QELPanel2;
    QLabel *QELDBLabel3;
    TQELDBDateEdit *dbox_BTime;
    QLabel *QELLabel2;
    TQELDBDateEdit *dbox_ETime;
    QLabel *QELDBLabel4;
    TQELDBLookupComboBox *dbox_ProductClass;
    QPushButton *BitBtn1;
    QLabel *QELDBLabel1;
    TQELDBLookupComboBox *DBComb_CityCode;
    QLabel *QELDBLabel5;
    TQELDBLookupComboBox *DBComb_PlaceCode;
    QPushButton *btn_ProductReset;
    TQELDBGrid *dgrd_Product;
    QFrame *QELPanel5;
    QPushButton *btn_ProductActOk;
    QPushButton *btn_ProductActCancel;
    TQELCSnapIn *SnapIn;
    TQELCSnapIn *QELCSnapIn1;
    QObject *QELActionList1;
    QAction *actOk;
    QAction *actCancel;
    TQELDataSource *dsSearch;
    TQELDataSource *dsProduct;
    TQELDataSource *dsProductClass;
    TQELDataSource *dsPlace;
    TQELDataSource *dsCityBrief;

    // The data module this dialog owns (also in the global CDSearchProduct_pro).
    TCDSearchProduct_pro *DataModule() const;

    void FormCreate(QObject *Sender);
    void FormDestroy(QObject *Sender);
    void FormShow(QObject *Sender);
    void SnapInContextChange(QObject *Sender);
    void actOkExecute(QObject *Sender);
    void actOkUpdate(QObject *Sender);
    void actCancelExecute(QObject *Sender);
    void dgrd_ProductDblClick(QObject *Sender);

    // The close box and Escape give "cancel".
    void reject() override;

protected:
    void showEvent(QShowEvent *e) override;

private:
    std::unique_ptr<Ui::TUISearchProduct_pro> ui;
    QPointer<TCDSearchProduct_pro> m_data;
};

QELUIPROJECT_EXPORT extern QPointer<TUISearchProduct_pro> UISearchProduct_pro;
