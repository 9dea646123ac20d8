#include "TestTables.h"
#include "TestWindow.h"
#include "base/StringTable.h"
#include "document/TreeBuilder.h"
#include "document/ValuePane.h"
#include "editing/NodeCreator.h"
#include "editing/NodeEditor.h"
#include "editing/TreeNavigator.h"
#include "shell/StructureCommands.h"

#include <QComboBox>
#include <QLineEdit>
#include "document/NodeTreeView.h"

using Kind = NodeCreator::Kind;

// Adding, inserting, deleting, moving and renaming nodes from the tree, the
// tree builder beneath, and the tree's own keys, mouse and view options.
class TestStructure : public QObject
{
    Q_OBJECT

    struct Window : TestWindow
    {
        explicit Window(const QString &xml) : TestWindow(xml) { window.undo().ResetUndo(); }
        StructureCommands &commands() { return window.structure(); }
        NodeEditor &editor() { return commands().editor(); }
        NodeTreeView *tvw() { return window.tvw(); }
        // The label editor open on `i`, if any.
        QLineEdit *editorOn(const QModelIndex &i) { return qobject_cast<QLineEdit *>(tvw()->indexWidget(i)); }
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

    static QModelIndex add(TestWindow &w, QModelIndex relative, XmlNode node, int relationship = TreeBuilder::Child)
    {
        return w.window.treeBuilder().AddNode(relative, node, false, relationship);
    }

    // expected: empty: refused, nothing changes
    struct Creation { QString xml; QList<int> path; bool insert; Kind kind; QString expected, message; };

    // expected: empty: the document stays as it was
    // message: "*": the document service's description
    struct Rename { QList<int> path; QString text, expected, message; int steps; };

private slots:
    void uniqueChildName_data()
    {
        addColumns<QString, QString, bool, QString>({"xml", "base", "showText", "expected"});
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

    // The states each menu gives its items as it opens.
    void menuStates_data()
    {
        QTest::addColumn<QList<int>>("path");
        QTest::addColumn<bool>("readOnly");
        // Node menu: add element, add others, insert, move up, move down,
        // expand/collapse; View menu: expand/collapse; Edit menu: delete.
        QTest::addColumn<QString>("states");
        const QList<std::tuple<const char *, QList<int>, const char *>> rows{
            {"nothing selected", {-1}, "00000000"},
            {"document with a root", {}, "00000110"},
            {"root element", {2}, "11100111"},
            {"first child, empty", {2, 1}, "11101011"},
            {"middle child with children", {2, 2}, "11111111"},
            {"last child, a comment", {2, 3}, "00110001"},
            {"attribute", {2, 0}, "00000001"},
            {"only text child", {2, 2, 0}, "00100001"},
            {"declaration", {0}, "00100001"},
        };
        for (const auto &[name, path, states] : rows) {
            QTest::addRow("%s", name) << path << false << QString::fromLatin1(states);
            // Read-only: only the expand and collapse items stay.
            QTest::addRow("%s, read-only", name) << path << true << QStringLiteral("00000") + QLatin1String(states + 5, 2) + u'0';
        }
    }
    void menuStates()
    {
        QFETCH(QList<int>, path);
        QFETCH(bool, readOnly);
        Window w(QStringLiteral("<?xml version=\"1.0\"?><!--top--><r a=\"1\"><x/><y>t</y><!--c--></r>"));
        w.window.flags().m_ReadOnly = readOnly;
        if (w.item(path).isValid())
            w.select(w.item(path));
        QTEST(w.states("mnuNode", {"mnuNodeAddElement", "mnuNodeAddComment", "mnuNodeInsText", "mnuNodeMoveUp", "mnuNodeMoveDown", "mnuNodeExpand"})
                  + w.states("mnuView", {"mnuNodeCollapse"}) + w.states("mnuEdit", {"mnuEditDelete"}),
              "states");
    }

    void addAndInsert_data()
    {
        QTest::addColumn<Creation>("row");
        const QString root = QStringLiteral("<r><a/></r>");
        const QString exists = GetResString(9);
        auto row = [](const char *name, const QString &xml, QList<int> path, bool insert, Kind kind,
                      const char *expected, const QString &message = QString()) {
            QTest::newRow(name) << Creation{xml, path, insert, kind, QString::fromUtf8(expected), message};
        };
        row("element under an element", root, {0, 0}, false, Kind::Element, "<r><a><Element1/></a></r>");
        row("second element numbered on", "<r><Element1/></r>", {0}, false, Kind::Element, "<r><Element1/><Element2/></r>");
        row("attribute after the others", "<r x=\"1\"><a/></r>", {0}, false, Kind::Attribute, "<r x=\"1\" Attribute1=\"\"><a/></r>");
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
        QFETCH(Creation, row);
        const auto &[xml, path, insert, kind, expected, message] = row;
        Window w(xml);
        const QString before = w.flat();
        w.select(w.item(path));
        NodeCreator &creator = w.commands().creator();

        // Read-only: nothing, whatever the command.
        w.window.flags().m_ReadOnly = true;
        insert ? creator.insert(kind) : creator.add(kind);
        QCOMPARE(w.flat(), before);
        w.window.flags().m_ReadOnly = false;

        insert ? creator.insert(kind) : creator.add(kind);
        QCOMPARE(w.prompt->shown.isEmpty() ? QString() : w.prompt->shown.last().text, message);
        if (expected.isEmpty()) {
            QCOMPARE(w.flat(), before);
            QCOMPARE(w.steps(), 0);
            return;
        }
        QCOMPARE(w.flat(), expected);
        QCOMPARE(w.steps(), 1);
        QVERIFY(w.window.flags().m_Dirty);
        // The new node is selected and its label editor open on its name.
        const XmlNode made = w.window.selection().GetSelectedDOMNode();
        QVERIFY(w.editorOn(w.selected()));
        QCOMPARE(w.editorOn(w.selected())->selectedText(), made.isAttribute() ? made.nodeName() : w.model().labelAt(w.selected()));
        w.undoRedo(before, expected);
    }

    void addElementToAnEmptyDocument()
    {
        Window w(QStringLiteral("<r/>"));
        w.doc().removeNode(w.doc().documentElement());
        w.select(w.item({}));
        QCOMPARE(w.states("mnuNode", {"mnuNodeAddElement", "mnuNodeAddComment"}), "10");
        w.commands().creator().add(Kind::Element);
        QCOMPARE(w.flat(), QStringLiteral("<Element1/>"));
        QCOMPARE(w.selected(), w.item({0}));
    }

    void deleteAsksAndRemovesTheSubtree()
    {
        Window w(QStringLiteral("<r x=\"1\" y=\"2\"><a><b/></a><c/></r>"));
        NodeEditor &editor = w.editor();
        const QString before = w.flat();
        w.select(w.item({}));
        editor.mnuEditDelete_Click();
        QCOMPARE(w.prompt->shown.last().text, GetResString(5));
        QCOMPARE(w.prompt->shown.last().icon, Prompt::Icon::Exclamation);

        w.select(w.item({0, 2}));
        w.prompt->answers.enqueue(Prompt::Answer::No);
        editor.mnuEditDelete_Click();
        const ScriptedPrompt::Shown asked = w.prompt->shown.last();
        QCOMPARE(asked.text, GetResString(6));
        QVERIFY(asked.icon == Prompt::Icon::Question && asked.buttons == Prompt::Buttons::YesNo && asked.defaultNo);
        QCOMPARE(w.flat(), before);
        QCOMPARE(w.steps(), 0);

        const QString keyOfC = w.model().keyAt(w.item({0, 3}));
        w.prompt->answers.enqueue(Prompt::Answer::Yes);
        editor.mnuEditDelete_Click();
        QCOMPARE(w.flat(), QStringLiteral("<r x=\"1\" y=\"2\"><c/></r>"));
        QCOMPARE(w.model().keyAt(w.item({0, 2})), keyOfC);
        QVERIFY(w.selected().isValid());
        QCOMPARE(w.steps(), 1);
        w.undoRedo(before, QStringLiteral("<r x=\"1\" y=\"2\"><c/></r>"));

        // An attribute: only that one goes; its sibling keeps its item.
        const QPersistentModelIndex y = w.item({0, 1});
        w.select(w.item({0, 0}));
        editor.mnuEditDelete_Click();
        QCOMPARE(w.flat(), QStringLiteral("<r y=\"2\"><c/></r>"));
        QVERIFY(y.isValid() && w.model().nodeAt(y).nodeName() == QStringLiteral("y"));

        // The toolbar button runs the command directly.
        w.select(y);
        w.window.button(QStringLiteral("delete"))->setEnabled(true);
        w.window.button(QStringLiteral("delete"))->trigger();
        QCOMPARE(w.flat(), QStringLiteral("<r><c/></r>"));

        // The document's refusal is shown and changes nothing.
        Window ns(QStringLiteral("<r xmlns:p=\"urn:p\"><p:a/></r>"));
        ns.select(ns.item({0, 0}));
        ns.editor().mnuEditDelete_Click();
        QCOMPARE(ns.prompt->shown.last().icon, Prompt::Icon::Exclamation);
        QCOMPARE(ns.flat(), QStringLiteral("<r xmlns:p=\"urn:p\"><p:a/></r>"));
        QCOMPARE(ns.steps(), 0);

        // The path box follows the item selected after the delete, whatever its kind.
        Window t(QStringLiteral("<r><a/>t</r>"));
        t.select(t.item({0, 0}));
        t.prompt->answers.enqueue(Prompt::Answer::Yes);
        t.editor().mnuEditDelete_Click();
        QCOMPARE(t.window.selection().GetSelectedDOMNode().kind(), NodeKind::Text);
        QCOMPARE(t.window.cboPath()->currentText(), QStringLiteral("/r"));
    }

    void moveUpAndDown_data()
    {
        // expected: empty: does not move
        addColumns<QList<int>, bool, QString>({"path", "up", "expected"});
        QTest::newRow("up with its subtree") << QList<int>{1, 2} << true << "<!--k--><r a=\"1\"><b><c><d/></c></b><x/><e/></r>";
        QTest::newRow("first child up") << QList<int>{1, 1} << true << "";
        QTest::newRow("second to last down") << QList<int>{1, 2} << false << "<!--k--><r a=\"1\"><x/><e/><b><c><d/></c></b></r>";
        QTest::newRow("first child down") << QList<int>{1, 1} << false << "<!--k--><r a=\"1\"><b><c><d/></c></b><x/><e/></r>";
        QTest::newRow("last child down") << QList<int>{1, 3} << false << "";
        QTest::newRow("root element") << QList<int>{1} << true << "";
        QTest::newRow("comment at the top") << QList<int>{0} << false << "";
        QTest::newRow("attribute") << QList<int>{1, 0} << false << "";
    }
    void moveUpAndDown()
    {
        QFETCH(QList<int>, path);
        QFETCH(bool, up);
        QFETCH(QString, expected);
        Window w(QStringLiteral("<!--k--><r a=\"1\"><x/><b><c><d/></c></b><e/></r>"));
        const QString before = w.flat();
        w.select(w.item(path));
        w.tvw()->expandRecursively(w.item(path));
        const XmlNode node = w.window.selection().GetSelectedDOMNode();
        const QString key = w.model().keyAt(w.item(path));
        up ? w.editor().mnuNodeMoveUp_Click() : w.editor().mnuNodeMoveDown_Click();
        if (expected.isEmpty()) {
            QCOMPARE(w.flat(), before);
            QCOMPARE(w.steps(), 0);
            return;
        }
        QCOMPARE(w.flat(), expected);
        QCOMPARE(w.steps(), 1);
        // The same node, selected, under a new item that stands collapsed.
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), node);
        QVERIFY(w.model().keyAt(w.selected()) != key);
        QVERIFY(!w.tvw()->isExpanded(w.selected()));
        w.undoRedo(before, expected);
    }

    void rename_data()
    {
        QTest::addColumn<Rename>("row");
        const QList<int> a{0, 0}, x{0, 0, 0};
        const auto row = [](const char *name, const Rename &r) { QTest::newRow(name) << r; };
        row("element", {a, "z", "<r><z x=\"1\" y=\"2\"><b/><c/></z><!--k--><![CDATA[d]]><?pi data?>t</r>", "", 1});
        row("element, same name, still a step", {a, "a", "", "", 1});
        row("element, invalid name", {a, "a b", "", "*", 0});
        row("empty", {a, "", "", "", 0});
        row("attribute keeps its place", {x, "w", "<r><a w=\"1\" y=\"2\"><b/><c/></a><!--k--><![CDATA[d]]><?pi data?>t</r>", "", 1});
        row("attribute, taken name", {x, "y", "", "Already Exists. Cannot change", 0});
        row("attribute, same name", {x, "x", "", "", 0});
        row("attribute, invalid name", {x, "1x", "", "*", 0});
        row("comment", {{0, 1}, "new", "<r><a x=\"1\" y=\"2\"><b/><c/></a><!--new--><![CDATA[d]]><?pi data?>t</r>", "", 1});
        row("comment with --", {{0, 1}, "a--b", "", "*", 0});
        row("CDATA with ]]>", {{0, 2}, "]]>", "", "*", 0});
        row("text", {{0, 4}, "u", "<r><a x=\"1\" y=\"2\"><b/><c/></a><!--k--><![CDATA[d]]><?pi data?>u</r>", "", 1});
        row("processing instruction", {{0, 3}, "q", "", "IXMLDOMProcessingInstruction labeledit is not implemented yet", 0});
    }
    void rename()
    {
        QFETCH(Rename, row);
        const auto &[path, text, expected, message, steps] = row;
        Window w(QStringLiteral("<r><a x=\"1\" y=\"2\"><b/><c/></a><!--k--><![CDATA[d]]><?pi data?>t</r>"));
        const QString before = w.flat();
        w.select(w.item(path));
        const bool applied = w.editor().tvw_AfterLabelEdit(w.selected(), text);
        QCOMPARE(w.flat(), expected.isEmpty() ? before : expected);
        QCOMPARE(w.steps(), steps);
        QCOMPARE(applied, !expected.isEmpty() || text == QStringLiteral("a") || text == QStringLiteral("x"));
        if (message.isEmpty()) {
            QVERIFY(w.prompt->shown.isEmpty());
        } else {
            QCOMPARE(w.prompt->shown.size(), 1);
            if (message != QStringLiteral("*"))
                QCOMPARE(w.prompt->shown.last().text, message);
            else
                QVERIFY(!w.prompt->shown.last().text.isEmpty());
            QCOMPARE(w.prompt->shown.last().icon, message.startsWith(QStringLiteral("IXMLDOM")) ? Prompt::Icon::None : Prompt::Icon::Exclamation);
        }
        if (!expected.isEmpty())
            w.undoRedo(before, expected);
    }

    void renameKeepsTheItemsAndShowsTheNewName()
    {
        Window w(QStringLiteral("<r><a x=\"1\" y=\"2\"><b/><c/></a></r>"));
        const QPersistentModelIndex a = w.item({0, 0});
        const QPersistentModelIndex x = w.item({0, 0, 0});
        w.tvw()->expand(a);
        w.select(a);
        QVERIFY(w.editor().tvw_AfterLabelEdit(a, QStringLiteral("z")));
        QVERIFY(a.isValid() && x.isValid() && w.tvw()->isExpanded(a));
        QCOMPARE(w.window.cboPath()->currentText(), QStringLiteral("/r/z"));
        // The pane holds the new markup, or the next keystroke there would
        // put the old name back.
        QVERIFY(w.window.txtEdit()->text().startsWith(QStringLiteral("<z ")));
        // The attribute's item still edits the renamed element's attribute.
        w.select(x);
        w.window.txtEdit()->setPlainText(QStringLiteral("9"));
        QCOMPARE(w.flat(), QStringLiteral("<r><z x=\"9\" y=\"2\"><b/><c/></z></r>"));
        QVERIFY(w.editor().tvw_AfterLabelEdit(x, QStringLiteral("w")));
        QCOMPARE(w.model().labelAt(x), QStringLiteral("w=\"9\""));
    }

    void whenTheLabelEditorMayOpen_data()
    {
        // opens: element, attribute, comment, document, PI
        addColumns<bool, bool, QString>({"lock", "showText", "opens"});
        QTest::newRow("defaults") << false << true << "11101";
        QTest::newRow("name lock") << true << true << "00101";
        QTest::newRow("labels without text") << false << false << "11001";
    }
    void whenTheLabelEditorMayOpen()
    {
        QFETCH(bool, lock);
        QFETCH(bool, showText);
        Window w(QStringLiteral("<r a=\"1\"><!--c--><?pi x?></r>"));
        w.action("mnuViewLock")->setChecked(lock);
        if (!showText)
            w.action("mnuViewText")->trigger();
        QString opens;
        for (const QList<int> &path : QList<QList<int>>{{0}, {0, 0}, {0, 1}, {}, {0, 2}}) {
            w.select(w.item(path));
            w.action("mnuEditRename")->trigger();
            opens += w.editorOn(w.selected()) ? QLatin1Char('1') : QLatin1Char('0');
            w.tvw()->closePersistentEditor(w.selected());
            w.tvw()->setCurrentIndex(QModelIndex());
        }
        QTEST(opens, "opens");
        // An attribute's editor holds its name alone, all of it selected.
        w.action("mnuViewLock")->setChecked(false);
        w.select(w.item({0, 0}));
        w.action("mnuEditRename")->trigger();
        QCOMPARE(w.editorOn(w.selected())->text(), QStringLiteral("a"));
        QCOMPARE(w.editorOn(w.selected())->selectedText(), QStringLiteral("a"));
        // Nothing opens in a read-only document.
        w.window.flags().m_ReadOnly = true;
        w.select(w.item({0}));
        w.action("mnuEditRename")->trigger();
        QVERIFY(!w.editorOn(w.selected()));
    }

    // A user at the shown window: keys in the tree, the real label editor.
    void keysAndLabelEditorInTheShownWindow()
    {
        Window w(QStringLiteral("<r><a/></r>"));
        QVERIFY(w.showWindow());
        NodeTreeView *tvw = w.tvw();
        tvw->setFocus();
        w.select(w.item({0}));
        // A key in the tree, once the label editor has given the focus back.
        auto key = [&](Qt::Key k, Qt::KeyboardModifiers mods = {}) {
            QTRY_VERIFY(tvw->hasFocus());
            QTest::keyClick(tvw, k, mods);
        };
        auto type = [&](const QString &text, Qt::Key end) {
            QLineEdit *label = w.editorOn(w.selected());
            QVERIFY(label);
            QTRY_VERIFY(label->hasFocus());
            QTest::keyClicks(label, text);
            if (end != Qt::Key_unknown)
                QTest::keyClick(label, end);
        };

        // Ctrl+E adds an element and opens its label editor; Enter names it.
        key(Qt::Key_E, Qt::ControlModifier);
        type(QStringLiteral("item"), Qt::Key_Return);
        QTRY_COMPARE(w.flat(), QStringLiteral("<r><a/><item/></r>"));
        QCOMPARE(w.steps(), 2); // the addition, then the rename
        QVERIFY(w.window.windowTitle().contains(QStringLiteral(" * - ")));
        // A click elsewhere in the tree ends the edit with its text too;
        // Escape leaves the name as it was.
        key(Qt::Key_F2);
        type(QStringLiteral("list"), Qt::Key_unknown);
        QTest::mouseClick(tvw->viewport(), Qt::LeftButton, {}, tvw->visualRect(w.item({0, 0})).center());
        QCOMPARE(w.flat(), QStringLiteral("<r><a/><list/></r>"));
        QCOMPARE(w.selected(), w.item({0, 0}));
        key(Qt::Key_F2);
        type(QStringLiteral("zzz"), Qt::Key_Escape);
        QCOMPARE(w.flat(), QStringLiteral("<r><a/><list/></r>"));

        // The tree's keys reach their commands whatever the menu items'
        // states; the commands check for themselves.
        for (QAction *a : w.window.findChildren<QAction *>())
            if (a->objectName().startsWith(QStringLiteral("mnuNode")) || a->objectName().startsWith(QStringLiteral("mnuEdit")))
                a->setEnabled(false);
        w.select(w.item({0, 1}));
        key(Qt::Key_A, Qt::ControlModifier);
        type(QString(), Qt::Key_Escape);
        w.select(w.item({0, 0}));
        key(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
        type(QString(), Qt::Key_Escape);
        QCOMPARE(w.flat(), QStringLiteral("<r><!--Comment1--><a/><list Attribute1=\"\"/></r>"));
        w.prompt->answers.enqueue(Prompt::Answer::Yes);
        key(Qt::Key_Delete);
        QCOMPARE(w.prompt->shown.last().text, GetResString(6));
        w.prompt->answers.enqueue(Prompt::Answer::No);
        key(Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(w.prompt->shown.size(), 2);
        // A menu shortcut whose item is disabled falls through to the tree.
        key(Qt::Key_T, Qt::ControlModifier);
        type(QString(), Qt::Key_Escape);
        QCOMPARE(w.flat(), QStringLiteral("<r><a>Text1</a><list Attribute1=\"\"/></r>"));
        // Read-only: the same keys change nothing.
        w.window.flags().m_ReadOnly = true;
        w.select(w.item({0, 0}));
        key(Qt::Key_E, Qt::ControlModifier);
        key(Qt::Key_Delete);
        QCOMPARE(w.flat(), QStringLiteral("<r><a>Text1</a><list Attribute1=\"\"/></r>"));
        QCOMPARE(w.prompt->shown.size(), 2);
    }

    void rightClickSelectsAndOpensTheNodeMenu()
    {
        Window w(QStringLiteral("<r><a/><b/></r>"));
        QVERIFY(w.showWindow());
        w.tvw()->expandAll();
        w.select(w.item({0, 0}));
        const QPoint onB = w.tvw()->visualRect(w.item({0, 1})).center();
        QTest::mouseClick(w.tvw()->viewport(), Qt::RightButton, {}, onB);
        QCOMPARE(w.selected(), w.item({0, 1}));
        QCOMPARE(w.commands().navigator().mouseNode(), w.item({0, 1}));
        QMenu *menu = w.action("mnuNode")->menu();
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(w.action("mnuNodeMoveUp")->isEnabled() && !w.action("mnuNodeMoveDown")->isEnabled());
        menu->close();
        // Empty space: nothing changes.
        QTest::mouseClick(w.tvw()->viewport(), Qt::RightButton, {}, QPoint(5, w.tvw()->viewport()->height() - 3));
        QCOMPARE(w.selected(), w.item({0, 1}));
        QCOMPARE(w.commands().navigator().mouseNode(), w.item({0, 1}));
        QVERIFY(!menu->isVisible());
    }

    void expandCollapseAndTextOption()
    {
        Window w(QStringLiteral("<r a=\"1\"><b><c><d/></c></b><!--k--></r>"));
        TreeNavigator &nav = w.commands().navigator();
        w.select(w.item({}));
        // Cancelled in its progress, nothing opens.
        w.prompt->cancelProgressAt = 0;
        nav.mnuNodeExpand_Click();
        QVERIFY(!w.tvw()->isExpanded(w.item({})));
        QVERIFY(w.prompt->lastAsked().startsWith(QStringLiteral("progress ")));
        w.prompt->cancelProgressAt = -1;
        nav.mnuNodeExpand_Click();
        for (const QList<int> &open : QList<QList<int>>{{}, {0}, {0, 1}, {0, 1, 0}})
            QVERIFY(w.tvw()->isExpanded(w.item(open)));
        nav.mnuNodeCollapse_Click();
        for (const QList<int> &open : QList<QList<int>>{{}, {0}, {0, 1}, {0, 1, 0}})
            QVERIFY(!w.tvw()->isExpanded(w.item(open)));

        // Text in the tree: off shows node names; the tree comes back
        // collapsed with nothing selected, the pane as it was.
        const QString pane = w.window.txtEdit()->text();
        w.action("mnuViewText")->trigger();
        QCOMPARE(w.model().labelAt(w.item({0, 2})), QStringLiteral("#comment"));
        QCOMPARE(w.model().labelAt(w.item({0, 0})), QStringLiteral("a"));
        QVERIFY(!w.selected().isValid() && !w.tvw()->isExpanded(w.item({})));
        QCOMPARE(w.window.txtEdit()->text(), pane);
        w.action("mnuViewText")->trigger();
        QCOMPARE(w.model().labelAt(w.item({0, 2})), QStringLiteral("k"));
    }

    // Adding through the tree builder, as paste and drop do.
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

    void treeBuilderAttributes()
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
        // Given when first asked for, from one counter, and kept.
        const int first = key(a);
        QVERIFY(key(b) > first && key(a) == first);
        const int next = TreeBuilder::NewNodeKey().mid(4).toInt();
        QVERIFY(next > key(b));
        a.window.treeBuilder().Rebuild(&a.doc(), true);
        QCOMPARE(key(a), next + 1);
    }
};

QTEST_MAIN(TestStructure)
#include "tst_structure.moc"
