#pragma once
#include "HostGlobal.h"
#include <QApplication>
#include <exception>
#include <utility>

// The host's exception handling: shows what went wrong in a modal error box
// and lets the program go on.
QELHOST_EXPORT void HandleException(std::exception_ptr e);
// The text HandleException shows for an exception.
QELHOST_EXPORT QString ExceptionText(std::exception_ptr e);

// Wraps an event handler so that nothing it throws ever reaches Qt
// (an exception through a signal is undefined behaviour there).
template <typename F>
auto Guarded(F &&f)
{
    return [f = std::forward<F>(f)](auto &&...args) {
        try {
            f(std::forward<decltype(args)>(args)...);
        } catch (...) {
            HandleException(std::current_exception());
        }
    };
}

// Loads Qt's Chinese translations into the running application (once);
// false when the translation files are not installed.
QELHOST_EXPORT bool LoadQtTranslations();

// A QApplication with Qt's translations loaded, whose notify() is the last
// safety net for stray exceptions.
class QELHOST_EXPORT HostApplication : public QApplication {
public:
    HostApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// Hourglass while in scope; the default cursor again on every way out.
class QELHOST_EXPORT WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};
