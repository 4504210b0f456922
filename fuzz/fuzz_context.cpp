// The session context: fields are the text between carriage returns, read
// back unchanged; composing fields and parsing them again gives them back.
#include "Context.h"
#include "FuzzText.h"
#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider p(data, size);
    const QString text = fuzztext::text(p, 256);
    TQELContext c;
    c.SetAsString(text);
    if (c.AsString() != text)
        fuzztext::fail("AsString gives the context back", text, c.AsString());
    const QStringList parts = text.split(QChar(13));
    for (int i = -2; i < 12; ++i) {
        const QString expected = i >= 0 && i < parts.size() ? parts[i] : QString();
        if (c.Value(i) != expected)
            fuzztext::fail("Value(i) is the i-th field", text, c.Value(i));
    }
    if (c.NodeCode() != c.Value(0) || c.Group() != c.Value(1) || c.UserName() != c.Value(2) || c.KindCode() != c.Value(3))
        fuzztext::fail("the four named fields are the first four", text);

    QStringList fields;
    const int n = p.ConsumeIntegralInRange<int>(0, 10);
    for (int i = 0; i < n; ++i)
        fields << fuzztext::text(p, 16).remove(QChar(13));
    const QString composed = TQELContext::Compose(fields);
    if (composed.count(QChar(13)) != TQELContext::FieldCount - 1)
        fuzztext::fail("a composed context has eight fields", composed);
    TQELContext d;
    d.SetAsString(composed);
    for (int i = 0; i < TQELContext::FieldCount; ++i)
        if (d.Value(i) != (i < fields.size() ? fields[i] : QString()))
            fuzztext::fail("composed fields read back", composed, d.Value(i));

    // The snap-in keeps the context as given and announces each change once.
    TQELCSnapIn snap;
    int announced = 0;
    QObject::connect(&snap, &TQELCSnapIn::OnContextChange, [&](TQELCSnapIn *s) { announced += s == &snap; });
    snap.SetContext(text);
    if (announced != 1 || snap.Context() != text)
        fuzztext::fail("SetContext stores and announces once", text);
    return 0;
}
