#pragma once
#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A TCP relay on 127.0.0.1 between desks and a PostgreSQL server, for tests
// and benchmarks of desks at a distance and of answers that never arrive.
// Every accepted connection gets a connection of its own to the target, and
// bytes go both ways. One thread with poll() does all the work, so it keeps
// forwarding while the caller's thread blocks inside libpq. Every method may
// be called from any thread; the thread never throws.
class DelayRelay {
public:
    // Listens on a free port of 127.0.0.1; throws std::runtime_error when the
    // target cannot be resolved or no port can be had.
    DelayRelay(const QString &targetHost, int targetPort);
    ~DelayRelay(); // stops the thread and closes every connection
    DelayRelay(const DelayRelay &) = delete;
    DelayRelay &operator=(const DelayRelay &) = delete;

    int port() const { return m_port; }
    // serverUrl (postgresql://…) with its host and port made this relay's;
    // user, database and other options stay.
    QString url(const QString &serverUrl) const;

    // Each chunk read is passed on no earlier than oneWayMs after it was read,
    // in order per direction: a round trip costs 2 × oneWayMs more.
    void setDelay(int oneWayMs);

    // Request bursts over all connections: client data that follows server
    // data (or opens a connection) counts one.
    qint64 roundTrips() const { return m_roundTrips; }
    // Connections a client opened to the relay, silent ones included (never reset).
    qint64 accepted() const { return m_accepted; }
    void resetCounts();

    // A machine that takes connections and never answers: new connections are
    // accepted and then left alone for good; existing ones pass nothing on
    // either way until silence is lifted.
    void setSilent(bool silent);
    // One shot: the next CommandComplete the server sends whose tag starts
    // with tagPrefix ("COMMIT", "INSERT"…) is not passed on, nor is anything
    // after it; that connection is closed on both sides. The server has done
    // the work, the client never hears of it.
    // thenSilent: from then on as setSilent(true) (the server went away with the answer).
    void swallowNextCommandComplete(const QByteArray &tagPrefix, bool thenSilent = false);
    bool swallowed() const { return m_swallowed; }

private:
    struct Target;
    struct Connection;
    struct Flow;

    void run() noexcept;
    void loop();
    void wake();
    void accept();
    void handle(Connection &c, bool serverSide, short revents, char *buf, size_t size);
    bool flush(Connection &c);
    bool send(Flow &f, int fd);
    bool parseServer(Connection &c, const char *p, size_t n, std::string &out);
    bool takeTrap();

    int m_listenFd = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    int m_port = 0;
    std::unique_ptr<Target> m_target;
    // Owned by the thread.
    std::vector<std::unique_ptr<Connection>> m_connections;

    std::atomic<int> m_delayMs{0};
    std::atomic<bool> m_silent{false};
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_roundTrips{0};
    std::atomic<qint64> m_accepted{0};
    std::atomic<bool> m_swallowed{false};

    // Guards the trap.
    mutable std::mutex m_mutex;
    QByteArray m_trapPrefix;
    bool m_trapArmed = false;
    std::atomic<bool> m_silentAfterTrap{false};

    std::thread m_thread;
};
