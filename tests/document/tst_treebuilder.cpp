#include "TestWindow.h"
#include "document/StringTable.h"
#include "document/TreeBuilder.h"

#include <QTest>
#include <QTreeView>

// Adding nodes through the tree builder: the document changes, the tree
// follows, and refusals leave both as they were.
class TestTreeBuilder : public QObject
{
    Q_OBJECT

    static QModelIndex add(TestWindow &w, QModelIndex relative, XmlNode node, int relationship = TreeBuilder::Child)
    {
        return w.window.treeBuilder().AddNode(relative, node, false, relationship);
    }

private slots:
    void refusalsAtTheDocumentLevel()
    {
        TestWindow w(QStringLiteral("<r/>"));
        const QString before = w.markup();
        // Text, CDATA and attributes silently; a second root with message 1009.
        for (const XmlNode &node : {w.doc().createTextNode(QStringLiteral("t")), w.doc().createCDATASection(QStringLiteral("c")),
                                    w.doc().createAttribute(QStringLiteral("a"))})
            QVERIFY(!add(w, w.item({}), node).isValid());
        QVERIFY(w.prompt->shown.isEmpty());
        QVERIFY(!add(w, w.item({}), XmlDocument::parse(QStringLiteral("<s/>"))->documentElement()).isValid());
        QCOMPARE(w.window.statusText(), QStringLiteral("ルート要素がすでに存在します。"));
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].text, GetResString(9));
        QCOMPARE(w.prompt->shown[0].icon, Prompt::Icon::Exclamation);
        QCOMPARE(w.markup(), before);
        QCOMPARE(w.model().rowCount(w.item({})), 1);
    }

    void addedNodeIsACopyWithItsWholeSubtree()
    {
        TestWindow w(QStringLiteral("<r><a/></r>"));
        XmlDocument clip;
        QVERIFY(clip.loadXML(QStringLiteral("<p x=\"1\"><q y=\"2\">t</q></p>")));
        XmlNode node = clip.documentElement();
        // Before <a>, as its previous sibling.
        QModelIndex relative = w.item({0, 0});
        int relationship = TreeBuilder::Previous;
        const QModelIndex item = w.window.treeBuilder().AddNode(relative, node, false, relationship);
        QVERIFY(node != clip.documentElement() && w.doc().owns(node));
        QCOMPARE(clip.xml(clip.documentNode()), QStringLiteral("<p x=\"1\">\n  <q y=\"2\">t</q>\n</p>"));
        QCOMPARE(w.model().nodeAt(item), node);
        QCOMPARE(w.doc().documentElement().firstChild(), node);
        // The whole subtree has items: q's text after its attribute.
        QCOMPARE(w.model().labelAt(w.model().index(1, 0, w.model().index(1, 0, item))), QStringLiteral("t"));
    }

    void attributes()
    {
        TestWindow w(QStringLiteral("<r id=\"1\"><c/></r>"));
        // A new name goes after the attributes, before the children.
        XmlNode b = w.doc().createAttribute(QStringLiteral("b"));
        const QModelIndex item = w.window.treeBuilder().AddAttributeNode(w.item({0}), b, false);
        QCOMPARE(item.row(), 1);
        QCOMPARE(w.model().nodeAt(item).ownerElement(), w.doc().documentElement());
        QCOMPARE(w.markup(), QStringLiteral("<r id=\"1\" b=\"\">\n  <c/>\n</r>"));
        // An existing name only takes the new value.
        XmlNode id = w.doc().createAttribute(QStringLiteral("id"));
        QVERIFY(w.doc().setText(id, QStringLiteral("7")));
        QVERIFY(!w.window.treeBuilder().AddAttributeNode(w.item({0}), id, false).isValid());
        QCOMPARE(w.markup(), QStringLiteral("<r id=\"7\" b=\"\">\n  <c/>\n</r>"));
        QCOMPARE(w.model().rowCount(w.item({0})), 3);
    }

    void unusualKindsAreAnnounced()
    {
        TestWindow w(QStringLiteral("<!DOCTYPE r [<!ENTITY e \"v\">]><r/>"));
        const auto source = XmlDocument::parse(QStringLiteral("<!DOCTYPE r [<!ENTITY e \"v\">]><r>&e;</r>"));
        QVERIFY(add(w, w.item({1}), source->documentElement().firstChild()).isValid());
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].text, QStringLiteral("IXMLDOMEntityReference is added to tree"));
    }

    void keysContinueAcrossWindowsAndRebuilds()
    {
        TestWindow a(QStringLiteral("<r/>"));
        TestWindow b(QStringLiteral("<r/>"));
        const auto key = [](TestWindow &w) { return w.model().keyAt(w.item({})).mid(4).toInt(); };
        QVERIFY(key(b) > key(a));
        const int next = TreeBuilder::NewNodeKey().mid(4).toInt();
        QVERIFY(next > key(b));
        a.window.treeBuilder().Rebuild(&a.doc(), true);
        QCOMPARE(key(a), next + 1);
    }
};

QTEST_MAIN(TestTreeBuilder)
#include "tst_treebuilder.moc"
