#include "TestWindow.h"
#include "document/DocumentLifecycle.h"
#include "document/DocumentTreeModel.h"
#include "document/Selection.h"
#include "document/XmlDocument.h"
#include "shell/frmMain.h"
#include "undo/UndoController.h"
#include "undo/clsUndoRedo.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

// The history: its stacks, and undo and redo of journalled changes checked
// against the serialised document at every step.
class TestUndo : public QObject
{
    Q_OBJECT

    struct Window : TestWindow
    {
        bool enabled(const char *key) { return window.button(QString::fromLatin1(key))->isEnabled(); }
        void change(int i)
        {
            doc().setAttribute(doc().documentElement(), QStringLiteral("n"), QString::number(i));
            window.DocumentModified();
        }
    };

    QTemporaryDir m_dir;

    QString file(const QByteArray &bytes)
    {
        static int n = 0;
        const QString path = m_dir.filePath(QStringLiteral("f%1.xml").arg(++n));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write");
        f.write(bytes);
        return path;
    }

private slots:
    void historyStacks()
    {
        clsUndoRedo h;
        auto step = [] { return std::make_shared<clsUndoInfo>(); };
        QVector<clsUndoRedo::Step> steps;
        for (int i = 0; i < 12; ++i) {
            steps << step();
            h.Action(steps.last());
        }
        // Eleven steps after the first: ten can be undone, not the first.
        QCOMPARE(h.undoCount(), 10);
        for (int i = 10; i >= 1; --i)
            QCOMPARE(h.Undo(), steps[i]);
        QVERIFY(!h.CanUndo());
        QVERIFY(!h.Undo());
        QCOMPARE(h.current(), steps[1]);
        QCOMPARE(h.Redo(), steps[2]);
        // A new change ends redoing.
        h.Action(step());
        QVERIFY(!h.CanRedo());
        QVERIFY(!h.Redo());
        h.Clear();
        QVERIFY(!h.CanUndo() && !h.CanRedo());
    }

    void undoAndRedoRestoreEveryState()
    {
        Window w;
        QVERIFY(w.window.OpenFile(file("<r a=\"1\"><x>t</x><y/></r>")));
        QStringList states{w.markup()};
        XmlDocument &d = w.doc();
        const XmlNode r = d.documentElement();

        // A mix of every kind of change, one step each.
        d.setText(r.firstChild().firstChild(), QStringLiteral("text"));
        w.window.DocumentModified();
        states << w.markup();
        d.rename(r.firstChild(), QStringLiteral("x2"));
        w.window.DocumentModified();
        states << w.markup();
        d.removeNode(r.attributeNode(QStringLiteral("a")));
        d.setAttribute(r, QStringLiteral("b"), QStringLiteral("2"));
        w.window.DocumentModified();
        states << w.markup();
        d.appendChild(r, r.firstChild()); // a move
        d.insertBefore(r, d.createComment(QStringLiteral("c")), r.firstChild());
        w.window.DocumentModified();
        states << w.markup();
        d.removeNode(r.lastChild());
        w.window.DocumentModified();
        states << w.markup();
        QVERIFY(w.enabled("undo"));

        for (int i = states.size() - 2; i >= 0; --i) {
            w.window.undo().DoUndo();
            QCOMPARE(w.markup(), states[i]);
        }
        QVERIFY(!w.enabled("undo"));
        QVERIFY(w.enabled("redo"));
        for (int i = 1; i < states.size(); ++i) {
            w.window.undo().DoRedo();
            QCOMPARE(w.markup(), states[i]);
        }
        QVERIFY(!w.enabled("redo"));
        // Undo and redo do not touch the modified mark.
        QVERIFY(w.window.flags().m_Dirty);
    }

    void eleventhChangePushesTheLoadedStateOut()
    {
        Window w;
        QVERIFY(w.window.OpenFile(file("<r/>")));
        const QString loaded = w.markup();
        for (int i = 1; i <= 11; ++i)
            w.change(i);
        for (int i = 0; i < 10; ++i)
            w.window.undo().DoUndo();
        QCOMPARE(w.doc().documentElement().attributeNode(QStringLiteral("n")).text(), QStringLiteral("1"));
        w.window.undo().DoUndo(); // nothing left: nothing changes
        QVERIFY(w.markup() != loaded);
        QVERIFY(!w.enabled("undo"));
        QVERIFY(w.enabled("redo"));
    }

    void newChangeAfterUndoEndsRedo()
    {
        Window w;
        QVERIFY(w.window.OpenFile(file("<r/>")));
        w.change(1);
        w.change(2);
        w.window.undo().DoUndo();
        w.window.undo().DoUndo();
        w.change(3);
        QVERIFY(!w.window.undo().CanRedo());
        // The button keeps its state until pressed once.
        QVERIFY(w.enabled("redo"));
        const QString now = w.markup();
        w.window.undo().DoRedo();
        QCOMPARE(w.markup(), now);
        QVERIFY(!w.enabled("redo"));
    }

    void expandedItemsAndSelectionAreRestored()
    {
        Window w;
        QVERIFY(w.window.OpenFile(file("<r><a><b/></a><c/></r>")));
        DocumentTreeModel &m = w.window.model();
        QTreeView *tvw = w.window.tvw();
        const XmlNode a = w.doc().documentElement().firstChild();
        tvw->expand(m.indexForNode(a));
        w.window.selection().ShowNode(m.indexForNode(a.firstChild()), true);
        w.change(1);
        tvw->collapse(m.indexForNode(a));
        w.window.selection().ShowNode(m.indexForNode(a.nextSibling()), true);
        w.change(2);

        w.window.undo().DoUndo();
        QVERIFY(tvw->isExpanded(m.indexForNode(a)));
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), a.firstChild());
        w.window.undo().DoRedo();
        QVERIFY(!tvw->isExpanded(m.indexForNode(a)));
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), a.nextSibling());
    }

    void undoAllReturnsToTheFileAsOpened()
    {
        const QString path = file("<r v=\"opened\"/>");
        Window w;
        QVERIFY(!w.window.undo().canUndoAll()); // never opened a file
        QVERIFY(w.window.OpenFile(path));
        w.window.UpdateStatus(path);
        QVERIFY(!w.window.undo().canUndoAll()); // not modified
        w.doc().setAttribute(w.doc().documentElement(), QStringLiteral("v"), QStringLiteral("saved"));
        w.window.DocumentModified();
        QVERIFY(w.window.SaveFile(path));
        w.change(1);
        QVERIFY(w.window.menuItem(QStringLiteral("mnuEditUndoAll")));

        w.prompt->answers.enqueue(Prompt::Answer::No);
        w.window.undo().UndoAll();
        QCOMPARE(w.prompt->shown.last().text, QStringLiteral("変更は全て失われます。よろしいですか？"));
        QVERIFY(w.prompt->shown.last().defaultNo);
        QVERIFY(w.markup().contains(QStringLiteral("saved")));

        w.prompt->answers.enqueue(Prompt::Answer::Yes);
        w.window.undo().UndoAll();
        QCOMPARE(w.markup(), QStringLiteral("<r v=\"opened\"/>"));
        QVERIFY(w.window.flags().m_Dirty);
        QCOMPARE(w.window.flags().m_FileName, path);
        QCOMPARE(w.window.windowTitle(), QFileInfo(path).fileName() + QStringLiteral(" * - Ostrel XML Editor"));
    }

    void aLoadStartsANewHistory()
    {
        Window w;
        QVERIFY(w.window.OpenFile(file("<r/>")));
        w.change(1);
        QVERIFY(w.window.OpenFile(file("<s/>")));
        QVERIFY(!w.window.undo().CanUndo());
        QVERIFY(!w.enabled("undo") && !w.enabled("redo"));
        w.window.undo().DoUndo();
        QCOMPARE(w.markup(), QStringLiteral("<s/>"));
    }
};

QTEST_MAIN(TestUndo)
#include "tst_undo.moc"
