#include "TestFiles.h"
#include "TestTables.h"
#include "TestWindow.h"
#include "schema/FaultScan.h"
#include "schema/SchemaGuide.h"
#include "document/Selection.h"
#include "document/ValuePane.h"
#include "tools/SchemaAssist.h"
#include "xml/LibXmlSupport.h"
#include "xml/XmlNodeAccess.h"

#include <QLabel>
#include <QSignalSpy>

namespace {

// A library: shelves of books, each book a title and a year (a gYear),
// shelves numbered; after the shelves an optional year that is an int, so
// that the two years have the declarations of where they stand.
const QByteArray kLibraryXsd =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:lib' xmlns='urn:lib' elementFormDefault='qualified'>"
    "<xs:element name='lib'><xs:complexType><xs:sequence>"
    "<xs:element name='shelf' maxOccurs='unbounded'><xs:complexType><xs:sequence>"
    "<xs:element name='book' maxOccurs='unbounded'><xs:complexType><xs:sequence>"
    "<xs:element name='title' type='xs:string'/><xs:element name='year' type='xs:gYear'/></xs:sequence>"
    "<xs:attribute name='pages' type='xs:positiveInteger'/><xs:attribute name='code' type='xs:ID'/></xs:complexType></xs:element>"
    "</xs:sequence><xs:attribute name='no' type='xs:int' use='required'/></xs:complexType></xs:element>"
    "<xs:element name='year' type='xs:int' minOccurs='0'/>"
    "</xs:sequence></xs:complexType>@KEY@</xs:element></xs:schema>";
const QByteArray kLibrary =
    "<lib xmlns='urn:lib' xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' xsi:schemaLocation='urn:lib lib.xsd'>"
    "<shelf no='1'><book pages='10'><title>甲</title><year>2001</year></book><book pages='x'><title>乙</title><year>1999</year></book></shelf>"
    "<shelf no='two'><book code='b3'><title>丙</title><year>2020</year></book></shelf><year>2024</year></lib>";

// Another namespace's schema, imported, with a key over its items' codes.
const QByteArray kKeysXsd =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:k' xmlns:k='urn:k' elementFormDefault='qualified'>"
    "<xs:element name='set'><xs:complexType><xs:sequence><xs:element name='item' maxOccurs='unbounded'><xs:complexType>"
    "<xs:sequence><xs:element name='code' type='xs:string'/></xs:sequence></xs:complexType></xs:element></xs:sequence></xs:complexType>"
    "<xs:unique name='u'><xs:selector xpath='k:item'/><xs:field xpath='k:code'/></xs:unique></xs:element></xs:schema>";

const QByteArray kShelfDtd = "<!ELEMENT shelf (book+)><!ATTLIST shelf no CDATA #REQUIRED>"
                             "<!ELEMENT book (title, year)><!ATTLIST book kind (paper|cloth) #REQUIRED code ID #IMPLIED>"
                             "<!ELEMENT title (#PCDATA)><!ELEMENT year (#PCDATA)>";

// Faults as comparable strings: the node's address and the message.
QStringList named(const std::vector<std::pair<XmlNode, QString>> &faults)
{
    QStringList out;
    for (const auto &[node, message] : faults)
        out << QString::number(quintptr(XmlNodeAccess::raw(node))) + QLatin1Char(' ') + message;
    out.sort();
    return out;
}

// What a whole check finds, by node; in pieces of `pieceNodes`, or (0) in
// one copy.
std::vector<std::pair<XmlNode, QString>> wholeCheck(const XmlDocument &doc, const SchemaGuide &guide, qint64 pieceNodes = 0,
                                                    int *count = nullptr, bool *inPieces = nullptr)
{
    std::vector<SchemaGuide::Fault> found;
    const int n = guide.check(doc, &found, 1000, {pieceNodes, 0}, inPieces);
    if (count)
        *count = n;
    std::vector<std::pair<XmlNode, QString>> out;
    std::vector<std::pair<int, void *>> from;
    for (const SchemaGuide::Fault &f : found)
        out.emplace_back(f.position < 0 ? XmlNode() : XmlNodeAccess::handle(libxml::followRoute(doc.rawDocument(), f.route, &from)), f.message);
    return out;
}

bool under(const XmlNode &element, const XmlNode &node)
{
    const XmlNode at = node.isAttribute() ? node.ownerElement() : node;
    return at == element || element.isAncestorOf(at);
}

} // namespace

// After a value changes, the changed element's subtree is checked on its
// own: with the rest of the last whole check it must say what a new whole
// check says, and where it cannot tell, it says so.
class TestSubtreeCheck : public QObject
{
    Q_OBJECT

    TestFiles m_files;

private slots:
    void saysWhatTheWholeCheckSays_data()
    {
        // route: child elements from the root; attribute: its name, or
        // empty for the element's text
        addColumns<QByteArray, QByteArray, QList<int>, QString, QString, bool>({"schema", "xml", "route", "attribute", "value", "alone"});
        const QByteArray xsd = QByteArray(kLibraryXsd).replace("@KEY@", "");
        QTest::newRow("attribute made wrong") << xsd << kLibrary << QList<int>{0, 0} << "pages" << "0" << true;
        QTest::newRow("attribute put right") << xsd << kLibrary << QList<int>{0, 1} << "pages" << "12" << true;
        QTest::newRow("text made wrong") << xsd << kLibrary << QList<int>{0, 0, 1} << "" << "twenty" << true;
        QTest::newRow("same name, the other declaration") << xsd << kLibrary << QList<int>{2} << "" << "2024-01" << true;
        QTest::newRow("element above faults below it") << xsd << kLibrary << QList<int>{0} << "no" << "one" << true;
        QTest::newRow("beside an ID") << xsd << kLibrary << QList<int>{1, 0, 0} << "" << "丁" << true;
        QTest::newRow("an ID itself") << xsd << kLibrary << QList<int>{1, 0} << "code" << "b1" << false;
        QTest::newRow("a schema with keys") << QByteArray(kLibraryXsd).replace("@KEY@", "<xs:unique name='u'><xs:selector xpath='.//*'/>"
                                                                                      "<xs:field xpath='@no'/></xs:unique>")
                                            << kLibrary << QList<int>{0, 0} << "pages" << "0" << false;
        QTest::newRow("keys in an imported schema")
            << QByteArray("<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:lib' xmlns:k='urn:k'>"
                          "<xs:import namespace='urn:k' schemaLocation='keys.xsd'/><xs:element name='lib'><xs:complexType>"
                          "<xs:sequence><xs:element ref='k:set'/></xs:sequence></xs:complexType></xs:element></xs:schema>")
            << QByteArray("<lib xmlns='urn:lib' xmlns:k='urn:k' xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
                          "xsi:schemaLocation='urn:lib lib.xsd'><k:set><k:item><k:code>a</k:code></k:item>"
                          "<k:item><k:code>b</k:code></k:item></k:set></lib>")
            << QList<int>{0, 1, 0} << "" << "a" << false;
        QTest::newRow("an entity's name, declared in the document")
            << QByteArray(kLibraryXsd).replace("@KEY@", "").replace("<xs:attribute name='code' type='xs:ID'/>",
                                                                     "<xs:attribute name='pic' type='xs:ENTITY'/>")
            << "<!DOCTYPE lib [<!NOTATION gif SYSTEM 'gif'><!ENTITY img SYSTEM 'a.gif' NDATA gif>]>"
                   + QByteArray(kLibrary).replace("code='b3'", "pages='3' pic='img'")
            << QList<int>{1, 0} << "pages" << "5" << true;
        const QByteArray dtd = "<!DOCTYPE shelf [" + kShelfDtd + "]>";
        const QByteArray shelf = "<shelf no='1'><book kind='paper'><title>a</title><year>1</year></book>"
                                 "<book kind='wood' code='c1'><title>b</title><year>2</year></book></shelf>";
        QTest::newRow("DTD value out of its list") << QByteArray() << dtd + shelf << QList<int>{0} << "kind" << "stone" << true;
        QTest::newRow("DTD text beside an ID") << QByteArray() << dtd + shelf << QList<int>{1, 0} << "" << "c" << true;
        QTest::newRow("DTD ID") << QByteArray() << dtd + shelf << QList<int>{1} << "code" << "c2" << false;
        QTest::newRow("DTD reference on the way") << QByteArray()
                                                  << "<!DOCTYPE shelf [" + kShelfDtd + "<!ENTITY more '<book kind=\"paper\"><title/><year/></book>'>]>"
                                                         "<shelf no='1'>&more;<book kind='paper'><title>a</title><year>1</year></book></shelf>"
                                                  << QList<int>{1} << "kind" << "x" << false;
    }
    void saysWhatTheWholeCheckSays()
    {
        QFETCH(QByteArray, schema);
        QFETCH(QByteArray, xml);
        QFETCH(QList<int>, route);
        QFETCH(QString, attribute);
        QFETCH(QString, value);
        QFETCH(bool, alone);
        if (!schema.isEmpty())
            m_files.write(QStringLiteral("lib.xsd"), schema);
        m_files.write(QStringLiteral("keys.xsd"), kKeysXsd);
        const QString path = m_files.write(QStringLiteral("lib.xml"), xml);
        XmlDocument doc;
        QVERIFY(doc.load(path));
        doc.settle();
        const SchemaGuide guide(doc, schemaInUse(doc, QString(), path));
        QVERIFY(guide.isUsable());
        XmlNode element = doc.documentElement();
        for (int step : route)
            element = element.child(step);
        const XmlNode changed = attribute.isEmpty() ? element.firstChild() : element.attributeNode(attribute);
        QVERIFY(!changed.isNull());

        auto expected = wholeCheck(doc, guide);
        std::erase_if(expected, [&](const auto &f) { return !f.first.isNull() && under(element, f.first); });
        QVERIFY(doc.setText(changed, value));
        std::vector<std::pair<XmlNode, QString>> found;
        QCOMPARE(guide.checkWithin(element, &found), alone);
        if (!alone)
            return;
        expected.insert(expected.end(), found.begin(), found.end());
        QCOMPARE(named(expected), named(wholeCheck(doc, guide)));
    }

    // A large document is checked a piece at a time: the same faults, each
    // once, as checking one copy of the whole; IDs unique across pieces,
    // references to IDs found in any piece.
    void piecesSayWhatOneCopySays_data()
    {
        addColumns<QByteArray, QByteArray>({"subset", "xml"}); // no subset: the XML Schema
        const QByteArray faulty = QByteArray(kLibrary)
                                      .replace("<shelf no='two'>", "stray<shelf no='two'>")
                                      .replace("<book pages='10'>", "<book pages='10' code='b3'>")
                                      .replace("<year>2024</year>", "<shelf no='3'><extra/></shelf><shelf no='4'/><year>2024</year>");
        QTest::newRow("faults at every depth") << QByteArray() << kLibrary;
        QTest::newRow("a repeated ID, text and elements out of place") << QByteArray() << faulty;
        QTest::newRow("IDs the document type declares")
            << QByteArray("<!DOCTYPE lib [<!ATTLIST book code ID #IMPLIED>]>") << faulty;
        QTest::newRow("a document type's own check")
            << "<!DOCTYPE lib [<!ELEMENT lib (shelf+)>" + kShelfDtd + "<!ATTLIST book see IDREFS #IMPLIED>]>"
            << QByteArray("<lib><shelf no='1'><book kind='paper' code='c1' see='c4'><title>a</title><year>1</year></book>"
                          "<book kind='wood' code='c2'><title>b</title><year>2</year></book></shelf>stray"
                          "<shelf no='2'><book kind='cloth' code='c1'><title>c</title></book>"
                          "<book kind='paper' see='c2 zz'><title>d</title><year>4</year></book></shelf><shelf/>"
                          "<shelf no='4'><book kind='paper' code='c4'><title>e</title><year>5</year><extra/></book></shelf></lib>");
    }
    void piecesSayWhatOneCopySays()
    {
        QFETCH(QByteArray, subset);
        QFETCH(QByteArray, xml);
        const QString xsd = m_files.write(QStringLiteral("lib.xsd"), QByteArray(kLibraryXsd).replace("@KEY@", ""));
        const QString path = m_files.write(QStringLiteral("pieces.xml"), subset + xml);
        XmlDocument doc;
        QVERIFY(doc.load(path));
        doc.settle();
        const SchemaGuide guide(doc, schemaInUse(doc, subset.contains("ELEMENT") ? QString() : xsd, path));
        int count = 0;
        const QStringList expected = named(wholeCheck(doc, guide, 0, &count));
        QVERIFY(count >= 2);
        for (const qint64 pieceNodes : {8, 20}) {
            int piecesCount = 0;
            bool inPieces = false;
            QCOMPARE(named(wholeCheck(doc, guide, pieceNodes, &piecesCount, &inPieces)), expected);
            QCOMPARE(piecesCount, count);
            QVERIFY(inPieces);
        }
    }

    // Opened in the window, a document of several pieces gets its faults
    // marked and counted from the check's child, each once.
    void windowShowsThePiecesFaults()
    {
        m_files.write(QStringLiteral("lib.xsd"), QByteArray(kLibraryXsd).replace("@KEY@", ""));
        QByteArray xml = "<lib xmlns='urn:lib' xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
                         "xsi:schemaLocation='urn:lib lib.xsd' odd='1'>";
        for (int shelf = 1; shelf <= 10; ++shelf) {
            xml += "<shelf no='" + QByteArray::number(shelf) + "'>";
            for (int book = 0; book < 900; ++book)
                xml += "<book pages='" + QByteArray(shelf == 1 && book == 5 ? "x" : shelf == 10 && book == 899 ? "0" : "7")
                       + "'><title>t</title><year>2001</year></book>";
            xml += "</shelf>";
        }
        xml += "</lib>";
        TestWindow w;
        QVERIFY(w.showWindow(true));
        QVERIFY(w.window.OpenFile(m_files.write(QStringLiteral("shelves.xml"), xml)));
        const XmlNode lib = w.doc().documentElement();
        QTRY_COMPARE_WITH_TIMEOUT(w.window.schemaAssist().faultCount(), 3, 20000);
        for (const XmlNode &marked : {lib, lib.child(0).child(5), lib.child(9).child(899)})
            QVERIFY(w.model().faults().contains(marked));
    }

    // Typing in the window: a value made wrong is marked and counted, put
    // right it is not, as after a whole check, with no whole check made.
    void typingIsCheckedWhereItChanged()
    {
        m_files.write(QStringLiteral("lib.xsd"), QByteArray(kLibraryXsd).replace("@KEY@", ""));
        TestWindow w;
        QVERIFY(w.showWindow(true));
        QVERIFY(w.window.OpenFile(m_files.write(QStringLiteral("typed.xml"), kLibrary)));
        SchemaAssist &assist = w.window.schemaAssist();
        QTRY_COMPARE(assist.faultCount(), 2); // pages='x', no='two'
        const XmlNode book = w.doc().documentElement().child(0).child(0);
        QSignalSpy wholeChecks(assist.findChild<FaultScan *>(), &FaultScan::finished);
        // Typed into the value pane, as a user does.
        w.window.selection().ShowNode(w.model().indexForNode(book.attributeNode(QStringLiteral("pages"))), true);
        for (const auto &[value, count] : {std::pair("0", 3), {"7", 2}}) {
            QSignalSpy checked(&assist, &SchemaAssist::checked);
            w.window.txtEdit()->selectAll();
            QTest::keyClicks(w.window.txtEdit(), QString::fromLatin1(value));
            QVERIFY(checked.wait(5000));
            QCOMPARE(book.attributeNode(QStringLiteral("pages")).text(), QString::fromLatin1(value));
            QCOMPARE(assist.faultCount(), count);
            QCOMPARE(w.model().faults().contains(book), count == 3);
        }
        QCOMPARE(wholeChecks.count(), 0);
        // Anything else is checked whole again.
        QVERIFY(w.doc().rename(book, QStringLiteral("volume")));
        w.window.DocumentModified();
        QVERIFY(wholeChecks.wait(10000));
        QVERIFY(w.model().faults().contains(book));
    }
};

QTEST_MAIN(TestSubtreeCheck)
#include "tst_subtreecheck.moc"
