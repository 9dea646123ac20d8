#include "FirstFault.h"
#include "TestFiles.h"
#include "TestTables.h"
#include "TestWindow.h"
#include "xml/LibXmlSupport.h"
#include "base/StringTable.h"
#include "schema/SchemaGuide.h"
#include "document/ValuePane.h"
#include "schema/XdrValidator.h"
#include "schema/XmlValidation.h"
#include "xml/XsltTransform.h"
#include "editing/NodeEditor.h"
#include "shell/SettingsStore.h"
#include "shell/StructureCommands.h"
#include "tools/HelpCommands.h"
#include "tools/SchemaAssist.h"
#include "tools/ToolCommands.h"
#include "tools/ValidationCommands.h"

#include <QAbstractItemView>
#include <QColor>
#include <QCompleter>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QToolBar>
#include "document/NodeTreeView.h"

#include <future>
#include <sys/stat.h>
#include <thread>

namespace {

// An HTTP server on 127.0.0.1 that answers each request with `status`
// once the whole body has arrived (status 0: never), and keeps the last
// request.
class LocalServer : public QObject
{
public:
    explicit LocalServer(int status) : m_status(status)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                request += socket->readAll();
                if (!complete() || m_status == 0)
                    return;
                socket->write("HTTP/1.1 " + QByteArray::number(m_status) + " Status\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            });
        });
    }
    bool complete() const { return request.contains("\r\n\r\n") && body().size() >= contentLength(); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/in").arg(m_server.serverPort()); }
    QByteArray body() const { return request.mid(request.indexOf("\r\n\r\n") + 4); }
    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : request.left(request.indexOf("\r\n\r\n")).split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return QByteArray();
    }
    qsizetype contentLength() const { return header("Content-Length").toLongLong(); }

    QByteArray request;

private:
    QTcpServer m_server;
    int m_status;
};


const QByteArray kOrderDtd = "<!ELEMENT order (item+)>\n<!ELEMENT item (#PCDATA)>\n<!ATTLIST item n CDATA #REQUIRED>\n";

QByteArray orderXsd(const QByteArray &itemType = "xs:int", const QByteArray &extra = "", const QByteArray &schemaAttributes = "")
{
    return "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'" + schemaAttributes + ">" + extra +
           "<xs:element name='order'><xs:complexType><xs:sequence>"
           "<xs:element name='item' maxOccurs='unbounded'><xs:complexType><xs:simpleContent>"
           "<xs:extension base='xs:string'><xs:attribute name='n' type='" +
           itemType +
           "' use='required'/></xs:extension></xs:simpleContent></xs:complexType></xs:element>"
           "</xs:sequence></xs:complexType></xs:element></xs:schema>";
}

// r holds an a, then any b and c; a's kind is x, y or z and required.
const QByteArray kGuideDtd = "<!ELEMENT r (a, (b|c)*)><!ELEMENT a EMPTY><!ATTLIST a kind (x|y|z) #REQUIRED note CDATA #IMPLIED>"
                             "<!ELEMENT b EMPTY><!ELEMENT c EMPTY>";
const QByteArray kGuideXsd =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:element name='r'><xs:complexType><xs:sequence>"
    "<xs:element name='a'><xs:complexType><xs:attribute name='kind' use='required'><xs:simpleType>"
    "<xs:restriction base='xs:string'><xs:enumeration value='x'/><xs:enumeration value='y'/><xs:enumeration value='z'/>"
    "</xs:restriction></xs:simpleType></xs:attribute><xs:attribute name='note' type='xs:string'/></xs:complexType></xs:element>"
    "<xs:choice minOccurs='0' maxOccurs='unbounded'><xs:element name='b'/><xs:element name='c'/></xs:choice>"
    "</xs:sequence></xs:complexType></xs:element></xs:schema>";

// What a completion list shows.
QStringList offered(QCompleter *c)
{
    if (!c || !c->popup()->isVisible())
        return {QStringLiteral("(no list)")};
    QStringList shown;
    for (int row = 0; row < c->completionModel()->rowCount(); ++row)
        shown << c->completionModel()->index(row, 0).data().toString();
    return shown;
}

QByteArray xdr(const QByteArray &declarations)
{
    return "<Schema xmlns='urn:schemas-microsoft-com:xml-data' xmlns:dt='urn:schemas-microsoft-com:datatypes'>" + declarations + "</Schema>";
}

// The content models the XDR rows share: a holds b then an optional c.
const QByteArray kSeq = "<ElementType name='b' content='textOnly'/><ElementType name='c' content='empty'/>"
                        "<ElementType name='a' content='eltOnly'><element type='b'/><element type='c' minOccurs='0'/></ElementType>";

} // namespace

// The Tools and Help menus: validation against DTDs, XML Schemas and XDR
// schemas (the faults found, the nodes they name in the document), clear
// values, send, external programs and the Help menu.
class TestToolCommands : public QObject
{
    Q_OBJECT

    TestFiles files;

    static void trigger(TestWindow &w, const char *item) { w.window.menuItem(QString::fromLatin1(item))->trigger(); }

    // This process's threads, and its children that have not ended.
    static std::pair<int, int> workers()
    {
        std::pair<int, int> n;
        for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            ++n.first;
            QFile children(QStringLiteral("/proc/self/task/%1/children").arg(task));
            const QByteArray pids = children.open(QIODevice::ReadOnly) ? children.readAll() : QByteArray();
            for (const QByteArray &pid : pids.split(' ')) {
                QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
                const QByteArray line = !pid.isEmpty() && stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
                n.second += !line.isEmpty() && line.mid(line.lastIndexOf(')') + 2, 1) != "Z";
            }
        }
        return n;
    }

    ValidationResult validate(const QString &xml, const QString &schemaName, const QByteArray &schema, XmlDocument *doc)
    {
        if (!doc->loadXML(xml))
            qFatal("fixture does not parse");
        return validateDocument(*doc, files.write(schemaName, schema), schemaKindOf(schemaName));
    }

private slots:
    void initTestCase()
    {
        // A part of a schema, for the include row below.
        QDir(files.dir.path()).mkpath(QStringLiteral("schemas"));
        files.write(QStringLiteral("schemas/types.xsd"), "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:simpleType name='num'>"
                    "<xs:restriction base='xs:int'/></xs:simpleType></xs:schema>");
        files.write(QStringLiteral("items.mod"), kOrderDtd);
        // Addresses on the web that a catalog of the test's own maps to the
        // files above, before the system's catalog is asked.
        files.write(QStringLiteral("catalog.xml"), "<catalog xmlns='urn:oasis:names:tc:entity:xmlns:xml:catalog'>"
                    "<system systemId='http://example.org/items.mod' uri='" + libxml::fileUri(files.path(QStringLiteral("items.mod"))) + "'/>"
                    "<uri name='http://example.org/types.xsd' uri='" + libxml::fileUri(files.path(QStringLiteral("schemas/types.xsd"))) + "'/>"
                    "<nextCatalog catalog='file:///etc/xml/catalog'/></catalog>");
        qputenv("XML_CATALOG_FILES", libxml::fileUri(files.path(QStringLiteral("catalog.xml"))));
    }

    // Each language valid and invalid; the fault names the node where the
    // document has it. The language goes by the file's ending, in any case.
    void dtdXsdAndXdr_data()
    {
        addColumns<QString, QByteArray, QString, QString>({"schemaName", "schema", "xml", "fault"});
        const QString good = QStringLiteral("<order>\n<item n=\"1\">a</item>\n<item n=\"2\">b</item>\n</order>");
        const QString noN = QStringLiteral("<order>\n<item n=\"1\">a</item>\n<item>b</item>\n</order>");
        const QString badN = QStringLiteral("<order>\n<item n=\"1\">a</item>\n<item n=\"x\">b</item>\n</order>");
        QTest::newRow("dtd valid") << "order.dtd" << kOrderDtd << good << "valid";
        QTest::newRow("dtd missing attribute") << "order.dtd" << kOrderDtd << noN << "item@3";
        QTest::newRow("dtd: the document's own type is ignored")
            << "order.dtd" << kOrderDtd << "<!DOCTYPE order [<!ELEMENT order EMPTY>]>\n" + good << "valid";
        QTest::newRow("dtd: declaration and own type before the root") << "order.dtd" << kOrderDtd
            << "<?xml version=\"1.0\"?>\n<!DOCTYPE order [<!ELEMENT order ANY><!ELEMENT item ANY>]>\n" + noN << "item@5";
        QTest::newRow("dtd: root named otherwise") << "order.dtd" << kOrderDtd << "<list/>" << "list@1";
        QTest::newRow("xsd valid") << "ORDER.XSD" << orderXsd() << good << "valid";
        // libxml2 names the element of a bad attribute value.
        QTest::newRow("xsd bad value") << "order.xsd" << orderXsd() << badN << "item@3";
        QTest::newRow("xsd missing attribute") << "order.xsd" << orderXsd() << noN << "item@3";
        // Parts are read beside the schema, wherever the program runs.
        QTest::newRow("xsd with an included part") << "schemas/main.xsd" << orderXsd("num", "<xs:include schemaLocation='types.xsd'/>") << badN
                                                   << "item@3";
        // Entities the document declares count as written out.
        const QString entities = QStringLiteral("<!DOCTYPE order [<!ENTITY q \"2\"><!ENTITY v \"<![CDATA[<a>]]>\">]>\n");
        QTest::newRow("dtd: attribute value through an entity")
            << "enum.dtd" << QByteArray("<!ELEMENT order (item+)><!ELEMENT item (#PCDATA)><!ATTLIST item n (1|2) #REQUIRED>")
            << entities + "<order>\n<item n=\"&q;\">a</item>\n</order>" << "valid";
        QTest::newRow("xsd: values through entities") << "order.xsd" << orderXsd("xs:positiveInteger")
                                                      << entities + "<order>\n<item n=\"&q;\">&q;</item>\n</order>" << "valid";
        QTest::newRow("xsd: fault after values through entities") << "order.xsd" << orderXsd("xs:positiveInteger")
            << entities + "<order>\n<item n=\"&q;\">&v;</item>\n<item n=\"x\">b</item>\n</order>" << "item@4";
        const QByteArray inNs = orderXsd("xs:int", "", " targetNamespace='urn:o' elementFormDefault='qualified'");
        QTest::newRow("xsd for the root's namespace") << "ns.xsd" << inNs << "<order xmlns='urn:o'>\n<item n='1'/>\n<item n='x'/>\n</order>"
                                                      << "item@3";
        QTest::newRow("xsd for another namespace") << "ns.xsd" << inNs << "<order><item n='1'/></order>"
            << "schema: スキーマの名前空間 urn:o と文書の名前空間 (なし) が一致しません。";
        const QByteArray items = "<ElementType name='item' content='textOnly'><AttributeType name='n' dt:type='int' "
                                 "required='yes'/><attribute type='n'/></ElementType>"
                                 "<ElementType name='order' content='eltOnly'><element type='item' maxOccurs='*'/></ElementType>";
        QTest::newRow("xdr valid") << "order.Xml" << xdr(items) << good << "valid";
        QTest::newRow("xdr bad value") << "order.xml" << xdr(items) << badN << "n@3";
        QTest::newRow("xdr missing attribute") << "order.xml" << xdr(items) << noN << "item@3";
    }
    void dtdXsdAndXdr()
    {
        QFETCH(QString, schemaName);
        QFETCH(QByteArray, schema);
        QFETCH(QString, xml);
        QFETCH(QString, fault);
        XmlDocument doc;
        const ValidationResult r = validate(xml, schemaName, schema, &doc);
        QCOMPARE(firstFault(r), fault);
        if (r.errorCount)
            QVERIFY(doc.owns(r.errors[0].node)); // the document's node, not a copy's
    }

    // A schema that cannot be used is reported as such, not as a fault of
    // the document.
    void unusableSchemas_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // null: no such file
        QTest::newRow("missing") << "gone.xsd" << QByteArray();
        QTest::newRow("dtd that is markup") << "bad.dtd" << QByteArray("<order/>");
        QTest::newRow("xsd that is no schema") << "bad.xsd" << QByteArray("<order/>");
        QTest::newRow("xml that is no XDR") << "plain.xml" << QByteArray("<order/>");
        QTest::newRow("xdr naming an undeclared type") << "ref.xml" << xdr("<ElementType name='order'><element type='item'/></ElementType>");
        QTest::newRow("xdr with a bad default") << "def.xml" << xdr("<AttributeType name='n' dt:type='int' default='x'/>");
    }
    void unusableSchemas()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        XmlDocument doc;
        QVERIFY(doc.loadXML(QStringLiteral("<order/>")));
        const QString path = content.isNull() ? files.path(name) : files.write(name, content);
        const ValidationResult r = validateDocument(doc, path, schemaKindOf(name));
        QVERIFY2(!r.schemaError.isEmpty(), qPrintable(firstFault(r)));
        QVERIFY(r.schemaError.contains(name));
        QCOMPARE(r.errorCount, 0);
    }

    // Folders named as users name them: the schema's parts are found beside
    // it, and a part that is missing is named with libxml2's reason.
    void foldersWithAwkwardNames_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("blank") << "my files";
        QTest::newRow("Japanese") << "ドキュメント";
        QTest::newRow("percent") << "100%";
        QTest::newRow("hash") << "a#b";
    }
    void foldersWithAwkwardNames()
    {
        QFETCH(QString, folder);
        QVERIFY(QDir(files.dir.path()).mkpath(folder));
        files.write(folder + QStringLiteral("/items.mod"), kOrderDtd);
        files.write(folder + QStringLiteral("/types.xsd"), TestFiles::read(files.path(QStringLiteral("schemas/types.xsd"))));
        const QString bad = QStringLiteral("<order>\n<item n=\"1\">a</item>\n<item n=\"x\"/>\n</order>");
        const QString badN = QStringLiteral("<order>\n<item n=\"1\">a</item>\n<item/>\n</order>");
        XmlDocument doc;
        QCOMPARE(firstFault(validate(badN, folder + QStringLiteral("/order.dtd"), "<!ENTITY % m SYSTEM 'items.mod'> %m;", &doc)),
                 QStringLiteral("item@3"));
        QCOMPARE(firstFault(validate(bad, folder + QStringLiteral("/order.xsd"), orderXsd("num", "<xs:include schemaLocation='types.xsd'/>"), &doc)),
                 QStringLiteral("item@3"));
        const QString missing = firstFault(validate(badN, folder + QStringLiteral("/gone.dtd"), "<!ENTITY % m SYSTEM 'gone.mod'> %m;", &doc));
        QVERIFY2(missing.contains(QStringLiteral("gone.dtd")) && missing.contains(folder + QStringLiteral("/gone.mod")), qPrintable(missing));
        // A fault of the schema names it by the path a user reads.
        const QString broken = firstFault(validate(badN, folder + QStringLiteral("/broken.dtd"), "<!ELEMENT order (item+>", &doc));
        QVERIFY2(broken.contains(folder + QStringLiteral("/broken.dtd:1: ")) && !broken.contains(QStringLiteral("file:")), qPrintable(broken));
    }

    // Parts a schema names: through the catalogs first, never from the
    // network, and only from regular files (a FIFO or the editor's own
    // pipes would stall it for good). Installed schemas where present.
    void schemaParts_data()
    {
        // schema: written to the test's folder, or an installed file
        // fault: "schema: " and a part of the message
        addColumns<QString, QByteArray, QString, QString>({"schema", "content", "xml", "fault"});
        const QString noN = QStringLiteral("<order>\n<item n=\"1\">a</item>\n<item>b</item>\n</order>");
        const auto pulling = [](const QByteArray &where) { return "<!ENTITY % m SYSTEM '" + where + "'> %m;"; };
        QTest::newRow("dtd module by a catalog's address") << "web.dtd" << pulling("http://example.org/items.mod") << noN << "item@3";
        QTest::newRow("xsd part by a catalog's address")
            << "web.xsd" << orderXsd("num", "<xs:include schemaLocation='http://example.org/types.xsd'/>")
            << "<order><item n='x'/></order>" << "item@1";
        QTest::newRow("address no catalog knows") << "far.dtd" << pulling("http://example.org/far.mod") << noN
                                                  << "schema: http://example.org/far.mod";
        QTest::newRow("fifo") << "fifo.dtd" << pulling(QFile::encodeName(files.path(QStringLiteral("fifo")))) << noN << "schema: 通常のファイルではありません";
        QTest::newRow("standard input") << "stdin.dtd" << pulling("/dev/stdin") << noN << "schema: /dev/stdin";
        // A sparse file claims a terabyte: refused by its size, never held.
        QTest::newRow("part of a terabyte") << "huge.dtd" << pulling(QFile::encodeName(files.path(QStringLiteral("huge.mod")))) << noN
                                            << "schema: 64 MB を超えるファイルは読み込みません: " + files.path(QStringLiteral("huge.mod"));
        const QString html = QStringLiteral("<html xmlns='http://www.w3.org/1999/xhtml'><head><title>t</title></head>"
                                            "<body><p>x</p></body></html>");
        QTest::newRow("installed XHTML 1.1")
            << "/usr/share/xml/w3c-sgml-lib/schema/dtd/REC-xhtml11-20101123/xhtml11.dtd" << QByteArray() << html << "valid";
        QTest::newRow("installed XHTML 1.1, invalid") << "/usr/share/xml/w3c-sgml-lib/schema/dtd/REC-xhtml11-20101123/xhtml11.dtd" << QByteArray()
            << QString(html).replace(QStringLiteral("<p>x</p>"), QStringLiteral("\n<title/>")) << "body@1";
        QTest::newRow("installed DocBook 5 with xml.xsd") << "/usr/share/xml/docbook/schema/xsd/5.0/docbook.xsd" << QByteArray()
            << "<article xmlns='http://docbook.org/ns/docbook' version='5.0' xml:lang='ja'><title>t</title><para>x</para></article>"
            << "valid";
    }
    void schemaParts()
    {
        QFETCH(QString, schema);
        QFETCH(QByteArray, content);
        QFETCH(QString, xml);
        QFETCH(QString, fault);
        if (content.isNull() && !QFileInfo::exists(schema))
            QSKIP("the package with this schema is not installed");
        ::mkfifo(QFile::encodeName(files.path(QStringLiteral("fifo"))).constData(), 0600);
        QFile huge(files.path(QStringLiteral("huge.mod")));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 40));
        XmlDocument doc;
        QVERIFY(doc.loadXML(xml));
        const QString path = content.isNull() ? schema : files.write(schema, content);
        const QString found = firstFault(validateDocument(doc, path, schemaKindOf(path)));
        QVERIFY2(fault.startsWith(QStringLiteral("schema: ")) ? found.contains(fault.mid(8)) : found == fault, qPrintable(found));
    }

    // A validation's permission to read files is its own thread's: a style
    // sheet transformed meanwhile still cannot read through an entity.
    void readingStaysWithTheValidation()
    {
        QVERIFY(QDir(files.dir.path()).mkpath(QStringLiteral("sheet")));
        const QString secret = files.write(QStringLiteral("secret.txt"), "not for the sheet");
        files.write(QStringLiteral("sheet/data.xml"), "<!DOCTYPE d [<!ENTITY s SYSTEM '" + libxml::fileUri(secret) + "'>]><d>&s;</d>");
        const QString sheet = files.write(QStringLiteral("sheet/t.xsl"),
                                          "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
                                          "<xsl:template match='/'><o><xsl:value-of select=\"document('data.xml')\"/></o>"
                                          "</xsl:template></xsl:stylesheet>");
        std::promise<void> opened;
        std::promise<void> done;
        std::thread validation([&] {
            libxml::ExternalLoadScope anyLocalFile;
            opened.set_value();
            done.get_future().wait();
        });
        opened.get_future().wait();
        const TransformResult result = transformWithStyleSheet("<r/>", sheet);
        done.set_value();
        validation.join();
        QVERIFY2(!result.output.contains("not for the sheet"), result.output.constData());
    }

    void xdrFeatures_data()
    {
        // fault: then what the content model would have taken there
        addColumns<QByteArray, QString, QString>({"declarations", "xml", "fault"});
        QTest::newRow("seq") << kSeq << "<a>\n<b>t</b>\n<c/>\n</a>" << "valid";
        QTest::newRow("seq, optional left out") << kSeq << "<a><b/></a>" << "valid";
        QTest::newRow("seq, wrong order") << kSeq << "<a>\n<c/>\n<b/>\n</a>" << "c@2 Expected: b.";
        QTest::newRow("seq, one too many") << kSeq << "<a>\n<b/>\n<b/>\n</a>" << "b@3";
        QTest::newRow("seq, incomplete") << kSeq << "<a/>" << "a@1 Expected: b.";
        QTest::newRow("seq, after the last") << kSeq << "<a><b/><c/><b/></a>" << "b@1 Expected: no more elements.";
        QTest::newRow("text in eltOnly") << kSeq << "<a>x<b/></a>" << "a@1";
        QTest::newRow("undeclared element") << kSeq << "<a>\n<b><d/></b>\n</a>" << "d@2";
        const QByteArray bc = "<ElementType name='b' content='empty'/><ElementType name='c' content='empty'/>";
        QTest::newRow("one: both given") << bc + "<ElementType name='a' content='eltOnly' order='one'><element type='b'/>"
                                                "<element type='c'/></ElementType>"
                                         << "<a>\n<b/>\n<c/>\n</a>" << "c@3";
        QTest::newRow("many: any order and number")
            << bc + "<ElementType name='a' content='eltOnly' order='many'><element type='b'/><element type='c'/></ElementType>"
            << "<a><c/><b/><c/></a>" << "valid";
        const QByteArray group = bc + "<ElementType name='a' content='eltOnly'><group order='seq' minOccurs='0' "
                                      "maxOccurs='*'><element type='b'/><element type='c'/></group></ElementType>";
        QTest::newRow("repeated group") << group << "<a><b/><c/><b/><c/></a>" << "valid";
        QTest::newRow("repeated group, broken") << group << "<a>\n<b/>\n<c/>\n<b/>\n<b/>\n</a>" << "b@5";
        QTest::newRow("empty with text") << bc << "<b>x</b>" << "b@1";
        QTest::newRow("textOnly with an element") << kSeq << "<a>\n<b>\n<c/>\n</b>\n</a>" << "c@3";
        const QByteArray mixed = bc + "<ElementType name='a'><element type='b'/></ElementType>";
        QTest::newRow("mixed") << mixed << "<a>x<b/>y<b/></a>" << "valid";
        QTest::newRow("mixed, element not listed") << mixed << "<a>x\n<c/></a>" << "c@2";
        const QByteArray closed = "<ElementType name='a' model='closed'/>";
        QTest::newRow("open model, other namespace") << QByteArray("<ElementType name='a'/>") << "<a xmlns:o='urn:o' o:z='1'><o:x/></a>" << "valid";
        QTest::newRow("closed model, other namespace element") << closed << "<a xmlns:o='urn:o'>\n<o:x/></a>" << "o:x@2";
        QTest::newRow("closed model, other namespace attribute") << closed << "<a xmlns:o='urn:o' o:z='1'/>" << "o:z@1";
        QTest::newRow("the schema replaces the root's default namespace") << kSeq << "<a xmlns='urn:whatever'><b/><c/></a>" << "valid";
        QTest::newRow("a default namespace below the root is another's") << closed << "<a>\n<x xmlns='urn:o'/></a>" << "x@2";
        const QByteArray attributes = "<AttributeType name='color' dt:type='enumeration' dt:values='red green' default='red'/>"
            "<AttributeType name='k'/>"
            "<ElementType name='a'><AttributeType name='n' dt:type='i1' required='yes'/>"
            "<attribute type='n'/><attribute type='color'/><attribute type='k' required='yes'/></ElementType>";
        QTest::newRow("enumeration from a datatype child")
            << QByteArray("<ElementType name='a'><AttributeType name='c'><datatype dt:type='enumeration' dt:values='red green'/>"
                          "</AttributeType><attribute type='c'/></ElementType>")
            << "<a c='blue'/>" << "c@1";
        QTest::newRow("attributes") << attributes << "<a n='-128' color='green' k=''/>" << "valid";
        QTest::newRow("required local attribute") << attributes << "<a color='red' k=''/>" << "a@1";
        QTest::newRow("required set on the use") << attributes << "<a n='1'/>" << "a@1";
        QTest::newRow("enumeration") << attributes << "<a n='1' k='' color='blue'/>" << "color@1";
        QTest::newRow("i1 range") << attributes << "<a n='128' k=''/>" << "n@1";
        QTest::newRow("undeclared attribute") << attributes << "<a n='1' k='' z='1'/>" << "z@1";
        const QByteArray typed = "<ElementType name='n' dt:type='int'/><ElementType name='d'><datatype dt:type='date'/>"
                                 "</ElementType><ElementType name='a'><element type='n'/><element type='d'/></ElementType>";
        QTest::newRow("typed elements") << typed << "<a><n> 42 </n><d>2024-02-29</d></a>" << "valid";
        QTest::newRow("int element") << typed << "<a>\n<n>4x</n></a>" << "n@2";
        QTest::newRow("date element") << typed << "<a>\n<d>2023-02-29</d></a>" << "d@2";
        const QByteArray ids = "<AttributeType name='id' dt:type='id'/><AttributeType name='ref' dt:type='idrefs'/>"
                               "<ElementType name='b' content='empty'><attribute type='id'/><attribute type='ref'/></ElementType>"
                               "<ElementType name='a' content='eltOnly'><element type='b' maxOccurs='*'/></ElementType>";
        QTest::newRow("ids and references") << ids << "<a><b id='x'/><b id='y' ref='x y'/></a>" << "valid";
        QTest::newRow("duplicate id") << ids << "<a>\n<b id='x'/>\n<b id='x'/></a>" << "id@3";
        QTest::newRow("reference to nothing") << ids << "<a>\n<b id='x' ref='x q'/></a>" << "ref@2";
    }
    void xdrFeatures()
    {
        QFETCH(QByteArray, declarations);
        QFETCH(QString, xml);
        QFETCH(QString, fault);
        XmlDocument doc;
        const ValidationResult r = validate(xml, QStringLiteral("s.xml"), xdr(declarations), &doc);
        QCOMPARE(firstFault(r), fault.section(QLatin1Char(' '), 0, 0));
        const QString expected = fault.section(QLatin1Char(' '), 1);
        QVERIFY2(r.errors.value(0).reason.endsWith(expected), qPrintable(r.errors.value(0).reason));
    }

    void xdrDataTypes_data()
    {
        addColumns<QString, QString, bool>({"type", "value", "valid"});
        QTest::newRow("ui1 top") << "ui1" << "255" << true;
        QTest::newRow("ui1 over") << "ui1" << "256" << false;
        QTest::newRow("i8 over") << "i8" << "9223372036854775808" << false;
        QTest::newRow("number with exponent") << "number" << "-1.5e3" << true;
        QTest::newRow("number, exponent cut") << "r8" << "1e" << false;
        QTest::newRow("fixed.14.4 fifth decimal") << "fixed.14.4" << "1.12345" << false;
        QTest::newRow("boolean 2") << "boolean" << "2" << false;
        QTest::newRow("dateTime.tz") << "dateTime.tz" << "2026-01-31T23:59:59+09:00" << true;
        QTest::newRow("time 24h") << "time" << "24:00" << false;
        QTest::newRow("uuid") << "uuid" << "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0" << true;
        QTest::newRow("bin.hex odd") << "bin.hex" << "abc" << false;
        QTest::newRow("bin.base64") << "bin.base64" << "QUJD\nREVG" << true;
        QTest::newRow("char of two") << "char" << "ab" << false;
        QTest::newRow("nmtokens") << "nmtokens" << "a-1 .b" << true;
        QTest::newRow("id with a digit first") << "id" << "1a" << false;
    }
    void xdrDataTypes()
    {
        QFETCH(QString, type);
        QFETCH(QString, value);
        QFETCH(bool, valid);
        QVERIFY(XdrValidator::dataTypes().contains(type));
        QCOMPARE(XdrValidator::isValidValue(type, value), valid);
    }

    // As a user does it: F7 in a shown window whose Tools menu never
    // opened asks for the file first; the toolbar button validates the next
    // document against the same file without asking.
    void keysAndButtonInTheShownWindow()
    {
        const QString schema = files.write(QStringLiteral("order.dtd"), kOrderDtd);
        const QString good = files.write(QStringLiteral("good.xml"), "<order>\n<item n=\"1\">a</item>\n</order>\n");
        const QString bad = files.write(QStringLiteral("bad.xml"), "<order>\n<item n=\"1\">a</item>\n<item>b</item>\n<item/>\n</order>\n");
        TestWindow w;
        w.window.ClearStatus();
        QVERIFY(w.showWindow(true));
        QVERIFY(w.window.OpenFile(good));

        w.prompt->fileAnswers.enqueue({}); // cancelled: nothing happens
        QTest::keyClick(&w.window, Qt::Key_F7);
        QCOMPARE(w.prompt->asked, QStringList{QStringLiteral("open 検証用ファイルの選択")});
        QCOMPARE(w.prompt->lastFilter, ValidationCommands::dialogFilter());
        QVERIFY(w.window.statusText().isEmpty());

        w.prompt->fileAnswers.enqueue({schema});
        QTest::keyClick(&w.window, Qt::Key_F7);
        QCOMPARE(w.window.statusText(), GetResString(14));
        QCoreApplication::processEvents(); // nothing said later covers the result
        QCOMPARE(w.window.statusText(), GetResString(14));
        QVERIFY(w.prompt->shown.isEmpty()); // success shows no box

        QVERIFY(w.window.OpenFile(bad));
        const QString before = w.markup();
        QToolBar *tbr = w.window.findChild<QToolBar *>(QStringLiteral("tbr"));
        QWidget *verify = tbr->widgetForAction(w.window.button(QStringLiteral("verify")));
        QVERIFY(verify->isEnabled());
        QTest::mouseClick(verify, Qt::LeftButton);
        QCOMPARE(w.prompt->asked.filter(QStringLiteral("open ")).size(), 2); // the choice was kept
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].icon, Prompt::Icon::Exclamation);
        QVERIFY2(w.prompt->shown[0].text.startsWith(QStringLiteral("2 件のエラーがあります。\n\n3 行目: ")), qPrintable(w.prompt->shown[0].text));
        QVERIFY(w.prompt->shown[0].text.contains(QStringLiteral("\n4 行目: ")));
        QVERIFY(w.window.statusText().startsWith(QStringLiteral("3 行目: ")));
        // The tree shows the offending item; the document is as it was.
        const XmlNode selected = w.window.selection().GetSelectedDOMNode();
        QCOMPARE(selected.nodeName(), QStringLiteral("item"));
        QCOMPARE(selected.lineNumber(), 3);
        QCOMPARE(w.markup(), before);
        QVERIFY(!w.window.flags().m_Dirty);

        // Validation runs beside the window, with progress and Cancel:
        // cancelled, no verdict.
        w.prompt->cancelProgressAt = 0;
        QTest::keyClick(&w.window, Qt::Key_F7);
        QCOMPARE(w.prompt->lastAsked(), QStringLiteral("progress order.dtd を検証しています..."));
        QCOMPARE(w.prompt->shown.size(), 1);
        w.prompt->cancelProgressAt = -1;

        // A schema gone since it was chosen: a box, the document untouched.
        QVERIFY(QFile::remove(schema));
        QTest::keyClick(&w.window, Qt::Key_F7);
        QCOMPARE(w.prompt->shown.size(), 2);
        QVERIFY(w.prompt->shown[1].text.contains(QStringLiteral("order.dtd")));
        QCOMPARE(w.markup(), before);

        // After a success, a file of a kind it cannot validate with: the
        // success no longer stands in the status bar.
        w.window.setStatusText(GetResString(14));
        w.prompt->fileAnswers.enqueue({files.write(QStringLiteral("notes.txt"), "x")});
        w.window.menuItem(QStringLiteral("mnuToolVerifyNew"))->trigger();
        QVERIFY(w.window.statusText().isEmpty());
    }

    // The check behind typing says what F7 says: both validate the same
    // copy, entities substituted (those of the schema too) and values read
    // as the characters they are. Verdicts as xmllint --valid / --noent
    // --dtdvalid / --schema give them.
    void backgroundCheckAgreesWithValidation_data()
    {
        addColumns<QString, QByteArray, QByteArray, int>({"schemaName", "schema", "xml", "faults"});
        const QByteArray kana = "<!ELEMENT r (p)><!ELEMENT p EMPTY><!ATTLIST p k (甲|乙) #REQUIRED n NMTOKEN #IMPLIED>";
        QTest::newRow("Japanese values") << "kana.dtd" << kana << QByteArray("<!DOCTYPE r SYSTEM 'kana.dtd'><r><p k='甲' n='名前'/></r>") << 0;
        QTest::newRow("Japanese value outside the list") << "kana.dtd" << kana << QByteArray("<!DOCTYPE r SYSTEM 'kana.dtd'><r><p k='丙'/></r>") << 1;
        const QByteArray nest = "<!ENTITY inner '<b/>'><!ENTITY outer '&inner;'><!ELEMENT r (a)><!ELEMENT a (b)><!ELEMENT b EMPTY>";
        QTest::newRow("schema entity naming another") << "nest.dtd" << nest << QByteArray("<!DOCTYPE r SYSTEM 'nest.dtd'><r><a>&outer;</a></r>") << 0;
        QTest::newRow("entity that cannot be substituted")
            << "any.dtd" << QByteArray("<!ELEMENT r (a)><!ELEMENT a ANY>")
            << QByteArray("<!DOCTYPE r SYSTEM 'any.dtd' [<!ENTITY ext SYSTEM 'x.ent'><!ENTITY bad '&ext;'>]><r><a>&bad;</a></r>") << 1;
        QTest::newRow("internal entity holding markup") << "" << QByteArray()
            << QByteArray("<!DOCTYPE r [<!ELEMENT r (a)><!ELEMENT a (b)><!ELEMENT b EMPTY><!ENTITY e '<b/>'>]><r><a>&e;</a></r>") << 0;
        QTest::newRow("internal entities under an XSD") << "guide.xsd" << kGuideXsd
            << QByteArray("<!DOCTYPE r [<!ENTITY k 'x'><!ENTITY bc '<b/><c/>'>]><r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
                          "xsi:noNamespaceSchemaLocation='guide.xsd'><a kind='&k;'/>&bc;</r>") << 0;
    }
    void backgroundCheckAgreesWithValidation()
    {
        QFETCH(QString, schemaName);
        QFETCH(QByteArray, schema);
        QFETCH(QByteArray, xml);
        QFETCH(int, faults);
        if (!schemaName.isEmpty())
            files.write(schemaName, schema);
        const QString path = files.write(QStringLiteral("checked.xml"), xml);
        XmlDocument doc;
        QVERIFY(doc.load(path));
        doc.settle(); // as the check's process finds it
        const SchemaSource source = schemaInUse(doc, QString(), path);
        const SchemaGuide guide(doc, source);
        QVERIFY(guide.isUsable());
        if (!source.path.isEmpty())
            QCOMPARE(validateDocument(doc, source.path, source.kind).errorCount, faults);
        std::vector<SchemaGuide::Fault> found;
        QCOMPARE(guide.check(doc, &found, 10), faults);
    }

    // A document whose whole check takes seconds is checked after a pause
    // about as long, which the status bar tells; faults are still marked.
    void largeDocumentsWaitForALongerPause()
    {
        const auto restore = qScopeGuard([was = SchemaAssist::largeDocumentBytes()] { SchemaAssist::largeDocumentBytes() = was; });
        SchemaAssist::largeDocumentBytes() = 10;
        files.write(QStringLiteral("order.dtd"), kOrderDtd);
        TestWindow w;
        QVERIFY(w.showWindow(true));
        QVERIFY(w.window.OpenFile(files.write(QStringLiteral("large.xml"), "<!DOCTYPE order SYSTEM 'order.dtd'><order><item n='1'>a</item></order>")));
        QTRY_COMPARE(w.window.statusText(), QStringLiteral("order.dtd のスキーマに従って編集します。 "
                                                           "文書が大きいため、入力中の検証は入力が 1 秒止まってから行います。"));
        QVERIFY(w.doc().rename(w.doc().documentElement().firstChild(), QStringLiteral("x")));
        w.window.DocumentModified();
        QTRY_VERIFY_WITH_TIMEOUT(!w.model().faults().isEmpty(), 30000);
    }

    // A document naming a DTD of a terabyte opens; the status says why
    // nothing guides its editing.
    void openingWithAHugeDtd()
    {
        QFile huge(files.path(QStringLiteral("tera.dtd")));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 40));
        TestWindow w;
        QVERIFY(w.window.OpenFile(files.write(QStringLiteral("tera.xml"), "<!DOCTYPE r SYSTEM 'tera.dtd'><r>x</r>")));
        QVERIFY(w.window.dom());
        QTRY_VERIFY2(w.window.statusText().contains(QStringLiteral("64 MB")), qPrintable(w.window.statusText()));
    }

    // F7 on a document that takes the engine a while, for each language:
    // Cancel leaves nothing working on (no thread, no process); the next
    // F7's box with the faults opens once the progress dialog has closed.
    void cancelThenFaults_data()
    {
        const QByteArray items = "<ElementType name='item' content='textOnly'><AttributeType name='n' required='yes'/>"
                                 "<attribute type='n'/></ElementType>"
                                 "<ElementType name='order' content='eltOnly'><element type='item' maxOccurs='*'/></ElementType>";
        addColumns<QString, QByteArray>({"schemaName", "schema"});
        QTest::newRow("dtd") << "order.dtd" << kOrderDtd;
        QTest::newRow("xsd") << "order.xsd" << orderXsd();
        QTest::newRow("xdr") << "order.xml" << xdr(items);
    }
    void cancelThenFaults()
    {
        QFETCH(QString, schemaName);
        QFETCH(QByteArray, schema);
        QByteArray xml = "<order>\n";
        for (int i = 0; i < 20000; ++i)
            xml += "<item n=\"1\">a</item>\n";
        TestWindow w;
        QVERIFY(w.window.OpenFile(files.write(QStringLiteral("long.xml"), xml + "<item>b</item>\n</order>\n")));
        w.window.validation().useFile(files.write(schemaName, schema));
        const std::pair<int, int> before = workers();
        w.prompt->cancelProgressAt = 0;
        trigger(w, "mnuToolVerify");
        QCOMPARE(workers().first, before.first);
        QTRY_COMPARE(workers().second, before.second);
        QVERIFY(w.prompt->shown.isEmpty());

        w.prompt->cancelProgressAt = -1;
        trigger(w, "mnuToolVerify");
        QCOMPARE(w.prompt->shown.size(), 1);
        QVERIFY(w.prompt->shown[0].text.contains(QStringLiteral("20002 行目: ")));
        QVERIFY(!w.prompt->shown[0].overProgress);
        QCOMPARE(w.window.selection().GetSelectedDOMNode().lineNumber(), 20002);
    }

    // The document's own schema guides editing in the shown window: the
    // label editor offers the names it allows, a new attribute is the
    // missing required one, the value pane offers its values, and the check
    // behind typing marks the faulty item and takes the mark off again.
    void schemaGuidesEditing_data()
    {
        QTest::addColumn<QString>("schemaName");
        QTest::addColumn<QByteArray>("schema");
        QTest::addColumn<QByteArray>("top");
        QTest::addColumn<QStringList>("namesForB"); // where b stands
        QTest::newRow("DTD beside the document")
            << "guide.dtd" << kGuideDtd << QByteArray("<!DOCTYPE r SYSTEM 'guide.dtd'>\n<r>") << QStringList{"b", "c"};
        QTest::newRow("XSD named by the root")
            << "guide.xsd" << kGuideXsd
            << QByteArray("<?xml version='1.0'?>\n<r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' xsi:noNamespaceSchemaLocation='guide.xsd'>")
            << QStringList{"b", "c"};
    }
    void schemaGuidesEditing()
    {
        QFETCH(QString, schemaName);
        QFETCH(QByteArray, schema);
        QFETCH(QByteArray, top);
        QFETCH(QStringList, namesForB);
        files.write(schemaName, schema);
        TestWindow w;
        QVERIFY(w.showWindow(true));
        QVERIFY(w.window.OpenFile(files.write(QStringLiteral("guided.xml"), top + "\n<a/>\n<b/>\n</r>\n")));
        QTRY_COMPARE(w.window.statusText(), schemaName + QStringLiteral(" のスキーマに従って編集します。"));
        auto *count = w.window.findChild<QLabel *>(QStringLiteral("sbrFaults"));
        QTRY_COMPARE(count->text(), QStringLiteral("1 件のエラー"));
        const XmlNode a = w.doc().documentElement().firstChild();
        const QModelIndex aItem = w.model().indexForNode(a);
        QVERIFY(aItem.data(DocumentTreeModel::FaultRole).toString().startsWith(QStringLiteral("3 行目: ")));
        QCOMPARE(aItem.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));

        // A new attribute of a is its missing required one; the list
        // offers the names a may still have.
        w.select(aItem);
        w.window.menuItem(QStringLiteral("mnuNodeAddAttribute"))->trigger();
        auto editor = [&] { return w.window.tvw()->findChild<QLineEdit *>(QStringLiteral("tvwLabelEdit")); };
        QTRY_COMPARE(offered(editor() ? editor()->findChild<QCompleter *>() : nullptr), (QStringList{"kind", "note"}));
        QTest::keyClick(editor()->findChild<QCompleter *>()->popup(), Qt::Key_Return);
        QTRY_VERIFY(!editor());
        const XmlNode kind = a.attributeNode(QStringLiteral("kind"));
        QVERIFY(!kind.isNull());

        // Its value from the list, or as typed: a value outside it is a
        // fault of its own until it is one of them.
        w.select(w.model().indexForNode(kind));
        ValuePane *pane = w.window.txtEdit();
        pane->setFocus();
        QTRY_COMPARE(offered(pane->offered()), (QStringList{"x", "y", "z"}));
        QTest::keyClicks(pane, "q");
        QTRY_COMPARE(kind.text(), QStringLiteral("q"));
        QTRY_VERIFY(w.model().faults().size() == 1 && w.model().faults().begin().key() != XmlNode());
        QCOMPARE(count->text(), QStringLiteral("1 件のエラー"));
        // Checking while typing turned off takes the marks away, and the
        // choice is kept; on again, the fault is back.
        QAction *live = w.window.menuItem(QStringLiteral("mnuViewLiveValidate"));
        QVERIFY(live->isEnabled() && live->isChecked());
        live->trigger();
        QVERIFY(w.model().faults().isEmpty() && count->isHidden());
        QCOMPARE(SettingsStore().read(QStringLiteral("Application"), QStringLiteral("ValidateWhileTyping")), QStringLiteral("0"));
        live->trigger();
        QTRY_COMPARE(w.model().faults().size(), 1);
        QTest::keyClick(pane, Qt::Key_Backspace);
        QTest::keyClicks(pane, "y");
        QCOMPARE(offered(pane->offered()), QStringList{"y"});
        QTRY_VERIFY(w.model().faults().isEmpty());
        QVERIFY(count->isHidden());

        // At b: the names that may stand there; typing narrows the list,
        // Enter takes the name chosen.
        w.select(w.model().indexForNode(a.nextSibling()));
        w.window.menuItem(QStringLiteral("mnuEditRename"))->trigger();
        QTRY_COMPARE(offered(editor() ? editor()->findChild<QCompleter *>() : nullptr), namesForB);
        QTest::keyClicks(editor(), "c");
        QCompleter *names = editor()->findChild<QCompleter *>();
        QTRY_COMPARE(names->completionCount(), 1);
        QTest::keyClick(names->popup(), Qt::Key_Down);
        QTest::keyClick(names->popup(), Qt::Key_Return);
        QTRY_VERIFY(!editor());
        QVERIFY2(w.flat().endsWith(QStringLiteral("<a kind=\"y\"/><c/></r>")), qPrintable(w.flat()));
        QTRY_VERIFY(w.model().faults().isEmpty());
    }

    // What the schema offers at a place is what the validator then accepts
    // there: each name offered, put in, leaves the document valid.
    void offeredNamesAreAccepted_data()
    {
        addColumns<QString, QByteArray, QByteArray, QString, QString, QStringList>(
            {"schemaName", "schema", "xml", "at", "query", "expected"});
        const QByteArray seq = "<xs:element name='doc'><xs:complexType><xs:sequence><xs:element ref='head'/>"
                               "<xs:element ref='para' minOccurs='0' maxOccurs='unbounded'/><xs:element ref='footer' minOccurs='0'/>"
                               "<xs:element ref='appendix' minOccurs='0'/></xs:sequence><xs:attribute ref='xml:lang'/>"
                               "<xs:attribute name='kind' type='kind'/></xs:complexType></xs:element>"
                               "<xs:element name='head'/><xs:element name='para'/><xs:element name='footer'/><xs:element name='appendix'/>"
                               "<xs:simpleType name='kind'><xs:union><xs:simpleType><xs:restriction base='xs:string'>"
                               "<xs:enumeration value='a'/><xs:enumeration value='b'/></xs:restriction></xs:simpleType>"
                               "<xs:simpleType><xs:restriction base='xs:token'><xs:enumeration value='c'/></xs:restriction>"
                               "</xs:simpleType></xs:union></xs:simpleType>";
        const auto xsd = [&](const QByteArray &attributes) {
            return "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'" + attributes +
                   "><xs:import namespace='http://www.w3.org/XML/1998/namespace' schemaLocation='xmlattrs.xsd'/>" + seq + "</xs:schema>";
        };
        const QByteArray plain = xsd(""), qualified = xsd(" xmlns='urn:g' targetNamespace='urn:g' elementFormDefault='qualified'");
        const QByteArray qualifiedAttributes = xsd(" xmlns='urn:g' targetNamespace='urn:g' attributeFormDefault='qualified'");
        const QByteArray blocks = "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:element name='block' abstract='true'/>"
                                  "<xs:element name='note' substitutionGroup='block'/><xs:element name='warning' substitutionGroup='block'/>"
                                  "<xs:element name='doc'><xs:complexType><xs:sequence><xs:element ref='block' maxOccurs='unbounded'/>"
                                  "</xs:sequence></xs:complexType></xs:element></xs:schema>";
        const QByteArray dtd = "<!ELEMENT sec (title, x:ext*)><!ATTLIST sec xmlns:x CDATA #FIXED 'urn:x'><!ELEMENT title EMPTY>"
                               "<!ELEMENT x:ext EMPTY><!ATTLIST x:ext x:mode (on|off) #IMPLIED>";
        QTest::newRow("sequence, before a later child") << "g.xsd" << plain << QByteArray("<doc><head/><para/><para/></doc>")
                                                        << "para" << "names" << QStringList{"para"};
        QTest::newRow("sequence, at its end") << "g.xsd" << plain << QByteArray("<doc><head/><para/></doc>") << "para" << "names"
                                              << QStringList{"para", "footer", "appendix"};
        QTest::newRow("prefix in scope") << "q.xsd" << qualified << QByteArray("<g:doc xmlns:g='urn:g'><g:head/><g:para/></g:doc>")
                                         << "para" << "names" << QStringList{"g:para", "g:footer", "g:appendix"};
        QTest::newRow("default namespace") << "q.xsd" << qualified << QByteArray("<doc xmlns='urn:g'><head/><para/></doc>") << "para"
                                           << "names" << QStringList{"para", "footer", "appendix"};
        QTest::newRow("substitution group") << "b.xsd" << blocks << QByteArray("<doc><note/><note/></doc>") << "note" << "names"
                                            << QStringList{"note", "warning"};
        QTest::newRow("attribute of the xml namespace") << "g.xsd" << plain << QByteArray("<doc><head/></doc>") << "doc"
                                                        << "attributes" << QStringList{"xml:lang", "kind"};
        QTest::newRow("attribute with a declaration to add")
            << "a.xsd" << qualifiedAttributes << QByteArray("<doc xmlns='urn:g'><head/></doc>") << "doc"
            << "attributes" << QStringList{"xml:lang", "ns1:kind"};
        QTest::newRow("union of enumerations") << "g.xsd" << plain << QByteArray("<doc kind='a'><head/></doc>") << "doc"
                                               << "values of kind" << QStringList{"a", "b", "c"};
        QTest::newRow("DTD prefixed name") << "s.dtd" << dtd << QByteArray("<sec xmlns:x='urn:x'><title/><x:ext/></sec>") << "ext"
                                           << "names" << QStringList{"x:ext"};
        QTest::newRow("DTD prefixed attribute") << "s.dtd" << dtd << QByteArray("<sec xmlns:x='urn:x'><title/><x:ext x:mode='on'/></sec>")
                                                << "ext" << "values of x:mode" << QStringList{"on", "off"};
    }
    void offeredNamesAreAccepted()
    {
        QFETCH(QString, schemaName);
        QFETCH(QByteArray, schema);
        QFETCH(QByteArray, xml);
        QFETCH(QString, at);
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        files.write(QStringLiteral("xmlattrs.xsd"), "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' "
                    "targetNamespace='http://www.w3.org/XML/1998/namespace'><xs:attribute name='lang' type='xs:language'/></xs:schema>");
        const QString path = files.write(schemaName, schema);
        const auto element = [&](XmlDocument &doc) { return firstNamed(doc, at); };
        XmlDocument doc;
        QVERIFY(doc.loadXML(QString::fromUtf8(xml)));
        const SchemaGuide guide(doc, {schemaKindOf(schemaName), path, false});
        QVERIFY(guide.isUsable());
        const XmlNode e = element(doc);
        const QString attribute = query.section(QLatin1Char(' '), 2);
        const QStringList offered = query == QLatin1String("names") ? guide.elementNames(e)
                                    : query == QLatin1String("attributes") ? guide.attributeNames(e)
                                                                           : guide.attributeValues(e.attributeNode(attribute));
        QCOMPARE(offered, expected);
        for (const QString &name : offered) {
            XmlDocument changed;
            QVERIFY(changed.loadXML(QString::fromUtf8(xml)));
            const XmlNode target = element(changed);
            const auto [prefix, uri] = guide.declarationFor(target, name, query != QLatin1String("names"));
            QVERIFY(uri.isEmpty() || changed.setAttribute(target, QStringLiteral("xmlns:") + prefix, uri));
            QVERIFY(query == QLatin1String("names") ? changed.rename(target, name)
                    : query == QLatin1String("attributes") ? changed.setAttribute(target, name, QStringLiteral("b"))
                                                           : changed.setAttribute(target, attribute, name));
            const ValidationResult result = validateDocument(changed, path, schemaKindOf(schemaName));
            QVERIFY2(result.isValid(), qPrintable(name + QLatin1String(": ") + firstFault(result)));
        }
    }

    // Taking a name offered in a namespace that nothing declares there
    // declares it on the element, in the same step as the rename.
    void renameDeclaresTheNamespaceOffered()
    {
        files.write(QStringLiteral("ns.xsd"), "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:g' "
                    "attributeFormDefault='qualified'><xs:element name='doc'><xs:complexType>"
                    "<xs:attribute name='kind' type='xs:string'/></xs:complexType></xs:element></xs:schema>");
        TestWindow w;
        QVERIFY(w.window.OpenFile(files.write(QStringLiteral("ns.xml"), "<doc xmlns='urn:g' xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
                                                                       "xsi:schemaLocation='urn:g ns.xsd' x='1'/>")));
        w.window.undo().ResetUndo();
        const QString before = w.flat();
        const XmlNode x = w.doc().documentElement().attributeNode(QStringLiteral("x"));
        const QModelIndex item = w.model().indexForNode(x);
        QCOMPARE(w.window.findChild<SchemaAssist *>()->namesFor(x), (QStringList{"x", "ns1:kind"}));
        QVERIFY(w.window.structure().editor().tvw_AfterLabelEdit(item, QStringLiteral("ns1:kind")));
        QCOMPARE(w.flat(), QString(before).replace(QStringLiteral(" x=\"1\""), QStringLiteral(" ns1:kind=\"1\""))
                               .replace(QStringLiteral("xsi:schemaLocation"), QStringLiteral("xmlns:ns1=\"urn:g\" xsi:schemaLocation")));
        QVERIFY(validateDocument(w.doc(), files.path(QStringLiteral("ns.xsd")), SchemaKind::Xsd).isValid());
        w.window.undo().DoUndo();
        QCOMPARE(w.flat(), before);
    }

    // The items follow the window's state each time the menu opens.
    void toolsMenuStates()
    {
        TestWindow w;
        w.window.ClearStatus(); // empty, as the program starts
        const auto states = [&] {
            return w.states("mnuTool", {"mnuToolVerify", "mnuToolVerifyNew", "mnuToolRemoveText", "mnuToolSelXSL", "mnuToolOpenEditor"});
        };
        QCOMPARE(states(), QStringLiteral("00000"));
        emit w.window.menuItem(QStringLiteral("mnuTool"))->menu()->aboutToHide();
        // F7 without a document reaches the command, which does nothing.
        w.window.menuItem(QStringLiteral("mnuToolVerify"))->trigger();
        QVERIFY(w.prompt->asked.isEmpty());

        // Given as markup, the document has no file for another program.
        w.window.LoadXML(QStringLiteral("<r/>"));
        QCOMPARE(states(), QStringLiteral("11110"));
        w.window.flags().m_ReadOnly = true;
        QCOMPARE(states(), QStringLiteral("11010"));
    }

    void clearValues()
    {
        const QString xml = QStringLiteral("<?xml version=\"1.0\"?><!--top--><?pi data?>"
                                           "<a xmlns:p=\"urn:p\" x=\"1\" p:y=\"2\"><!--c--><b>t</b><![CDATA[d]]></a>");
        TestWindow w(xml);
        w.window.undo().ResetUndo();
        const QString before = w.markup();

        w.prompt->answers.enqueue(Prompt::Answer::Cancel);
        trigger(w, "mnuToolRemoveText");
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].text, GetResString(6));
        QCOMPARE(w.prompt->shown[0].buttons, Prompt::Buttons::OkCancel);
        QCOMPARE(w.markup(), before);
        QVERIFY(!w.window.flags().m_Dirty);

        trigger(w, "mnuToolRemoveText");
        // Elements, attributes, CDATA and instructions stay; text, comments
        // and values go. The namespace declaration is no value: it stays.
        QCOMPARE(w.markup(), QStringLiteral("<?xml version=\"1.0\"?>\n<?pi data?>\n<a xmlns:p=\"urn:p\" x=\"\" p:y=\"\"><b/><![CDATA[d]]></a>"));
        QVERIFY(w.window.flags().m_Dirty);
        // The tree was made anew from the document, its top item shown.
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), w.doc().documentNode());

        // One step of the history takes it all back.
        QCOMPARE(w.window.undo().history()->undoCount(), 1);
        w.window.undo().DoUndo();
        QCOMPARE(w.markup(), before);

        // A read-only window is not asked.
        w.window.flags().m_ReadOnly = true;
        trigger(w, "mnuToolRemoveText");
        QCOMPARE(w.prompt->shown.size(), 2);
        QCOMPARE(w.markup(), before);
    }

    void send_data()
    {
        QTest::addColumn<QString>("answer"); // a number: a local server's status; null: the box is cancelled
        QTest::addColumn<bool>("warned");
        QTest::newRow("accepted") << "200" << false;
        QTest::newRow("not found") << "404" << true;
        QTest::newRow("server error") << "500" << true;
        QTest::newRow("cancelled") << QString() << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("not a URL") << "http//example" << true;
        QTest::newRow("not HTTP") << "file:///etc/passwd" << true;
        QTest::newRow("refused") << "refused" << true;
        QTest::newRow("no answer in time") << "silent" << true;
    }
    void send()
    {
        QFETCH(QString, answer);
        QFETCH(bool, warned);
        TestWindow w(QStringLiteral("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r>日本</r>"));
        QSignalSpy finished(w.window.findChild<ToolCommands *>(), &ToolCommands::sendFinished);
        std::unique_ptr<LocalServer> server;
        const bool refused = answer == QLatin1String("refused"), silent = answer == QLatin1String("silent");
        w.window.findChild<ToolCommands *>()->sendTimeoutMs = 1000;
        if (answer.toInt() || silent) {
            server = std::make_unique<LocalServer>(answer.toInt());
            answer = server->url();
        } else if (refused) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            answer = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
        }
        if (!answer.isNull())
            w.prompt->inputAnswers.enqueue(answer);
        trigger(w, "mnuToolSend");
        QCOMPARE(w.prompt->asked, QStringList{QStringLiteral("input URL?")});
        if (server || refused) // reported when the answer or the failure comes, not before
            QVERIFY(finished.wait());
        QCOMPARE(w.prompt->shown.size(), warned ? 1 : 0);
        if (warned)
            QCOMPARE(w.prompt->shown[0].icon, Prompt::Icon::Exclamation);
        if (silent)
            QCOMPARE(w.prompt->shown[0].text, QStringLiteral("送信できませんでした。\n") + resourceString(3203).arg(1));
        QVERIFY(!w.window.flags().m_Dirty);
        if (!server)
            return;
        QVERIFY(server->request.startsWith("POST /in "));
        QCOMPARE(server->header("Content-Type"), QByteArray("application/xml"));
        QByteArray saved;
        QVERIFY(w.doc().serialize(&saved));
        QCOMPARE(server->body(), saved); // as Save writes it, in its encoding
        QCOMPARE(finished[0][0].toString().isEmpty(), !warned);
    }

    // A window closed while its send waits for an answer goes quietly.
    void windowClosedWhileSending()
    {
        LocalServer server(0);
        auto w = std::make_unique<TestWindow>(QStringLiteral("<r/>"));
        w->prompt->inputAnswers.enqueue(server.url());
        trigger(*w, "mnuToolSend");
        QTRY_VERIFY(server.complete());
        w.reset();
    }

    // The file reaches the program as one argument, blanks and all, with
    // no shell between; a program that cannot start is reported.
    void openInExternalProgram()
    {
        QVERIFY(QDir(files.dir.path()).mkpath(QStringLiteral("my tools")));
        const QString out = files.path(QStringLiteral("args.txt"));
        const QString script = files.write(QStringLiteral("my tools/show args.sh"),
                                           "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + out.toUtf8() + ".tmp'\n"
                                           "mv '" + out.toUtf8() + ".tmp' '" + out.toUtf8() + "'\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(QDir(files.dir.path()).mkpath(QStringLiteral("my docs")));
        const QString document = files.write(QStringLiteral("my docs/a $b 'c'.xml"), "<r/>");

        const QStringList keys{QStringLiteral("Name0"), QStringLiteral("Path0"), QStringLiteral("Name1"), QStringLiteral("Path1")};
        SettingsStore().writeSection(QStringLiteral("Programs"), {{keys[0], QStringLiteral("&Show")}, {keys[1], script},
                                                                  {keys[2], QStringLiteral("Gone")},
                                                                  {keys[3], files.path(QStringLiteral("none"))}});
        TestWindow w;
        SettingsStore().writeSection(QStringLiteral("Programs"), {}, keys);
        QVERIFY(w.window.OpenFile(document));
        w.window.UpdateStatus(document); // as the Open command does
        QAction *show = w.window.findChild<QAction *>(QStringLiteral("mnuToolOpen0"));
        QVERIFY(show);
        show->trigger();
        QTRY_COMPARE(TestFiles::read(out), "1\n" + document.toUtf8() + "\n");
        QVERIFY(w.prompt->shown.isEmpty());

        w.window.findChild<QAction *>(QStringLiteral("mnuToolOpen1"))->trigger();
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].icon, Prompt::Icon::Exclamation);
    }

    void about()
    {
        TestWindow w;
        trigger(w, "mnuHelpAbout");
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].icon, Prompt::Icon::Information);
        QCOMPARE(HelpCommands::aboutText({QStringLiteral("T"), QStringLiteral("01.02.0030"), QStringLiteral("c")}),
                 QStringLiteral("T\tVersion 1.2.30\r\nc"));
    }

    // The desktop's opener gets the readme; when it finds no viewer, the
    // editor shows it. The opener here notes the file and exits as told.
    void readme()
    {
        const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/readme.txt");
        QVERIFY(QDir(files.dir.path()).mkpath(QStringLiteral("bin")));
        const QString log = files.path(QStringLiteral("opened")), exitCode = files.path(QStringLiteral("code"));
        const QString opener = files.write(QStringLiteral("bin/xdg-open"), "#!/bin/sh\necho \"$1\" >> '" + log.toUtf8()
                                               + "'\nexit $(cat '" + exitCode.toUtf8() + "')\n");
        QFile::setPermissions(opener, QFile::ReadOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(files.path(QStringLiteral("bin"))) + ':' + qgetenv("PATH"));
        TestWindow w;
        auto *help = w.window.findChild<HelpCommands *>();
        const auto ran = [&] { return QTest::qWaitFor([&] { return help->findChildren<QProcess *>().isEmpty(); }); };
        trigger(w, "mnuHelpReadme"); // no readme: nothing at all
        QVERIFY(ran() && !QFile::exists(log) && w.prompt->asked.isEmpty());

        // Beside the test program; gone again whatever the outcome.
        const auto removeReadme = qScopeGuard([&] { QFile::remove(path); });
        files.write(QStringLiteral("code"), "0");
        QVERIFY(QFile::copy(files.write(QStringLiteral("readme.txt"), "Readme 日本語\n"), path));
        trigger(w, "mnuHelpReadme");
        QVERIFY(ran());
        QCOMPARE(TestFiles::read(log), path.toUtf8() + '\n');
        QVERIFY(w.prompt->asked.isEmpty());

        files.write(QStringLiteral("code"), "3"); // xdg-open: no viewer for the file
        trigger(w, "mnuHelpReadme");
        QVERIFY(ran());
        QCOMPARE(w.prompt->asked, QStringList{QStringLiteral("text readme.txt")});
        QCOMPARE(w.prompt->shownTexts, QStringList{QStringLiteral("Readme 日本語\n")});
    }
};

QTEST_MAIN(TestToolCommands)
#include "tst_toolcommands.moc"
