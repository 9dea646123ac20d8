// Files come from anywhere: loading one must never read other files or the
// network, never expand entities without bound, and must fail cleanly with
// a reason and a line, leaving the open document as it was.
#include "DocumentEvents.h"
#include "TestFiles.h"

#include <QTcpServer>
#include <QTest>

const QByteArray kSecret = "OSTREL-SECRET-MARKER";

class TestHostileXml : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_files.write("secret.txt", kSecret);
        m_files.write("secret.dtd", "<!ENTITY leak \"" + kSecret + "\"><!ATTLIST r d CDATA \"" + kSecret + "\">");
        // A fetch attempt would show up as a connection waiting here.
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
    }

    void externalResourcesNeverRead_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("keptReference"); // a load that succeeds writes it back unexpanded; empty: refused

        const QByteArray http = "http://127.0.0.1:" + QByteArray::number(m_server.serverPort());
        QTest::newRow("relative file") << QByteArray("<!DOCTYPE r [<!ENTITY x SYSTEM \"secret.txt\">]><r>a&x;b</r>") << "<r>a&x;b</r>";
        QTest::newRow("http entity") << "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + http + "/e\">]><r>&x;</r>" << "<r>&x;</r>";
        QTest::newRow("in an attribute") << QByteArray("<!DOCTYPE r [<!ENTITY x SYSTEM \"secret.txt\">]><r a=\"&x;\"/>") << QString();
        QTest::newRow("parameter entity") << QByteArray("<!DOCTYPE r [<!ENTITY % p SYSTEM \"secret.dtd\"> %p;]><r/>") << "<r/>";
        // The declaration it would have read is missing: refused, not guessed.
        QTest::newRow("entity from a parameter entity")
            << QByteArray("<!DOCTYPE r [<!ENTITY % p SYSTEM \"secret.dtd\"> %p;]><r>&leak;</r>") << QString();
        QTest::newRow("external DTD") << QByteArray("<!DOCTYPE r SYSTEM \"secret.dtd\"><r>&leak;</r>") << "<r>&leak;</r>";
        QTest::newRow("http DTD") << "<!DOCTYPE r SYSTEM \"" + http + "/d.dtd\"><r/>" << "<r/>";
        QTest::newRow("XInclude") << QByteArray("<r xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"secret.txt\" parse=\"text\"/></r>")
                                  << "<xi:include href=\"secret.txt\" parse=\"text\"/>";
    }

    void externalResourcesNeverRead()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, keptReference);
        XmlDocument doc;
        const bool loaded = doc.load(m_files.write("doc.xml", input)); // from a file, so relative names resolve
        QVERIFY(!m_server.waitForNewConnection(0));
        if (keptReference.isEmpty()) {
            QVERIFY(!loaded && doc.parseError().errorCode != 0 && !doc.parseError().reason.isEmpty());
            return;
        }
        QVERIFY2(loaded, qPrintable(doc.parseError().reason));
        const QString xml = doc.xml(doc.documentNode());
        QVERIFY2(xml.contains(keptReference), qPrintable(xml));
        QList<XmlNode> all;
        QVERIFY(doc.selectNodes("//node() | //@*", XmlNode(), &all));
        for (const XmlNode &n : all << doc.documentNode())
            QVERIFY(!n.text().contains(QLatin1String(kSecret)));
    }

    // Entity expansion is bounded; a document that fails says why and where.
    void untrustedBytes_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<int>("line"); // 0: anywhere
        QTest::addColumn<QString>("reasonHas");

        QByteArray laughs = "<!DOCTYPE r [<!ENTITY l0 \"lol\">";
        for (int i = 1; i < 10; ++i)
            laughs += "<!ENTITY l" + QByteArray::number(i) + " \"" + QByteArray("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
        QTest::newRow("billion laughs") << laughs + "]><r>&l9;</r>" << false << 0 << QString();
        // One large entity, many references: the parser keeps references as
        // nodes, so it is text() and XPath string values that would expand to
        // gigabytes.
        const QByteArray big = "<!DOCTYPE r [<!ENTITY a \"" + QByteArray(50000, 'a') + "\">]>";
        QTest::newRow("quadratic in content") << big + "<r>" + QByteArray("&a;").repeated(20000) + "</r>" << false << 0 << QString();
        QTest::newRow("quadratic in an attribute") << big + "<r x=\"" + QByteArray("&a;").repeated(20000) + "\"/>" << false << 0 << QString();
        QTest::newRow("moderate use is fine") << "<!DOCTYPE r [<!ENTITY c \"" + QByteArray(100, 'c') + "\">]><r x=\"&c;\">"
                + QByteArray("&c;").repeated(1000) + "</r>" << true << 0 << QString();
        QTest::newRow("deep nesting") << QByteArray("<a>").repeated(100000) << false << 0 << QString();
        QTest::newRow("mismatched end tag") << QByteArray("<r>\n<a>\n</r>") << false << 3 << "mismatch";
        QTest::newRow("truncated") << QByteArray("<r>\n<a>\ntext") << false << 3 << QString();
        QTest::newRow("empty") << QByteArray() << false << 1 << QString();
        QTest::newRow("undefined entity") << QByteArray("<r>\n&nope;</r>") << false << 2 << "nope";
        QTest::newRow("invalid UTF-8") << QByteArray("<r>\n\xff</r>") << false << 2 << QString();
        // A namespace slip reported first must not hide the fatal reason.
        QTest::newRow("fatal after a namespace error") << QByteArray("<p:r>\n<a></r>") << false << 2 << "mismatch";
    }
    void untrustedBytes()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, line);
        QFETCH(QString, reasonHas);
        QFETCH(bool, loads);
        XmlDocument doc;
        QCOMPARE(doc.loadBytes(input), loads);
        if (loads) {
            QCOMPARE(doc.documentElement().text().size(), 100 * 1000);
            return;
        }
        QVERIFY2(doc.parseError().errorCode != 0 && !doc.parseError().reason.isEmpty() && doc.parseError().reason.contains(reasonHas),
                 qPrintable(doc.parseError().reason));
        QVERIFY(!line || doc.parseError().line == line);
    }

    void failedLoadKeepsDocument()
    {
        XmlDocument doc;
        Recorder observer;
        doc.addObserver(&observer);
        QVERIFY(doc.loadXML("<r><a>keep</a></r>"));
        const XmlNode a = doc.documentElement().firstChild();
        const QString before = doc.xml(doc.documentNode());

        QVERIFY(!doc.loadXML("<r><a></r>"));
        for (const QString &path : {m_files.path("missing.xml"), m_files.dir.path()}) {
            QVERIFY(!doc.load(path) && doc.parseError().errorCode != 0);
            QVERIFY2(doc.parseError().reason.contains(path), qPrintable(doc.parseError().reason));
        }
        QVERIFY(observer.events == QStringList{"replaced"} && doc.xml(doc.documentNode()) == before);
        QCOMPARE(a.text(), "keep"); // old handles still valid
        QVERIFY(doc.loadXML("<s/>") && doc.parseError().errorCode == 0);
        doc.removeObserver(&observer);
    }

private:
    TestFiles m_files;
    QTcpServer m_server;
};

QTEST_MAIN(TestHostileXml)
#include "tst_hostilexml.moc"
