#include "TestWindow.h"
#include "document/Selection.h"
#include "document/ValuePane.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QTest>
#include <QTreeView>

// Showing a node: path box, value pane and its lock, clipboard buttons.
class TestSelection : public QObject
{
    Q_OBJECT

    struct Window : TestWindow
    {
        Window() : TestWindow(QStringLiteral("<?xml version=\"1.0\"?><r id=\"a\nb\"><c>x</c><?pi data?></r>")) {}
        void show(std::initializer_list<int> rows) { window.selection().ShowNode(item(rows), true); }
        QString path() { return window.cboPath()->currentText(); }
        QString pane() { return window.txtEdit()->text(); }
        bool locked() { return window.txtEdit()->isLocked(); }
        void setLock(bool on) { window.findChild<QAction *>(QStringLiteral("mnuViewLock"))->setChecked(on); }
    };

private slots:
    void init() { QApplication::clipboard()->setText(QStringLiteral("<x/>")); }

    void documentAndElementsWithTheNameLock()
    {
        Window w;
        w.show({});
        QCOMPARE(w.path(), QStringLiteral("/"));
        QCOMPARE(w.pane(), w.markup().replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
        QVERIFY(!w.locked());
        QVERIFY(!w.enabled("copy") && !w.enabled("cut") && !w.enabled("delete") && w.enabled("paste"));
        QCOMPARE(w.window.tvw()->currentIndex(), w.item({}));

        w.show({1, 1});
        QCOMPARE(w.path(), QStringLiteral("/r/c"));
        QCOMPARE(w.pane(), QStringLiteral("<c>x</c>"));
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
        QVERIFY(w.doc().setText(w.model().nodeAt(w.item({1, 0})), QStringLiteral("1\n2")));
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

    void pasteNeedsClipboardTextAndReadOnlyLocks()
    {
        Window w;
        QApplication::clipboard()->clear();
        w.show({});
        QVERIFY(!w.enabled("paste"));
        w.show({1});
        QVERIFY(!w.enabled("paste"));
        QApplication::clipboard()->setText(QStringLiteral("<x/>"));
        w.window.flags().m_ReadOnly = true;
        for (auto rows : {std::initializer_list<int>{1}, {1, 0}, {1, 1, 0}}) {
            w.show(rows);
            QVERIFY(!w.enabled("paste") && !w.enabled("cut") && !w.enabled("delete"));
            QVERIFY(w.enabled("copy") && w.locked());
        }
    }

    void largeMarkupIsShownInPartAndLocked()
    {
        Window w;
        w.window.LoadXML(QStringLiteral("<r>") + QStringLiteral("<i>%1</i>").arg(QString(600, QLatin1Char('t'))).repeated(2000)
                         + QStringLiteral("</r>"));
        const QString full = w.doc().xml(w.doc().documentElement());
        QVERIFY(full.size() > Selection::kPaneMarkupLimit);
        w.show({0});
        const QString shown = w.window.txtEdit()->toPlainText();
        QVERIFY(shown.size() <= Selection::kPaneMarkupLimit && shown.size() > Selection::kPaneMarkupLimit / 2);
        QVERIFY(full.startsWith(shown + QLatin1Char('\n')));
        QVERIFY(w.locked());
        QCOMPARE(w.window.statusText(), Selection::truncatedNotice());
        // A small node shows whole and clears the notice.
        w.show({0, 0});
        QVERIFY(!w.locked());
        QVERIFY(w.window.statusText().isEmpty());

        // Mixed content is written as it would be in full: a cut never
        // changes how the part before it is laid out.
        const auto mixed = XmlDocument::parse(QStringLiteral("<r>") + QStringLiteral("t<i><j/></i>").repeated(200000) + "</r>");
        bool truncated = false;
        const QString part = mixed->xml(mixed->documentNode(), 100000, &truncated);
        QVERIFY(truncated && mixed->xml(mixed->documentNode()).startsWith(part));
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
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), w.doc().documentElement());
        QVERIFY(w.window.selection().GetDOMNode(QModelIndex()).isNull());
    }
};

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
