#pragma once
// What the window measures share: paint counting, waiting on the event loop,
// disposing of windows, and medians.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <vector>

// Counts paint events of one widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget *w) : m_w(w) { w->installEventFilter(this); }
    ~PaintCounter() override
    {
        if (m_w)
            m_w->removeEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (o == m_w && e->type() == QEvent::Paint)
            ++count;
        return false;
    }

private:
    QPointer<QWidget> m_w;
};


// Runs the event loop until pred() or the deadline; false on timeout.
template <class P>
inline bool spinUntil(P pred, int ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (t.elapsed() > ms)
            return false;
    }
    return true;
}

// Lets pending updates land: a few idle rounds after the last event.
inline void settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
}

// Deletes a window that may already have freed itself on close.
template <class W>
void dispose(QPointer<W> &w)
{
    if (w) {
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    if (w)
        delete w.data();
    w = nullptr;
}

inline double medianOf(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
