#pragma once
#include "FormSupport.h"
#include "ProjectGlobal.h"
#include "ui_uUISearchProduct_pro.h"
#include <Context.h>
#include <QDialog>
#include <QPointer>

class QAction;
class TCDSearchProduct_pro;
class TQELDataSource;

// The modal dialog in which the operator searches the catalogue and picks
// performances; their codes come back as comma text in SelectedProducts.
// The stored layout is a public base: its components keep their names.
class QELUIPROJECT_EXPORT TUISearchProduct_pro : public QDialog, public Ui::TUISearchProduct_pro {
    Q_OBJECT
public:
    explicit TUISearchProduct_pro(QWidget *owner = nullptr);
    ~TUISearchProduct_pro() override;

    QString Context;
    bool AllStatus = false;
    QString ExcludeProducts;
    QString SelectedProducts;

    // Components made in code; the visual ones come with the layout.
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
    QPointer<TCDSearchProduct_pro> m_data;
};

QELUIPROJECT_EXPORT extern QPointer<TUISearchProduct_pro> UISearchProduct_pro;
