#include "FirstFault.h"
#include "TestFiles.h"
#include "TestTables.h"
#include "TestWindow.h"
#include "XvfbScreen.h"
#include "base/StringTable.h"
#include "schema/ForkedChild.h"
#include "schema/SchemaGuide.h"
#include "schema/XmlValidation.h"
#include "tools/ValidationCommands.h"
#include "xml/LibXmlSupport.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <sys/wait.h>

namespace {

const QByteArray kDocBook = "/usr/share/xml/docbook/schema/rng/5.0/docbook.rng";

QByteArray rng(const QByteArray &body, const QByteArray &attributes = " ns='urn:shop'")
{
    return "<grammar xmlns='http://relaxng.org/ns/structure/1.0'" + attributes
         + " datatypeLibrary='http://www.w3.org/2001/XMLSchema-datatypes'>" + body + "</grammar>";
}

// An order: an id, a customer and a date in either order, then items
// (each with a sku or a code) and gifts, then an optional total.
const QByteArray kShop = rng(
    "<start><element name='order'><attribute name='id'/><interleave><element name='customer'><text/></element>"
    "<element name='date'><text/></element></interleave><oneOrMore><choice><ref name='item'/>"
    "<element name='gift'><empty/></element></choice></oneOrMore><optional><element name='total'>"
    "<data type='decimal'/></element></optional></element></start>"
    "<define name='item'><element name='item'><choice><attribute name='sku'/><attribute name='code'/></choice>"
    "<text/></element></define>");

// Names to offer: every element may be empty, so a name that fits makes
// the document valid. Elements of other namespaces may close an order.
const QByteArray kNames = rng(
    "<start><element name='order'><optional><attribute name='note'/></optional><choice><attribute name='sku'/>"
    "<attribute name='code'/></choice><interleave><element name='customer'><empty/></element><optional>"
    "<element name='date'><empty/></element></optional></interleave><zeroOrMore><choice><element name='item'><optional>"
    "<attribute name='size'><choice><value>S</value><value>L</value></choice></attribute></optional></element>"
    "<element name='gift'><empty/></element></choice></zeroOrMore><optional><element name='total'><empty/>"
    "</element></optional><zeroOrMore><element><anyName><except><nsName/></except></anyName><empty/></element></zeroOrMore>"
    "</element></start>");

QByteArray article(const QByteArray &body)
{
    return "<article xmlns='http://docbook.org/ns/docbook' version='5.0'>\n<title>T</title>\n" + body + "</article>\n";
}

} // namespace

// RELAX NG grammars (XML syntax): validation as F7 runs it, the parts a
// grammar reads, the grammar a document names, and names offered while
// editing, the verdicts checked against xmllint where it is installed.
class TestRelaxNg : public QObject
{
    Q_OBJECT

    TestFiles files;

private slots:
    void initTestCase()
    {
        const QString grammar = files.write(QStringLiteral("shop.rng"), kShop);
        QDir(files.dir.path()).mkpath(QStringLiteral("スキーマ 部品"));
        files.write(QStringLiteral("スキーマ 部品/parts.rng"), rng("<include href='../shop.rng'/>"));
        files.write(QStringLiteral("catalog.xml"), "<catalog xmlns='urn:oasis:names:tc:entity:xmlns:xml:catalog'>"
                    "<uri name='http://example.org/shop.rng' uri='" + libxml::fileUri(grammar) + "'/>"
                    "<nextCatalog catalog='file:///etc/xml/catalog'/></catalog>");
        qputenv("XML_CATALOG_FILES", libxml::fileUri(files.path(QStringLiteral("catalog.xml"))));
    }

    void validation_data()
    {
        addColumns<QString, QByteArray, QByteArray, QString>({"grammar", "schema", "xml", "fault"});
        const QByteArray order = "<order xmlns='urn:shop' id='1'>\n<date>d</date>\n<customer>c</customer>\n";
        QTest::newRow("interleave in either order, choice of attributes") << "shop.rng" << kShop
            << order + "<item sku='a'>x</item>\n<gift/>\n<item code='b'/>\n<total>2.5</total>\n</order>" << "valid";
        QTest::newRow("interleave lacks a member") << "shop.rng" << kShop
            << QByteArray("<order xmlns='urn:shop' id='1'>\n<customer>c</customer>\n<gift/>\n</order>") << "order@1";
        QTest::newRow("neither attribute of a choice") << "shop.rng" << kShop << order + "<item>x</item>\n</order>" << "item@4";
        QTest::newRow("data type") << "shop.rng" << kShop << order + "<gift/>\n<total>much</total>\n</order>" << "total@5";
        QTest::newRow("other namespace") << "shop.rng" << kShop << QByteArray("<order id='1'><date/><customer/><gift/></order>") << "order@1";
        QTest::newRow("parts in a Japanese folder with a blank") << "スキーマ 部品/main.rng"
            << rng("<include href='parts.rng'/>") << order + "<gift/>\n</order>" << "valid";
        QTest::newRow("escaped reference into a Japanese folder") << "main.rng"
            << rng("<include href='%E3%82%B9%E3%82%AD%E3%83%BC%E3%83%9E%20%E9%83%A8%E5%93%81/parts.rng'/>")
            << order + "<gift/>\n</order>" << "valid";
        QTest::newRow("grammar including itself") << "self.rng" << rng("<include href='self.rng'/><start><empty/></start>")
            << QByteArray("<order/>") << "schema: スキーマを読み込めません: self.rng\nDetected an Include recursion";
        QTest::newRow("network reference refused") << "net.rng"
            << rng("<start><externalRef href='http://127.0.0.1:9/x.rng'/></start>") << QByteArray("<order/>")
            << "schema: スキーマを読み込めません: net.rng\nネットワークからは読み込みません: http://127.0.0.1:9/x.rng";
        if (!QFile::exists(QString::fromUtf8(kDocBook)))
            return;
        QTest::newRow("DocBook 5 valid") << "" << kDocBook
            << article("<section>\n<title>S</title>\n<para>p <emphasis>e</emphasis></para>\n</section>\n") << "valid";
        QTest::newRow("DocBook 5 section without a title") << "" << kDocBook << article("<section>\n<para>p</para>\n</section>\n")
                                                           << "section@3";
        QTest::newRow("DocBook 5 unknown element") << "" << kDocBook << article("<para>p <bogus/></para>\n") << "para@3";
        QTest::newRow("DocBook 5 without its namespace") << "" << kDocBook
            << QByteArray("<article version='5.0'><title>T</title><para/></article>") << "article@1";
    }
    void validation()
    {
        QFETCH(QString, grammar);
        QFETCH(QByteArray, schema);
        QFETCH(QByteArray, xml);
        QFETCH(QString, fault);
        const QString path = grammar.isEmpty() ? QString::fromUtf8(schema) : files.write(grammar, schema);
        XmlDocument doc;
        QVERIFY(doc.loadXML(QString::fromUtf8(xml)));
        QCOMPARE(schemaKindOf(path), SchemaKind::RelaxNg);
        const QString found = firstFault(validateDocument(doc, path, SchemaKind::RelaxNg));
        QVERIFY2(found.startsWith(fault), qPrintable(found));
        // The guide reads the same grammar, its parts alike, for names.
        const SchemaGuide guide(doc, {SchemaKind::RelaxNg, path, false});
        QCOMPARE(guide.isUsable(), !fault.startsWith(QLatin1String("schema")));
        if (fault == QLatin1String("valid"))
            QVERIFY(guide.elementNames(doc.documentElement()).contains(doc.documentElement().nodeName()));
        if (QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty() || fault.startsWith(QLatin1String("schema")))
            return;
        QProcess xmllint;
        xmllint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--nonet"), QStringLiteral("--relaxng"), path,
                                                  files.write(QStringLiteral("doc.xml"), xml)});
        QVERIFY(xmllint.waitForFinished(-1));
        QCOMPARE(xmllint.exitCode() == 0, fault == QLatin1String("valid"));
    }

    // The grammar an xml-model instruction names guides the check behind
    // typing, found beside the document or through the catalogs; one in
    // the compact syntax or of another language is passed over.
    void documentNamesItsGrammar_data()
    {
        addColumns<QByteArray, QString, int>({"prolog", "source", "faults"});
        const QByteArray typens = "schematypens='http://relaxng.org/ns/structure/1.0'";
        QTest::newRow("beside the document") << "<?xml-model href='shop.rng' " + typens + "?>" << "shop.rng" << 4;
        QTest::newRow("through the catalog") << "<?xml-model href=\"http://example.org/shop.rng\" " + typens + "?>"
                                             << "shop.rng" << 4;
        QTest::newRow("compact syntax") << "<?xml-model href='shop.rnc' " + typens + "?>" << "" << 0;
        QTest::newRow("another language") << QByteArray("<?xml-model href='shop.rng' schematypens='urn:other'?>") << "" << 0;
    }
    void documentNamesItsGrammar()
    {
        QFETCH(QByteArray, prolog);
        QFETCH(QString, source);
        QFETCH(int, faults);
        XmlDocument doc;
        QVERIFY(doc.loadXML(QString::fromUtf8(prolog + "\n<order xmlns='urn:shop'><customer/><item/><total>x</total></order>")));
        const SchemaSource found = schemaInUse(doc, QString(), files.path(QStringLiteral("doc.xml")));
        QCOMPARE(found.shownName(), source);
        if (source.isEmpty())
            return;
        const SchemaGuide guide(doc, found);
        std::vector<SchemaGuide::Fault> list;
        QCOMPARE(guide.check(doc, &list, 10), faults);
        QVERIFY(list.front().position >= 0); // named by its node, for the marks and F8
    }

    // Names offered where an element stands: the validator accepts each in
    // its place, and no name of the grammar left out.
    void offeredNamesAreAccepted_data()
    {
        addColumns<QByteArray, QString, QString, QStringList>({"xml", "at", "query", "expected"});
        QTest::newRow("after an interleave") << QByteArray("<order xmlns='urn:shop' sku='1'><customer/><item/></order>") << "item"
                                             << "names" << QStringList{"item", "date", "gift", "total"};
        QTest::newRow("before a later child") << QByteArray("<order xmlns='urn:shop' sku='1'><customer/><item/><total/></order>")
                                              << "item" << "names" << QStringList{"item", "date", "gift"};
        QTest::newRow("before an element of another namespace")
            << QByteArray("<order xmlns='urn:shop' sku='1'><customer/><item/><x:ext xmlns:x='urn:x'/></order>") << "item" << "names"
            << QStringList{"item", "date", "gift", "total"};
        QTest::newRow("prefix in scope") << QByteArray("<s:order xmlns:s='urn:shop' sku='1'><s:customer/><s:item/></s:order>")
                                         << "item" << "names" << QStringList{"s:item", "s:date", "s:gift", "s:total"};
        QTest::newRow("root") << QByteArray("<order xmlns='urn:shop' code='1'><customer/></order>") << "order" << "names"
                              << QStringList{"order"};
        QTest::newRow("one of a choice of attributes") << QByteArray("<order xmlns='urn:shop' note='n'><customer/></order>") << "order"
                                                       << "attributes" << QStringList{"code", "sku"};
        QTest::newRow("the other member of the choice taken") << QByteArray("<order xmlns='urn:shop' sku='1'><customer/></order>")
                                                              << "order" << "attributes" << QStringList{"note"};
        QTest::newRow("closed list of values") << QByteArray("<order xmlns='urn:shop' sku='1'><customer/><item size='S'/></order>")
                                               << "item" << "values of size" << QStringList{"S", "L"};
        QTest::newRow("open value") << QByteArray("<order xmlns='urn:shop' sku='1'><customer/></order>") << "order"
                                    << "values of sku" << QStringList{};
    }
    void offeredNamesAreAccepted()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, at);
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        const QString path = files.write(QStringLiteral("names.rng"), kNames);
        const auto element = [&](XmlDocument &doc) { return firstNamed(doc, at); };
        XmlDocument doc;
        QVERIFY(doc.loadXML(QString::fromUtf8(xml)));
        const SchemaGuide guide(doc, {SchemaKind::RelaxNg, path, false});
        QVERIFY(guide.isUsable());
        const XmlNode e = element(doc);
        const QStringList offered = query == QLatin1String("names")        ? guide.elementNames(e)
                                    : query == QLatin1String("attributes") ? guide.attributeNames(e)
                                                                           : guide.attributeValues(e.attributeNode(query.section(QLatin1Char(' '), 2)));
        QCOMPARE(offered, expected);
        if (query != QLatin1String("names"))
            return;
        const QString prefix = expected.front().section(QLatin1Char(':'), 0, -2);
        for (const char *name : {"order", "customer", "date", "item", "gift", "total"}) {
            const QString written = (prefix.isEmpty() ? QString() : prefix + QLatin1Char(':')) + QLatin1String(name);
            XmlDocument changed;
            QVERIFY(changed.loadXML(QString::fromUtf8(xml)));
            QVERIFY(changed.rename(element(changed), written));
            const ValidationResult result = validateDocument(changed, path, SchemaKind::RelaxNg);
            QVERIFY2(result.isValid() == offered.contains(written), qPrintable(written + QLatin1String(": ") + firstFault(result)));
        }
    }

    // F7 and the check behind typing validate in a forked child, whose heap
    // never gives memory back to the system: RELAX NG's validation frees
    // as it goes, and the child reuses what it frees rather than growing
    // by all it ever allocated.
    void childHeapReusesWhatItFrees()
    {
        if (!QFile::exists(QString::fromUtf8(kDocBook)))
            QSKIP("needs DocBook 5's grammar");
        // DocBook's mixed content is validated by trying states, made and
        // freed for each paragraph.
        QByteArray body;
        for (int i = 0; i < 10000; ++i)
            body += "<section><title>t</title><para>p <emphasis>e</emphasis> q <code>c</code></para></section>";
        XmlDocument doc;
        QVERIFY(doc.loadXML(QString::fromUtf8(article(body))));
        const QString grammar = QString::fromUtf8(kDocBook);
        int fd = -1;
        const int pid = forked::start(doc, [&](int out) {
            const auto residentKb = [] {
                QFile status(QStringLiteral("/proc/self/status"));
                status.open(QIODevice::ReadOnly);
                const QByteArray text = status.readAll();
                return text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').value(0).toLong();
            };
            const long before = residentKb();
            const bool valid = validateDocument(doc, grammar, SchemaKind::RelaxNg).isValid();
            return forked::writeAll(out, QByteArray::number(valid ? residentKb() - before : -1));
        }, &fd);
        QVERIFY(pid > 0);
        QFile answer;
        QVERIFY(answer.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        const long grownKb = answer.readAll().toLong();
        ::waitpid(pid, nullptr, 0);
        // 32 MB with the blocks reused (the copy, the grammar, the states
        // at their largest), 71 MB when every allocation took new memory.
        QVERIFY2(grownKb >= 0 && grownKb < 50 * 1024, qPrintable(QString::number(grownKb)));
    }

    // In the shown window, F7 pressed through the X server as a user
    // presses it: the dialog offers RELAX NG, refuses the compact syntax,
    // and F7 reports faults, progress and Cancel as for the other kinds.
    void f7ThroughTheXServer()
    {
        const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (QGuiApplication::platformName() != QLatin1String("xcb") || xdotool.isEmpty())
            QSKIP("needs Xvfb and xdotool");
        const QString grammar = files.write(QStringLiteral("shop.rng"), kShop);
        const QString bad = files.write(QStringLiteral("bad.xml"),
                                        "<order xmlns='urn:shop' id='1'>\n<date/>\n<customer/>\n<item>x</item>\n</order>\n");
        TestWindow w;
        QVERIFY(w.showWindow(true));
        QVERIFY(w.window.OpenFile(bad));
        const QString before = w.markup();
        const auto f7 = [&] {
            const qsizetype asked = w.prompt->asked.size();
            QProcess keys;
            keys.start(xdotool, {"windowfocus", "--sync", QString::number(w.window.winId()), "sleep", "0.3", "key", "F7"});
            return QTest::qWaitFor([&] { return keys.state() == QProcess::NotRunning && w.prompt->asked.size() > asked; }, 30000);
        };
        w.prompt->fileAnswers.enqueue({files.write(QStringLiteral("shop.rnc"), "start = empty")});
        QVERIFY(f7());
        QVERIFY(w.prompt->lastFilter.endsWith(QLatin1String("|RELAX NG (*.rng)|*.rng")));
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].text, GetResString(2901).arg(QStringLiteral("shop.rnc")));
        QVERIFY(w.window.validation().verifyFile().isEmpty());

        w.prompt->fileAnswers.enqueue({grammar});
        QVERIFY(f7());
        QTRY_COMPARE(w.prompt->shown.size(), 2);
        QVERIFY(w.prompt->asked.contains(QStringLiteral("progress shop.rng を検証しています...")));
        QVERIFY2(w.prompt->shown[1].text.startsWith(QStringLiteral("4 行目: ")), qPrintable(w.prompt->shown[1].text));
        QCOMPARE(w.window.selection().GetSelectedDOMNode().nodeName(), QStringLiteral("item"));
        QCOMPARE(w.markup(), before);
        // Cancelled at once: the child ends, and no verdict is given.
        w.prompt->cancelProgressAt = 0;
        w.window.setStatusText(QString());
        QVERIFY(f7());
        QCOMPARE(w.prompt->shown.size(), 2);
        QVERIFY(w.window.statusText().isEmpty());
        w.prompt->cancelProgressAt = -1;

        QVERIFY(w.window.OpenFile(files.write(QStringLiteral("good.xml"), "<order xmlns='urn:shop' id='1'><date/><customer/><gift/></order>")));
        QVERIFY(f7());
        QTRY_COMPARE(w.window.statusText(), GetResString(14));
        QCOMPARE(w.prompt->shown.size(), 2);
        w.window.closeWithoutAsking();
    }
};

int main(int argc, char **argv)
{
    return execOnOwnServer<TestRelaxNg>(argc, argv);
}
#include "tst_relaxng.moc"
