#include "TestWindow.h"
#include "document/DocumentTreeModel.h"
#include "document/StringTable.h"
#include "document/TreeBuilder.h"
#include "document/XmlDocument.h"
#include "shell/frmMain.h"

#include <QAbstractItemModelTester>
#include <QTest>
#include <QTreeView>

// Adding nodes through the tree builder: the document changes, the tree
// follows, and refusals leave both as they were.
class TestTreeBuilder : public QObject
{
    Q_OBJECT

    struct Window : TestWindow
    {
        explicit Window(const QString &xml)
        {
            if (!window.document().loadXML(xml))
                qFatal("fixture does not parse");
            window.treeBuilder().Rebuild(&window.document(), true);
        }
        QModelIndex top() { return model().documentIndex(); }
        QModelIndex root() { return model().indexForNode(window.document().documentElement()); }
    };

private slots:
    void secondRootElementIsRefusedWithMessage1009()
    {
        Window w(QStringLiteral("<r/>"));
        const QString before = w.markup();
        XmlDocument other;
        QVERIFY(other.loadXML(QStringLiteral("<s/>")));
        QModelIndex relative = w.top();
        XmlNode node = other.documentElement();
        int relationship = TreeBuilder::Child;
        QVERIFY(!w.window.treeBuilder().AddNode(relative, node, false, relationship).isValid());
        QCOMPARE(w.window.statusText(), QStringLiteral("ルート要素がすでに存在します。"));
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].text, GetResString(9));
        QCOMPARE(w.prompt->shown[0].icon, Prompt::Icon::Exclamation);
        QCOMPARE(w.markup(), before);
        QCOMPARE(w.model().rowCount(w.top()), 1);
    }

    void textAttributesAndCdataAreSilentlyRefusedAtTheTop()
    {
        Window w(QStringLiteral("<r/>"));
        XmlDocument &doc = w.window.document();
        const QList<XmlNode> nodes{doc.createTextNode(QStringLiteral("t")), doc.createCDATASection(QStringLiteral("c")),
                                   doc.createAttribute(QStringLiteral("a"))};
        for (XmlNode node : nodes) {
            QModelIndex relative = w.top();
            int relationship = TreeBuilder::Child;
            QVERIFY(!w.window.treeBuilder().AddNode(relative, node, false, relationship).isValid());
        }
        QVERIFY(w.prompt->shown.isEmpty());
        QVERIFY(w.window.statusText().isEmpty());
        QCOMPARE(w.model().rowCount(w.top()), 1);
    }

    void addedNodeIsACopyWithItsWholeSubtree()
    {
        Window w(QStringLiteral("<r><a/></r>"));
        XmlDocument clip;
        QVERIFY(clip.loadXML(QStringLiteral("<p x=\"1\"><q y=\"2\">t</q></p>")));
        XmlNode node = clip.documentElement();
        const XmlNode original = node;

        // Before <a>, as its previous sibling.
        QModelIndex relative = w.model().index(0, 0, w.root());
        int relationship = TreeBuilder::Previous;
        const QModelIndex item = w.window.treeBuilder().AddNode(relative, node, false, relationship);
        QVERIFY(item.isValid());
        QVERIFY(node != original);
        QVERIFY(w.window.document().owns(node));
        QCOMPARE(clip.xml(clip.documentNode()), QStringLiteral("<p x=\"1\">\n  <q y=\"2\">t</q>\n</p>"));
        QCOMPARE(w.model().nodeAt(item), node);
        QCOMPARE(w.window.document().documentElement().firstChild(), node);
        // Attributes first at every level.
        QCOMPARE(w.model().labelAt(w.model().index(0, 0, item)), QStringLiteral("x=\"1\""));
        const QModelIndex q = w.model().index(1, 0, item);
        QCOMPARE(w.model().labelAt(w.model().index(0, 0, q)), QStringLiteral("y=\"2\""));
        QCOMPARE(w.model().labelAt(w.model().index(1, 0, q)), QStringLiteral("t"));
    }

    void attributeOfAnExistingNameOverwritesTheValue_data()
    {
        QTest::addColumn<bool>("showText");
        QTest::newRow("labels with values") << true;
        QTest::newRow("labels with names") << false;
    }
    void attributeOfAnExistingNameOverwritesTheValue()
    {
        QFETCH(bool, showText);
        Window w(QStringLiteral("<r id=\"1\"><c/></r>"));
        w.model().setShowText(showText);
        XmlNode attribute = w.window.document().createAttribute(QStringLiteral("id"));
        QVERIFY(w.window.document().setText(attribute, QStringLiteral("7")));
        QVERIFY(!w.window.treeBuilder().AddAttributeNode(w.root(), attribute, false).isValid());
        QCOMPARE(w.window.document().documentElement().attributeNode(QStringLiteral("id")).text(), QStringLiteral("7"));
        QCOMPARE(w.model().rowCount(w.root()), 2);
    }

    void newAttributeGoesAfterAttributesBeforeChildren()
    {
        Window w(QStringLiteral("<r a=\"1\"><c/><d/></r>"));
        XmlNode attribute = w.window.document().createAttribute(QStringLiteral("b"));
        const QModelIndex item = w.window.treeBuilder().AddAttributeNode(w.root(), attribute, false);
        QVERIFY(item.isValid());
        QCOMPARE(item.row(), 1);
        QCOMPARE(w.model().nodeAt(item).ownerElement(), w.window.document().documentElement());
        QCOMPARE(w.markup(), QStringLiteral("<r a=\"1\" b=\"\">\n  <c/>\n  <d/>\n</r>"));
    }

    void unusualKindsAreAnnounced()
    {
        Window w(QStringLiteral("<!DOCTYPE r [<!ENTITY e \"v\">]><r/>"));
        XmlDocument source;
        QVERIFY(source.loadXML(QStringLiteral("<!DOCTYPE r [<!ENTITY e \"v\">]><r>&e;</r>")));
        XmlNode reference = source.documentElement().firstChild();
        QCOMPARE(reference.kind(), NodeKind::EntityReference);
        QModelIndex relative = w.root();
        int relationship = TreeBuilder::Child;
        QVERIFY(w.window.treeBuilder().AddNode(relative, reference, false, relationship).isValid());
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].text, QStringLiteral("IXMLDOMEntityReference is added to tree"));
    }

    void ensureVisibleExpandsTheAncestors()
    {
        Window w(QStringLiteral("<r><a><b><c/></b></a></r>"));
        const XmlNode c = w.doc().documentElement().firstChild().firstChild().firstChild();
        const QModelIndex item = w.model().indexForNode(c);
        w.window.treeBuilder().EnsureVisible(item);
        for (QModelIndex p = item.parent(); p.isValid(); p = p.parent())
            QVERIFY(w.window.tvw()->isExpanded(p));
        QVERIFY(!w.window.tvw()->isExpanded(item));
    }

    void keysContinueAcrossWindowsAndRebuilds()
    {
        Window a(QStringLiteral("<r/>"));
        Window b(QStringLiteral("<r/>"));
        const int keyA = a.model().keyAt(a.top()).mid(4).toInt();
        const int keyB = b.model().keyAt(b.top()).mid(4).toInt();
        QVERIFY(keyB > keyA);
        const QString next = TreeBuilder::NewNodeKey();
        QVERIFY(next.mid(4).toInt() > keyB);
        a.window.treeBuilder().Rebuild(&a.window.document(), true);
        QCOMPARE(a.model().keyAt(a.top()).mid(4).toInt(), next.mid(4).toInt() + 1);
        QVERIFY(a.window.treeBuilder().HasRootElement());
    }
};

QTEST_MAIN(TestTreeBuilder)
#include "tst_treebuilder.moc"
