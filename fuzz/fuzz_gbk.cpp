// The GBK check: IsGbkText agrees with a check of each character on its own
// (a fresh encoder each, so no state carries over), CheckGbkText throws
// EHostError and nothing else exactly when the text is refused, and what
// ToGbk gives decodes back to the same text.
#include "Gbk.h"
#include "FuzzText.h"
#include "HostError.h"
#include <QStringDecoder>
#include <QStringEncoder>

namespace {
bool eachCharacterFits(const QString &s)
{
    for (qsizetype i = 0; i < s.size();) {
        const qsizetype len = s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate() ? 2 : 1;
        if (s[i].unicode() == 0)
            return false;
        QStringEncoder enc("GBK", QStringConverter::Flag::Stateless);
        // encode() is lazy: the bytes must be taken for the check to run.
        const QByteArray bytes = enc.encode(QStringView(s).mid(i, len));
        if (enc.hasError())
            return false;
        i += len;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider p(data, size);
    // Several texts in a row: an earlier refusal must not change a later answer.
    while (p.remaining_bytes() > 0) {
        const QString s = fuzztext::text(p, 64);
        const bool expected = eachCharacterFits(s);
        if (IsGbkText(s) != expected)
            fuzztext::fail(expected ? "IsGbkText refuses text GBK holds" : "IsGbkText accepts text GBK cannot hold", s);
        try {
            CheckGbkText(s);
            if (!expected)
                fuzztext::fail("CheckGbkText lets refused text through", s);
        } catch (const EHostError &e) {
            if (expected)
                fuzztext::fail("CheckGbkText refuses text GBK holds", s, e.message());
            if (!e.message().contains(QStringLiteral("U+")) && !e.message().contains(QStringLiteral("NUL")))
                fuzztext::fail("the refusal names the character", s, e.message());
        } catch (...) {
            fuzztext::fail("CheckGbkText throws something other than EHostError", s);
        }
        if (expected) {
            QStringDecoder dec("GBK", QStringConverter::Flag::Stateless);
            const QString back = dec.decode(ToGbk(s));
            if (back != s)
                fuzztext::fail("ToGbk decodes back to the text", s, back);
        }
    }
    return 0;
}
