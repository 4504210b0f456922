// Comma text: reading what was written gives the same list back, for any
// list; reading any text never crashes, and what it reads survives a write.
#include "CommaText.h"
#include "FuzzText.h"
#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider p(data, size);
    QStringList items;
    const int n = p.ConsumeIntegralInRange<int>(0, 8);
    for (int i = 0; i < n; ++i)
        items << fuzztext::text(p, 24);
    const QString written = WriteCommaText(items);
    const QStringList back = ReadCommaText(written);
    if (back != items)
        fuzztext::fail("ReadCommaText(WriteCommaText(list)) == list", items.join(QChar(0x2016)), written);
    // Codes are joined by commas alone: a plain list is written without quotes or blanks.
    if (items.size() == 1 && items[0].isEmpty() && written != QLatin1String("\"\""))
        fuzztext::fail("an empty item is written as \"\"", written);

    const QString any = fuzztext::text(p, 256);
    const QStringList read = ReadCommaText(any);
    if (ReadCommaText(WriteCommaText(read)) != read)
        fuzztext::fail("what ReadCommaText gives survives a write", any, WriteCommaText(read));
    return 0;
}
