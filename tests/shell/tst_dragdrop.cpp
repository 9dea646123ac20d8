#include "TestWindow.h"
#include "XvfbScreen.h"
#include "document/ValuePane.h"
#include "shell/Fonts.h"
#include "tools/PreviewPane.h"
#include "tools/SourceViewer.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include "document/NodeTreeView.h"

#include <string>
#include <vector>

namespace {

QString flat(const QString &xml)
{
    return QString(xml).remove(QRegularExpression(QStringLiteral("\\n *|<\\?xml[^>]*\\?>")));
}

} // namespace

class TestDragDrop : public QObject
{
    Q_OBJECT

private slots:
    void betweenTwoEditorProcesses();
    void refusedLabelEditGivesTheTreeTheKeys();
    void schemaFaultsFollowTheKeys();
    void offeredListsTakeClicks();
};

// A user drags items with the mouse: inside this process's window, out of
// it into another editor process (a move), and back with Ctrl (a copy).
void TestDragDrop::betweenTwoEditorProcesses()
{
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (QGuiApplication::platformName() != QLatin1String("xcb") || xdotool.isEmpty())
        QSKIP("needs Xvfb and xdotool");
    QTemporaryDir dir; // 0700: serves as the runtime folder
    QVERIFY(dir.isValid());
    const QString other = dir.filePath(QStringLiteral("other.xml"));
    QFile file(other);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("<s><c/></s>\n") > 0);
    file.close();
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    // A fresh state folder: recovery copies left by an earlier run would be
    // offered to the other editor at its start, in a question.
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("state"))));

    QProcess editor;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    editor.setProcessEnvironment(env);
    editor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    editor.start(QStringLiteral(OSTREL_EDIT_PATH), {other});
    struct Stop
    {
        QProcess &p;
        ~Stop()
        {
            p.kill();
            p.waitForFinished(5000);
        }
    } stop{editor};

    // This process's window on the left; the other editor's, of the same
    // size, on the right, where its rows lie as they lie here.
    TestWindow here(QStringLiteral("<r><a/><b/></r>"));
    here.window.setGeometry(0, 0, 690, 560);
    here.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&here.window));
    NodeTreeView *tvw = here.window.tvw();
    tvw->expandAll();
    const auto run = [&](const QStringList &arguments) {
        QProcess p;
        p.start(xdotool, arguments);
        // The drag runs in this process's event loop while xdotool moves.
        return QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000) && p.exitCode() == 0;
    };
    // A search can fail with an X error while the other editor makes and
    // drops windows of its own (the preview's engine starts after the first
    // paint): it is asked again.
    QString window;
    QVERIFY(QTest::qWaitFor([&] {
        QProcess search;
        search.start(xdotool, {"search", "--name", "other.xml - Ostrel XML Editor"});
        search.waitForFinished(10000);
        window = QString::fromLatin1(search.readAllStandardOutput()).split(QLatin1Char('\n')).first();
        return !window.isEmpty();
    }, 60000));
    QVERIFY(run({"windowsize", window, "690", "560", "windowmove", window, "700", "0"}));
    QTest::qWait(1500);

    // Where rows lie here, taken while this tree has them; the other
    // window's lie 700 pixels to the right.
    QList<QPoint> rows;
    for (QModelIndex index = here.model().documentIndex(); index.isValid(); index = tvw->indexBelow(index))
        rows << tvw->viewport()->mapTo(&here.window, tvw->visualRect(index).center());
    QCOMPARE(rows.size(), 4);
    const auto at = [&](int row, bool there) { return rows[row] + QPoint(there ? 700 : 0, 0); };
    auto xy = [](QPoint p) { return QStringList{QString::number(p.x()), QString::number(p.y())}; };
    // With `rest`, the pointer rests there on the way for longer than it
    // takes a collapsed item to open.
    const auto drag = [&](QPoint from, QPoint to, bool ctrl, QPoint rest = {}) {
        QStringList a{"mousemove"};
        a << xy(from) << "sleep" << "0.2" << "mousedown" << "1" << "sleep" << "0.2" << "mousemove"
          << xy(from + QPoint(6, 6)) << "sleep" << "0.2" << "mousemove" << xy(from + QPoint(20, 12)) << "sleep"
          << "0.3";
        if (ctrl)
            a << "keydown" << "ctrl";
        if (!rest.isNull())
            a << "mousemove" << xy(rest) << "sleep" << "0.1" << "mousemove" << xy(rest + QPoint(2, 0)) << "sleep" << "1.5";
        a << "mousemove" << xy((from + to) / 2) << "sleep" << "0.3" << "mousemove" << xy(to + QPoint(-8, 0))
          << "sleep" << "0.3" << "mousemove" << xy(to) << "sleep" << "0.6" << "mouseup" << "1";
        if (ctrl)
            a << "keyup" << "ctrl";
        return run(a);
    };

    // Rows here: #document, r, a, b. There: #document, s, c.
    QVERIFY(drag(at(2, false), at(3, false), false));
    QTRY_COMPARE(flat(here.markup()), QStringLiteral("<r><b><a/></b></r>"));
    QVERIFY(drag(at(2, false), at(1, true), false));
    QTRY_COMPARE(flat(here.markup()), QStringLiteral("<r/>"));
    QVERIFY(drag(at(2, true), at(1, false), true));
    QTRY_COMPARE(flat(here.markup()), QStringLiteral("<r><c/></r>"));

    // Only a tree takes a node: released over the path box, the value pane
    // or the preview it stays where it is, and so do their texts. Resting on
    // the open root on the way leaves it open.
    QComboBox *path = here.window.cboPath();
    QWidget *pane = here.window.findChild<QWidget *>(QStringLiteral("txtEdit"));
    QVERIFY(pane);
    const auto centre = [&](QWidget *w) { return w->mapTo(&here.window, w->rect().center()); };
    const QString pathText = path->currentText();
    const QSignalSpy collapsed(tvw, &NodeTreeView::collapsed);
    const QString paneText = pane->property("plainText").toString();
    QVERIFY(drag(at(2, false), centre(path), false, at(1, false)));
    QVERIFY(drag(at(2, false), centre(pane), false));
    SourceViewer *preview = here.window.ie()->sourceViewer();
    QVERIFY(preview);
    const QString previewText = preview->toPlainText();
    QVERIFY(drag(at(2, false), centre(preview->viewport()), false));
    QTest::qWait(500);
    QCOMPARE(flat(here.markup()), QStringLiteral("<r><c/></r>"));
    QCOMPARE(path->currentText(), pathText);
    QCOMPARE(pane->property("plainText").toString(), paneText);
    QCOMPARE(preview->toPlainText(), previewText);
    QCOMPARE(collapsed.count(), 0);

    // The keyboard's Enter (and the keypad's) in the path box runs the query.
    const QString id = QString::number(here.window.winId());
    QVERIFY(run(QStringList{"mousemove"} << xy(centre(path)) << "click" << "1" << "windowfocus" << "--sync" << id
                                         << "key" << "ctrl+a" << "type" << "//c"));
    QTRY_COMPARE(path->currentText(), QStringLiteral("//c"));
    QVERIFY(run({"key", "Return"}));
    QTRY_COMPARE(here.window.statusText(), QStringLiteral("1件検索されました。"));
    QVERIFY(run(QStringList{"mousemove"} << xy(centre(path)) << "click" << "1" << "key" << "ctrl+a" << "type" << "//*"));
    QTRY_COMPARE(path->currentText(), QStringLiteral("//*"));
    QVERIFY(run({"key", "KP_Enter"}));
    QTRY_COMPARE(here.window.statusText(), QStringLiteral("2件検索されました。"));

    // A moved node leaves only once the other tree has inserted it: a
    // processing instruction it refuses stays, unchanged and unmarked here;
    // a prefixed attribute brings its namespace and goes.
    here.window.LoadXML(QStringLiteral("<r xmlns:p=\"urn:p\" p:k=\"v\"><?t d?></r>"));
    tvw->expandAll();
    rows.clear();
    for (QModelIndex index = here.model().documentIndex(); index.isValid(); index = tvw->indexBelow(index))
        rows << tvw->viewport()->mapTo(&here.window, tvw->visualRect(index).center());
    QCOMPARE(rows.size(), 5); // #document, r, xmlns:p, p:k, ?t
    const QString kept = here.flat();
    const int steps = here.steps();
    QVERIFY(drag(at(4, false), at(1, true), false));
    QTest::qWait(1500);
    QCOMPARE(here.flat(), kept);
    QCOMPARE(here.steps(), steps);
    QVERIFY(drag(at(3, false), at(1, true), false));
    QTRY_COMPARE(here.flat(), QStringLiteral("<r xmlns:p=\"urn:p\"><?t d?></r>"));

    // Dropped on a window without a document, an attribute is no document:
    // the other editor keeps it. (There: #document, s, xmlns:p, p:k.)
    TestWindow empty;
    empty.window.setGeometry(0, 0, 690, 560);
    QVERIFY(empty.showWindow());
    QVERIFY(drag(at(3, true), empty.window.rect().center(), false));
    QTRY_COMPARE(empty.prompt->shown.size(), 1);

    // The other editor saves what it has: the moved nodes, its own kept.
    QVERIFY(run({"windowfocus", "--sync", window, "key", "ctrl+s"}));
    const auto saved = [&] {
        QFile f(other);
        return f.open(QIODevice::ReadOnly) ? flat(QString::fromUtf8(f.readAll())) : QString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(saved(), QStringLiteral("<s xmlns:p=\"urn:p\" p:k=\"v\"><c/><b><a/></b></s>"), 10000);
}

// F2, an invalid name, Enter, OK on Qt's own message box, then Down, as
// keys through the X server: the fault lay in where the window put the focus
// once the box and the label editor were gone.
void TestDragDrop::refusedLabelEditGivesTheTreeTheKeys()
{
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (QGuiApplication::platformName() != QLatin1String("xcb") || xdotool.isEmpty())
        QSKIP("needs Xvfb and xdotool");
    frmMain window; // the real prompts
    window.LoadXML(QStringLiteral("<r><a/><b/></r>"));
    window.setGeometry(0, 0, 690, 560);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    NodeTreeView *tvw = window.tvw();
    tvw->expandAll();
    const QModelIndex r = window.model().index(0, 0, window.model().documentIndex());
    tvw->setCurrentIndex(window.model().index(0, 0, r));
    // The keys after the name in one run: the box's own event loop holds
    // this process's until the box is answered. The window gets the focus
    // back as a window manager gives it when a box goes.
    const QString id = QString::number(window.winId());
    const auto run = [&](const QStringList &arguments) {
        QProcess keys;
        keys.start(xdotool, arguments);
        return QTest::qWaitFor([&] { return keys.state() == QProcess::NotRunning; }, 30000) && keys.exitCode() == 0;
    };
    QVERIFY(run({"windowfocus", "--sync", id, "sleep", "0.3", "key", "F2", "sleep", "0.5", "type", "1bad"}));
    QVERIFY(run({"key", "Return", "sleep", "1.5", "key", "Return", "sleep", "1", "windowfocus", "--sync", id, "sleep", "0.3", "key", "Down"}));
    QTRY_COMPARE(window.model().nodeAt(tvw->currentIndex()).nodeName(), QStringLiteral("b"));
    QVERIFY(tvw->hasFocus());
    QCOMPARE(flat(window.dom()->xml(window.dom()->documentNode())), QStringLiteral("<r><a/><b/></r>"));
    window.closeWithoutAsking();
}

// Typed through the X server, with the document's DTD in use: a value
// outside its attribute's list becomes a fault once typing pauses, F8 and
// Shift+F8 go from fault to fault, and the mark goes when the value is right.
void TestDragDrop::schemaFaultsFollowTheKeys()
{
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (QGuiApplication::platformName() != QLatin1String("xcb") || xdotool.isEmpty())
        QSKIP("needs Xvfb and xdotool");
    QTemporaryDir dir;
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    QVERIFY(write(QStringLiteral("g.dtd"), "<!ELEMENT r (a*)><!ELEMENT a EMPTY><!ATTLIST a k (x|y) #REQUIRED>"));
    QVERIFY(write(QStringLiteral("d.xml"), "<!DOCTYPE r SYSTEM 'g.dtd'>\n<r>\n<a/>\n<a k='x'/>\n<a k='x'/>\n</r>\n"));
    frmMain window;
    QVERIFY(window.OpenFile(dir.filePath(QStringLiteral("d.xml"))));
    window.setGeometry(0, 0, 690, 560);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *count = window.findChild<QLabel *>(QStringLiteral("sbrFaults"));
    QTRY_COMPARE(count->text(), QStringLiteral("1 件のエラー"));
    const XmlNode root = window.dom()->documentElement();
    const XmlNode k = root.lastChild().attributeNode(QStringLiteral("k"));
    window.selection().ShowNode(window.model().indexForNode(k), true);
    window.txtEdit()->setFocus();
    const QString id = QString::number(window.winId());
    const auto run = [&](const QStringList &arguments) {
        QProcess keys;
        keys.start(xdotool, arguments);
        return QTest::qWaitFor([&] { return keys.state() == QProcess::NotRunning; }, 30000) && keys.exitCode() == 0;
    };
    const auto selectedLine = [&] { return window.selection().GetSelectedDOMNode().lineNumber(); };
    QVERIFY(run({"windowfocus", "--sync", id, "sleep", "0.3", "type", "z"}));
    QTRY_COMPARE_WITH_TIMEOUT(count->text(), QStringLiteral("2 件のエラー"), 10000);
    QCOMPARE(k.text(), QStringLiteral("zx"));
    window.selection().ShowNode(window.model().indexForNode(root), true);
    QVERIFY(run({"key", "Escape", "sleep", "0.3", "key", "F8"}));
    QTRY_COMPARE(selectedLine(), 3);
    QVERIFY(run({"key", "F8"}));
    QTRY_COMPARE(selectedLine(), 5);
    QVERIFY(run({"key", "F8"}));
    QTRY_COMPARE(selectedLine(), 3);
    QVERIFY(run({"key", "shift+F8"}));
    QTRY_COMPARE(selectedLine(), 5);

    window.selection().ShowNode(window.model().indexForNode(k), true);
    window.txtEdit()->setFocus();
    QVERIFY(run({"key", "Escape", "Home", "Delete"}));
    QTRY_COMPARE_WITH_TIMEOUT(count->text(), QStringLiteral("1 件のエラー"), 10000);
    QCOMPARE(k.text(), QStringLiteral("x"));
    QCOMPARE(window.model().faults().keys(), QList<XmlNode>{root.firstChild()});
    window.closeWithoutAsking();
}

// Clicks through the X server on the lists a schema offers: the value
// pane's opens under the text, wide enough to read its longest value, and
// takes a clicked value; with it open, a click elsewhere does what it
// would do without; the label editor's takes a clicked name.
void TestDragDrop::offeredListsTakeClicks()
{
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (QGuiApplication::platformName() != QLatin1String("xcb") || xdotool.isEmpty())
        QSKIP("needs Xvfb and xdotool");
    const QString longValue = QStringLiteral("a-value-written-out-at-such-length-that-it-is-wider-than-the-value-pane");
    QTemporaryDir dir;
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    QVERIFY(write(QStringLiteral("g.dtd"), "<!ELEMENT r (a*, b?)><!ELEMENT a EMPTY><!ELEMENT b EMPTY><!ATTLIST a k (short|" +
                                               longValue.toLatin1() + ") #REQUIRED>"));
    QVERIFY(write(QStringLiteral("d.xml"), "<!DOCTYPE r SYSTEM 'g.dtd'>\n<r><a k='short'/><a k='short'/></r>\n"));
    frmMain window;
    QVERIFY(window.OpenFile(dir.filePath(QStringLiteral("d.xml"))));
    window.setGeometry(0, 0, 690, 560);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto run = [&](const QStringList &arguments) {
        QProcess input;
        input.start(xdotool, arguments);
        return QTest::qWaitFor([&] { return input.state() == QProcess::NotRunning; }, 30000) && input.exitCode() == 0;
    };
    const auto click = [&](const QPoint &at) {
        return run({"mousemove", "--sync", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    };
    const XmlNode root = window.dom()->documentElement();
    const XmlNode k = root.firstChild().attributeNode(QStringLiteral("k"));
    window.selection().ShowNode(window.model().indexForNode(k), true);
    ValuePane *pane = window.txtEdit();
    QVERIFY(click(pane->mapToGlobal(QPoint(pane->width() / 2, 8))));
    QTRY_VERIFY(pane->offered() && pane->offered()->popup()->isVisible());
    // Gone with the pane's list once an element is selected.
    QPointer<QAbstractItemView> list = pane->offered()->popup();
    const QRect placed = list->geometry();
    QVERIFY2(placed.width() > list->fontMetrics().horizontalAdvance(longValue) && placed.width() >= pane->width(),
             qPrintable(QString::number(placed.width())));
    QVERIFY(placed.top() >= pane->mapToGlobal(pane->cursorRect().bottomLeft()).y());
    const auto row = [&](QAbstractItemView *view, int n) {
        return view->viewport()->mapToGlobal(view->visualRect(view->model()->index(n, 0)).center());
    };
    QVERIFY(click(row(list, 1)));
    QTRY_COMPARE(k.text(), longValue);

    // Open again by typing; the first click on the tree selects there.
    QVERIFY(run({"key", "BackSpace"}));
    QTRY_VERIFY(list->isVisible());
    const XmlNode second = root.lastChild();
    NodeTreeView *tvw = window.tvw();
    const QRect label = tvw->visualRect(window.model().indexForNode(second));
    QVERIFY(click(tvw->viewport()->mapToGlobal(label.topLeft() + QPoint(12, label.height() / 2))));
    QTRY_COMPARE(window.selection().GetSelectedDOMNode(), second);
    QVERIFY(!list || !list->isVisible());

    QVERIFY(run({"key", "F2"}));
    QLineEdit *editor = nullptr;
    QTRY_VERIFY((editor = tvw->findChild<QLineEdit *>(QStringLiteral("tvwLabelEdit"))) && editor->findChild<QCompleter *>()
                && editor->findChild<QCompleter *>()->popup()->isVisible());
    QAbstractItemView *names = editor->findChild<QCompleter *>()->popup();
    QCOMPARE(names->model()->index(1, 0).data().toString(), QStringLiteral("b"));
    QVERIFY(click(row(names, 1)));
    QTRY_COMPARE(root.lastChild().nodeName(), QStringLiteral("b"));
    window.closeWithoutAsking();
}

int main(int argc, char **argv)
{
    // Drags are the X server's business, so this test runs on an X server
    // of its own, whatever platform it was started with: the window in this
    // process and an editor in another, moved by synthetic mouse events.
    XvfbScreen server;
    const QString noServer = server.start("1400x900x24", argc, argv);
    std::vector<char *> args = XvfbScreen::withoutPlatform(argc, argv);
    if (noServer.isEmpty()) {
        server.useForThisProcess();
    }
    int count = int(args.size());
    // Set up as the editor's own start does, so rows lie alike in both.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(count, args.data());
    installFontSubstitutions();
    QApplication::setFont(QFont(QStringLiteral("MS UI Gothic"), 10));
    TestDragDrop test;
    return QTest::qExec(&test, count, args.data());
}

#include "tst_dragdrop.moc"
