#include "TestWindow.h"
#include "document/Selection.h"
#include "document/StringTable.h"
#include "document/ValuePane.h"
#include "editing/NodeCreator.h"
#include "editing/NodeEditor.h"
#include "editing/TreeNavigator.h"
#include "shell/StructureCommands.h"
#include "undo/UndoController.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>
#include <QTreeView>

using Kind = NodeCreator::Kind;

// Adding, inserting, deleting, moving and renaming nodes from the tree, and
// the tree's own keys, mouse and view options.
class TestStructure : public QObject
{
    Q_OBJECT

    struct Window : TestWindow
    {
        explicit Window(const QString &xml) : TestWindow(xml) { window.undo().ResetUndo(); }
        StructureCommands &commands() { return window.structure(); }
        NodeEditor &editor() { return commands().editor(); }
        QTreeView *tvw() { return window.tvw(); }
        QModelIndex at(const QList<int> &rows)
        {
            QModelIndex i = model().documentIndex();
            for (int r : rows)
                i = r < 0 ? QModelIndex() : model().index(r, 0, i);
            return i;
        }
        void select(const QModelIndex &i) { window.selection().ShowNode(i, true); }
        QModelIndex selected() { return window.selection().selectedItem(); }
        // The markup without the line breaks and indentation of the output.
        QString flat() { return markup().remove(QRegularExpression(QStringLiteral("\\n *"))); }
        // The label editor open on `i`, if any.
        QLineEdit *editorOn(const QModelIndex &i) { return qobject_cast<QLineEdit *>(tvw()->indexWidget(i)); }
        int steps() { return window.undo().history() ? window.undo().history()->undoCount() : 0; }
        QAction *action(const char *name) { return window.menuItem(QString::fromLatin1(name)); }
        // Undo and redo the last step, checking the markup each way.
        void undoRedo(const QString &before, const QString &after)
        {
            window.undo().DoUndo();
            QCOMPARE(flat(), before);
            window.undo().DoRedo();
            QCOMPARE(flat(), after);
        }
    };

private slots:
    void uniqueChildName_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("base");
        QTest::addColumn<bool>("showText");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no children") << "<r/>" << "Element" << true << "Element1";
        QTest::newRow("first free number") << "<r><Element2/><Element1/><Element4/></r>" << "Element" << true << "Element3";
        QTest::newRow("case matters") << "<r><element1/></r>" << "Element" << true << "Element1";
        QTest::newRow("attribute label cut at =") << "<r Attribute1=\"x\"/>" << "Attribute" << true << "Attribute2";
        QTest::newRow("content counts when shown") << "<r><!--Comment1--></r>" << "Comment" << true << "Comment2";
        QTest::newRow("node names when not") << "<r><!--Comment1--></r>" << "Comment" << false << "Comment1";
    }
    void uniqueChildName()
    {
        QFETCH(QString, xml);
        QFETCH(QString, base);
        QFETCH(bool, showText);
        Window w(xml);
        w.model().setShowText(showText);
        QTEST(NodeCreator::UniqueChildName(w.model(), w.item({0}), base), "expected");
    }

    void nodeMenuStates_data()
    {
        QTest::addColumn<QList<int>>("path");
        QTest::addColumn<bool>("readOnly");
        // add element, add others, insert, move up, move down, expand/collapse
        QTest::addColumn<QString>("states");
        const QList<std::tuple<const char *, QList<int>, const char *>> rows{
            {"nothing selected", {-1}, "000000"},
            {"document with a root", {}, "000001"},
            {"root element", {2}, "111001"},
            {"first child, empty", {2, 1}, "111010"},
            {"middle child with children", {2, 2}, "111111"},
            {"last child, a comment", {2, 3}, "001100"},
            {"attribute", {2, 0}, "000000"},
            {"only text child", {2, 2, 0}, "001000"},
            {"declaration", {0}, "001000"},
        };
        for (const auto &[name, path, states] : rows) {
            QTest::addRow("%s", name) << path << false << QString::fromLatin1(states);
            // Read-only: only the expand and collapse items stay.
            QTest::addRow("%s, read-only", name) << path << true
                                                  << QString(5, QLatin1Char('0')) + QLatin1Char(states[5]);
        }
    }
    void nodeMenuStates()
    {
        QFETCH(QList<int>, path);
        QFETCH(bool, readOnly);
        Window w(QStringLiteral("<?xml version=\"1.0\"?><!--top--><r a=\"1\"><x/><y>t</y><!--c--></r>"));
        w.window.flags().m_ReadOnly = readOnly;
        const QModelIndex i = w.at(path);
        w.tvw()->selectionModel()->clearSelection();
        if (i.isValid())
            w.select(i);
        emit w.action("mnuNode")->menu()->aboutToShow();
        QString states;
        for (const char *name : {"mnuNodeAddElement", "mnuNodeAddComment", "mnuNodeInsText", "mnuNodeMoveUp",
                                 "mnuNodeMoveDown", "mnuNodeExpand"})
            states += w.action(name)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        QTEST(states, "states");
    }

    void addAndInsert_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QList<int>>("path");
        QTest::addColumn<bool>("insert");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("expected"); // empty: refused, nothing changes
        QTest::addColumn<QString>("message");
        const QString root = QStringLiteral("<r><a/></r>");
        const QString exists = GetResString(9);
        auto row = [](const char *name, const QString &xml, QList<int> path, bool insert, Kind kind,
                      const char *expected, const QString &message = QString()) {
            QTest::newRow(name) << xml << path << insert << int(kind) << QString::fromUtf8(expected) << message;
        };
        row("element under an element", root, {0, 0}, false, Kind::Element, "<r><a><Element1/></a></r>");
        row("second element numbered on", "<r><Element1/></r>", {0}, false, Kind::Element,
            "<r><Element1/><Element2/></r>");
        row("attribute after the others", "<r x=\"1\"><a/></r>", {0}, false, Kind::Attribute,
            "<r x=\"1\" Attribute1=\"\"><a/></r>");
        row("text", root, {0}, false, Kind::Text, "<r><a/>Text1</r>");
        row("CDATA", root, {0}, false, Kind::CData, "<r><a/><![CDATA[CDATA1]]></r>");
        row("comment after the root", root, {}, false, Kind::Comment, "<r><a/></r><!--Comment1-->");
        row("second root element", root, {}, false, Kind::Element, "", exists);
        row("CDATA at the top", root, {}, false, Kind::CData, "");
        row("text under the document", root, {}, false, Kind::Text, "");
        row("attribute under an attribute", "<r x=\"1\"/>", {0, 0}, false, Kind::Attribute, "");
        row("insert comment before the root", root, {0}, true, Kind::Comment, "<!--Comment1--><r><a/></r>");
        row("insert element before the root", root, {0}, true, Kind::Element, "", exists);
        row("insert element before a child", root, {0, 0}, true, Kind::Element, "<r><Element1/><a/></r>");
        row("insert text before an attribute", "<r x=\"1\"/>", {0, 0}, true, Kind::Text, "");
        row("insert text before the document", root, {}, true, Kind::Text, "");
    }
    void addAndInsert()
    {
        QFETCH(QString, xml);
        QFETCH(QList<int>, path);
        QFETCH(bool, insert);
        QFETCH(int, kind);
        QFETCH(QString, expected);
        QFETCH(QString, message);
        Window w(xml);
        const QString before = w.flat();
        w.select(w.at(path));
        NodeCreator &creator = w.commands().creator();

        // Read-only: nothing, whatever the command.
        w.window.flags().m_ReadOnly = true;
        insert ? creator.insert(Kind(kind)) : creator.add(Kind(kind));
        QCOMPARE(w.flat(), before);
        w.window.flags().m_ReadOnly = false;

        insert ? creator.insert(Kind(kind)) : creator.add(Kind(kind));
        QCOMPARE(w.prompt->shown.isEmpty() ? QString() : w.prompt->shown.last().text, message);
        if (expected.isEmpty()) {
            QCOMPARE(w.flat(), before);
            QCOMPARE(w.steps(), 0);
            return;
        }
        QCOMPARE(w.flat(), expected);
        QCOMPARE(w.steps(), 1);
        QVERIFY(w.window.flags().m_Dirty);
        // The new node is selected, shown in the pane, and being named.
        const XmlNode made = w.window.selection().GetSelectedDOMNode();
        const NodeKind kinds[] = {NodeKind::Element, NodeKind::Attribute, NodeKind::Text, NodeKind::Comment,
                                  NodeKind::CData};
        QCOMPARE(made.kind(), kinds[kind]);
        QVERIFY(w.editorOn(w.selected()));
        QCOMPARE(w.editorOn(w.selected())->selectedText(), made.isAttribute() ? made.nodeName() : w.model().labelAt(w.selected()));
        w.undoRedo(before, expected);
    }
};

QTEST_MAIN(TestStructure)
#include "tst_structure.moc"
