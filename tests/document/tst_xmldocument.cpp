// Mutations, their refusals and their notifications: the tree model and the
// undo journal rebuild their state from exactly these events, and keep
// handles of removed nodes, so every handle must stay readable.
#include "document/XmlDocument.h"
#include "document/XmlDocumentObserver.h"

#include <QTest>

#include <functional>

using Operation = std::function<bool(XmlDocument &, QString *)>;
Q_DECLARE_METATYPE(Operation)

namespace {

XmlNode at(const XmlDocument &doc, const QString &xpath)
{
    QList<XmlNode> found;
    doc.selectNodes(xpath, XmlNode(), &found);
    return found.value(0);
}

QString label(const XmlNode &n)
{
    if (n.kind() == NodeKind::Text)
        return QLatin1Char('\'') + n.text() + QLatin1Char('\'');
    return (n.isAttribute() ? QStringLiteral("@") : QString()) + n.nodeName();
}

// Markup without the formatter's line breaks, to keep the tables short.
QString flat(const XmlDocument &doc)
{
    return doc.xml(doc.documentNode()).remove(QLatin1Char('\n'));
}

struct Recorder : XmlDocumentObserver
{
    QStringList events;
    QList<XmlNode> handles;
    void note(const QString &event, std::initializer_list<XmlNode> nodes)
    {
        events << event;
        handles << nodes;
    }
    void nodeInserted(const XmlNode &p, const XmlNode &n, const XmlNode &next) override
    {
        note("+" + label(p) + ":" + label(n) + "<" + label(next), {p, n, next});
    }
    void nodeRemoved(const XmlNode &p, const XmlNode &n, const XmlNode &next) override
    {
        note("-" + label(p) + ":" + label(n) + "<" + label(next), {p, n, next});
    }
    void nodeRenamed(const XmlNode &n, const QString &old) override { note("~" + label(n) + ":" + old, {n}); }
    void textChanged(const XmlNode &n, const QString &old) override { note("=" + label(n) + ":" + old, {n}); }
    void documentReplaced() override { events << QStringLiteral("replaced"); }
};

// Runs `op` on `input` and checks the outcome, the markup after it and the
// events; a refusal must describe itself, change nothing and announce nothing.
void check(const QString &input, const Operation &op, bool ok, QString expected, const QStringList &events)
{
    XmlDocument doc;
    QVERIFY(input.isEmpty() || doc.loadXML(input));
    doc.setIndentUnit(QString());
    const QString before = flat(doc);
    Recorder recorder;
    doc.addObserver(&recorder);
    QString error;
    QCOMPARE(op(doc, &error), ok);
    QVERIFY2(ok == error.isEmpty(), qPrintable(error));
    QCOMPARE(flat(doc), ok ? expected : before);
    QCOMPARE(recorder.events, ok ? events : QStringList());
    for (const XmlNode &h : recorder.handles) // removed and replaced nodes stay readable
        QVERIFY(h.isNull() || !doc.xml(h).isEmpty());
    doc.removeObserver(&recorder);
}

XmlNode root(XmlDocument &d)
{
    return d.documentElement();
}

XmlNode el(XmlDocument &d)
{
    return d.createElement(QStringLiteral("n"));
}

} // namespace

class TestXmlDocument : public QObject
{
    Q_OBJECT

private slots:
    void structure_data();
    void structure();
    void setText_data();
    void setText();
    void rename_data();
    void rename();
    void attributes();
    void invalidNamesAndContent_data();
    void invalidNamesAndContent();
    void cloneFromAnotherDocument();
    void selectNodes_data();
    void selectNodes();
};

// One operation on a document, as a table cell.
#define OP(body) Operation([](XmlDocument &d, QString *e) { return body; })

void TestXmlDocument::structure_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<Operation>("op");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("events");

    const QString abc = "<r><a/><b/><c/></r>", nested = "<r><a><x/></a><b/></r>";
    const auto row = [](const char *name, const QString &input, Operation op, const QString &expected, const QStringList &events) {
        QTest::newRow(name) << input << op << true << expected << events;
    };
    row("append", abc, OP(d.appendChild(root(d), el(d), e)), "<r><a/><b/><c/><n/></r>", {"+r:n<"});
    row("insert before", abc, OP(d.insertBefore(root(d), el(d), at(d, "//c"), e)), "<r><a/><b/><n/><c/></r>", {"+r:n<c"});
    row("move to another parent", nested, OP(d.appendChild(at(d, "//b"), at(d, "//x"), e)), "<r><a/><b><x/></b></r>",
        {"-a:x<", "+b:x<"});
    row("move within the parent", abc, OP(d.insertBefore(root(d), at(d, "//c"), at(d, "//a"), e)), "<r><c/><a/><b/></r>",
        {"-r:c<", "+r:c<a"});
    // Out of its declaration's scope, a prefixed name is declared again.
    row("move keeps the namespace", "<r><a xmlns:p=\"urn:p\"><p:x/></a><b/></r>", OP(d.appendChild(at(d, "//b"), at(d, "//p:x"), e)),
        "<r><a xmlns:p=\"urn:p\"/><b><p:x xmlns:p=\"urn:p\"/></b></r>", {"-a:p:x<", "+b:p:x<"});
    row("remove", nested, OP(d.removeChild(root(d), at(d, "//a"), e)), "<r><b/></r>", {"-r:a<b"});
    row("replace", abc, OP(d.replaceChild(root(d), el(d), at(d, "//b"), e)), "<r><a/><n/><c/></r>", {"-r:b<c", "+r:n<c"});
    row("replace by the next sibling", abc, OP(d.replaceChild(root(d), at(d, "//b"), at(d, "//a"), e)), "<r><b/><c/></r>",
        {"-r:a<b", "-r:b<c", "+r:b<c"});
    row("replace the root", "<?xml version=\"1.0\"?><!--c--><r><a/></r>", OP(d.setDocumentElement(el(d), e)),
        "<?xml version=\"1.0\"?><!--c--><n/>", {"-#document:r<", "+#document:n<"});
    row("root by its own child", nested, OP(d.setDocumentElement(at(d, "//a"), e)), "<a><x/></a>",
        {"-#document:r<", "-r:a<b", "+#document:a<"});
    row("root into an empty document", QString(), OP(d.setDocumentElement(el(d), e)), "<n/>", {"+#document:n<"});
    // As undo does: the declaration renamed away and back.
    row("declaration renamed back", "<?xml version=\"1.0\"?><r/>",
        OP(d.rename(d.documentNode().firstChild(), "p", e) && d.rename(d.documentNode().firstChild(), "xml", e)),
        "<?xml version=\"1.0\"?><r/>", {"~p:xml", "~xml:p"});

    const auto refuse = [](const char *name, const QString &input, Operation op) {
        QTest::newRow(name) << input << op << false << QString() << QStringList();
    };
    refuse("second root", abc, OP(d.appendChild(d.documentNode(), el(d), e)));
    refuse("text at document level", abc, OP(d.appendChild(d.documentNode(), d.createTextNode("t"), e)));
    refuse("node under itself", nested, OP(d.appendChild(at(d, "//a"), at(d, "//a"), e)));
    refuse("node under its descendant", nested, OP(d.appendChild(at(d, "//x"), at(d, "//a"), e)));
    refuse("reference not a child", nested, OP(d.insertBefore(root(d), el(d), at(d, "//x"), e)));
    refuse("remove from the wrong parent", nested, OP(d.removeChild(root(d), at(d, "//x"), e)));
    refuse("attribute as a child", abc, OP(d.appendChild(root(d), d.createAttribute("q"), e)));
    refuse("node of another document", abc, OP(d.appendChild(root(d), XmlDocument::parse("<o/>")->documentElement(), e)));
    // The declaration must stay first and single, the document type before
    // the root, and used prefixes declared, or the saved file no longer parses.
    refuse("before the declaration", "<?xml version=\"1.0\"?><r/>",
           OP(d.insertBefore(d.documentNode(), d.createComment("c"), d.documentNode().firstChild(), e)));
    refuse("second declaration", "<?xml version=\"1.0\"?><r/>",
           OP(d.appendChild(d.documentNode(), d.createProcessingInstruction("xml", "version=\"1.0\""), e)));
    refuse("root before the document type", "<!DOCTYPE r><!--c--><r/>",
           OP(d.insertBefore(d.documentNode(), root(d), d.documentNode().firstChild(), e)));
    refuse("namespace declaration in use", "<r xmlns:p=\"urn:p\"><p:x/></r>", OP(d.removeNode(root(d).attribute(0), e)));
}

void TestXmlDocument::structure()
{
    QFETCH(QString, input);
    QFETCH(Operation, op);
    QFETCH(bool, ok);
    QFETCH(QString, expected);
    QFETCH(QStringList, events);
    check(input, op, ok, expected, events);
}

void TestXmlDocument::setText_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // empty: refused
    QTest::addColumn<QStringList>("events");

    const auto row = [](const char *name, const QString &input, const QString &target, const QString &text,
                        const QString &expected = QString(), const QStringList &events = QStringList()) {
        QTest::newRow(name) << input << target << text << expected << events;
    };
    row("attribute", "<r a=\"1\"/>", "/r/@a", "a<&\"b\tc", "<r a=\"a&lt;&amp;&quot;b&#9;c\"/>", {"=@a:1"});
    row("text", "<r>old</r>", "//text()", "n<ew", "<r>n&lt;ew</r>", {"='n<ew':old"});
    row("comment", "<r><!--c--></r>", "//comment()", " - ok ", "<r><!-- - ok --></r>", {"=#comment:c"});
    row("CDATA", "<r><![CDATA[c]]></r>", "//text()", "]] >", "<r><![CDATA[]] >]]></r>", {"=#cdata-section:c"});
    row("namespace declaration", "<r xmlns:p=\"urn:p\"/>", "/r/namespace::p", "urn:\"<q", "<r xmlns:p=\"urn:&quot;&lt;q\"/>",
        {"=@xmlns:p:urn:p"});
    row("element: children become one text", "<r><a>x<b/></a></r>", "//a", "new", "<r><a>new</a></r>",
        {"-a:'x'<b", "-a:b<", "+a:'new'<"});
    row("-- in a comment", "<r><!--c--></r>", "//comment()", "a--b");
    row("comment ending in -", "<r><!--c--></r>", "//comment()", "a-");
    row("]]> in CDATA", "<r><![CDATA[c]]></r>", "//text()", "a]]>b");
    row("?> in a PI", "<r><?p d?></r>", "//processing-instruction()", "a?>");
    row("control character in text", "<r>t</r>", "//text()", "a\x01");
    row("control character in a value", "<r a=\"1\"/>", "/r/@a", "\x1b[0m");
    row("malformed declaration", "<?xml version=\"1.0\"?><r/>", "/processing-instruction()", "garbage");
}

void TestXmlDocument::setText()
{
    QFETCH(QString, input);
    QFETCH(QString, target);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(QStringList, events);
    QVERIFY(!at(*XmlDocument::parse(input), target).isNull()); // a refusal must be about the text
    check(input, [&](XmlDocument &d, QString *e) { return d.setText(at(d, target), text, e); }, !expected.isEmpty(), expected,
          events);
}

void TestXmlDocument::rename_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // empty: refused
    QTest::addColumn<QString>("probe");    // must then find exactly the renamed node

    const auto row = [](const char *name, const QString &input, const QString &target, const QString &newName,
                        const QString &expected = QString(), const QString &probe = QString()) {
        QTest::newRow(name) << input << target << newName << expected << probe;
    };
    row("element", "<r><a x=\"1\">t</a></r>", "//a", "b", "<r><b x=\"1\">t</b></r>", "//b[@x='1']");
    row("attribute", "<r x=\"1\" z=\"2\"/>", "//@x", "y", "<r y=\"1\" z=\"2\"/>", "//@y");
    row("prefix binds to its namespace", "<r xmlns:p=\"urn:p\"><a/></r>", "//a", "p:a", "<r xmlns:p=\"urn:p\"><p:a/></r>",
        "//*[namespace-uri()='urn:p']");
    // Unprefixed, the name is in the default namespace, as a reload reads it.
    row("unprefixed takes the default namespace", "<r xmlns=\"urn:d\" xmlns:p=\"urn:p\"><p:a/></r>", "//p:a", "b",
        "<r xmlns=\"urn:d\" xmlns:p=\"urn:p\"><b/></r>", "//*[local-name()='b' and namespace-uri()='urn:d']");
    row("two colons", "<r/>", "/r", "a:b:c");
    row("attribute onto an existing one", "<r x=\"1\" y=\"2\"/>", "//@x", "y");
    row("PI to the reserved xml", "<r><?p d?></r>", "//processing-instruction()", "xml");
    row("namespace declaration", "<r xmlns:p=\"urn:p\"/>", "/r/namespace::p", "a");
}

void TestXmlDocument::rename()
{
    QFETCH(QString, input);
    QFETCH(QString, target);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QFETCH(QString, probe);
    XmlDocument original;
    QVERIFY(original.loadXML(input));
    const XmlNode before = at(original, target);
    QVERIFY(!before.isNull());
    const QString event = "~" + QString(before.isAttribute() ? "@" : "") + name + ":" + before.nodeName();
    check(input, [&](XmlDocument &d, QString *e) {
        const XmlNode renamed = at(d, target);
        const bool ok = d.rename(renamed, name, e);
        if (ok) {
            QList<XmlNode> found;
            d.selectNodes(probe, XmlNode(), &found);
            if (found != QList<XmlNode>{renamed})
                *e = "probe failed"; // reported by check() as an unexpected error
        }
        return ok; }, !expected.isEmpty(), expected, QStringList{event});
}

void TestXmlDocument::attributes()
{
    XmlDocument doc;
    QVERIFY(doc.loadXML("<r xmlns:p=\"urn:p\" a=\"1\" b=\"2\" c=\"3\" xmlns=\"urn:d\"/>"));
    const XmlNode r = doc.documentElement();
    const auto names = [&] {
        QStringList n;
        for (int i = 0; i < r.attributeCount(); ++i)
            n << r.attribute(i).nodeName();
        return n.join(' ');
    };
    // Namespace declarations are attributes too, listed first.
    QCOMPARE(names(), "xmlns:p xmlns a b c");
    const XmlNode a = r.attributeNode("a");
    QCOMPARE(a.previousSibling().nodeName(), "xmlns");
    QCOMPARE(r.attribute(1).nextSibling(), a);
    QCOMPARE(a.indexInParent(), 2);
    QCOMPARE(r.attribute(0).ownerElement(), r);

    // Same name: the old one is taken off and returned, the new one takes its place.
    const XmlNode oldB = r.attributeNode("b");
    XmlNode newB = doc.createAttribute("b"), replaced;
    QVERIFY(doc.setText(newB, "x"));
    Recorder rec;
    doc.addObserver(&rec);
    QVERIFY(doc.setAttributeNode(r, newB, XmlNode(), &replaced));
    QCOMPARE(replaced, oldB);
    QCOMPARE(names(), "xmlns:p xmlns a b c");
    QCOMPARE(r.attributeNode("b"), newB);
    QCOMPARE(oldB.text(), "2");
    QVERIFY(oldB.ownerElement().isNull());
    // Before a reference; a namespace declaration as reference means first.
    QVERIFY(doc.setAttributeNode(r, doc.createAttribute("d"), a));
    QVERIFY(doc.setAttributeNode(r, doc.createAttribute("e"), r.attribute(0)));
    QCOMPARE(names(), "xmlns:p xmlns e d a b c");
    QVERIFY(doc.setAttribute(r, "a", "9"));
    QVERIFY(doc.removeAttribute(r, "a"));
    QCOMPARE(a.text(), "9");
    QCOMPARE(rec.events, (QStringList{"-r:@b<@c", "+r:@b<@c", "+r:@d<@a", "+r:@e<@d", "=@a:1", "-r:@a<@b"}));

    QString error;
    XmlNode child = doc.createElement("k");
    QVERIFY(doc.appendChild(r, child));
    QVERIFY(!doc.setAttributeNode(child, newB, XmlNode(), nullptr, &error)); // in use on r
    QVERIFY(!doc.setAttributeNode(child, child, XmlNode(), nullptr, &error));
    QVERIFY(!doc.setAttribute(child, "bad name", "x", &error));
    QVERIFY(!error.isEmpty());

    // A declaration set by name is a real one: prefixed names bind to it.
    QVERIFY(doc.setAttribute(child, "xmlns:q", "urn:q"));
    QCOMPARE(child.attribute(0).nodeName(), "xmlns:q");
    QVERIFY(doc.appendChild(child, doc.createElement("q:x")));
    QVERIFY(!at(doc, "//*[namespace-uri()='urn:q']").isNull());
    // An unprefixed new element takes the default namespace it is put under.
    QCOMPARE(at(doc, "//*[local-name()='k' and namespace-uri()='urn:d']"), child);
    doc.removeObserver(&rec);
}

void TestXmlDocument::invalidNamesAndContent_data()
{
    QTest::addColumn<Operation>("create");
    QTest::addColumn<bool>("ok");
    for (const char *good : {"a", "p:a", "日本語", "_x.y-z"})
        QTest::newRow(good) << Operation([good](XmlDocument &d, QString *e) {
            return !d.createElement(good, e).isNull() && !d.createAttribute(good, e).isNull(); }) << true;
    for (const char *bad : {"", "1a", "a b", "<a>", "a:b:c", ":a", "a:"})
        QTest::newRow(qPrintable(QStringLiteral("name '%1'").arg(bad))) << Operation([bad](XmlDocument &d, QString *e) {
            QString e2;
            return !d.createElement(bad, e).isNull() || !d.createAttribute(bad, &e2).isNull() || e2.isEmpty(); }) << false;
    // Content the markup cannot carry would make the saved file unreadable.
    QTest::newRow("comment with --") << OP(!d.createComment("a--b", e).isNull()) << false;
    QTest::newRow("CDATA with ]]>") << OP(!d.createCDATASection("]]>", e).isNull()) << false;
    QTest::newRow("text with U+0001") << OP(!d.createTextNode("\x01", e).isNull()) << false;
    QTest::newRow("PI data with ?>") << OP(!d.createProcessingInstruction("p", "?>", e).isNull()) << false;
    QTest::newRow("PI target XML") << OP(!d.createProcessingInstruction("XmL", "", e).isNull()) << false;
}

void TestXmlDocument::invalidNamesAndContent()
{
    QFETCH(Operation, create);
    QFETCH(bool, ok);
    XmlDocument doc;
    QString error;
    QCOMPARE(create(doc, &error), ok);
    QCOMPARE(error.isEmpty(), ok);
}

void TestXmlDocument::cloneFromAnotherDocument()
{
    XmlDocument src, dst;
    QVERIFY(src.loadXML("<!DOCTYPE s [<!ENTITY e \"ent\">]><s xmlns:p=\"urn:p\">"
                        "<p:a p:x=\"1\" y=\"a&amp;b\">&e;<b>t</b><!--c--></p:a></s>"));
    QVERIFY(dst.loadXML("<r/>"));
    const QString srcBefore = src.xml(src.documentNode());
    const XmlNode copy = dst.cloneNode(at(src, "//p:a"));
    QVERIFY(dst.owns(copy) && !src.owns(copy));
    QVERIFY(copy.parentNode().isNull() && !copy.isAttached());
    QCOMPARE(copy.childCount(), 3);
    QCOMPARE(copy.attributeNode("y").text(), "a&b");
    QCOMPARE(dst.cloneNode(at(src, "//@y")).text(), "a&b");
    QVERIFY(dst.cloneNode(src.documentNode()).isNull());
    QVERIFY(dst.appendChild(dst.documentElement(), copy));
    QCOMPARE(src.xml(src.documentNode()), srcBefore);

    // The namespace came along, and the entity it cannot declare here is
    // replaced by its text, so the saved result still parses.
    QVERIFY(!at(dst, "/r/p:a[@p:x='1']").isNull());
    QByteArray saved;
    QVERIFY(dst.serialize(&saved));
    XmlDocument reread;
    QVERIFY2(reread.loadBytes(saved), saved.constData());
    QCOMPARE(reread.documentElement().text(), "entt");
}

void TestXmlDocument::selectNodes_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("expected"); // labels joined by blanks; empty: refused

    QTest::newRow("union in document order") << "" << "//b | //a" << "a b";
    QTest::newRow("reverse axis in document order") << "" << "//p:c/preceding-sibling::*" << "a b";
    QTest::newRow("attributes") << "" << "//@*" << "@x @y";
    QTest::newRow("prefix declared on the root") << "" << "//p:c" << "p:c";
    QTest::newRow("prefix declared below the root") << "" << "//q:e" << "q:e";
    QTest::newRow("namespace declaration") << "" << "/r/namespace::p" << "@xmlns:p";
    QTest::newRow("relative to a context node") << "/r/d" << "*" << "q:e";
    QTest::newRow("syntax error") << "" << "//a[" << "";
    QTest::newRow("not a node set") << "" << "count(//a)" << "";
    QTest::newRow("undeclared prefix") << "" << "//z:a" << "";
}

void TestXmlDocument::selectNodes()
{
    QFETCH(QString, context);
    QFETCH(QString, expression);
    QFETCH(QString, expected);
    XmlDocument doc;
    QVERIFY(doc.loadXML("<r xmlns:p=\"urn:p\" x=\"1\"><a y=\"2\"/><b/><p:c/><d><q:e xmlns:q=\"urn:q\"/></d></r>"));
    QList<XmlNode> found;
    QString error;
    const bool ok = doc.selectNodes(expression, context.isEmpty() ? XmlNode() : at(doc, context), &found, &error);
    QCOMPARE(ok, !expected.isEmpty());
    QCOMPARE(error.isEmpty(), ok);
    QStringList labels;
    for (const XmlNode &n : found)
        labels << label(n);
    QCOMPARE(labels.join(' '), expected);
}

QTEST_MAIN(TestXmlDocument)
#include "tst_xmldocument.moc"
