#include "ScriptedPrompt.h"
#include "document/DocumentTreeModel.h"
#include "document/Selection.h"
#include "document/TreeBuilder.h"
#include "document/ValuePane.h"
#include "document/XmlDocument.h"
#include "shell/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QTest>
#include <QTreeView>

// Showing a node: path box, value pane and its lock, clipboard buttons.
class TestSelection : public QObject
{
    Q_OBJECT

    struct Window
    {
        ScriptedPrompt *prompt = new ScriptedPrompt;
        frmMain window{std::unique_ptr<Prompt>(prompt)};

        Window()
        {
            if (!window.document().loadXML(QStringLiteral(
                    "<?xml version=\"1.0\"?><r id=\"a\nb\"><c>x</c><?pi data?></r>")))
                qFatal("fixture does not parse");
            window.treeBuilder().Rebuild(&window.document(), true);
        }
        DocumentTreeModel &model() { return window.model(); }
        QModelIndex item(std::initializer_list<int> rows)
        {
            QModelIndex i = model().documentIndex();
            for (int r : rows)
                i = model().index(r, 0, i);
            return i;
        }
        void show(std::initializer_list<int> rows) { window.selection().ShowNode(item(rows), true); }
        QString path() { return window.cboPath()->currentText(); }
        QString pane() { return window.txtEdit()->text(); }
        bool locked() { return window.txtEdit()->isLocked(); }
        bool enabled(const char *key) { return window.button(QString::fromLatin1(key))->isEnabled(); }
        void setLock(bool on) { window.findChild<QAction *>(QStringLiteral("mnuViewLock"))->setChecked(on); }
    };

private slots:
    void init() { QApplication::clipboard()->setText(QStringLiteral("<x/>")); }

    void lfToCrLf()
    {
        QCOMPARE(Selection::LfToCrLf(QStringLiteral("a\nb\n\nc")), QStringLiteral("a\r\nb\r\n\r\nc"));
        QCOMPARE(Selection::LfToCrLf(QString()), QString());
    }

    void documentNode()
    {
        Window w;
        w.show({});
        QCOMPARE(w.path(), QStringLiteral("/"));
        QCOMPARE(w.pane(), Selection::LfToCrLf(w.window.document().xml(w.window.document().documentNode())));
        QVERIFY(!w.locked());
        QVERIFY(!w.enabled("copy") && !w.enabled("cut") && !w.enabled("delete"));
        QVERIFY(w.enabled("paste"));
        QCOMPARE(w.window.tvw()->currentIndex(), w.item({}));
    }

    void elementsAndTheNameLock()
    {
        Window w;
        w.show({1, 1});
        QCOMPARE(w.path(), QStringLiteral("/r/c"));
        QCOMPARE(w.pane(), QStringLiteral("<c>x</c>"));
        QVERIFY(!w.locked());
        QVERIFY(w.enabled("copy") && w.enabled("cut") && w.enabled("delete") && w.enabled("paste"));
        w.setLock(true);
        w.show({1});
        QCOMPARE(w.path(), QStringLiteral("/r"));
        QVERIFY(w.locked());
    }

    void attributeKeepsThePathAndShowsCrLf()
    {
        Window w;
        w.setLock(true);
        w.show({1});
        w.show({1, 0});
        QCOMPARE(w.path(), QStringLiteral("/r"));
        // The parser normalises the newline in the value to a blank.
        QCOMPARE(w.pane(), QStringLiteral("a b"));
        QVERIFY(!w.locked()); // the name lock does not lock values
        QVERIFY(!w.enabled("paste"));
        QVERIFY(w.window.document().setText(w.model().nodeAt(w.item({1, 0})), QStringLiteral("1\n2")));
        w.show({1, 0});
        QCOMPARE(w.pane(), QStringLiteral("1\r\n2"));
    }

    void processingInstructionsAreAlwaysLocked()
    {
        Window w;
        w.show({1, 2});
        QCOMPARE(w.path(), QStringLiteral("/"));
        QCOMPARE(w.pane(), QStringLiteral("data"));
        QVERIFY(w.locked());
        w.show({0}); // the declaration
        QCOMPARE(w.pane(), QStringLiteral("version=\"1.0\""));
        QVERIFY(w.locked());
    }

    void pasteNeedsClipboardText()
    {
        Window w;
        QApplication::clipboard()->clear();
        for (auto rows : {std::initializer_list<int>{}, {1}, {1, 0}, {1, 1, 0}}) {
            w.show(rows);
            QVERIFY(!w.enabled("paste"));
        }
    }

    void readOnlyDisablesChangingButtons()
    {
        Window w;
        w.window.flags().m_ReadOnly = true;
        for (auto rows : {std::initializer_list<int>{1}, {1, 0}, {1, 1, 0}}) {
            w.show(rows);
            QVERIFY(!w.enabled("paste") && !w.enabled("cut") && !w.enabled("delete"));
            QVERIFY(w.enabled("copy"));
            QVERIFY(w.locked());
        }
    }

    void largeMarkupIsShownInPartAndLocked()
    {
        QString xml = QStringLiteral("<r>");
        for (int i = 0; i < 40000; ++i)
            xml += QStringLiteral("<item n=\"%1\">text of the item</item>").arg(i);
        xml += QStringLiteral("</r>");
        Window w;
        QVERIFY(w.window.document().loadXML(xml));
        w.window.treeBuilder().Rebuild(&w.window.document(), true);
        const QString full = w.window.document().xml(w.window.document().documentElement());
        QVERIFY(full.size() > Selection::kPaneMarkupLimit);
        w.show({0});
        const QString shown = w.window.txtEdit()->toPlainText();
        QVERIFY(shown.size() <= Selection::kPaneMarkupLimit);
        QVERIFY(shown.size() > Selection::kPaneMarkupLimit / 2);
        QVERIFY(full.startsWith(shown + QLatin1Char('\n')));
        QVERIFY(w.locked());
        QCOMPARE(w.window.statusText(), Selection::truncatedNotice());
        // Mixed content is written as it would be in full: a cut never
        // changes how the part before it is laid out.
        XmlDocument mixed;
        QVERIFY(mixed.loadXML(QStringLiteral("<r>") + QStringLiteral("t<i><j/></i>").repeated(200000)
                              + QStringLiteral("</r>")));
        bool truncated = false;
        const QString part = mixed.xml(mixed.documentNode(), 100000, &truncated);
        QVERIFY(truncated);
        QVERIFY(mixed.xml(mixed.documentNode()).startsWith(part));

        // A small node shows whole and clears the notice.
        w.show({0, 0});
        QVERIFY(!w.locked());
        QVERIFY(w.window.statusText().isEmpty());
    }

    void showWithoutSelectingLeavesTheSelection()
    {
        Window w;
        w.show({1});
        w.window.setStatusText(QStringLiteral("検索中"));
        w.window.selection().ShowNode(w.item({1, 1}), false);
        QCOMPARE(w.window.tvw()->currentIndex(), w.item({1}));
        QCOMPARE(w.pane(), QStringLiteral("<c>x</c>"));
        QVERIFY(w.window.statusText().isEmpty());
    }

    void keyboardMovesRaiseNodeClickButProgrammaticSelectionDoesNot()
    {
        Window w;
        w.show({1});
        w.window.tvw()->setCurrentIndex(w.item({1, 1})); // as the arrow keys do
        QCOMPARE(w.pane(), QStringLiteral("<c>x</c>"));
        w.window.selection().setSelectedItem(w.item({1}));
        QCOMPARE(w.pane(), QStringLiteral("<c>x</c>"));
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), w.window.document().documentElement());
        QVERIFY(w.window.selection().GetDOMNode(QModelIndex()).isNull());
    }
};

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
