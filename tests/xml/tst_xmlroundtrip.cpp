// A file opened and saved unchanged is written back byte for byte; an edit
// rewrites only its own markup. Encodings, declaration, white space, entity
// references, namespaces and indentation all take part in that promise.
#include "TestTables.h"
#include "undo/UndoJournal.h"
#include "xml/XmlDocument.h"

#include <QDir>

#include <iconv.h>

namespace {

QByteArray convert(const QByteArray &in, const char *from, const char *to)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        return QByteArray();
    QByteArray out(in.size() * 4 + 16, '\0');
    char *src = const_cast<char *>(in.constData()), *dst = out.data();
    size_t srcLeft = size_t(in.size()), dstLeft = size_t(out.size());
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    out.truncate(out.size() - qsizetype(dstLeft));
    return rc == size_t(-1) ? QByteArray() : out;
}

QByteArray encode(const QString &text, const char *encoding)
{
    return convert(text.toUtf8(), "UTF-8", encoding);
}

// r(a 'text' b): which text nodes survived a load.
QString shape(const XmlNode &node)
{
    if (node.kind() == NodeKind::Text)
        return "'" + node.text() + "'";
    QStringList parts;
    for (XmlNode c = node.firstChild(); c; c = c.nextSibling())
        parts << shape(c);
    return node.nodeName() + (parts.isEmpty() ? QString() : "(" + parts.join(' ') + ")");
}

const QString kJapanese = QStringLiteral("日本語のテキスト");

} // namespace

class TestXmlRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("expected"); // in xml()

        const QString decl = QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>");
        // Japanese encodings, and characters they lack: windowsJapanese.
        const QString body = QStringLiteral("\n<r a=\"%1\">\n  <t>%1 &#x1F600;</t>\n</r>\n").arg(kJapanese);
        const QStringList japanese{kJapanese, "a=\"" + kJapanese};
        const auto row = [](const char *name, const QByteArray &in, const QStringList &expected) {
            QTest::newRow(name) << in << expected;
        };
        row("declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r/>", {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r/>"});
        row("no declaration, two blanks by default", "<r><a><b/></a></r>", {"<r>\n  <a>\n    <b/>\n  </a>\n</r>"});
        row("UTF-8 BOM", "\xEF\xBB\xBF" + (decl.arg("UTF-8") + body).toUtf8(), japanese);
        row("UTF-16LE BOM", "\xFF\xFE" + encode(decl.arg("UTF-16") + body, "UTF-16LE"), japanese + QStringList{"encoding=\"UTF-16\""});
        // Single quotes and a blank before '>' the serialiser would not
        // write: only copied bytes come back the same.
        const QString quirks = QStringLiteral("\n<r a='%1' >\n  <t>%1</t>\n</r>\n");
        for (const auto &[encoding, text] : {std::pair("koi8-r", "Привет"), std::pair("MacCyrillic", "Привет"),
                                             std::pair("windows-1250", "Příliš"), std::pair("GBK", "中文表"),
                                             std::pair("GB18030", "中文\U00020000"), std::pair("Big5", "中文功也")})
            row(encoding, encode(decl.arg(encoding) + quirks.arg(QString::fromUtf8(text)), encoding), {QString::fromUtf8(text)});
        row("CRLF", "<?xml version=\"1.0\"?>\r\n<r>\r\n  <a>x&#13;y\r\nz</a>\r\n</r>\r\n",
            {"<?xml version=\"1.0\"?>\n<r>\n  <a>x&#13;y\nz</a>\n</r>"});
        row("empty elements", "<r><a/><b></b><c x=\"\"/></r>", {"<a/>", "<b/>", "<c x=\"\"/>"});
        // White space under preserve is content: the formatter must add none,
        // not even where an element holds only elements.
        row("xml:space preserve", "<r><p xml:space=\"preserve\">  two  <b> x </b>\n</p><q xml:space=\"preserve\"><i><j/></i><k/></q></r>", {"<p xml:space=\"preserve\">  two  <b> x </b>\n</p>", "<q xml:space=\"preserve\"><i><j/></i><k/></q>"});
        row("CDATA only under preserve", "<r xml:space=\"preserve\"><a><![CDATA[x]]></a><b/></r>", {"<a><![CDATA[x]]></a><b/></r>"});
        row("internal entity", "<!DOCTYPE r [<!ENTITY e \"entity text\">]><r a=\"&e;\">x &e; y</r>",
            {"<!ENTITY e \"entity text\">", "<r a=\"&e;\">x &e; y</r>"});
        row("CDATA", "<r><![CDATA[a < b && c]]><c/></r>", {"<![CDATA[a < b && c]]>"});
        row("comments and PIs outside the root", "<?xml version=\"1.0\"?>\n<!-- before -->\n<?pi data?>\n<r/>\n<!-- after -->\n<?end?>\n", {"<?xml version=\"1.0\"?>\n<!-- before -->\n<?pi data?>\n<r/>\n<!-- after -->\n<?end?>"});
        row("attribute order", "<r z=\"1\" a=\"2\" m=\"3\"><e y=\"\" b=\"&lt;&amp;&quot;\"/></r>",
            {"<r z=\"1\" a=\"2\" m=\"3\">", "<e y=\"\" b=\"&lt;&amp;&quot;\"/>"});
        row("namespace URIs with markup characters", "<r xmlns:p=\"http://x/?a=1&amp;b=2\" xmlns:q=\"a&#10;b\"><p:a q:b=\"\"/></r>",
            {"xmlns:p=\"http://x/?a=1&amp;b=2\" xmlns:q=\"a&#10;b\""});
        row("mixed content", "<r><p>text <b>bold</b> tail</p></r>", {"<p>text <b>bold</b> tail</p>"});
        row("tab indent", "<r>\n\t<a>\n\t\t<b/>\n\t</a>\n</r>", {"<r>\n\t<a>\n\t\t<b/>\n\t</a>\n</r>"});
        row("four blanks", "<r>\n    <a>\n        <b/>\n    </a>\n</r>", {"<r>\n    <a>\n        <b/>\n    </a>\n</r>"});
        row("tab in text is no indentation", "<r>\n   <a>x\n\ty</a>\n</r>", {"<r>\n   <a>x\n\ty</a>\n</r>"});
    }

    void roundTrip()
    {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, expected);

        XmlDocument doc;
        QVERIFY2(doc.loadBytes(input), qPrintable(doc.parseError().reason));
        const QString firstXml = doc.xml(doc.documentNode());
        QByteArray first;
        QVERIFY(doc.serialize(&first));
        // Unchanged, the file is written back as it was.
        QCOMPARE(first, input);
        for (const QString &s : expected)
            QVERIFY2(firstXml.contains(s), qPrintable("xml() lacks " + s + "\n" + firstXml));
    }

    // One edit of a loaded file: only the edited markup is written anew, and
    // undoing the edit gives the file's bytes back.
    void editsKeepTheRest_data()
    {
        addColumns<QByteArray, QString, QString, QString, QByteArray>({"input", "path", "edit", "argument", "expected"});
        const auto row = [](const char *name, const QByteArray &in, const char *path, const char *edit, const QString &arg,
                            const QByteArray &expected) { QTest::newRow(name) << in << QString(path) << QString(edit) << arg << expected; };
        const QByteArray list = "<r>\n  <a/>\n  <b>x</b>\n  <c/>\n</r>\n";
        row("attribute value", "<r>\n  <a x='1'  y=\"2\"/>\n</r>", "//a", "attribute", "3", "<r>\n  <a x=\"3\" y=\"2\"/>\n</r>");
        row("single quotes elsewhere stay", "<r q='1'>\n  <a x='1'></a>\n  <b y='2'/>\n</r>", "//a", "attribute", "3",
            "<r q='1'>\n  <a x=\"3\"></a>\n  <b y='2'/>\n</r>");
        row("multi-line start tags", "<r>\n  <a x=\"1\"\n     y=\"2\"/>\n  <b\n    x=\"3\"/>\n</r>", "//b", "attribute", "4",
            "<r>\n  <a x=\"1\"\n     y=\"2\"/>\n  <b x=\"4\"/>\n</r>");
        row("element rename", "<r>\n  <a k='v'>t<i/></a >\n</r>", "//a", "rename", "c", "<r>\n  <c k=\"v\">t<i/></c>\n</r>");
        row("append under an indented parent", list, "/r", "append", "d", "<r>\n  <a/>\n  <b>x</b>\n  <c/>\n  <d>\n    <e/>\n  </d>\n</r>\n");
        row("insert first", list, "/r", "prepend", "d", "<r>\n  <d>\n    <e/>\n  </d>\n  <a/>\n  <b>x</b>\n  <c/>\n</r>\n");
        row("append under a one-line parent", "<r>\n  <p><a/><b/></p>\n</r>", "//p", "append", "d", "<r>\n  <p><a/><b/><d><e/></d></p>\n</r>");
        row("append under an empty element", "<r>\n  <p/>\n</r>", "//p", "append", "d", "<r>\n  <p>\n    <d>\n      <e/>\n    </d>\n  </p>\n</r>");
        row("append under xml:space preserve", "<r xml:space='preserve'><a/> <b/></r>", "/r", "append", "d",
            "<r xml:space='preserve'><a/> <b/><d><e/></d></r>");
        row("move among siblings", list, "//a", "move", "", "<r>\n  <b>x</b>\n  <c/>\n  <a/>\n</r>\n");
        row("delete first", list, "//a", "delete", "", "<r>\n  <b>x</b>\n  <c/>\n</r>\n");
        row("delete middle", list, "//b", "delete", "", "<r>\n  <a/>\n  <c/>\n</r>\n");
        row("delete last", list, "//c", "delete", "", "<r>\n  <a/>\n  <b>x</b>\n</r>\n");
        row("text in mixed content", "<r>\n  <p>one <b>two</b> three</p>\n</r>", "//p/text()[2]", "text", " 3 & 4",
            "<r>\n  <p>one <b>two</b> 3 &amp; 4</p>\n</r>");
        row("delete text in mixed content", "<r>\n  <p>one <b>two</b> three</p>\n</r>", "//p/text()[2]", "delete", "",
            "<r>\n  <p>one <b>two</b></p>\n</r>");
        row("delete under xml:space preserve", "<r xml:space='preserve'><a/> <b/>\n</r>", "//b", "delete", "", "<r xml:space='preserve'><a/> \n</r>");
        row("CR LF", "<r>\r\n\t<a/>\r\n</r>\r\n", "/r", "append", "d", "<r>\r\n\t<a/>\r\n\t<d>\r\n\t\t<e/>\r\n\t</d>\r\n</r>\r\n");
        row("byte-order mark", "\xEF\xBB\xBF<r>\n  <a/>\n  <b/>\n</r>", "//a", "delete", "", "\xEF\xBB\xBF<r>\n  <b/>\n</r>");
        row("references and internal subset", "<!DOCTYPE r [\n  <!-- note -->\n  <!ENTITY e \"E\">\n]>\n<r>&#169;&apos;&e;<a/></r>", "//a", "rename", "b",
            "<!DOCTYPE r [\n  <!-- note -->\n  <!ENTITY e \"E\">\n]>\n<r>&#169;&apos;&e;<b/></r>");
        const QString sjis = QStringLiteral("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<r>\n  <a>表示</a>\n</r>\n");
        row("Shift_JIS", encode(sjis, "SHIFT_JIS"), "//a/text()", "text", QStringLiteral("漢字"),
            encode(QString(sjis).replace(QStringLiteral("表示"), QStringLiteral("漢字")), "SHIFT_JIS"));
        row("markup characters inside values, comments and PIs",
            "<!DOCTYPE r [<!ENTITY e \"]>\"><!-- ]> --><?p ]>?>]>\n<r a=\"/>\" b='>'>\n  <!-- <x/> -->\n  <?p <y/>?>\n  <c/>\n</r>", "//c", "delete", "",
            "<!DOCTYPE r [<!ENTITY e \"]>\"><!-- ]> --><?p ]>?>]>\n<r a=\"/>\" b='>'>\n  <!-- <x/> -->\n  <?p <y/>?>\n</r>");
        row("prefixed rename", "<p:r xmlns:p='u'>\n  <p:a>t</p:a>\n</p:r>", "//*[local-name()='a']", "rename", "p:b",
            "<p:r xmlns:p='u'>\n  <p:b>t</p:b>\n</p:r>");
        row("append under an empty prefixed element", "<p:r xmlns:p='u'><p:a/></p:r>", "//*[local-name()='a']", "append", "d",
            "<p:r xmlns:p='u'><p:a><d><e/></d></p:a></p:r>");
        row("comment text", "<r>\n  <!-- one -->\n  <a/>\n</r>", "//comment()", "text", "two", "<r>\n  <!--two-->\n  <a/>\n</r>");
        row("element text replaces its children", "<r>\n  <p>\n    <b/>\n  </p>\n</r>", "//p", "text", "t", "<r>\n  <p>t</p>\n</r>");
        // Shift_JIS trail bytes can be ']' or '\\': "ゾ]>" holds no end of CDATA.
        const QString trail = QStringLiteral("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<r>\n  <a><![CDATA[ゾ]>]]>表</a>\n  <b/>\n</r>\n");
        row("Shift_JIS trail bytes", encode(trail, "SHIFT_JIS"), "//a/text()[2]", "text", QStringLiteral("ソ"),
            encode(QString(trail).replace(QStringLiteral("表<"), QStringLiteral("ソ<")), "SHIFT_JIS"));
        // Big5 trail bytes too: "也]>" holds no end of CDATA.
        const QString big5 = QStringLiteral("<?xml version=\"1.0\" encoding=\"Big5\"?>\n<r>\n  <a><![CDATA[也]>]]>表</a>\n  <b/>\n</r>\n");
        row("Big5 trail bytes", encode(big5, "BIG5"), "//a/text()[2]", "text", QStringLiteral("中"),
            encode(QString(big5).replace(QStringLiteral("表<"), QStringLiteral("中<")), "BIG5"));
        const QString euc = QStringLiteral("<?xml version=\"1.0\" encoding=\"EUC-JP\"?>\n<r>\n  <a>日本</a>\n</r>\n");
        row("EUC-JP", encode(euc, "EUC-JP"), "/r", "prepend", QStringLiteral("新"),
            encode(QString(euc).replace("<r>\n", QStringLiteral("<r>\n  <新>\n    <e/>\n  </新>\n")), "EUC-JP"));
        const QString utf16 = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<r>\n  <a/>\n</r>");
        row("UTF-16", "\xFF\xFE" + encode(utf16, "UTF-16LE"), "//a", "attribute", QStringLiteral("値"),
            "\xFF\xFE" + encode(QString(utf16).replace("<a/>", QStringLiteral("<a x=\"値\"/>")), "UTF-16LE"));
    }

    void editsKeepTheRest()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, path);
        QFETCH(QString, edit);
        QFETCH(QString, argument);
        QFETCH(QByteArray, expected);

        XmlDocument doc;
        QVERIFY2(doc.loadBytes(input), qPrintable(doc.parseError().reason));
        UndoJournal journal;
        journal.attach(&doc);
        QList<XmlNode> nodes;
        QVERIFY(doc.selectNodes(path, XmlNode(), &nodes) && nodes.size() == 1);
        const XmlNode node = nodes.first();
        bool done = false;
        if (edit == "attribute") {
            done = doc.setAttribute(node, "x", argument);
        } else if (edit == "rename") {
            done = doc.rename(node, argument);
        } else if (edit == "text") {
            done = doc.setText(node, argument);
        } else if (edit == "delete") {
            done = doc.removeNode(node);
        } else if (edit == "move") {
            done = doc.appendChild(node.parentNode(), node);
        } else {
            const XmlNode added = doc.createElement(argument);
            done = doc.appendChild(added, doc.createElement("e"))
                && doc.insertBefore(node, added, edit == "prepend" ? node.firstChild() : XmlNode());
        }
        QVERIFY(done);
        QByteArray saved;
        QVERIFY(doc.serialize(&saved));
        QCOMPARE(saved, expected);
        XmlDocument again;
        QVERIFY2(again.loadBytes(saved), qPrintable(again.parseError().reason));
        QCOMPARE(again.xml(again.documentNode()), doc.xml(doc.documentNode()));

        QVERIFY(journal.undo(journal.take()));
        QVERIFY(doc.serialize(&saved));
        QCOMPARE(saved, input);
    }

    // A large file's bytes are mapped onto the tree beside the window: a
    // change made at once waits for that, and only its markup is new.
    void largeFileEditedAtOnce()
    {
        QByteArray big = "<r>\n";
        while (big.size() < 5 * 1024 * 1024)
            big += "  <e n='1'>t&amp;t</e>\n";
        big += "</r>\n";
        XmlDocument doc;
        QVERIFY(doc.loadBytes(big));
        UndoJournal journal;
        journal.attach(&doc);
        QVERIFY(doc.setAttribute(doc.documentElement(), "x", "1"));
        QByteArray saved;
        QVERIFY(doc.serialize(&saved));
        QVERIFY(saved == QByteArray(big).replace(0, 3, "<r x=\"1\">"));
        QVERIFY(journal.undo(journal.take()));
        QVERIFY(doc.serialize(&saved));
        QVERIFY(saved == big);
    }

    void declarationIsOneProcessingInstruction()
    {
        XmlDocument doc;
        QVERIFY(doc.loadBytes("<?xml version=\"1.0\" standalone=\"yes\"?><!--c--><r/>"));
        const XmlNode decl = doc.documentNode().firstChild();
        QCOMPARE(decl.kind(), NodeKind::ProcessingInstruction);
        QCOMPARE(decl.text(), "version=\"1.0\" standalone=\"yes\"");
        QCOMPARE(doc.documentElement().indexInParent(), 2);
        QCOMPARE(doc.xml(doc.documentNode()).count("<?xml"), 1);

        // None is invented for a source without one.
        QVERIFY(doc.loadXML("<r/>"));
        QCOMPARE(doc.documentNode().firstChild(), doc.documentElement());
    }

    void loadXmlIgnoresDeclaredEncoding()
    {
        // A string is already decoded: its declaration names the file's encoding,
        // which must neither decode the text twice nor make the load fail.
        XmlDocument doc;
        QVERIFY(doc.loadXML("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r>" + kJapanese + "</r>"));
        QCOMPARE(doc.documentElement().text(), kJapanese);
        QByteArray saved;
        QVERIFY(doc.serialize(&saved));
        QVERIFY(saved.contains(encode(kJapanese, "SHIFT_JIS")));
        QVERIFY(doc.loadXML("<?xml version=\"1.0\" encoding=\"x-no-such\"?><r/>"));
    }

    void blankTextDropped_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("indentation") << QByteArray("<r>\n  <a/>\n  <b>x</b>\n</r>") << "r(a b('x'))";
        QTest::newRow("blank-only element") << QByteArray("<r><a> </a><b>\n\t</b></r>") << "r(a b)";
        QTest::newRow("between elements in mixed content") << QByteArray("<r>t <b/> <c/> u</r>") << "r('t ' b c ' u')";
        QTest::newRow("preserve") << QByteArray("<r xml:space=\"preserve\"><a> </a> <b/></r>") << "r(a(' ') ' ' b)";
        QTest::newRow("default inside preserve") << QByteArray("<r xml:space=\"preserve\"> <s xml:space=\"default\"> <t> </t> </s></r>")
                                                 << "r(' ' s(t))";
    }

    void blankTextDropped()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        XmlDocument doc;
        QVERIFY(doc.loadBytes(input));
        QCOMPARE(shape(doc.documentElement()), expected);
    }

    // Japanese files as Windows writes them: every name of Shift_JIS reads
    // the code page 932 extensions (①, ㈱, Ⅲ and ～ as U+FF5E); EUC-JP the same
    // characters where the system has that table.
    void windowsJapanese_data()
    {
        addColumns<QByteArray, QByteArray, QByteArray>({"name", "extensions", "invalid"});
        for (const char *name : {"Shift_JIS", "shift-jis", "x-sjis", "MS_Kanji", "Windows-31J", "CP932", "sjis"})
            QTest::newRow(name) << QByteArray(name) << QByteArray("\x87\x40\x87\x8A\x87\x56\x81\x60") << QByteArray("\x81\x20");
        QTest::newRow("EUC-JP") << QByteArray("EUC-JP") << QByteArray("\xAD\xA1\xAD\xEA\xAD\xB7\xA1\xC1") << QByteArray("\xAD\x20");
    }
    void windowsJapanese()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, extensions);
        QFETCH(QByteArray, invalid);
        const auto file = [&](const QByteArray &line) {
            return "<?xml version=\"1.0\" encoding=\"" + name + "\"?>\n<r>\n  <t>" + line + "</t>\n</r>\n";
        };
        // Opened and saved unchanged: the same bytes.
        XmlDocument doc;
        QVERIFY2(doc.loadBytes(file(extensions)), qPrintable(doc.parseError().reason));
        const XmlNode t = doc.documentElement().firstChild();
        QCOMPARE(t.text(), QStringLiteral("①㈱Ⅲ\uFF5E"));
        QByteArray saved;
        QVERIFY(doc.serialize(&saved));
        QCOMPARE(saved, file(extensions));

        // A character the encoding lacks becomes a reference, and comes back.
        const QString emoji = QString::fromUcs4(U"\U0001F600");
        QVERIFY(doc.setText(t, emoji));
        QVERIFY(doc.serialize(&saved));
        QCOMPARE(saved, file("&#128512;"));
        XmlDocument again;
        QVERIFY(again.loadBytes(saved));
        QCOMPARE(again.documentElement().firstChild().text(), emoji);
        // In a comment or a name a reference would not stand for it: refused.
        const QString hangul = QStringLiteral("한");
        for (const XmlNode &n : {doc.createComment(hangul), doc.createElement(hangul)}) {
            QString error;
            QVERIFY(doc.appendChild(doc.documentElement(), n));
            QVERIFY(!doc.serialize(&saved, &error));
            QVERIFY2(error.contains(hangul) && error.contains(QString::fromLatin1(name)), qPrintable(error));
            QVERIFY(doc.removeNode(n));
        }

        // Bytes the encoding cannot decode: the message names it and the line.
        QVERIFY(!again.loadBytes(file(invalid)));
        QVERIFY2(again.parseError().reason.contains(QString::fromLatin1(name)), qPrintable(again.parseError().reason));
        QCOMPARE(again.parseError().line, 3);
        QCOMPARE(again.documentElement().firstChild().text(), emoji);
    }

    void saveRefusesWhatCannotBeReadBack()
    {
        const QString path = QDir::temp().filePath(QStringLiteral("ostrel-roundtrip-%1.xml").arg(QCoreApplication::applicationPid()));
        XmlDocument doc, reread;
        QString error;
        QVERIFY(doc.loadXML("<r>x</r>"));
        QVERIFY2(doc.save(path, &error), qPrintable(error));

        // Each refusal says why and leaves the file on disk as it was.
        QVERIFY(doc.loadXML("<?xml version=\"1.0\" encoding=\"x-no-such\"?><r>y</r>"));
        QVERIFY(!doc.save(path, &error) && !error.isEmpty());
        QVERIFY(doc.loadXML("<!--only a comment remains--><r/>"));
        QVERIFY(doc.removeNode(doc.documentElement()));
        error.clear();
        QVERIFY(!doc.save(path, &error) && !error.isEmpty());
        QVERIFY(reread.load(path));
        QCOMPARE(reread.documentElement().text(), "x");

        error.clear();
        QVERIFY(!reread.save("/nonexistent-dir/x.xml", &error) && !error.isEmpty());
        QFile::remove(path);
    }
};

QTEST_MAIN(TestXmlRoundTrip)
#include "tst_xmlroundtrip.moc"
