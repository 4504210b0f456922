#pragma once
#include <QtGlobal>

// Fixed seed, own generator: every machine and every run gets the same data,
// whatever the C library's rand() does. Shared by the demo and benchmark data.
class Lcg {
public:
    explicit Lcg(quint32 seed) : m_state(seed) {}
    int below(int n)
    {
        m_state = m_state * 1664525u + 1013904223u;
        // The low bits of an LCG cycle quickly; use the high ones.
        return int((m_state >> 8) % quint32(n));
    }
    bool chance(int percent) { return below(100) < percent; }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }

private:
    quint32 m_state;
};
