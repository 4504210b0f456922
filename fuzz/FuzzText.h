#pragma once
// Turns fuzzer bytes into Qt text in several ways, so that every target sees
// valid and broken UTF-8, raw UTF-16 (lone surrogates, NUL) and text drawn
// from the characters that matter to the formats under test.
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

namespace fuzztext {

// Characters the formats treat specially, plus GBK edge cases.
inline const char16_t kAlphabet[] = {
    u',', u'"', u' ', u'\'', u'\r', u'\n', u'\t', 0x0000, 0x0001, 0x001F, 0x007F, u'a', u'Z', u'0', u'%', u'_', u'\\',
    0x6F14, // 演
    0x20AC, // € (CP936 0x80)
    0x30FB, // ・ (not in GBK)
    0x3007, // 〇
    0x9FCF, // 鿏 (not in GBK)
    0x4E02, 0x9F44, 0xFA29, 0xE000, 0xE5E5, 0x3000, 0x00A0, 0x00B7, 0xFEFF, 0x202E, 0x0080, 0xFFFD,
    0xD83C, 0xDFAD, // 🎭 as a pair, or apart
    0xD800, 0xDFFF,
};

inline QString text(FuzzedDataProvider &p, size_t maxUnits)
{
    switch (p.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: {
        const std::string s = p.ConsumeRandomLengthString(maxUnits * 3);
        return QString::fromUtf8(s.data(), qsizetype(s.size()));
    }
    case 1: {
        const std::string s = p.ConsumeRandomLengthString(maxUnits * 2);
        QString out;
        for (size_t i = 0; i + 1 < s.size(); i += 2)
            out += QChar(char16_t(uint8_t(s[i]) | (uint16_t(uint8_t(s[i + 1])) << 8)));
        return out;
    }
    case 2: {
        const std::string s = p.ConsumeRandomLengthString(maxUnits);
        return QString::fromLatin1(s.data(), qsizetype(s.size()));
    }
    default: {
        const std::string s = p.ConsumeRandomLengthString(maxUnits);
        QString out;
        for (char c : s)
            out += QChar(kAlphabet[uint8_t(c) % (sizeof(kAlphabet) / sizeof(kAlphabet[0]))]);
        return out;
    }
    }
}

inline std::string show(const QString &s)
{
    std::string out;
    for (QChar c : s) {
        const unsigned u = c.unicode();
        if (u >= 0x20 && u < 0x7F) {
            out += char(u);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", u);
            out += buf;
        }
    }
    return out;
}

// Reports a broken property and stops the fuzzer with a crash it records.
[[noreturn]] inline void fail(const char *property, const QString &input, const QString &detail = QString())
{
    std::fprintf(stderr, "PROPERTY BROKEN: %s\n  input:  %s\n  detail: %s\n", property, show(input).c_str(), show(detail).c_str());
    std::abort();
}

} // namespace fuzztext
