#include "DelayRelay.h"
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// The 8-byte requests a client may send before its startup message; the
// server answers each with one byte ('N', or 'S'/'G' and then encryption).
constexpr quint32 kSslRequest = 80877103;
constexpr quint32 kGssEncRequest = 80877104;
// A side is not read while this much of it waits to go the other way.
constexpr size_t kMaxQueued = size_t(4) << 20;
constexpr size_t kReadSize = 64 * 1024;

quint32 bigEndian32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return quint32(u[0]) << 24 | quint32(u[1]) << 16 | quint32(u[2]) << 8 | quint32(u[3]);
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Small request and answer packets must not wait for Nagle.
void setNoDelay(int fd)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

struct Chunk {
    Clock::time_point due;
    std::string data;
    size_t sent = 0;
};

} // namespace

struct DelayRelay::Target {
    sockaddr_storage addr{};
    socklen_t len = 0;
};

// Bytes read from one socket, waiting for their time to go to the other.
struct DelayRelay::Flow {
    std::deque<Chunk> chunks;
    size_t queued = 0;
    bool eof = false;     // the reading side closed: pass it on once drained
    bool shut = false;    // passed on
    bool blocked = false; // the last write would have blocked: wait for POLLOUT

    void push(std::string &&data, Clock::time_point due)
    {
        queued += data.size();
        chunks.push_back(Chunk{due, std::move(data), 0});
    }
};

struct DelayRelay::Connection {
    int client = -1;
    int server = -1;
    bool connecting = false;
    bool mute = false;    // accepted while silent: never forwarded nor answered
    bool closing = false; // the trap fired: what is queued for the client goes, then both close
    bool dead = false;
    bool serverSpokeLast = true;
    Flow up;   // client → server
    Flow down; // server → client

    // The client's first packets carry no type byte: length, then a code.
    std::string startup;
    bool startupDone = false;
    int oneByteAnswers = 0; // SSL/GSS requests still to be answered
    bool opaque = false;    // encrypted, or not understood: passed on unread
    // The server's current message: its first bytes (type, length, the
    // start of a tag) are held back until the trap has judged them.
    std::string head;
    qint64 skip = 0; // the rest of the current message, passed on unread

    ~Connection()
    {
        closeFd(client);
        closeFd(server);
    }
    void close()
    {
        closeFd(client);
        closeFd(server);
        dead = true;
    }

    void parseClient(const char *p, size_t n)
    {
        size_t i = 0;
        while (i < n && !startupDone) {
            const size_t take = std::min(n - i, size_t(8) - startup.size());
            startup.append(p + i, take);
            i += take;
            if (startup.size() < 8)
                return;
            const quint32 code = bigEndian32(startup.data() + 4);
            if (bigEndian32(startup.data()) == 8 && (code == kSslRequest || code == kGssEncRequest)) {
                ++oneByteAnswers;
                startup.clear();
            } else {
                startupDone = true; // a startup or cancel message: typed messages follow
            }
        }
    }
};

DelayRelay::DelayRelay(const QString &targetHost, int targetPort) : m_target(std::make_unique<Target>())
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const QByteArray host = targetHost.toUtf8();
    const QByteArray service = QByteArray::number(targetPort);
    if (::getaddrinfo(host.constData(), service.constData(), &hints, &found) != 0 || !found)
        throw std::runtime_error("DelayRelay: cannot resolve " + host.toStdString());
    std::memcpy(&m_target->addr, found->ai_addr, found->ai_addrlen);
    m_target->len = found->ai_addrlen;
    ::freeaddrinfo(found);

    int wake[2];
    if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::runtime_error("DelayRelay: no pipe");
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
        || ::listen(m_listenFd, 128) != 0 || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        const std::string why = std::strerror(errno);
        closeFd(m_listenFd);
        closeFd(m_wakeRead);
        closeFd(m_wakeWrite);
        throw std::runtime_error("DelayRelay: cannot listen: " + why);
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { run(); });
}

DelayRelay::~DelayRelay()
{
    m_stop = true;
    wake();
    m_thread.join();
    m_connections.clear();
    closeFd(m_listenFd);
    closeFd(m_wakeRead);
    closeFd(m_wakeWrite);
}

QString DelayRelay::url(const QString &serverUrl) const
{
    QUrl u(serverUrl);
    u.setHost(QStringLiteral("127.0.0.1"));
    u.setPort(m_port);
    // Options in the query would win over the authority.
    QUrlQuery q(u);
    bool changed = false;
    for (const char *key : {"host", "hostaddr", "port"}) {
        if (q.hasQueryItem(QLatin1String(key))) {
            q.removeAllQueryItems(QLatin1String(key));
            changed = true;
        }
    }
    if (changed)
        u.setQuery(q);
    return u.toString(QUrl::FullyEncoded);
}

void DelayRelay::setDelay(int oneWayMs)
{
    m_delayMs = std::max(0, oneWayMs);
    wake();
}

void DelayRelay::resetCounts()
{
    m_roundTrips = 0;
}

void DelayRelay::setSilent(bool silent)
{
    m_silent = silent;
    wake();
}

void DelayRelay::swallowNextCommandComplete(const QByteArray &tagPrefix, bool thenSilent)
{
    std::lock_guard lock(m_mutex);
    m_silentAfterTrap = thenSilent;
    m_trapPrefix = tagPrefix;
    m_trapArmed = true;
    m_swallowed = false;
}

bool DelayRelay::takeTrap()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_trapArmed, false);
}

void DelayRelay::wake()
{
    const char b = 1;
    // A full pipe already wakes the thread.
    [[maybe_unused]] const ssize_t n = ::write(m_wakeWrite, &b, 1);
}

void DelayRelay::run() noexcept
{
    try {
        loop();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "DelayRelay stopped: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "DelayRelay stopped\n");
    }
    m_connections.clear();
}

void DelayRelay::accept()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        ++m_accepted;
        auto c = std::make_unique<Connection>();
        c->client = fd;
        setNoDelay(fd);
        if (m_silent) {
            c->mute = true;
        } else {
            c->server = ::socket(m_target->addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (c->server < 0)
                continue;
            setNoDelay(c->server);
            if (::connect(c->server, reinterpret_cast<const sockaddr *>(&m_target->addr), m_target->len) != 0) {
                if (errno != EINPROGRESS)
                    continue; // the client sees the door close, as with a server that is down
                c->connecting = true;
            }
        }
        m_connections.push_back(std::move(c));
    }
}

bool DelayRelay::parseServer(Connection &c, const char *p, size_t n, std::string &out)
{
    QByteArray prefix;
    {
        std::lock_guard lock(m_mutex);
        if (m_trapArmed)
            prefix = m_trapPrefix;
    }
    size_t i = 0;
    while (i < n) {
        if (c.oneByteAnswers > 0) {
            const char b = p[i++];
            out += b;
            --c.oneByteAnswers;
            c.opaque = c.opaque || b != 'N';
            continue;
        }
        if (c.opaque || !c.startupDone) {
            out.append(p + i, n - i);
            return false;
        }
        if (c.skip > 0) {
            const size_t k = size_t(std::min<qint64>(c.skip, qint64(n - i)));
            out.append(p + i, k);
            i += k;
            c.skip -= qint64(k);
            continue;
        }
        c.head += p[i++];
        if (c.head.size() < 5)
            continue;
        const qint64 body = qint64(bigEndian32(c.head.data() + 1)) - 4;
        if (body < 0) { // not the protocol this relay knows
            out += c.head;
            c.head.clear();
            c.opaque = true;
            continue;
        }
        const size_t want = c.head[0] == 'C' && !prefix.isEmpty() ? size_t(std::min<qint64>(body, prefix.size())) : 0;
        if (c.head.size() < 5 + want)
            continue;
        if (want > 0 && want == size_t(prefix.size()) && c.head.compare(5, want, prefix.constData(), want) == 0 && takeTrap()) {
            c.head.clear();
            return true;
        }
        out += c.head;
        c.skip = body - qint64(want);
        c.head.clear();
    }
    return false;
}

void DelayRelay::handle(Connection &c, bool serverSide, short revents, char *buf, size_t size)
{
    if (c.dead)
        return;
    if (serverSide && c.connecting) {
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(c.server, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
            c.close();
        c.connecting = false;
        return;
    }
    Flow &toward = serverSide ? c.up : c.down;
    Flow &from = serverSide ? c.down : c.up;
    if (revents & POLLOUT)
        toward.blocked = false;
    if (!(revents & (POLLIN | POLLHUP | POLLERR)) || from.eof)
        return;
    const ssize_t n = ::recv(serverSide ? c.server : c.client, buf, size, 0);
    const auto now = Clock::now();
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            c.close();
        return;
    }
    if (n == 0) {
        if (c.mute)
            c.close();
        from.eof = true;
        return;
    }
    if (c.mute)
        return;
    const auto due = now + std::chrono::milliseconds(m_delayMs.load());
    if (!serverSide) {
        c.parseClient(buf, size_t(n));
        if (std::exchange(c.serverSpokeLast, false))
            ++m_roundTrips;
        from.push(std::string(buf, size_t(n)), due);
        return;
    }
    c.serverSpokeLast = true;
    std::string out;
    const bool trapped = parseServer(c, buf, size_t(n), out);
    if (!out.empty())
        from.push(std::move(out), due);
    if (trapped) {
        if (m_silentAfterTrap)
            m_silent = true;
        m_swallowed = true;
        c.closing = true;
        c.up.chunks.clear();
        c.up.queued = 0;
    }
}

bool DelayRelay::send(Flow &f, int fd)
{
    while (!f.blocked && !f.chunks.empty() && f.chunks.front().due <= Clock::now()) {
        Chunk &ch = f.chunks.front();
        const ssize_t w = ::send(fd, ch.data.data() + ch.sent, ch.data.size() - ch.sent, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return false;
            f.blocked = true;
            break;
        }
        ch.sent += size_t(w);
        f.queued -= size_t(w);
        if (ch.sent == ch.data.size())
            f.chunks.pop_front();
    }
    return true;
}

// Writes what is due; passes on a closed side once its bytes have gone.
// False when the connection is finished.
bool DelayRelay::flush(Connection &c)
{
    if (c.dead)
        return false;
    // A connection whose answer was swallowed still closes when the rest goes silent.
    if (c.mute || (m_silent && !c.closing))
        return true;
    if ((!c.connecting && !send(c.up, c.server)) || !send(c.down, c.client)) {
        c.close();
        return false;
    }
    if (c.closing) {
        if (!c.down.chunks.empty())
            return true;
        c.close();
        return false;
    }
    if (c.up.eof && !c.up.shut && c.up.chunks.empty() && !c.connecting) {
        ::shutdown(c.server, SHUT_WR);
        c.up.shut = true;
    }
    if (c.down.eof && !c.down.shut && c.down.chunks.empty()) {
        ::shutdown(c.client, SHUT_WR);
        c.down.shut = true;
    }
    if (c.up.shut && c.down.shut) {
        c.close();
        return false;
    }
    return true;
}

void DelayRelay::loop()
{
    std::vector<pollfd> fds;
    std::vector<std::pair<Connection *, bool>> owners; // connection, server side
    std::vector<char> buf(kReadSize);
    while (!m_stop) {
        m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                           [&](const std::unique_ptr<Connection> &c) { return !flush(*c); }),
                            m_connections.end());

        const bool silent = m_silent;
        fds.clear();
        owners.clear();
        fds.push_back(pollfd{m_wakeRead, POLLIN, 0});
        fds.push_back(pollfd{m_listenFd, POLLIN, 0});
        owners.resize(2);
        auto next = Clock::time_point::max();
        const auto waitFor = [&next](const Flow &f) {
            if (!f.blocked && !f.chunks.empty())
                next = std::min(next, f.chunks.front().due);
        };
        for (const auto &cp : m_connections) {
            Connection &c = *cp;
            short clientEvents = 0;
            short serverEvents = 0;
            if (c.mute) {
                clientEvents = POLLIN;
            } else if (!silent || c.closing) {
                if (!c.closing && !c.up.eof && c.up.queued < kMaxQueued)
                    clientEvents |= POLLIN;
                if (c.down.blocked)
                    clientEvents |= POLLOUT;
                waitFor(c.down);
                if (c.connecting) {
                    serverEvents = POLLOUT;
                } else {
                    if (!c.closing && !c.down.eof && c.down.queued < kMaxQueued)
                        serverEvents |= POLLIN;
                    if (c.up.blocked)
                        serverEvents |= POLLOUT;
                    waitFor(c.up);
                }
            }
            if (clientEvents) {
                fds.push_back(pollfd{c.client, clientEvents, 0});
                owners.emplace_back(&c, false);
            }
            if (serverEvents) {
                fds.push_back(pollfd{c.server, serverEvents, 0});
                owners.emplace_back(&c, true);
            }
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            // Rounded up, so nothing leaves before its time and at most a millisecond after.
            const auto us = std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now()).count();
            timeout = us <= 0 ? 0 : int((us + 999) / 1000);
        }
        if (::poll(fds.data(), nfds_t(fds.size()), timeout) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        }
        if (fds[0].revents) {
            char drain[64];
            while (::read(m_wakeRead, drain, sizeof drain) > 0) {
            }
        }
        if (fds[1].revents)
            accept();
        for (size_t k = 2; k < fds.size(); ++k) {
            if (fds[k].revents)
                handle(*owners[k].first, owners[k].second, fds[k].revents, buf.data(), buf.size());
        }
    }
}
