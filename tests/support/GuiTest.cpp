#include "GuiTest.h"
#include <QAbstractSpinBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTest>

void typeInto(QWidget *edit, const QString &text)
{
    edit->setFocus();
    if (auto *le = qobject_cast<QLineEdit *>(edit))
        le->selectAll();
    else if (auto *sb = qobject_cast<QAbstractSpinBox *>(edit))
        sb->selectAll();
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii) {
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Delete);
        else
            QTest::keyClicks(edit, text);
        return;
    }
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(edit, &commit);
}
