#include "ChangeWatcher.h"
#include <QPointer>
#include "Database.h"
#include <QSocketNotifier>
#include <QTimer>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <vector>

namespace {
// The running watchers of each connection: the first one turns watching on,
// the last one off. Kept by the connection's identity, never its address (a
// new connection may be given the address of one that closed).
struct Followers {
    std::weak_ptr<Backend> backend;
    int count = 0;
};

std::vector<Followers> &followers()
{
    static std::vector<Followers> list;
    return list;
}

Followers *followersOf(const std::weak_ptr<Backend> &b)
{
    auto &list = followers();
    list.erase(std::remove_if(list.begin(), list.end(), [](const Followers &f) { return f.backend.expired(); }), list.end());
    for (Followers &f : list)
        if (!f.backend.owner_before(b) && !b.owner_before(f.backend))
            return &f;
    return nullptr;
}

void watch(Backend &b, bool on) noexcept
{
    try {
        b.watchChanges(on);
    } catch (...) {
        // A session that is gone now listens again from its reconnect on.
    }
}

// The running watchers: what one of them takes from the connection is gone
// from it, so every watcher of that connection is told.
std::vector<TQELChangeWatcher *> &running()
{
    static std::vector<TQELChangeWatcher *> list;
    return list;
}

bool sameSocket(int a, int b)
{
    struct stat x{}, y{};
    return a >= 0 && b >= 0 && fstat(a, &x) == 0 && fstat(b, &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}
} // namespace

TQELChangeWatcher::TQELChangeWatcher(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &TQELChangeWatcher::poll);
}

TQELChangeWatcher::~TQELChangeWatcher()
{
    Stop();
}

void TQELChangeWatcher::Start()
{
    if (m_active)
        return;
    m_active = true;
    running().push_back(this);
    m_timer->start();
    try {
        if (attach())
            if (auto b = m_backend.lock())
                followSocket(*b);
    } catch (...) {
    }
}

void TQELChangeWatcher::Stop()
{
    if (m_active)
        running().erase(std::find(running().begin(), running().end(), this));
    m_active = false;
    m_awaitingSocket = false;
    m_timer->stop();
    dropNotifier();
    detach();
}

bool TQELChangeWatcher::IsActive() const
{
    return m_active;
}

void TQELChangeWatcher::SetInterval(int ms)
{
    m_timer->setInterval(std::max(1, ms));
}

int TQELChangeWatcher::Interval() const
{
    return m_timer->interval();
}

void TQELChangeWatcher::poll()
{
    if (!m_active)
        return;
    try {
        if (!attach())
            return;
        const std::shared_ptr<Backend> b = m_backend.lock();
        if (!b)
            return;
        const QList<TChangeNotice> notices = b->takeChanges();
        // Reading may have found the session gone, or a reconnect given it a new socket.
        followSocket(*b);
        if (notices.isEmpty())
            return;
        // Guarded copies: a slot may start, stop or free watchers.
        std::vector<QPointer<TQELChangeWatcher>> all(running().begin(), running().end());
        for (const QPointer<TQELChangeWatcher> &w : all)
            if (w && w->m_active && w->m_backend.lock() == b)
                emit w->Changed(notices);
    } catch (...) {
    }
}

bool TQELChangeWatcher::attach()
{
    if (!Database::isOpen()) {
        dropNotifier();
        detach();
        return false;
    }
    const std::shared_ptr<Backend> now = Database::connection();
    if (m_backend.lock() == now)
        return true;
    dropNotifier();
    detach();
    m_backend = now;
    m_attached = true;
    Followers *f = followersOf(now);
    if (!f) {
        followers().push_back(Followers{now, 0});
        f = &followers().back();
    }
    if (f->count++ == 0)
        watch(*now, true);
    return true;
}

void TQELChangeWatcher::detach()
{
    if (!m_attached)
        return;
    m_attached = false;
    // A connection already closed has no followers left to count.
    Followers *f = followersOf(m_backend);
    const std::shared_ptr<Backend> b = m_backend.lock();
    m_backend.reset();
    if (!f || --f->count > 0)
        return;
    followers().erase(followers().begin() + (f - followers().data()));
    if (b)
        watch(*b, false);
}

void TQELChangeWatcher::followSocket(Backend &b)
{
    const int fd = b.changeSocket();
    if (m_notifier && sameSocket(fd, m_socket)) {
        m_notifier->setEnabled(true);
        return;
    }
    const bool had = m_notifier != nullptr;
    dropNotifier();
    if (fd < 0) {
        if (m_active && (had || m_awaitingSocket)) {
            m_awaitingSocket = true;
            QTimer::singleShot(100, this, &TQELChangeWatcher::poll);
        }
        return;
    }
    m_awaitingSocket = false;
    m_socket = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (m_socket < 0)
        return;
    m_notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        poll();
        // Input the connection leaves unread (inside a transaction, or a
        // session found gone) would wake us again at once: wait for the timer.
        if (m_notifier && readable(m_socket))
            m_notifier->setEnabled(false);
    });
}

void TQELChangeWatcher::dropNotifier()
{
    if (m_notifier) {
        // Possibly inside its own signal: disabled now, deleted later.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
}
