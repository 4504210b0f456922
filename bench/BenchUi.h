#pragma once
// What the window measures share: paint counting, waiting on the event loop,
// answering modal dialogs, disposing of windows, and medians.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>
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

// Fills and confirms the modal dialog of type D the next click opens, as
// the operator would, only without the operator's time.
template <class D>
class Answer {
public:
    explicit Answer(std::function<void(D *)> fill) : m_fill(std::move(fill)) { poll(0); }
    bool seen = false;

private:
    void poll(int attempt)
    {
        QTimer::singleShot(attempt == 0 ? 0 : 1, &m_ctx, [this, attempt] {
            auto *d = qobject_cast<D *>(QApplication::activeModalWidget());
            if (!d) {
                if (attempt < 10000)
                    poll(attempt + 1);
                return;
            }
            seen = true;
            QPointer<D> guard(d);
            m_fill(d);
            if (guard && guard->isVisible())
                guard->done(2);
        });
    }
    QObject m_ctx;
    std::function<void(D *)> m_fill;
};

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
