#pragma once
#include "Dialogs.h"
#include "QtPrint.h"
#include <QList>
#include <QString>
#include <QStringList>
#include <deque>

// Stands in for the real message boxes: records every message and answers
// from a script, so tests can both drive and check what the operator sees.
class TestPresenter : public MessagePresenter {
public:
    struct Call {
        MessageKind kind = MessageKind::Plain;
        QString text;
        QString caption;
        int flags = 0;
    };

    int present(MessageKind kind, const QString &text, const QString &caption, int flags) override;

    // Answers for the next messages, in order; once used up, the default answer
    // is given: mrYes (6) for Confirm, 1 (OK) otherwise.
    void pushAnswer(int answer);
    int pendingAnswers() const { return int(m_answers.size()); }

    const QList<Call> &calls() const { return m_calls; }
    int count() const { return int(m_calls.size()); }
    int count(MessageKind kind) const;
    // The most recent message; fails the current test when there is none.
    Call last() const;
    QStringList texts() const;
    // True when some message so far contains part (case-sensitive).
    bool anyTextContains(const QString &part) const;
    // Forgets the calls and the scripted answers.
    void clear();

private:
    QList<Call> m_calls;
    std::deque<int> m_answers;
};

// The presenter installed by the tests' main(); reset before each test.
TestPresenter &testPresenter();

const char *messageKindName(MessageKind kind);

// Exactly one error box so far, whose text starts with start; then forgets the
// messages. what names the step in a failure. insideDialog: called while a
// dialog of the command is still open, so an open dialog is no failure.
void expectOneError(const QString &start, const char *what, bool insideDialog = false);
// No error box so far; then forgets the messages.
void expectNoError(const char *what);
