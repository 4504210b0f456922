#pragma once
#include "HostGlobal.h"
#include <QString>

// The host's message routines. All of them go through one replaceable
// presenter, so tests can answer and record them.
enum class MessageKind { Confirm, Warning, Plain, Box, Error };

class QELHOST_EXPORT MessagePresenter {
public:
    virtual ~MessagePresenter();
    // flags: MessageBox's icon flags (16 error, 64 information); 0 elsewhere.
    // Returns the button pressed: 6 Yes, 7 No, 1 OK.
    virtual int present(MessageKind kind, const QString &text, const QString &caption, int flags) = 0;
    // A question whose two answers are named by their buttons; 6 for the
    // first, 7 for the second. By default a Confirm with the same text.
    virtual int presentChoice(const QString &text, const QString &caption, const QString &first, const QString &second);
};

// Replaces the presenter (nullptr restores the default, real message boxes).
// Returns the previous one.
QELHOST_EXPORT MessagePresenter *SetMessagePresenter(MessagePresenter *presenter);

constexpr int mrYes = 6;
constexpr int mrNo = 7;
constexpr int MB_ICONERROR = 16;
constexpr int MB_ICONINFORMATION = 64;

// Yes/No box; 6 when the operator confirmed.
QELHOST_EXPORT int ShowConfirmMessage(const QString &text, const QString &caption);
QELHOST_EXPORT void ShowWarningMessage(const QString &text, const QString &caption);
// The framework's plain box: text and OK.
QELHOST_EXPORT void ShowMessage(const QString &text);
// The application's MessageBox: text, caption, icon flags; one OK button.
QELHOST_EXPORT int MessageBox(const QString &text, const QString &caption, int flags);
// A question with two named answers (first gives 6, second 7); the second is
// the default button. Lines of the text that hold tabs are shown as a table.
QELHOST_EXPORT int ShowChoiceMessage(const QString &text, const QString &caption, const QString &first, const QString &second);
// The error box of the host's exception handling.
QELHOST_EXPORT void ShowErrorMessage(const QString &text, const QString &caption);
