#include "FileDialog.h"
#include "DeskLayout.h"
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

class NameOnlyIconProvider : public QFileIconProvider {
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo &info) const override { return icon(info.isDir() ? Folder : File); }
    QString type(const QFileInfo &info) const override
    {
        if (info.isDir())
            return QStringLiteral("文件夹");
        const QString suffix = info.suffix();
        return suffix.isEmpty() ? QStringLiteral("文件") : suffix.toUpper() + QStringLiteral(" 文件");
    }
};

// Gives the chosen name its suffix before the dialog's own check for an
// existing file, so that the question is asked about the file written.
class SaveDialog : public QFileDialog {
public:
    SaveDialog(QWidget *parent, const QString &caption, const QString &suffix) : QFileDialog(parent, caption), m_suffix(suffix) {}

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            const QString fixed = WithSuffix(files.first(), m_suffix);
            if (fixed != files.first())
                selectFile(fixed);
        }
        QFileDialog::accept();
    }

private:
    QString m_suffix;
};

const QString kExportFolderKey = QStringLiteral("Export/Folder");

// Where the desk keeps nothing between runs, the folder lasts for this one.
QString &lastFolder()
{
    static QString folder;
    return folder;
}

} // namespace

QString WithSuffix(const QString &fileName, const QString &suffix)
{
    const QFileInfo info(fileName);
    if (info.fileName().isEmpty())
        return fileName;
    const QString has = info.suffix().toLower();
    if (has == suffix.toLower())
        return fileName;
    static const QStringList tables = {QStringLiteral("xlsx"), QStringLiteral("xls"), QStringLiteral("csv")};
    if (tables.contains(has))
        return fileName.left(fileName.size() - has.size()) + suffix;
    return fileName + QLatin1Char('.') + suffix;
}

QString ExportFolder()
{
    const QString last = DeskSettingsKept() ? QSettings().value(kExportFolderKey).toString() : lastFolder();
    if (QDir::isAbsolutePath(last) && QFileInfo(last).isDir())
        return last;
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !docs.isEmpty() && QFileInfo(docs).isDir() ? docs : QDir::homePath();
}

void RememberExportFolder(const QString &folder)
{
    if (DeskSettingsKept())
        QSettings().setValue(kExportFolderKey, folder);
    else
        lastFolder() = folder;
}

QString AskSaveFileName(QWidget *parent, const QString &caption, const QString &suggested, const QString &filter, const QString &suffix)
{
    NameOnlyIconProvider icons;
    SaveDialog dialog(parent, caption, suffix);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontUseCustomDirectoryIcons);
    dialog.setIconProvider(&icons);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(suffix);
    const QFileInfo at(suggested);
    dialog.setDirectory(at.absolutePath());
    dialog.selectFile(at.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return WithSuffix(dialog.selectedFiles().first(), suffix);
}
