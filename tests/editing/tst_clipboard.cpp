#include "TestTables.h"
#include "TestWindow.h"
#include "editing/NodeClipboard.h"
#include "editing/NodeFinder.h"
#include "editing/TreeDragDrop.h"
#include "editing/Wildcard.h"
#include "shell/ClipboardSearchCommands.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include "document/NodeTreeView.h"
#include <QUrl>

// Cut, copy and paste of nodes through the system clipboard, dragging and
// dropping them, the wildcard match, Find over the tree's labels and the
// path box's query.
class TestClipboard : public QObject
{
    Q_OBJECT

    struct Window : TestWindow
    {
        explicit Window(const QString &xml) : TestWindow(xml) { window.undo().ResetUndo(); }
        NodeClipboard &clipboard() { return window.clipboardSearch().clipboard(); }

        // A drag entering the tree, moving to `target` and dropping there, as
        // the platform delivers it; the effect the drop reports back.
        Qt::DropAction drop(const QModelIndex &target, const QMimeData &data, Qt::KeyboardModifiers keys = {})
        {
            NodeTreeView *tvw = window.tvw();
            tvw->scrollTo(target);
            const QPoint pos = target.isValid() ? tvw->visualRect(target).center() : QPoint(5, tvw->height() - 5);
            const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
            QDragEnterEvent enter(pos, offered, &data, Qt::LeftButton, keys);
            QCoreApplication::sendEvent(tvw->viewport(), &enter);
            QDragMoveEvent move(pos, offered, &data, Qt::LeftButton, keys);
            QCoreApplication::sendEvent(tvw->viewport(), &move);
            // The item under the pointer is shown as the drop target.
            if (move.isAccepted() && target.isValid() && window.selection().selectedItem() != target)
                return Qt::LinkAction;
            QDropEvent drop(pos, offered, &data, Qt::LeftButton, keys);
            QCoreApplication::sendEvent(tvw->viewport(), &drop);
            return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
        }
        // Dragging `source` of this window's tree onto `target`.
        Qt::DropAction drag(const QModelIndex &source, const QModelIndex &target, Qt::KeyboardModifiers keys = {})
        {
            NodeTreeView *tvw = window.tvw();
            QTest::mousePress(tvw->viewport(), Qt::LeftButton, {}, tvw->visualRect(source).center());
            QTest::mouseRelease(tvw->viewport(), Qt::LeftButton, {}, tvw->visualRect(source).center());
            TreeDragDrop &dnd = window.clipboardSearch().dragDrop();
            if (!dnd.tvw_OLEStartDrag() || dnd.dragNode() != source)
                return Qt::LinkAction;
            const std::unique_ptr<QMimeData> data(dnd.dragData());
            const Qt::DropAction effect = drop(target, *data, keys);
            dnd.tvw_OLECompleteDrag(effect);
            return effect;
        }
        // Items marked bold, by their labels.
        QStringList bold()
        {
            QStringList labels;
            std::vector<QModelIndex> pending{model().documentIndex()};
            while (!pending.empty()) {
                const QModelIndex at = pending.back();
                pending.pop_back();
                if (model().isBold(at))
                    labels << model().labelAt(at);
                std::vector<QModelIndex> rows;
                for (QModelIndex row = model().firstRowIndex(at); row.isValid(); row = model().nextRowIndex(row))
                    rows.push_back(row);
                pending.insert(pending.end(), rows.rbegin(), rows.rend());
            }
            return labels;
        }
        QStringList history()
        {
            QStringList entries;
            for (int i = 0; i < window.cboPath()->count(); ++i)
                entries << window.cboPath()->itemText(i);
            return entries;
        }
    };

    static QTemporaryDir &files()
    {
        static QTemporaryDir dir;
        return dir;
    }
    // Files as a file manager offers them: URLs, with their names as text.
    static void offerFiles(QMimeData &data, const QList<QByteArray> &contents)
    {
        QList<QUrl> urls;
        for (const QByteArray &content : contents) {
            const QString path = files().filePath(QString::number(urls.size()) + QStringLiteral(" dropped.xml"));
            QFile file(path);
            if (file.open(QIODevice::WriteOnly))
                file.write(content);
            urls << QUrl::fromLocalFile(path);
        }
        data.setUrls(urls);
        data.setText(urls.first().toLocalFile());
    }

    // source: empty: from another program
    // offered: that program's text; "file:" its file's content
    // expected: empty: nothing changes
    struct Drag { QString xml; QList<int> source; QString offered; QList<int> target; int keys; QString expected; int steps; };

    static void setClipboard(const QString &text) { QGuiApplication::clipboard()->setText(text); }
    static QString clipboardText() { return QGuiApplication::clipboard()->text(); }

private slots:
    void pasteText_data()
    {
        // expected: empty: nothing changes
        // refused: an exclamation box says why
        addColumns<QString, QList<int>, QString, QString, bool>({"xml", "target", "text", "expected", "refused"});

        const QString r = QStringLiteral("<r><a/></r>");
        const QList<int> root{0};
        QTest::newRow("markup is an element, appended last") << r << root << "  <b x=\"1\"><c/></b> " << "<r><a/><b x=\"1\"><c/></b></r>" << false;
        QTest::newRow("comment") << r << root << "<!--hi-->" << "<r><a/><!--hi--></r>" << false;
        QTest::newRow("empty comment") << r << root << "<!---->" << "<r><a/><!----></r>" << false;
        QTest::newRow("line break after a comment: text") << r << root << "<!--hi-->\n" << "<r><a/>&lt;!--hi--&gt;</r>" << false;
        QTest::newRow("attribute") << r << root << "k=\"v w\"" << "<r k=\"v w\"><a/></r>" << false;
        QTest::newRow("attribute of the same name gets the value") << "<r k=\"0\"/>" << root << "k=\"1\"" << "<r k=\"1\"/>" << false;
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
        // The file must parse again: no reference outlives its declaration.
        QTest::newRow("entities: their replacement text") << r << root << "<!DOCTYPE d [<!ENTITY e \"x<i/>\"><!ENTITY n \"\">]><d>&e;&n;</d>"
            << "<r><a/><d>x<i/></d></r>" << false;
        QTest::newRow("external entity: nothing, and a note")
            << r << root << "<!DOCTYPE d [<!ENTITY e SYSTEM \"chapter1.xml\">]><d>&e;</d>" << "<r><a/><d/></r>"
            << false;
        QTest::newRow("prefix bound at the target")
            << "<r xmlns:q=\"u\"/>" << root << "<q:n q:y=\"1\"/>" << "<r xmlns:q=\"u\"><q:n q:y=\"1\"/></r>" << false;
        QTest::newRow("element prefix bound nowhere") << r << root << "<q:n/>" << "" << true;
        QTest::newRow("attribute prefix bound nowhere") << r << root << "q:y=\"1\"" << "" << true;
        QTest::newRow("attribute with its declaration")
            << r << root << "q:y=\"1\" xmlns:q=\"u\"" << "<r xmlns:q=\"u\" q:y=\"1\"><a/></r>" << false;
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
        const QModelIndex item = w.window.PasteNode(w.item(target));
        if (expected.isEmpty()) {
            // Nothing inserted: no step, no modified mark, and a reason given.
            QCOMPARE(w.flat(), before);
            QCOMPARE(w.steps(), 0);
            QVERIFY(!w.window.flags().m_Dirty);
            QVERIFY(refused || !w.window.statusText().isEmpty());
        } else {
            QCOMPARE(w.flat(), expected);
            QVERIFY(XmlDocument::parse(w.markup()));
            QCOMPARE(w.window.statusText().isEmpty(), !text.contains(QStringLiteral("SYSTEM")));
            QCOMPARE(w.steps(), 1);
            if (item.isValid())
                QCOMPARE(w.selected(), item);
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
        QCOMPARE(w.selected(), w.item({0, 1, 0}));
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

    // Copied markup stands on its own: the namespaces it uses are declared
    // in it, those it does not use are not.
    void copyKeepsNamespaces()
    {
        Window w(QStringLiteral("<r xmlns=\"d\" xmlns:p=\"u\" xmlns:q=\"v\"><p:a p:k=\"1\"><c/></p:a></r>"));
        // The root's rows: its three declarations, then p:a.
        w.clipboard().CopyNode(w.item({0, 3}));
        QCOMPARE(clipboardText(), QStringLiteral("<p:a xmlns:p=\"u\" xmlns=\"d\" p:k=\"1\">\n  <c/>\n</p:a>"));
        w.clipboard().CopyNode(w.item({0, 3, 1}));
        QCOMPARE(clipboardText(), QStringLiteral("<c xmlns=\"d\"/>"));
        w.clipboard().CopyNode(w.item({0, 3, 0}));
        QCOMPARE(clipboardText(), QStringLiteral("p:k=\"1\" xmlns:p=\"u\""));
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
        // The Edit menu sets its states as it opens: cut, copy, paste, find.
        const auto states = [&] { return w.states("mnuEdit", {"mnuEditCut", "mnuEditCopy", "mnuEditPaste", "mnuEditFind"}); };
        QCOMPARE(states(), "0101");
        w.window.flags().m_ReadOnly = false;
        QCOMPARE(states(), "1111");
        w.select(w.model().documentIndex());
        QCOMPARE(states(), "0001");
    }

    void dragAndDrop_data()
    {
        QTest::addColumn<Drag>("row");
        const QString ab = QStringLiteral("<r><a/><b/></r>");
        const QList<int> a{0, 0}, b{0, 1}, none, root{0};
        const int ctrl = Qt::ControlModifier;
        const auto row = [](const char *name, const Drag &d) { QTest::newRow(name) << d; };
        row("move onto an element: last child, two steps", {ab, a, "", b, 0, "<r><b><a/></b></r>", 2});
        row("Ctrl copies", {ab, a, "", b, ctrl, "<r><a/><b><a/></b></r>", 1});
        row("Ctrl+Shift copies", {ab, a, "", b, ctrl | int(Qt::ShiftModifier), "<r><a/><b><a/></b></r>", 1});
        row("onto itself: refused", {ab, a, "", a, 0, "", 0});
        row("into its own descendant: refused", {"<r><a><c/></a></r>", a, "", {0, 0, 0}, 0, "", 0});
        row("onto a sibling whose label begins alike", {"<r><a/><ab/></r>", a, "", b, 0, "<r><ab><a/></ab></r>", 2});
        row("attribute moves to another element", {"<r><a k=\"v\"/><b/></r>", {0, 0, 0}, "", b, 0, "<r><a/><b k=\"v\"/></r>", 2});
        row("over a text item: refused", {"<r>t<b/></r>", none, "<x/>", a, 0, "", 0});
        row("over the document item: refused", {ab, none, "<x/>", none, 0, "", 0});
        row("text from another program", {ab, none, "hi", root, 0, "<r><a/><b/>hi</r>", 1});
        row("processing instruction: nothing, the source keeps it", {ab, none, "<?pi x?>", root, 0, "", 0});
        row("file on an element: its root element", {ab, none, "file:<?xml version=\"1.0\"?><!--c--><f><g/></f>", b, 0, "<r><a/><b><f><g/></f></b></r>", 1});
        row("file that does not parse: said, nothing inserted", {ab, none, "file:<f>", b, 0, "", 0});
        row("a URL of another scheme is text", {ab, none, "http://example.org/x.xml", b, 0, "<r><a/><b>http://example.org/x.xml</b></r>", 1});
    }
    void dragAndDrop()
    {
        QFETCH(Drag, row);
        const auto &[xml, source, offered, target, keys, expected, steps] = row;
        Window w(xml);
        QVERIFY(w.showWindow());
        w.window.tvw()->expandAll();
        const QString before = w.flat();
        const QModelIndex targetItem = target.isEmpty() ? w.model().documentIndex() : w.item(target);
        w.select(w.item({0}));
        // A press on the dragged item selects it first.
        const QModelIndex selected = source.isEmpty() ? w.item({0}) : w.item(source);
        Qt::DropAction effect;
        if (!source.isEmpty()) {
            effect = w.drag(w.item(source), targetItem, Qt::KeyboardModifiers(keys));
        } else {
            QMimeData data;
            if (offered.startsWith(QStringLiteral("file:")))
                offerFiles(data, {offered.mid(5).toUtf8()});
            else if (offered.startsWith(QStringLiteral("http:")))
                data.setUrls({QUrl(offered)});
            else
                data.setText(offered);
            effect = w.drop(targetItem, data, Qt::KeyboardModifiers(keys));
        }
        QVERIFY(effect != Qt::LinkAction);
        QCOMPARE(w.steps(), steps);
        if (expected.isEmpty()) {
            QCOMPARE(effect, Qt::IgnoreAction);
            QCOMPARE(w.flat(), before);
            QVERIFY(!w.window.flags().m_Dirty);
            // The selection is back where it was.
            QCOMPARE(w.selected(), selected);
            return;
        }
        // Files are only read; a drag from this tree moves unless Ctrl is held.
        const bool copied = (keys & Qt::ControlModifier) || offered.startsWith(QStringLiteral("file:"));
        QCOMPARE(effect, copied ? Qt::CopyAction : Qt::MoveAction);
        QCOMPARE(w.flat(), expected);
        for (int i = 0; i < steps; ++i)
            w.window.undo().DoUndo();
        QCOMPARE(w.flat(), before);
    }

    void dropOnAWindowWithoutADocument()
    {
        TestWindow w;
        QVERIFY(w.showWindow());
        // Several files: the first opens, as by the open command; dropped on
        // the preview it reaches the window all the same.
        QMimeData data;
        offerFiles(data, {"<first/>", "<second/>"});
        const QPoint pos(w.window.width() - 20, w.window.height() - 40);
        QWidget *under = w.window.childAt(pos);
        QVERIFY2(under && !under->acceptDrops(), under ? under->metaObject()->className() : "nothing");
        QDragEnterEvent enter(pos, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&w.window, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(pos, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&w.window, &drop);
        QCOMPARE(drop.dropAction(), Qt::CopyAction);
        QCOMPARE(w.markup(), QStringLiteral("<first/>"));
        QVERIFY(w.window.windowTitle().startsWith(QStringLiteral("0 dropped.xml - ")));

        // With a document, drops beside the tree are refused.
        QDragEnterEvent again(pos, Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&w.window, &again);
        QVERIFY(!again.isAccepted());
    }

    // With its root cut the window still has its document: a drop becomes
    // the root, as a paste would, and the cut can still be undone.
    void dropOnADocumentWithoutARoot()
    {
        Window w(QStringLiteral("<?xml version=\"1.0\"?><!--c--><r/>"));
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        w.select(w.item({2}));
        w.window.menuItem(QStringLiteral("mnuEditCut"))->trigger();
        QMimeData data;
        data.setText(QStringLiteral("<x/>"));
        QCOMPARE(w.drop(w.model().documentIndex(), data), Qt::MoveAction);
        QCOMPARE(w.flat(), QStringLiteral("<?xml version=\"1.0\"?><!--c--><x/>"));
        w.window.undo().DoUndo();
        w.window.undo().DoUndo();
        QCOMPARE(w.flat(), QStringLiteral("<?xml version=\"1.0\"?><!--c--><r/>"));
    }

    void readOnlyTakesNoDropAndMovesNothingOut()
    {
        Window w(QStringLiteral("<r><a/><b/></r>"));
        QVERIFY(w.showWindow());
        w.window.flags().m_ReadOnly = true;
        QMimeData data;
        data.setText(QStringLiteral("<x/>"));
        QCOMPARE(w.drop(w.item({0, 1}), data), Qt::IgnoreAction);
        // A target that moves all the same deletes nothing here.
        QCOMPARE(w.drag(w.item({0, 0}), w.item({0, 1})), Qt::IgnoreAction);
        w.window.clipboardSearch().dragDrop().tvw_OLEStartDrag();
        w.window.clipboardSearch().dragDrop().tvw_OLECompleteDrag(Qt::MoveAction);
        QCOMPARE(w.flat(), QStringLiteral("<r><a/><b/></r>"));
        QCOMPARE(w.steps(), 0);
    }

    // A user at the shown window: Ctrl+C and Ctrl+V in the tree, the Edit
    // menu never opened.
    void keysInTheShownWindow()
    {
        Window w(QStringLiteral("<r><a/><b/></r>"));
        QVERIFY(w.showWindow());
        NodeTreeView *tvw = w.window.tvw();
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

    void wildcard_data()
    {
        addColumns<QString, QString, bool>({"text", "pattern", "matches"});
        QTest::newRow("equal") << "item" << "item" << true;
        QTest::newRow("whole text only") << "items" << "item" << false;
        QTest::newRow("case-sensitive") << "Item" << "item" << false;
        QTest::newRow("question mark one character") << "ab" << "a?" << true;
        QTest::newRow("hash a digit") << "a7" << "a#" << true;
        QTest::newRow("list") << "b" << "[abc]" << true;
        QTest::newRow("range") << "q" << "[a-z]" << true;
        QTest::newRow("negated list") << "Q" << "[!a-z]" << true;
        QTest::newRow("bracket for itself") << "[x]" << "[[]x]" << true;
        QTest::newRow("bracket starts a list") << "[x]" << "[x]" << false;
        QTest::newRow("star for itself") << "a*" << "a[*]" << true;
        QTest::newRow("unclosed bracket for itself") << "a[b" << "a[b" << true;
        QTest::newRow("comment shape") << "<!---->" << "<!--*-->" << true;
        QTest::newRow("non-Latin") << "要素1" << "要素#" << true;
        // A backtracking matcher takes years here.
        QTest::newRow("many stars, no match") << QString(5000, QLatin1Char('a')) << "*a*a*a*a*a*a*a*a*a*a*b" << false;
        QTest::newRow("empty pattern") << "" << "" << true;
    }
    void wildcard()
    {
        QFETCH(QString, text);
        QFETCH(QString, pattern);
        QTEST(wildcardMatch(text, pattern), "matches");
    }

    // A user at the shown window: Ctrl+F typed into the input box, F3 and
    // Shift+F3 in the tree.
    void findInTheShownWindow()
    {
        Window w(QStringLiteral("<r><item/><x n=\"item\"><item2/><item/></x><item/></r>"));
        w.model().setShowText(false);
        QVERIFY(w.showWindow());
        NodeTreeView *tvw = w.window.tvw();
        tvw->setFocus();
        w.window.selection().setSelectedItem(QModelIndex());
        QVERIFY(!w.selected().isValid());

        // From nothing selected the search starts after the document item.
        w.prompt->inputAnswers.enqueue(QStringLiteral("item"));
        QTest::keyClick(tvw, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(w.prompt->lastAsked(), QStringLiteral("input 検索する文字列を入力してください。"));
        QCOMPARE(w.selected(), w.item({0, 0}));
        // F3 finds the next, Shift+F3 the one before; at either end the
        // selection stays and the status bar says so.
        const auto f3 = [&](Qt::KeyboardModifiers mods, const QModelIndex &found, const QString &status) {
            QTest::keyClick(tvw, Qt::Key_F3, mods);
            QCOMPARE(w.selected(), found);
            QCOMPARE(w.window.statusText(), status);
        };
        f3({}, w.item({0, 1, 2}), QString());
        QVERIFY(tvw->isExpanded(w.item({0, 1})));
        f3({}, w.item({0, 2}), QString());
        f3({}, w.item({0, 2}), QStringLiteral("終わりまで検索しました。"));
        f3(Qt::ShiftModifier, w.item({0, 1, 2}), QString());
        f3(Qt::ShiftModifier, w.item({0, 0}), QString());
        f3(Qt::ShiftModifier, w.item({0, 0}), QStringLiteral("先頭まで検索しました。"));

        // Stars find labels containing the text; the attribute's label is
        // its name while text is not shown.
        w.prompt->inputAnswers.enqueue(QStringLiteral("*item*"));
        w.window.button(QStringLiteral("find"))->trigger();
        QCOMPARE(w.selected(), w.item({0, 1, 1}));
        // Cancel clears the pattern: Shift+F3 does nothing, F3 asks.
        w.window.button(QStringLiteral("find"))->trigger();
        QCOMPARE(w.window.clipboardSearch().finder().findText(), QString());
        const int asked = w.prompt->asked.size();
        QTest::keyClick(tvw, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(w.selected(), w.item({0, 1, 1}));
        QCOMPARE(w.prompt->asked.size(), asked);
        QTest::keyClick(tvw, Qt::Key_F3);
        QCOMPARE(w.prompt->asked.size(), asked + 1);
    }

    void pathQuery()
    {
        Window w(QStringLiteral("<r><a k=\"1\">t</a><b><c k=\"2\"/></b><a/></r>"));
        w.model().setShowText(false);
        QComboBox *path = w.window.cboPath();
        auto run = [&](const QString &expression) {
            path->setEditText(expression);
            QTest::keyClick(path->lineEdit(), Qt::Key_Return);
        };
        // From a text node the query runs from its element.
        w.select(w.item({0, 0, 1}));
        run(QStringLiteral("@k"));
        QCOMPARE(w.window.statusText(), QStringLiteral("1件検索されました。"));
        QCOMPARE(w.selected(), w.item({0, 0, 0}));
        QCOMPARE(w.bold(), QStringList{QStringLiteral("k")});

        // Items not made yet are made for the results, and shown.
        path->setEditText(QStringLiteral("//@k"));
        w.window.findChild<QAction *>(QStringLiteral("move"))->trigger();
        QCOMPARE(w.window.statusText(), QStringLiteral("2件検索されました。"));
        QCOMPARE(w.bold(), (QStringList{QStringLiteral("k"), QStringLiteral("k")}));
        QVERIFY(w.model().isBold(w.item({0, 1, 0, 0})));
        QVERIFY(w.window.tvw()->isExpanded(w.item({0, 1, 0})));

        // A query with results clears the other marks; one without keeps them.
        run(QStringLiteral("/r/a"));
        QCOMPARE(w.bold(), (QStringList{QStringLiteral("a"), QStringLiteral("a")}));
        QCOMPARE(w.selected(), w.item({0, 0}));
        run(QStringLiteral("//zzz"));
        QCOMPARE(w.window.statusText(), QStringLiteral("見つかりませんでした"));
        QCOMPARE(w.bold().size(), 2);
        run(QStringLiteral("/r/["));
        QCOMPARE(w.window.statusText(), QStringLiteral("Invalid expression"));
        QCOMPARE(w.bold().size(), 2);

        // Successful expressions are kept once each, newest first; choosing
        // one runs it.
        run(QStringLiteral("@k"));
        QCOMPARE(w.history(), (QStringList{QStringLiteral("/r/a"), QStringLiteral("//@k"), QStringLiteral("@k")}));
        path->setCurrentIndex(1);
        emit path->activated(1);
        QCOMPARE(w.window.statusText(), QStringLiteral("2件検索されました。"));
        QCOMPARE(w.history().size(), 3);
        // Typing is not completed to an older, longer expression.
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        path->setFocus();
        path->clearEditText();
        QTest::keyClicks(path, QStringLiteral("//"));
        QCOMPARE(path->currentText(), QStringLiteral("//"));

        // With nothing selected the query runs from the document.
        w.window.tvw()->selectionModel()->clear();
        run(QStringLiteral("r/b"));
        QCOMPARE(w.selected(), w.item({0, 1}));
    }
};

QTEST_MAIN(TestClipboard)
#include "tst_clipboard.moc"
