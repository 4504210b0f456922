// SqlText: the literals and like patterns values enter statements through,
// as text and as the engine QEL_DATABASE selects reads them.
#include "SqlText.h"
#include "TestDb.h"
#include <QList>
#include <QPair>
#include <gtest/gtest.h>

namespace {

struct TextCase {
    const char *label;
    QString value;
    QString expected;
};

void PrintTo(const TextCase &c, std::ostream *os)
{
    *os << c.label;
}

// ---- the text ---------------------------------------------------------------------------

class LikeOperandText : public ::testing::TestWithParam<TextCase> {};

TEST_P(LikeOperandText, ComposesThisOperand)
{
    EXPECT_EQ(LikeOperand(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LikeOperandText,
    ::testing::Values(
        TextCase{"empty", QString(), QStringLiteral("'%%'")}, TextCase{"plain", QStringLiteral("abc"), QStringLiteral("'%abc%'")},
        TextCase{"blanks", QStringLiteral(" a "), QStringLiteral("'% a %'")},
        TextCase{"quote", QStringLiteral("O'Neil"), QStringLiteral("'%O''Neil%'")},
        TextCase{"quotes_only", QStringLiteral("''"), QStringLiteral("'%''''%'")},
        // % and _ stay wildcards, and need no escape clause.
        TextCase{"percent", QStringLiteral("100%"), QStringLiteral("'%100%%'")},
        TextCase{"underscore", QStringLiteral("1_0"), QStringLiteral("'%1_0%'")},
        TextCase{"non_ascii", QStringLiteral("京剧'季"), QStringLiteral("'%京剧''季%'")},
        // A backslash is doubled and the escape named, so both engines read it alike.
        TextCase{"backslash", QStringLiteral("\\"), QStringLiteral("'%\\\\%' ESCAPE '\\'")},
        TextCase{"backslash_quote", QStringLiteral("C:\\a'"), QStringLiteral("'%C:\\\\a''%' ESCAPE '\\'")},
        TextCase{"backslash_underscore", QStringLiteral("\\_"), QStringLiteral("'%\\\\_%' ESCAPE '\\'")},
        TextCase{"backslash_non_ascii", QStringLiteral("演出\\季\\"), QStringLiteral("'%演出\\\\季\\\\%' ESCAPE '\\'")},
        TextCase{"injection", QStringLiteral("'; drop table x; --"), QStringLiteral("'%''; drop table x; --%'")}),
    [](const ::testing::TestParamInfo<TextCase> &p) { return std::string(p.param.label); });

TEST(QuotedStrText, KeepsWildcardsAndBackslashesAsTheyAre)
{
    // Only the quote is special in a literal; what like would read is left alone.
    EXPECT_EQ(QuotedStr(QStringLiteral("100%_\\")), QStringLiteral("'100%_\\'"));
    EXPECT_EQ(QuotedStr(QString()), QStringLiteral("''"));
    EXPECT_EQ(QuotedStr(QStringLiteral("演'出")), QStringLiteral("'演''出'"));
}

// ---- on the engine ----------------------------------------------------------------------

const QStringList kNames = {
    QStringLiteral("C:\\演出\\季"), QStringLiteral("C:演出季"), QStringLiteral("100%纯音乐会"), QStringLiteral("1000纯音乐会"),
    QStringLiteral("春_节特别场"),  QStringLiteral("春A节"),    QStringLiteral("春节联欢晚会"), QStringLiteral("O'Neil专场"),
    QStringLiteral("a\\_b"),        QStringLiteral("a\\xb"),    QStringLiteral("a_b"),
};

class SqlTextEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const QString &n : kNames)
            db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values (%1)").arg(QuotedStr(n)));
        ASSERT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT")), kNames.size());
    }
    QStringList matching(const QString &filter)
    {
        QStringList out = db.texts(QStringLiteral("select CNAME from QEL_PROJECT where CNAME like ") + LikeOperand(filter));
        out.sort();
        return out;
    }
    TestDatabase db;
};

TEST_F(SqlTextEngine, QuotedLiteralsReadBackExactly)
{
    for (const QString &v : {QString(), QStringLiteral("O'Neil"), QStringLiteral("''"), QStringLiteral("\\"), QStringLiteral("a\\'b"),
                             QStringLiteral("C:\\演出\\"), QStringLiteral("x' or '1'='1"), QStringLiteral("%_"), QStringLiteral("演出'季")}) {
        SCOPED_TRACE(v.toStdString());
        const DataPacket p = db.query(QStringLiteral("select ") + QuotedStr(v));
        ASSERT_EQ(p.rowCount(), 1);
        EXPECT_EQ(p.text(0, 0), v);
    }
}

TEST_F(SqlTextEngine, LikeFindsTheTextAsTyped)
{
    QStringList all = kNames;
    all.sort();
    EXPECT_EQ(matching(QString()), all);
    EXPECT_EQ(matching(QStringLiteral("O'Neil")), QStringList{QStringLiteral("O'Neil专场")});
    EXPECT_EQ(matching(QStringLiteral("联欢")), QStringList{QStringLiteral("春节联欢晚会")});
}

TEST_F(SqlTextEngine, PercentAndUnderscoreStayWildcards)
{
    EXPECT_EQ(matching(QStringLiteral("100%")), (QStringList{QStringLiteral("100%纯音乐会"), QStringLiteral("1000纯音乐会")}));
    EXPECT_EQ(matching(QStringLiteral("春_节")), (QStringList{QStringLiteral("春A节"), QStringLiteral("春_节特别场")}));
}

TEST_F(SqlTextEngine, BackslashIsACharacterOnBothEngines)
{
    // Read as an escape, "C:\演出\" would find "C:演出季" instead.
    EXPECT_EQ(matching(QStringLiteral("C:\\演出\\")), QStringList{QStringLiteral("C:\\演出\\季")});
    EXPECT_EQ(matching(QStringLiteral("演出\\")), QStringList{QStringLiteral("C:\\演出\\季")});
    // The backslash is matched as itself; the underscore after it is still a wildcard.
    EXPECT_EQ(matching(QStringLiteral("a\\_")), (QStringList{QStringLiteral("a\\_b"), QStringLiteral("a\\xb")}));
}

} // namespace
