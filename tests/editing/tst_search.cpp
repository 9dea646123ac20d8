#include "editing/Wildcard.h"

#include <QTest>

// The wildcard match of Find and of pasted text's shapes.
class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void wildcard_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("matches");
        QTest::newRow("equal") << "item" << "item" << true;
        QTest::newRow("whole text only") << "items" << "item" << false;
        QTest::newRow("case-sensitive") << "Item" << "item" << false;
        QTest::newRow("stars around") << "an item here" << "*item*" << true;
        QTest::newRow("star matches none") << "item" << "*item*" << true;
        QTest::newRow("question mark one character") << "ab" << "a?" << true;
        QTest::newRow("question mark not none") << "a" << "a?" << false;
        QTest::newRow("hash a digit") << "a7" << "a#" << true;
        QTest::newRow("hash not a letter") << "ax" << "a#" << false;
        QTest::newRow("list") << "b" << "[abc]" << true;
        QTest::newRow("range") << "q" << "[a-z]" << true;
        QTest::newRow("range excludes") << "Q" << "[a-z]" << false;
        QTest::newRow("negated list") << "Q" << "[!a-z]" << true;
        QTest::newRow("negated list excludes") << "q" << "[!a-z]" << false;
        QTest::newRow("bracket for itself") << "[x]" << "[[]x]" << true;
        QTest::newRow("bracket starts a list") << "[x]" << "[x]" << false;
        QTest::newRow("star for itself") << "a*" << "a[*]" << true;
        QTest::newRow("bracketed star not a run") << "ab" << "a[*]" << false;
        QTest::newRow("unclosed bracket for itself") << "a[b" << "a[b" << true;
        QTest::newRow("comment shape") << "<!---->" << "<!--*-->" << true;
        QTest::newRow("comment too short") << "<!--->" << "<!--*-->" << false;
        QTest::newRow("attribute shape") << "k=\"v\"" << "*=\"*\"" << true;
        QTest::newRow("CDATA shape") << "<![CDATA[x]]>" << "<![[]CDATA[[]*]]>" << true;
        QTest::newRow("non-Latin") << "要素1" << "要素#" << true;
        // A backtracking matcher takes years here.
        QTest::newRow("many stars, no match") << QString(5000, QLatin1Char('a')) << "*a*a*a*a*a*a*a*a*a*a*b" << false;
        QTest::newRow("many stars, match") << QString(5000, QLatin1Char('a')) + "b" << "*a*a*a*a*a*a*a*a*a*a*b" << true;
        QTest::newRow("empty pattern") << "" << "" << true;
        QTest::newRow("empty pattern, text") << "a" << "" << false;
    }
    void wildcard()
    {
        QFETCH(QString, text);
        QFETCH(QString, pattern);
        QTEST(wildcardMatch(text, pattern), "matches");
    }
};

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
