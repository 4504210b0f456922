#pragma once
#include "CoreGlobal.h"
#include <QString>
#include <QStringList>
#include <string_view>

// The list format for performance codes: items joined by ","; an item with a
// blank, a control character, a comma or a double quote (or an empty item) is
// written in double quotes with inner double quotes doubled.
QELCORE_EXPORT QString WriteCommaText(const QStringList &items);

// Builds the same text as WriteCommaText one item at a time, so a caller with
// tens of thousands of items never holds them as a list of strings.
class QELCORE_EXPORT CommaTextWriter {
public:
    void reserve(qsizetype chars) { m_out.reserve(chars); }
    void add(QStringView item);
    // Adds an item given as bytes when every byte is ASCII; false (and
    // nothing added) otherwise, so the caller can decode it and use add().
    bool addAscii(std::string_view item);
    // The text so far; the writer is empty afterwards.
    QString take();

private:
    void separate()
    {
        if (m_items++)
            m_out += QLatin1Char(',');
    }
    void addQuoted(QStringView item);
    QString m_out;
    qsizetype m_items = 0;
};
// Reads comma text: an item ends at a comma or, outside double quotes, at a blank.
QELCORE_EXPORT QStringList ReadCommaText(const QString &text);
