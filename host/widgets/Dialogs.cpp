#include "Dialogs.h"
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

MessagePresenter::~MessagePresenter() = default;

int MessagePresenter::presentChoice(const QString &text, const QString &caption, const QString &, const QString &)
{
    return present(MessageKind::Confirm, text, caption, 0);
}

namespace {
class BoxPresenter : public MessagePresenter {
public:
    int present(MessageKind kind, const QString &text, const QString &caption, int flags) override
    {
        QMessageBox box(QApplication::activeWindow());
        box.setText(text);
        QString title = caption;
        switch (kind) {
        case MessageKind::Confirm: {
            box.setIcon(QMessageBox::Question);
            QPushButton *yes = box.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
            box.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
            box.setDefaultButton(yes);
            box.setWindowTitle(title);
            box.exec();
            return box.clickedButton() == yes ? mrYes : mrNo;
        }
        case MessageKind::Warning: box.setIcon(QMessageBox::Warning); break;
        case MessageKind::Plain: title = QApplication::applicationDisplayName(); break;
        case MessageKind::Box:
            box.setIcon(flags & MB_ICONERROR ? QMessageBox::Critical : (flags & MB_ICONINFORMATION ? QMessageBox::Information : QMessageBox::NoIcon));
            break;
        case MessageKind::Error: box.setIcon(QMessageBox::Critical); break;
        }
        box.setWindowTitle(title);
        box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        box.exec();
        return 1;
    }

    int presentChoice(const QString &text, const QString &caption, const QString &first, const QString &second) override
    {
        QMessageBox box(QApplication::activeWindow());
        box.setIcon(QMessageBox::Warning);
        box.setWindowTitle(caption);
        box.setTextFormat(Qt::RichText);
        box.setText(choiceHtml(text));
        QPushButton *a = box.addButton(first, QMessageBox::AcceptRole);
        QPushButton *b = box.addButton(second, QMessageBox::RejectRole);
        box.setDefaultButton(b);
        box.setEscapeButton(b);
        box.exec();
        return box.clickedButton() == a ? mrYes : mrNo;
    }

private:
    // Plain lines as paragraphs; runs of lines with tabs as one table.
    static QString choiceHtml(const QString &text)
    {
        QString html;
        bool inTable = false;
        for (const QString &line : text.split(QLatin1Char('\n'))) {
            const bool row = line.contains(QLatin1Char('\t'));
            if (row && !inTable)
                html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\">");
            if (!row && inTable)
                html += QStringLiteral("</table>");
            inTable = row;
            if (row) {
                html += QStringLiteral("<tr>");
                for (const QString &cell : line.split(QLatin1Char('\t')))
                    html += QStringLiteral("<td>%1</td>").arg(cell.toHtmlEscaped());
                html += QStringLiteral("</tr>");
            } else {
                html += QStringLiteral("<p>%1</p>").arg(line.toHtmlEscaped());
            }
        }
        if (inTable)
            html += QStringLiteral("</table>");
        return html;
    }
};

BoxPresenter g_box;
MessagePresenter *g_presenter = &g_box;
} // namespace

MessagePresenter *SetMessagePresenter(MessagePresenter *presenter)
{
    MessagePresenter *old = g_presenter;
    g_presenter = presenter ? presenter : &g_box;
    return old == &g_box ? nullptr : old;
}

int ShowConfirmMessage(const QString &text, const QString &caption)
{
    return g_presenter->present(MessageKind::Confirm, text, caption, 0);
}

void ShowWarningMessage(const QString &text, const QString &caption)
{
    g_presenter->present(MessageKind::Warning, text, caption, 0);
}

void ShowMessage(const QString &text)
{
    g_presenter->present(MessageKind::Plain, text, QString(), 0);
}

int MessageBox(const QString &text, const QString &caption, int flags)
{
    return g_presenter->present(MessageKind::Box, text, caption, flags);
}

int ShowChoiceMessage(const QString &text, const QString &caption, const QString &first, const QString &second)
{
    return g_presenter->presentChoice(text, caption, first, second);
}

void ShowErrorMessage(const QString &text, const QString &caption)
{
    g_presenter->present(MessageKind::Error, text, caption, MB_ICONERROR);
}
