#include "ErrorHandler.h"
#include <QLibraryInfo>
#include <QTranslator>
#include "Dialogs.h"
#include "HostError.h"
#include <QGuiApplication>
#include <new>

QString ExceptionText(std::exception_ptr e)
{
    try {
        if (e)
            std::rethrow_exception(e);
    } catch (const EHostError &err) {
        return err.message();
    } catch (const std::bad_alloc &) {
        return QStringLiteral("内存不足，操作未完成。");
    } catch (const std::exception &err) {
        return QStringLiteral("程序内部错误：%1").arg(QString::fromLocal8Bit(err.what()));
    } catch (...) {
        return QStringLiteral("未知错误，操作未完成。");
    }
    return QString();
}

void HandleException(std::exception_ptr e)
{
    // A failed command must not leave the hourglass behind.
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
    try {
        ShowErrorMessage(ExceptionText(e), QStringLiteral("错误"));
    } catch (...) {
        // Nothing more can be shown; the program goes on.
    }
}

bool LoadQtTranslations()
{
    // Qt's own texts (file dialogs, standard buttons) in the operator's
    // language, whatever the desk's locale says.
    static QTranslator *qt = nullptr;
    if (qt)
        return true;
    auto *t = new QTranslator(qApp);
    if (!t->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete t;
        return false;
    }
    QCoreApplication::installTranslator(t);
    qt = t;
    return true;
}

HostApplication::HostApplication(int &argc, char **argv) : QApplication(argc, argv) { LoadQtTranslations(); }

bool HostApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException(std::current_exception());
        return false;
    }
}

WaitCursor::WaitCursor()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor()
{
    QGuiApplication::restoreOverrideCursor();
}
