// QuotedStr: the result is exactly one SQL literal: it starts and ends with a
// single quote, every quote inside is doubled, and undoubling gives the input.
#include "SqlText.h"
#include "FuzzText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider p(data, size);
    const QString value = fuzztext::text(p, 512);
    const QString q = QuotedStr(value);
    if (q.size() < 2 || q.front() != QLatin1Char('\'') || q.back() != QLatin1Char('\''))
        fuzztext::fail("enclosed in single quotes", value, q);
    // Lex it as a SQL string literal from its first character.
    QString inner;
    qsizetype i = 1;
    bool closed = false;
    while (i < q.size()) {
        if (q[i] == QLatin1Char('\'')) {
            if (i + 1 < q.size() && q[i + 1] == QLatin1Char('\'')) {
                inner += QLatin1Char('\'');
                i += 2;
                continue;
            }
            closed = true;
            ++i;
            break;
        }
        inner += q[i++];
    }
    if (!closed || i != q.size())
        fuzztext::fail("the literal ends exactly at the end", value, q);
    if (inner != value)
        fuzztext::fail("undoubling gives the input", value, inner);
    if (q.count(QLatin1Char('\'')) != 2 + 2 * value.count(QLatin1Char('\'')))
        fuzztext::fail("every inner quote doubled, nothing else added", value, q);
    return 0;
}
