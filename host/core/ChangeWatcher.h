#pragma once
#include "Backend.h"
#include "CoreGlobal.h"
#include <QList>
#include <QObject>
#include <memory>

class QSocketNotifier;
class QTimer;

// Tells a window that other desks changed the database. Follows the process
// database (Database::connection(), also when it is replaced) and asks it to
// watch while at least one watcher of the process runs. PostgreSQL's
// notifications wake it through the session's socket; the timer catches
// what arrived with the desk's own statements and is all there is on an
// engine without a socket (SQLite). Never throws.
class QELCORE_EXPORT TQELChangeWatcher : public QObject {
    Q_OBJECT
public:
    explicit TQELChangeWatcher(QObject *parent);
    ~TQELChangeWatcher() override;

    void Start();
    void Stop();
    bool IsActive() const;
    // How often the connection is asked without a wake-up (default 1000 ms).
    void SetInterval(int ms);
    int Interval() const;

signals:
    void Changed(const QList<TChangeNotice> &notices);

private:
    void poll();
    // Follows Database::connection(); false when there is none.
    bool attach();
    void detach();
    void followSocket(Backend &b);
    void dropNotifier();

    QTimer *m_timer;
    QSocketNotifier *m_notifier = nullptr;
    // A descriptor of our own for the session's socket: libpq may close its
    // own at any statement, and the number may then be reused for another file.
    int m_socket = -1;
    std::weak_ptr<Backend> m_backend;
    bool m_attached = false;
    bool m_active = false;
    // The session's socket went away: its reconnect comes with the desk's
    // next statement, so look for the new one soon, not at the next interval.
    bool m_awaitingSocket = false;
};
