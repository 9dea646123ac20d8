#include "TestTables.h"
#include "TestWindow.h"
#include "document/ValuePane.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
#include "document/NodeTreeView.h"

// Showing a node (path box, value pane and its lock, clipboard buttons);
// typing in the value pane changes the document at once, kind by kind.
const QString kShown = QStringLiteral("<?xml version=\"1.0\"?><r id=\"a\nb\"><c>x</c><?pi data?></r>");

class TestValuePane : public QObject
{
    Q_OBJECT

    struct Window : TestWindow
    {
        explicit Window(const QString &xml) : TestWindow(xml)
        {
            window.undo().ResetUndo();
            TestWindow::select(item({}));
        }
        using TestWindow::select;
        void select(const XmlNode &node) { select(model().indexForNode(node)); }
        // Replaces the pane's text as one edit, as pasting into it does.
        void type(const QString &text) { window.txtEdit()->setPlainText(text); }
        // Types character by character at the caret.
        void typeKeys(const QString &text) { QTest::keyClicks(window.txtEdit(), text); }
        void caretToEnd() { window.txtEdit()->moveCursor(QTextCursor::End); }
        void caretTo(int position)
        {
            QTextCursor c = window.txtEdit()->textCursor();
            c.setPosition(position);
            window.txtEdit()->setTextCursor(c);
        }
        void inputMethod(const QString &preedit, const QString &commit = QString())
        {
            QInputMethodEvent event(preedit, {});
            event.setCommitString(commit);
            QCoreApplication::sendEvent(window.txtEdit(), &event);
        }
        QString status() { return window.statusText(); }
    };

private slots:
    // The pane's whole text replaced, as pasting does: applied as one step
    // when the node can hold it, else nothing changes.
    void replacingThePaneText_data()
    {
        // expected: empty: the document stays as it was
        addColumns<QString, QList<int>, QString, QString, QString>({"xml", "rows", "text", "expected", "status"});
        const QString mixed = QStringLiteral("<r>t<!--c--><![CDATA[d]]></r>");
        const QString ab = QStringLiteral("<r><a/><b/></r>");
        const QString syntax = QStringLiteral("構文エラー");
        using Rows = QList<int>;
        QTest::newRow("text with a line break") << mixed << Rows{0, 0} << "line1\nline2" << "<r>line1\nline2<!--c--><![CDATA[d]]></r>" << "";
        QTest::newRow("text emptied: nothing") << mixed << Rows{0, 0} << "" << "" << "";
        QTest::newRow("comment") << mixed << Rows{0, 1} << "new" << "<r>t<!--new--><![CDATA[d]]></r>" << "";
        QTest::newRow("CDATA holding markup") << mixed << Rows{0, 2} << "<raw>" << "<r>t<!--c--><![CDATA[<raw>]]></r>" << "";
        QTest::newRow("element, two of them") << ab << Rows{0, 0} << "<p/><q/>" << "" << syntax;
        QTest::newRow("element, a comment before it dropped") << ab << Rows{0, 0} << "<!-- note --><p/>" << "<r>\n  <p/>\n  <b/>\n</r>" << "";
        QTest::newRow("root element between comments") << "<!--before--><r><a/></r><!--after-->" << Rows{1} << "<s>t</s>"
                                                       << "<!--before-->\n<s>t</s>\n<!--after-->" << "";
        QTest::newRow("whole document") << "<r/>" << Rows{} << "<?xml version=\"1.0\"?><new/>" << "<?xml version=\"1.0\"?>\n<new/>" << "";
        // The root goes before the type whose entity it uses, which could not go first.
        QTest::newRow("whole document, its entity in use") << "<!DOCTYPE r [<!ENTITY e \"x\">]><r>&e;</r>" << Rows{} << "<new/>" << "<new/>" << "";
        QTest::newRow("whole document, not well-formed") << "<r/>" << Rows{} << "<?xml version=\"1.0\"?><new>" << "" << syntax;
    }
    void replacingThePaneText()
    {
        QFETCH(QString, xml);
        QFETCH(QList<int>, rows);
        QFETCH(QString, expected);
        Window w(xml);
        const QString before = w.markup();
        XmlDocument *dom = w.window.dom();
        w.select(w.item(rows));
        QFETCH(QString, text);
        w.type(text);
        QCOMPARE(w.markup(), expected.isEmpty() ? before : expected);
        QTEST(w.status(), "status");
        QVERIFY(w.prompt->shown.isEmpty() && !w.window.flags().m_ApplyingText);
        QCOMPARE(std::pair(w.steps(), w.window.flags().m_Dirty), std::pair(expected.isEmpty() ? 0 : 1, !expected.isEmpty()));
        // Still the same document object; the new node is selected in the
        // old one's place.
        QVERIFY(w.window.dom() == dom && w.selected() == w.item(rows));
        if (!expected.isEmpty()) {
            w.window.undo().DoUndo();
            QCOMPARE(w.markup(), before);
            w.window.undo().DoRedo();
            QCOMPARE(w.markup(), expected);
        }
    }

    // A comment the document cannot hold waits in the pane, the reason in
    // the status bar, without a box; it is applied once it is valid.
    void anInvalidCommentWaitsInThePane()
    {
        Window w(QStringLiteral("<r><!--c--></r>"));
        const XmlNode comment = w.doc().documentElement().child(0);
        w.select(comment);
        w.window.txtEdit()->selectAll();
        w.typeKeys(QStringLiteral("well-"));
        QCOMPARE(comment.text(), QStringLiteral("well"));
        QVERIFY(!w.status().isEmpty() && w.window.txtEdit()->value() == QStringLiteral("well-"));
        w.typeKeys(QStringLiteral("done"));
        QCOMPARE(comment.text(), QStringLiteral("well-done"));
        QVERIFY(w.status().isEmpty() && w.prompt->shown.isEmpty());
    }

    void attributeValues()
    {
        Window w(QStringLiteral("<r a=\"1\"/>"));
        const XmlNode a = w.doc().documentElement().attributeNode(QStringLiteral("a"));
        w.select(a);
        w.caretToEnd();
        w.typeKeys(QStringLiteral("2"));
        QCOMPARE(a.text(), QStringLiteral("12"));
        w.type(QStringLiteral("x\ny"));
        QCOMPARE(a.text(), QStringLiteral("x\ny")); // stored with LF only
        // A value the document refuses: a box, and the pane shows the value kept.
        w.type(QStringLiteral("bad\u0001"));
        QVERIFY(w.prompt->shown.size() == 1 && a.text() == QStringLiteral("x\ny"));
        QCOMPARE(w.window.txtEdit()->text(), QStringLiteral("x\r\ny"));
    }

    void typingMarkupReplacesTheElementWhenItParses()
    {
        Window w(QStringLiteral("<r><a/><b/></r>"));
        const XmlNode r = w.doc().documentElement();
        w.select(r.firstChild());
        QCOMPARE(w.window.txtEdit()->text(), QStringLiteral("<a/>"));
        w.caretTo(2);
        // "<a/>" -> "<a x/>" does not parse until the value is typed.
        w.typeKeys(QStringLiteral(" x"));
        QCOMPARE(w.status(), QStringLiteral("構文エラー"));
        QCOMPARE(w.markup(), QStringLiteral("<r>\n  <a/>\n  <b/>\n</r>"));
        w.typeKeys(QStringLiteral("=\"1\""));
        QVERIFY(w.status().isEmpty());
        QCOMPARE(w.markup(), QStringLiteral("<r>\n  <a x=\"1\"/>\n  <b/>\n</r>"));
        // The new element is selected; the pane keeps the text and caret.
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), r.firstChild());
        QCOMPARE(std::pair(w.window.txtEdit()->toPlainText(), w.window.txtEdit()->textCursor().position()),
                 std::pair(QStringLiteral("<a x=\"1\"/>"), 8));
    }

    void charactersOutsideTheEditStay()
    {
        // A text view reads a no-break space as a blank and U+2028 and a lone
        // CR as line breaks; none of them may change unless edited.
        const QString odd = QStringLiteral("1\u00A02\u20283\r4");
        Window w(QStringLiteral("<r a=\"1&#160;2&#x2028;3&#13;4\">1&#160;2&#x2028;3&#13;4<!----><e>1&#160;2&#x2028;3&#13;4</e></r>"));
        const XmlNode r = w.doc().documentElement();
        QVERIFY(w.doc().setText(r.child(1), odd)); // a comment holds no references
        for (const XmlNode &node : {r.attributeNode(QStringLiteral("a")), r.child(0), r.child(1)}) {
            w.select(node);
            w.caretToEnd();
            w.typeKeys(QStringLiteral("!"));
            QCOMPARE(node.text(), odd + QLatin1Char('!'));
        }
        w.select(r.child(2));
        w.caretTo(2);
        w.typeKeys(QStringLiteral(" k='v'"));
        QCOMPARE(r.child(2).attributeNode(QStringLiteral("k")).text(), QStringLiteral("v"));
        QCOMPARE(r.child(2).text(), odd);
        // A typed line break is LF.
        w.select(r.child(0));
        w.caretTo(1);
        QTest::keyClick(w.window.txtEdit(), Qt::Key_Return);
        QCOMPARE(r.child(0).text(), QStringLiteral("1\n") + odd.mid(1) + QLatin1Char('!'));
    }

    void compositionIsNoEdit()
    {
        Window w(QStringLiteral("<r>t<a/></r>"));
        const XmlNode r = w.doc().documentElement();
        for (const XmlNode &node : {r.child(0), r.child(1)}) {
            w.select(node);
            w.caretTo(1);
            w.inputMethod(QStringLiteral("か"));
            w.inputMethod(QStringLiteral("かん"));
            w.inputMethod(QString()); // cancelled
            QVERIFY(!w.window.flags().m_Dirty && w.steps() == 0);
            QCOMPARE(w.markup(), QStringLiteral("<r>t<a/></r>"));
        }
        w.select(r.child(0));
        w.caretToEnd();
        w.inputMethod(QStringLiteral("かん"));
        w.inputMethod(QString(), QStringLiteral("漢"));
        QVERIFY(r.child(0).text() == QStringLiteral("t漢") && w.steps() == 1);
    }

    // Undo keys belong to the window; pasting from an empty clipboard
    // changes nothing.
    void keysInTheShownWindow()
    {
        Window w(QStringLiteral("<r a=\"1\"/>"));
        QVERIFY(w.showWindow(true));
        const XmlNode a = w.doc().documentElement().attributeNode(QStringLiteral("a"));
        w.select(a);
        w.window.txtEdit()->setFocus();
        w.caretToEnd();
        w.typeKeys(QStringLiteral("2"));
        QCOMPARE(a.text(), QStringLiteral("12"));
        QTest::keyClick(w.window.txtEdit(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(a.text(), QStringLiteral("1"));
        QTest::keyClick(w.window.txtEdit(), Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(a.text(), QStringLiteral("12"));
        // The path box, too, leaves them to the window.
        QLineEdit *path = w.window.cboPath()->lineEdit();
        path->setFocus();
        QTest::keyClicks(path, QStringLiteral("/r"));
        QTest::keyClick(path, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(a.text() == QStringLiteral("1") && path->text().endsWith(QStringLiteral("/r")));

        // An empty X11 clipboard hands over data without any format; Qt's
        // text views crashed on it.
        QClipboard *clipboard = QGuiApplication::clipboard();
        // The value pane, the path box and the tree's label editor (F2).
        for (QWidget *field : {static_cast<QWidget *>(w.window.txtEdit()), static_cast<QWidget *>(w.window.cboPath()->lineEdit()),
                               static_cast<QWidget *>(w.window.tvw())}) {
            field->setFocus();
            const bool label = field == w.window.tvw();
            if (label) {
                QTest::keyClick(field, Qt::Key_F2);
                field = QApplication::focusWidget();
                QVERIFY(qobject_cast<QLineEdit *>(field) && field->parentWidget() == w.window.tvw()->viewport());
            }
            for (bool formatless : {true, false}) {
                formatless ? clipboard->setMimeData(new QMimeData) : clipboard->clear();
                QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
                QTest::keyClick(field, Qt::Key_Insert, Qt::ShiftModifier);
            }
            if (label)
                QTest::keyClick(field, Qt::Key_Return);
        }
        QCOMPARE(w.markup(), QStringLiteral("<r a=\"1\"/>"));
        clipboard->setText(QStringLiteral("2"));
        w.window.txtEdit()->setFocus();
        w.caretToEnd();
        QTest::keyClick(w.window.txtEdit(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.markup(), QStringLiteral("<r a=\"12\"/>"));
    }

    // What the path box, the pane and the buttons show for a node, after the
    // element c was shown.
    void showingANode_data()
    {
        // options: l: name lock, r: read-only, e: empty clipboard
        // pane: *: the node's markup, with CRLF
        // shown: locked, then copy, cut, delete and paste enabled
        addColumns<QList<int>, QString, QString, QString, QString>({"rows", "options", "path", "pane", "shown"});
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
        Window w(kShown);
        w.select(w.item({1, 1}));
        options.contains(u'e') ? QApplication::clipboard()->clear() : QApplication::clipboard()->setText(QStringLiteral("<x/>"));
        w.window.menuItem(QStringLiteral("mnuViewLock"))->setChecked(options.contains(u'l'));
        w.window.flags().m_ReadOnly = options.contains(u'r');
        const QModelIndex item = w.item(rows);
        w.select(item);
        QTEST(w.window.cboPath()->currentText(), "path");
        if (pane == QLatin1String("*"))
            pane = w.doc().xml(w.model().nodeAt(item)).replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        QCOMPARE(w.window.txtEdit()->text(), pane);
        QString shown = w.window.txtEdit()->isLocked() ? QStringLiteral("1") : QStringLiteral("0");
        for (const char *button : {"copy", "cut", "delete", "paste"})
            shown += w.enabled(button) ? u'1' : u'0';
        QTEST(shown, "shown");
        // Filling the pane writes nothing back.
        QVERIFY(w.window.tvw()->currentIndex() == item && !w.window.flags().m_Dirty);
    }

    void largeMarkupIsShownInPartAndLocked()
    {
        Window w(kShown);
        w.window.LoadXML(QStringLiteral("<r>") + QStringLiteral("<i>%1</i>").arg(QString(600, QLatin1Char('t'))).repeated(2000)
                         + QStringLiteral("</r>"));
        const QString full = w.doc().xml(w.doc().documentElement());
        QVERIFY(full.size() > Selection::kPaneMarkupLimit);
        w.select(w.item({0}));
        const QString shown = w.window.txtEdit()->toPlainText();
        QVERIFY(shown.size() <= Selection::kPaneMarkupLimit && shown.size() > Selection::kPaneMarkupLimit / 2);
        QVERIFY(full.startsWith(shown + QLatin1Char('\n')) && w.window.txtEdit()->isLocked());
        QCOMPARE(w.window.statusText(), Selection::truncatedNotice());
        // A small node shows whole and clears the notice.
        w.select(w.item({0, 0}));
        QVERIFY(!w.window.txtEdit()->isLocked() && w.window.statusText().isEmpty());

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
        Window w(kShown);
        w.select(w.item({1}));
        w.window.setStatusText(QStringLiteral("検索中"));
        w.window.selection().ShowNode(w.item({1, 1}), false);
        QVERIFY(w.window.tvw()->currentIndex() == w.item({1}) && w.window.statusText().isEmpty());
        QCOMPARE(w.window.txtEdit()->text(), QStringLiteral("<c>x</c>"));
        w.window.tvw()->setCurrentIndex(w.item({1, 2})); // as the arrow keys do
        QCOMPARE(w.window.txtEdit()->text(), QStringLiteral("data"));
        w.window.selection().setSelectedItem(w.item({1}));
        QCOMPARE(w.window.txtEdit()->text(), QStringLiteral("data"));
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), w.doc().documentElement());
        QVERIFY(w.window.selection().GetDOMNode(QModelIndex()).isNull());
    }
};

QTEST_MAIN(TestValuePane)
#include "tst_valuepane.moc"
