// qelclient: the host program that loads the project package.
#include "ClientOptions.h"
#include <Context.h>
#include <DBGrid.h>
#include <Database.h>
#include <DatabaseAddress.h>
#include <HostMemory.h>
#include <DemoData.h>
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <HostError.h>
#include <Schema.h>
#include <SqliteBackup.h>
#include <QDir>
#include <QFileInfo>
#include <QContextMenuEvent>
#include <QFont>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QLibrary>
#include <QPointer>
#include <QScopeGuard>
#include <QSettings>
#include <QTabWidget>
#include <QAbstractItemView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <optional>
#include "../package/PackageInfo.h"

namespace {
// The forms ask for 宋体; map it to a Song/Ming face this machine has.
void mapSongFont()
{
    QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"), QStringLiteral("Noto Serif CJK SC"),
                                                       QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")});
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"));
}

// An SQLite file is used only as a file of its own that holds the module's
// tables: a missing or empty one gets them only when --create or --demo asks
// (a mistyped path or a share that is not mounted must not become a new
// database that looks like the real one); someone else's file is refused.
void openDatabase(const QString &url, const ClientOptions &opt)
{
    if (!url.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        if (opt.create || opt.demo)
            throw EHostError(QStringLiteral("--create 与 --demo 只用于 SQLite 数据库文件；服务器上的数据库请用 psql 执行建表脚本 data/schema/postgres.sql"));
        Database::open(url);
        // A server database made before the change history gets it now.
        UpgradeDatabase(*Database::connection());
        return;
    }
    const QString path = url.mid(7);
    CheckSqliteFileName(path);
    // An empty path is refused by the connection itself.
    if (!path.trimmed().isEmpty() && !QFileInfo::exists(path) && !opt.create && !opt.demo)
        throw EHostError(QStringLiteral("数据库文件“%1”不存在。第一次使用时请加 --create 新建空数据库，或加 --demo 新建带演示数据的数据库；"
                                        "若数据库在网络共享上，请先确认共享已挂载")
                             .arg(path));
    Database::open(url);
    try {
        PrepareSqliteDatabase(*Database::connection(), QDate::currentDate(),
                              opt.demo ? SqliteFill::Demo : opt.create ? SqliteFill::Schema : SqliteFill::Nothing);
    } catch (const EHostError &e) {
        Database::close();
        throw EHostError(QStringLiteral("无法使用数据库文件“%1”：%2").arg(path, e.message()));
    }
}

// A copy of the database and nothing else: no window, no package.
void backup(const QString &url, const QString &copy)
{
    if (!url.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive))
        throw EHostError(QStringLiteral("--backup 只用于 SQLite 数据库文件。服务器上的数据库请用 PostgreSQL 自带的工具备份，例如：pg_dump -Fc -f 备份文件 数据库地址"
                                        "（恢复用 pg_restore）"));
    const QString path = url.mid(7);
    CheckSqliteFileName(path);
    const SqliteBackupResult r = BackupSqliteDatabase(path, copy);
    std::printf("%s\n", qPrintable(QStringLiteral("已备份到“%1”：%2 张数据表，共 %3 行").arg(r.copy).arg(r.tables).arg(r.rows)));
}

// The platform is chosen when the application is made: a screenshot or
// backup run without a display must ask for offscreen before that.
void preferOffscreenWithoutDisplay(int argc, char **argv)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--screenshot" || a.startsWith("--screenshot=") || a == "--backup" || a.startsWith("--backup=")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            return;
        }
    }
}

QString packagePath(const QString &given)
{
    if (!given.isEmpty())
        return given;
    // Beside the program in the build tree; installed, in its own folder under lib.
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/");
    const QString beside = dir + QStringLiteral(QEL_PACKAGE_NAME);
    const QString installed = QDir::cleanPath(dir + QStringLiteral(QEL_PACKAGE_DIR "/" QEL_PACKAGE_NAME));
    return QFileInfo::exists(beside) || !QFileInfo::exists(installed) ? beside : installed;
}

void save(QWidget *w, const QString &dir, const QString &name)
{
    const QString file = QDir(dir).filePath(name);
    if (!w->grab().save(file))
        throw EHostError(QStringLiteral("无法保存截图 %1").arg(file));
    std::printf("%s\n", qPrintable(file));
}

// Clicks a button (or triggers an action) and, once its modal dialog is up,
// hands the dialog to `inside`, then closes it.
void withDialog(QWidget *parent, const QString &button, const std::function<void(QWidget *)> &inside)
{
    QTimer::singleShot(300, [inside] {
        QWidget *dlg = QApplication::activeModalWidget();
        if (!dlg)
            return;
        inside(dlg);
        dlg->close();
    });
    if (auto *b = parent->findChild<QToolButton *>(button))
        b->click();
    else if (auto *a = parent->findChild<QAction *>(button))
        a->trigger();
}

class SilentPresenter : public MessagePresenter {
public:
    int present(MessageKind, const QString &text, const QString &, int) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        return mrNo;
    }
};

// Opens the grid's context menu at `at` (in its viewport) and saves it drawn
// over the main window where it opened, with `active` highlighted.
void saveGridMenu(QWidget *main, TQELDBGrid *grid, QPoint at, const QString &file, QAction *active = nullptr)
{
    QTimer::singleShot(300, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        if (active)
            menu->setActiveAction(active);
        // The menu is a window of its own.
        QPixmap shot = main->grab();
        QPainter p(&shot);
        p.drawPixmap(main->mapFromGlobal(menu->pos()), menu->grab());
        p.end();
        if (shot.save(file))
            std::printf("%s\n", qPrintable(file));
        menu->close();
    });
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
    QApplication::sendEvent(grid->viewport(), &menuEvent);
}

void screenshots(QWidget *main, const QString &dir)
{
    QDir().mkpath(dir);
    SilentPresenter silent;
    MessagePresenter *old = SetMessagePresenter(&silent);
    auto *tabs = main->findChild<QTabWidget *>(QStringLiteral("Pgproject"));
    QApplication::processEvents();
    save(main, dir, QStringLiteral("main-projects.png"));
    withDialog(main, QStringLiteral("ToolButton2"), [&](QWidget *dlg) { save(dlg, dir, QStringLiteral("project-dialog.png")); });
    // The project list sorted by a click on 演出项目, and a list's context menu.
    if (auto *grid = main->findChild<TQELDBGrid *>(QStringLiteral("QELDBGrid1"))) {
        grid->SortByColumn(1);
        grid->selectRow(2);
        QApplication::processEvents();
        save(main, dir, QStringLiteral("main-sorted.png"));
        const QRect row = grid->visualRect(grid->model()->index(2, 1));
        const QPoint at = row.center() + QPoint(40, 0);
        saveGridMenu(main, grid, at, QDir(dir).filePath(QStringLiteral("grid-menu.png")));
        grid->SortByColumn(-1);
        grid->selectRow(0);
        QApplication::processEvents();
    }
    // A list with a column dragged wider and a sort, and the item that gives the design back.
    if (auto *grid = main->findChild<TQELDBGrid *>(QStringLiteral("QELDBGrid1"))) {
        grid->horizontalHeader()->resizeSection(1, grid->columnWidth(1) + 120);
        grid->SortByColumn(3, Qt::DescendingOrder);
        QApplication::processEvents();
        const QPoint at = grid->visualRect(grid->model()->index(1, 1)).center();
        saveGridMenu(main, grid, at, QDir(dir).filePath(QStringLiteral("restore-layout.png")), grid->RestoreLayoutAction());
        grid->RestoreLayoutAction()->trigger();
        QApplication::processEvents();
    }
    // The export dialog: Qt's own, in Chinese, with the list's name and the date.
    if (auto *grid = main->findChild<TQELDBGrid *>(QStringLiteral("QELDBGrid1"))) {
        QTimer::singleShot(300, [&] {
            if (QWidget *dlg = QApplication::activeModalWidget()) {
                save(dlg, dir, QStringLiteral("export-dialog.png"));
                dlg->close();
            }
        });
        grid->ExportXlsxAction()->trigger();
    }
    // The count line of a list another desk changed.
    if (auto *grid = main->findChild<TQELDBGrid *>(QStringLiteral("QELDBGrid1"))) {
        grid->SetStale(true);
        QApplication::processEvents();
        save(main, dir, QStringLiteral("stale-list.png"));
        grid->SetStale(false);
    }
    // The project list as printed, written to a PDF (its count line then says where).
    if (auto *grid = main->findChild<TQELDBGrid *>(QStringLiteral("QELDBGrid1"))) {
        const QString pdf = QDir(dir).filePath(QStringLiteral("projects.pdf"));
        TQELDBGrid::SetSaveFileNameHook([pdf](QWidget *, const QString &, const QString &, const QString &) { return pdf; });
        grid->ExportPdfAction()->trigger();
        TQELDBGrid::SetSaveFileNameHook(nullptr);
        if (QFileInfo::exists(pdf))
            std::printf("%s\n", qPrintable(pdf));
    }
    withDialog(main, QStringLiteral("ActCopy"), [&](QWidget *dlg) { save(dlg, dir, QStringLiteral("copy-project.png")); });
    tabs->setCurrentIndex(1);
    QApplication::processEvents();
    save(main, dir, QStringLiteral("main-limits.png"));
    withDialog(main, QStringLiteral("ToolButton2"), [&](QWidget *dlg) { save(dlg, dir, QStringLiteral("limit-dialog.png")); });
    // Several member classes at once: two ticked, one quantity for both.
    withDialog(main, QStringLiteral("ActBatchLimits"), [&](QWidget *dlg) {
        if (auto *table = dlg->findChild<QTableWidget *>())
            for (int r = 0; r < std::min(2, table->rowCount()); ++r)
                table->item(r, 0)->setCheckState(Qt::Checked);
        if (auto *count = dlg->findChild<QLineEdit *>()) {
            count->setText(QStringLiteral("4"));
            emit count->textEdited(count->text());
        }
        QApplication::processEvents();
        save(dlg, dir, QStringLiteral("batch-limits.png"));
    });
    tabs->setCurrentIndex(0);
    QApplication::processEvents();
    withDialog(main, QStringLiteral("ToolButton7"), [&](QWidget *perf) {
        withDialog(perf, QStringLiteral("ToolButton1"), [&](QWidget *search) {
            save(search, dir, QStringLiteral("search-dialog.png"));
            // Who holds what: sorted by 所属项目 (the held first), the dialog
            // widened so the last column is in sight.
            if (auto *grid = search->findChild<TQELDBGrid *>(QStringLiteral("dgrd_Product"))) {
                const QSize size = search->size();
                search->resize(size.width() + grid->columnWidth(grid->model()->columnCount() - 1), size.height());
                grid->SortByColumn(grid->model()->columnCount() - 1);
                QApplication::processEvents();
                save(search, dir, QStringLiteral("search-owner.png"));
                grid->SortByColumn(-1);
                search->resize(size);
            }
        });
        save(perf, dir, QStringLiteral("performances.png"));
    });
    // The change history of the current project (Ctrl+H), then of all projects.
    if (auto *history = main->findChild<QAction *>(QStringLiteral("ActHistory"))) {
        QTimer::singleShot(300, [&] {
            QWidget *dlg = QApplication::activeModalWidget();
            if (!dlg)
                return;
            save(dlg, dir, QStringLiteral("history.png"));
            // The names beside the codes, with the kind filter's choices open over the list.
            if (auto *kind = dlg->findChild<QComboBox *>(QStringLiteral("CbbKind"))) {
                kind->showPopup();
                QApplication::processEvents();
                QWidget *popup = kind->view()->window();
                QPixmap shot = dlg->grab();
                QPainter p(&shot);
                p.drawPixmap(dlg->mapFromGlobal(popup->pos()), popup->grab());
                p.end();
                const QString file = QDir(dir).filePath(QStringLiteral("history-readable.png"));
                if (shot.save(file))
                    std::printf("%s\n", qPrintable(file));
                kind->hidePopup();
            }
            if (auto *scope = dlg->findChild<QComboBox *>(QStringLiteral("CbbScope"))) {
                scope->setCurrentIndex(scope->count() - 1);
                dlg->findChild<QPushButton *>(QStringLiteral("BtnSearch"))->click();
                QApplication::processEvents();
                save(dlg, dir, QStringLiteral("history-all.png"));
            }
            dlg->close();
        });
        history->trigger();
    }
    SetMessagePresenter(old);
}
} // namespace

int main(int argc, char **argv)
{
    KeepFreedMemoryForReuse();
    preferOffscreenWithoutDisplay(argc, argv);
    HostApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("票务管理"));
    // Where the desk keeps its layout (QSettings): ~/.config/QEL/qelclient.conf on Linux.
    QCoreApplication::setOrganizationName(QStringLiteral("QEL"));
    QCoreApplication::setApplicationName(QStringLiteral("qelclient"));
    mapSongFont();
    // A backup is run from scripts: its failure goes to stderr, never to a box.
    bool boxes = true;
    try {
        const ClientOptions opt = ParseClientOptions(QApplication::arguments().mid(1));
        // Too late for ps to miss it, but the next start need not repeat it.
        if (DatabaseAddress::hasPassword(opt.database))
            std::fprintf(stderr, "qelclient: %s\n",
                         qPrintable(QStringLiteral("警告：命令行中的数据库密码本机其他用户都能看到（ps）；请把密码写入 ~/.pgpass"
                                                   "（或 PGPASSFILE 指定的文件，权限 0600），地址中不要写密码")));
        if (!opt.backupCopy.isEmpty()) {
            boxes = false;
            backup(Database::resolveUrl(opt.database), opt.backupCopy);
            return 0;
        }
        // Screenshots show the designed layout and leave the operator's alone.
        std::optional<QTemporaryDir> shotSettings;
        if (!opt.screenshotDir.isEmpty())
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, shotSettings.emplace().path());
        // Every statement carries the context: refuse a bad one before any window opens.
        const QString context = TQELContext::Compose(opt.operatorFields);
        TQELContext::Check(context);
        openDatabase(Database::resolveUrl(opt.database), opt);
        // A history the start could not complete: the desk may only look.
        if (const QString refusal = Database::writeRefusal(); !refusal.isEmpty()) {
            std::fprintf(stderr, "qelclient: %s\n", qPrintable(refusal));
            if (QGuiApplication::platformName() != QLatin1String("offscreen"))
                ShowErrorMessage(refusal, QStringLiteral("警告"));
        }

        QLibrary package(packagePath(opt.package));
        if (!package.load())
            throw EHostError(QStringLiteral("无法加载项目模块：%1").arg(package.errorString()));
        const auto init = reinterpret_cast<PackageInitializeProc>(package.resolve("Initialize"));
        const auto fini = reinterpret_cast<PackageFinalizeProc>(package.resolve("Finalize"));
        const auto create = reinterpret_cast<CreateFrmProjectProc>(package.resolve("CreateFrmProject"));
        if (!init || !fini || !create)
            throw EHostError(QStringLiteral("项目模块缺少入口（Initialize / Finalize / CreateFrmProject）"));
        init();
        const auto finalize = qScopeGuard(fini);

        int rc = 0;
        {
            // The window frees itself on close; whatever is left goes on every way out.
            QPointer<QWidget> main = create(nullptr);
            const auto dispose = qScopeGuard([&main] { delete main.data(); });
            if (!main)
                throw EHostError(QStringLiteral("项目模块未能创建主窗口"));
            // A window without SetContext would run every command with an empty context.
            if (!QMetaObject::invokeMethod(main, "SetContext", Qt::DirectConnection, Q_ARG(QString, context)))
                throw EHostError(QStringLiteral("项目模块的主窗口不接受会话信息（缺少 SetContext），无法打开"));
            main->show();
            if (!opt.screenshotDir.isEmpty()) {
                screenshots(main, opt.screenshotDir);
                main->close();
            } else {
                rc = app.exec();
            }
        }
        return rc;
    } catch (...) {
        const QString text = ExceptionText(std::current_exception());
        std::fprintf(stderr, "qelclient: %s\n", qPrintable(text));
        if (boxes && QGuiApplication::platformName() != QLatin1String("offscreen"))
            ShowErrorMessage(text, QStringLiteral("错误"));
        return 1;
    }
}
