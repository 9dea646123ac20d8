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
        void show(const QList<int> &rows) { select(item(rows)); }
        QString path() { return window.cboPath()->currentText(); }
        QString pane() { return window.txtEdit()->text(); }
        bool locked() { return window.txtEdit()->isLocked(); }
        void setLock(bool on) { window.findChild<QAction *>(QStringLiteral("mnuViewLock"))->setChecked(on); }
    };

private slots:
    void init() { QApplication::clipboard()->setText(QStringLiteral("<x/>")); }

    // What the path box, the pane and the buttons show for a node, after the
    // element c was shown.
    void showingANode_data()
    {
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QString>("options"); // l: name lock, r: read-only, e: empty clipboard
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("pane"); // *: the node's markup, with CRLF
        QTest::addColumn<QString>("shown"); // locked, then copy, cut, delete and paste enabled
        using Rows = QList<int>;
        QTest::newRow("document") << Rows{} << "" << "/" << "*" << "00001";
        QTest::newRow("element") << Rows{1, 1} << "" << "/r/c" << "*" << "01111";
        QTest::newRow("element, name lock") << Rows{1} << "l" << "/r" << "*" << "11111";
        // The parser normalises the newline in the value to a blank; the
        // name lock does not lock values, and the path stays.
        QTest::newRow("attribute, name lock") << Rows{1, 0} << "l" << "/r/c" << "a b" << "01110";
        QTest::newRow("processing instruction") << Rows{1, 2} << "" << "/" << "data" << "11110";
        QTest::newRow("declaration") << Rows{0} << "" << "/" << "version=\"1.0\"" << "11110";
        QTest::newRow("element, empty clipboard") << Rows{1} << "e" << "/r" << "*" << "01110";
        QTest::newRow("element, read-only") << Rows{1} << "r" << "/r" << "*" << "11000";
        QTest::newRow("text, read-only") << Rows{1, 1, 0} << "r" << "/r/c" << "x" << "11000";
    }
    void showingANode()
    {
        QFETCH(QList<int>, rows);
        QFETCH(QString, options);
        QFETCH(QString, pane);
        Window w;
        w.show({1, 1});
        w.setLock(options.contains(u'l'));
        w.window.flags().m_ReadOnly = options.contains(u'r');
        if (options.contains(u'e'))
            QApplication::clipboard()->clear();
        const QModelIndex item = w.item(rows);
        w.select(item);
        QTEST(w.path(), "path");
        if (pane == QLatin1String("*"))
            pane = w.doc().xml(w.model().nodeAt(item)).replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        QCOMPARE(w.pane(), pane);
        QString shown = w.locked() ? QStringLiteral("1") : QStringLiteral("0");
        for (const char *button : {"copy", "cut", "delete", "paste"})
            shown += w.enabled(button) ? u'1' : u'0';
        QTEST(shown, "shown");
        // Filling the pane writes nothing back.
        QVERIFY(w.window.tvw()->currentIndex() == item && !w.window.flags().m_Dirty);
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
        QVERIFY(full.startsWith(shown + QLatin1Char('\n')) && w.locked());
        QCOMPARE(w.window.statusText(), Selection::truncatedNotice());
        // A small node shows whole and clears the notice.
        w.show({0, 0});
        QVERIFY(!w.locked() && w.window.statusText().isEmpty());

        // Mixed content is written as it would be in full: a cut never
        // changes how the part before it is laid out.
        const auto mixed = XmlDocument::parse(QStringLiteral("<r>") + QStringLiteral("t<i><j/></i>").repeated(200000) + "</r>");
        bool truncated = false;
        const QString part = mixed->xml(mixed->documentNode(), 100000, &truncated);
        QVERIFY(truncated && mixed->xml(mixed->documentNode()).startsWith(part));
    }

    // Showing without selecting, and selecting from code, leave the other
    // as it was; a move by the arrow keys does both.
    void showingAndSelectingApart()
    {
        Window w;
        w.show({1});
        w.window.setStatusText(QStringLiteral("検索中"));
        w.window.selection().ShowNode(w.item({1, 1}), false);
        QVERIFY(w.window.tvw()->currentIndex() == w.item({1}) && w.window.statusText().isEmpty());
        QCOMPARE(w.pane(), QStringLiteral("<c>x</c>"));
        w.window.tvw()->setCurrentIndex(w.item({1, 2})); // as the arrow keys do
        QCOMPARE(w.pane(), QStringLiteral("data"));
        w.window.selection().setSelectedItem(w.item({1}));
        QCOMPARE(w.pane(), QStringLiteral("data"));
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), w.doc().documentElement());
        QVERIFY(w.window.selection().GetDOMNode(QModelIndex()).isNull());
    }
};

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
