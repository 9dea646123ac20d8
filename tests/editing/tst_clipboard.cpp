#include "TestWindow.h"
#include "document/Selection.h"
#include "editing/NodeClipboard.h"
#include "shell/ClipboardSearchCommands.h"
#include "undo/UndoController.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>
#include <QTreeView>

// Cut, copy and paste of nodes through the system clipboard.
class TestClipboard : public QObject
{
    Q_OBJECT

    struct Window : TestWindow
    {
        explicit Window(const QString &xml) : TestWindow(xml) { window.undo().ResetUndo(); }
        NodeClipboard &clipboard() { return window.clipboardSearch().clipboard(); }
        void select(const QModelIndex &i) { window.selection().ShowNode(i, true); }
        QModelIndex at(const QList<int> &rows)
        {
            QModelIndex i = model().documentIndex();
            for (int r : rows)
                i = model().index(r, 0, i);
            return i;
        }
        QString flat() { return markup().remove(QRegularExpression(QStringLiteral("\\n *"))); }
        int steps() { return window.undo().history() ? window.undo().history()->undoCount() : 0; }
    };

    static void setClipboard(const QString &text) { QGuiApplication::clipboard()->setText(text); }
    static QString clipboardText() { return QGuiApplication::clipboard()->text(); }

private slots:
    void pasteText_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QList<int>>("target");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // empty: nothing changes
        QTest::addColumn<bool>("refused");     // an exclamation box says why

        const QString r = QStringLiteral("<r><a/></r>");
        const QList<int> root{0};
        QTest::newRow("markup is an element, appended last")
            << r << root << "  <b x=\"1\"><c/></b> " << "<r><a/><b x=\"1\"><c/></b></r>" << false;
        QTest::newRow("comment") << r << root << "<!--hi-->" << "<r><a/><!--hi--></r>" << false;
        QTest::newRow("empty comment") << r << root << "<!---->" << "<r><a/><!----></r>" << false;
        QTest::newRow("line break after a comment: text")
            << r << root << "<!--hi-->\n" << "<r><a/>&lt;!--hi--&gt;</r>" << false;
        QTest::newRow("attribute") << r << root << "k=\"v w\"" << "<r k=\"v w\"><a/></r>" << false;
        QTest::newRow("attribute of the same name gets the value")
            << "<r k=\"0\"/>" << root << "k=\"1\"" << "<r k=\"1\"/>" << false;
        QTest::newRow("same value changes nothing") << "<r k=\"1\"/>" << root << "k=\"1\"" << "" << false;
        QTest::newRow("=\" without a closing quote: text") << r << root << "k=\"v" << "<r><a/>k=\"v</r>" << false;
        QTest::newRow("processing instruction: nothing") << r << root << "<?pi x?>" << "" << false;
        QTest::newRow("CDATA") << r << root << "<![CDATA[a<b]]>" << "<r><a/><![CDATA[a<b]]></r>" << false;
        QTest::newRow("anything else: text") << r << root << "a < b" << "<r><a/>a &lt; b</r>" << false;
        QTest::newRow("document takes a comment") << r << QList<int>{} << "<!--c-->" << "<r><a/></r><!--c-->" << false;
        QTest::newRow("document refuses text") << r << QList<int>{} << "t" << "" << false;
        QTest::newRow("text node takes nothing") << "<r>t</r>" << QList<int>{0, 0} << "<x/>" << "" << false;
        QTest::newRow("attribute without a name") << r << root << "=\"v\"" << "" << true;
        QTest::newRow("attribute name with a space") << r << root << "a b=\"v\"" << "" << true;
    }
    void pasteText()
    {
        QFETCH(QString, xml);
        QFETCH(QList<int>, target);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QFETCH(bool, refused);
        Window w(xml);
        const QString before = w.flat();
        setClipboard(text);
        w.window.setStatusText(QString());
        const QModelIndex item = w.window.PasteNode(w.at(target));
        if (expected.isEmpty()) {
            // Nothing inserted: no step, no modified mark, and a reason given.
            QCOMPARE(w.flat(), before);
            QCOMPARE(w.steps(), 0);
            QVERIFY(!w.window.flags().m_Dirty);
            QVERIFY(refused || !w.window.statusText().isEmpty());
        } else {
            QCOMPARE(w.flat(), expected);
            QCOMPARE(w.steps(), 1);
            if (item.isValid())
                QCOMPARE(w.window.selection().selectedItem(), item);
            w.window.undo().DoUndo();
            QCOMPARE(w.flat(), before);
        }
        QCOMPARE(!w.prompt->shown.isEmpty() && w.prompt->shown.last().icon == Prompt::Icon::Exclamation, refused);
    }

    void copyCutAndPaste()
    {
        Window w(QStringLiteral("<r><a k=\"v\"><b/></a><c/></r>"));
        const QString original = w.flat();
        // An element goes out with its subtree; pasted, it is a deep copy.
        w.select(w.item({0, 0}));
        w.window.menuItem(QStringLiteral("mnuEditCopy"))->trigger();
        QCOMPARE(clipboardText(), QStringLiteral("<a k=\"v\">\n  <b/>\n</a>"));
        w.select(w.item({0, 1}));
        w.window.button(QStringLiteral("paste"))->trigger();
        QCOMPARE(w.flat(), QStringLiteral("<r><a k=\"v\"><b/></a><c><a k=\"v\"><b/></a></c></r>"));
        QCOMPARE(w.window.selection().selectedItem(), w.item({0, 1, 0}));
        w.window.undo().DoUndo();
        QCOMPARE(w.flat(), original);

        // Cut of an attribute: name="value" out, the attribute gone.
        w.select(w.item({0, 0, 0}));
        w.window.button(QStringLiteral("cut"))->trigger();
        QCOMPARE(clipboardText(), QStringLiteral("k=\"v\""));
        QCOMPARE(w.flat(), QStringLiteral("<r><a><b/></a><c/></r>"));
        w.select(w.item({0, 1}));
        w.window.menuItem(QStringLiteral("mnuEditPaste"))->trigger();
        QCOMPARE(w.flat(), QStringLiteral("<r><a><b/></a><c k=\"v\"/></r>"));

        // Cut on the document item copies the whole document and deletes nothing.
        w.select(w.model().documentIndex());
        const int steps = w.steps();
        w.clipboard().mnuEditCut_Click();
        QCOMPARE(clipboardText(), w.markup());
        QCOMPARE(w.steps(), steps);
    }

    void readOnlyAndMenuStates()
    {
        Window w(QStringLiteral("<r><a/></r>"));
        w.window.flags().m_ReadOnly = true;
        setClipboard(QString());
        w.select(w.item({0}));
        QVERIFY(!w.enabled("paste"));
        // Copy still works and offers the paste button; Paste does nothing.
        w.window.menuItem(QStringLiteral("mnuEditCopy"))->trigger();
        QVERIFY(w.enabled("paste"));
        w.window.button(QStringLiteral("paste"))->trigger();
        w.window.button(QStringLiteral("cut"))->trigger();
        QCOMPARE(w.flat(), QStringLiteral("<r><a/></r>"));
        QCOMPARE(w.steps(), 0);
        // The Edit menu sets its states as it opens.
        QMenu *edit = w.window.menuItem(QStringLiteral("mnuEdit"))->menu();
        auto states = [&] {
            emit edit->aboutToShow();
            QStringList on;
            for (const char *name : {"mnuEditCut", "mnuEditCopy", "mnuEditPaste", "mnuEditFind"})
                if (w.window.menuItem(QString::fromLatin1(name))->isEnabled())
                    on << QString::fromLatin1(name);
            return on.join(QLatin1Char(' '));
        };
        QCOMPARE(states(), QStringLiteral("mnuEditCopy mnuEditFind"));
        w.window.flags().m_ReadOnly = false;
        QCOMPARE(states(), QStringLiteral("mnuEditCut mnuEditCopy mnuEditPaste mnuEditFind"));
        w.select(w.model().documentIndex());
        QCOMPARE(states(), QStringLiteral("mnuEditFind"));
    }

    // A user at the shown window: Ctrl+C and Ctrl+V in the tree, the Edit
    // menu never opened.
    void keysInTheShownWindow()
    {
        Window w(QStringLiteral("<r><a/><b/></r>"));
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QTreeView *tvw = w.window.tvw();
        tvw->setFocus();
        w.select(w.item({0, 0}));
        QTest::keyClick(tvw, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboardText(), QStringLiteral("<a/>"));
        w.select(w.item({0, 1}));
        QTest::keyClick(tvw, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.flat(), QStringLiteral("<r><a/><b><a/></b></r>"));
        QTest::keyClick(tvw, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(w.flat(), QStringLiteral("<r><a/><b/></r>"));
        QCOMPARE(w.steps(), 2);
    }
};

QTEST_MAIN(TestClipboard)
#include "tst_clipboard.moc"
