#include "TestPresenter.h"
#include <QApplication>
#include <gtest/gtest.h>

int TestPresenter::present(MessageKind kind, const QString &text, const QString &caption, int flags)
{
    m_calls.append(Call{kind, text, caption, flags});
    if (!m_answers.empty()) {
        const int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    return kind == MessageKind::Confirm ? mrYes : 1;
}

void TestPresenter::pushAnswer(int answer)
{
    m_answers.push_back(answer);
}

int TestPresenter::count(MessageKind kind) const
{
    int n = 0;
    for (const Call &c : m_calls)
        if (c.kind == kind)
            ++n;
    return n;
}

TestPresenter::Call TestPresenter::last() const
{
    if (m_calls.isEmpty()) {
        ADD_FAILURE() << "no message was shown";
        return Call{};
    }
    return m_calls.last();
}

QStringList TestPresenter::texts() const
{
    QStringList out;
    for (const Call &c : m_calls)
        out << c.text;
    return out;
}

bool TestPresenter::anyTextContains(const QString &part) const
{
    for (const Call &c : m_calls)
        if (c.text.contains(part))
            return true;
    return false;
}

void TestPresenter::clear()
{
    m_calls.clear();
    m_answers.clear();
}

TestPresenter &testPresenter()
{
    static TestPresenter p;
    return p;
}

const char *messageKindName(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Confirm: return "Confirm";
    case MessageKind::Warning: return "Warning";
    case MessageKind::Plain: return "Plain";
    case MessageKind::Box: return "Box";
    case MessageKind::Error: return "Error";
    }
    return "?";
}

void expectOneError(const QString &start, const char *what, bool insideDialog)
{
    EXPECT_EQ(testPresenter().count(MessageKind::Error), 1) << what << ": " << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    bool found = false;
    for (const TestPresenter::Call &c : testPresenter().calls())
        found = found || (c.kind == MessageKind::Error && c.text.startsWith(start));
    EXPECT_TRUE(found) << what << ": " << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    if (!insideDialog) {
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << what << ": a dialog was left open";
    }
    testPresenter().clear();
}

void expectNoError(const char *what)
{
    EXPECT_EQ(testPresenter().count(MessageKind::Error), 0) << what << ": " << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    testPresenter().clear();
}
