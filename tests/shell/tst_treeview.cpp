#include "TestTables.h"
#include "TestWindow.h"
#include "document/NodeTreeView.h"

#include <QAccessible>
#include <QRandomGenerator>

// The tree view's rows under a seeded run of everything that changes them:
// opening and closing items, opening subtrees whole, inserting, deleting,
// moving, renaming and pasting nodes, undo and redo. After every step the
// rows shown must be what a fresh walk of the document gives.
class TestTreeView : public QObject
{
    Q_OBJECT

    struct Expected
    {
        QString label;
        int depth;
        XmlNode node;
    };

    // The rows a view showing the document with the same items open has.
    static void walk(TestWindow &w, const XmlNode &node, int depth, QList<Expected> &out)
    {
        out.append({nodeLabel(node, w.model().showText()), depth, node});
        if (!w.window.tvw()->isExpanded(w.model().indexForNode(node)))
            return;
        for (XmlNode a = node.firstAttribute(); a; a = a.nextSibling())
            walk(w, a, depth + 1, out);
        for (XmlNode c = node.firstChild(); c; c = c.nextSibling())
            walk(w, c, depth + 1, out);
    }

    static QString compare(TestWindow &w)
    {
        QList<Expected> expected;
        walk(w, w.doc().documentNode(), 0, expected);
        NodeTreeView *tvw = w.window.tvw();
        if (tvw->shownCount() != expected.size())
            return QStringLiteral("%1 rows shown, %2 expected").arg(tvw->shownCount()).arg(expected.size());
        for (int row = 0; row < expected.size(); ++row) {
            const QModelIndex shown = tvw->shownIndex(row);
            const Expected &e = expected.at(row);
            if (shown != w.model().indexForNode(e.node) || tvw->shownDepth(row) != e.depth
                || shown.data().toString() != e.label)
                return QStringLiteral("row %1: %2 at %3, expected %4 at %5")
                    .arg(row).arg(shown.data().toString()).arg(tvw->shownDepth(row)).arg(e.label).arg(e.depth);
            // The view finds each row where it shows it.
            if (row > 0 && tvw->indexBelow(tvw->shownIndex(row - 1)) != shown)
                return QStringLiteral("row %1 not found below the one before").arg(row);
        }
        return QString();
    }

private slots:
    // Assistive tools see each row with its label, under its parent's row,
    // open or closed.
    void rowsAreAccessibleTreeItems()
    {
        TestWindow w(QStringLiteral("<r a=\"1\"><c/></r>"));
        NodeTreeView *tvw = w.window.tvw();
        const QModelIndex root = w.model().indexForNode(w.doc().documentElement());
        tvw->expand(w.model().documentIndex());
        tvw->expand(root);
        QAccessibleInterface *tree = QAccessible::queryAccessibleInterface(tvw);
        QVERIFY(tree);
        QCOMPARE(tree->role(), QAccessible::Tree);
        QAccessibleInterface *top = tree->child(0);
        QVERIFY(top);
        QCOMPARE(top->text(QAccessible::Name), QStringLiteral("#document"));
        QAccessibleInterface *r = top->child(root.row());
        QVERIFY(r);
        QCOMPARE(r->text(QAccessible::Name), QStringLiteral("r"));
        QCOMPARE(r->role(), QAccessible::TreeItem);
        QVERIFY(r->state().expanded);
        QCOMPARE(r->childCount(), 2);
        QCOMPARE(r->child(0)->text(QAccessible::Name), QStringLiteral("a=\"1\""));
        QCOMPARE(r->child(0)->parent(), r);
        QCOMPARE(r->parent(), top);
        QCOMPARE(top->parent(), tree);
        tvw->collapse(root);
        QVERIFY(r->state().collapsed && !r->state().expanded);
        QCOMPARE(r->childCount(), 0);
    }

    void randomSteps_data()
    {
        addColumns<quint32>({"seed"});
        for (quint32 seed : {1u, 7u, 36u, 2026u})
            QTest::addRow("seed %u", seed) << seed;
    }

    void randomSteps()
    {
        QFETCH(quint32, seed);
        QString xml = QStringLiteral("<r a=\"1\">");
        for (int i = 0; i < 40; ++i)
            xml += QStringLiteral("<e%1 k=\"%1\"><c>t%1</c><d/>x<!--m--></e%1>").arg(i % 7);
        TestWindow w(xml + QStringLiteral("</r>"));
        NodeTreeView *tvw = w.window.tvw();
        QRandomGenerator random(seed);
        QStringList steps;
        for (int step = 0; step < 400; ++step) {
            const int at = int(random.bounded(tvw->shownCount()));
            const QModelIndex item = tvw->shownIndex(at);
            const XmlNode node = w.model().nodeAt(item);
            const XmlNode parent = node.isAttribute() ? node.ownerElement() : node.parentNode();
            const bool inner = parent && !parent.isDocument();
            const int what = int(random.bounded(11));
            steps << QStringLiteral("%1@%2").arg(what).arg(at);
            w.select(item);
            switch (what) {
            case 0: tvw->expand(item); break;
            case 1:
                if (random.bounded(4) == 0)
                    w.window.menuItem(QStringLiteral("mnuNodeCollapse"))->trigger();
                else
                    tvw->collapse(item);
                break;
            case 2: w.window.menuItem(QStringLiteral("mnuNodeExpand"))->trigger(); break;
            case 3:
                if (inner && !node.isAttribute()) {
                    w.doc().insertBefore(parent, w.doc().createElement(QStringLiteral("n")), node);
                    w.window.DocumentModified();
                }
                break;
            case 4:
                if (inner) {
                    w.doc().removeNode(node);
                    w.window.DocumentModified();
                }
                break;
            case 5:
            case 6:
                if (inner && !node.isAttribute())
                    w.window.menuItem(QString::fromLatin1(what == 5 ? "mnuNodeMoveUp" : "mnuNodeMoveDown"))->trigger();
                break;
            case 7:
                if (node.isElement() && inner) {
                    w.doc().rename(node, QStringLiteral("m%1").arg(step));
                    w.window.DocumentModified();
                }
                break;
            case 8:
                if (inner && !node.isAttribute()) {
                    w.doc().insertBefore(parent, w.doc().cloneNode(node), node.nextSibling());
                    w.window.DocumentModified();
                }
                break;
            case 9: w.window.menuItem(QStringLiteral("mnuEditUndo"))->trigger(); break;
            default: w.window.menuItem(QStringLiteral("mnuEditRedo"))->trigger(); break;
            }
            const QString fault = compare(w);
            if (!fault.isEmpty())
                QFAIL(qPrintable(fault + QStringLiteral(" after ") + steps.mid(steps.size() - 8).join(u' ')));
        }
    }
};

QTEST_MAIN(TestTreeView)
#include "tst_treeview.moc"
