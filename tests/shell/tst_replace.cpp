#include "TestTables.h"
#include "TestWindow.h"
#include "XvfbScreen.h"
#include "document/NodeTreeView.h"
#include "editing/NodeFinder.h"
#include "shell/ClipboardSearchCommands.h"
#include "shell/ReplaceDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

class TestReplace : public QObject
{
    Q_OBJECT

private slots:
    void replaceAll_data();
    void replaceAll();
    void oneMatchAtATime();
    void savedFileKeepsUntouchedBytes();
    void keysAndFocusThroughTheXServer();
};

namespace {

// The window's dialog, opened as Edit > 置換 opens it.
ReplaceDialog *openDialog(TestWindow &w)
{
    w.window.menuItem(QStringLiteral("mnuEditReplace"))->trigger();
    return w.window.clipboardSearch().replaceDialog();
}

template <typename T>
T *control(ReplaceDialog *dialog, const char *name)
{
    return dialog->findChild<T *>(QString::fromLatin1(name));
}

// Fills the dialog: `options` names the check boxes to turn on or off
// ("+chkRegex -chkText") and the scope's radio button.
void fill(ReplaceDialog *dialog, const QString &find, const QString &replacement, const QString &options)
{
    control<QLineEdit>(dialog, "txtFind")->setText(find);
    control<QLineEdit>(dialog, "txtReplace")->setText(replacement);
    for (const QString &option : options.split(u' ', Qt::SkipEmptyParts)) {
        const QByteArray name = option.mid(1).toLatin1();
        if (auto *box = control<QCheckBox>(dialog, name.constData()))
            box->setChecked(option[0] == u'+');
        else if (auto *radio = control<QRadioButton>(dialog, name.constData()))
            radio->setChecked(true);
    }
}

} // namespace

void TestReplace::replaceAll_data()
{
    addColumns<QString, QString, QString, QString, QString, QString, QString>(
        {"xml", "find", "replacement", "options", "setup", "expected", "message"});
    auto row = [](const char *name, const char *xml, const char *find, const char *replacement, const char *options,
                  const char *setup, const char *expected, const char *message) {
        QTest::newRow(name) << QString::fromUtf8(xml) << QString::fromUtf8(find) << QString::fromUtf8(replacement)
                            << QString::fromUtf8(options) << QString::fromUtf8(setup)
                            << QString::fromUtf8(*expected ? expected : xml) << QString::fromUtf8(message);
    };
    row("values and text by default, not comments", "<r a=\"x1\" b=\"y\"><c d=\"x2\">x3</c><!--x4--></r>", "x", "z",
        "", "", "<r a=\"z1\" b=\"y\"><c d=\"z2\">z3</c><!--x4--></r>", "3 件置換しました。");
    row("declarations and values deep in the tree, in order",
        "<r xmlns:p=\"urn:x\"><a><b><c k=\"x\"/></b></a><!--x--><d xmlns:q=\"x:q\" e=\"x\">x<![CDATA[x]]></d></r>", "x",
        "z", "", "", "<r xmlns:p=\"urn:z\"><a><b><c k=\"z\"/></b></a><!--x--><d xmlns:q=\"z:q\" e=\"z\">z<![CDATA[z]]></d></r>",
        "6 件置換しました。");
    row("occurrences counted, case ignored", "<r a=\"Ab ab aB\"/>", "ab", "x", "", "", "<r a=\"x x x\"/>",
        "3 件置換しました。");
    row("case kept apart", "<r a=\"Ab ab\"/>", "ab", "x", "+chkCase", "", "<r a=\"Ab x\"/>", "1 件置換しました。");
    row("full-width letters are other letters", "<r a=\"ＡＢ AB\"/>", "ab", "x", "", "", "<r a=\"ＡＢ x\"/>",
        "1 件置換しました。");
    row("whole words", "<r a=\"cat catalog .cat.\"/>", "cat", "dog", "+chkWord", "", "<r a=\"dog catalog .dog.\"/>",
        "2 件置換しました。");
    row("pattern with groups", "<r a=\"2024-12-07\"/>", "(\\d+)-(\\d+)-(\\d+)", "\\3/\\2/\\1", "+chkRegex", "",
        "<r a=\"07/12/2024\"/>", "1 件置換しました。");
    row("invalid pattern", "<r a=\"x\"/>", "(x", "y", "+chkRegex", "", "", "正規表現が正しくありません");
    row("names, comments, CDATA, instructions",
        "<r><item item=\"item\"/><!--item--><![CDATA[item]]><?pi item?></r>", "item", "entry",
        "+chkElementNames +chkAttributeNames -chkAttributeValues +chkComments +chkInstructions", "",
        "<r><entry entry=\"item\"/><!--entry--><![CDATA[entry]]><?pi entry?></r>", "5 件置換しました。");
    row("invalid element name skipped", "<r><xa/><a/></r>", "a", "-", "+chkElementNames", "", "<r><x-/><a/></r>",
        "1 件置換しました。1 件は置換できませんでした。");
    row("taken attribute name skipped", "<r a=\"1\" b=\"2\"/>", "a", "b", "+chkAttributeNames", "", "",
        "0 件置換しました。1 件は置換できませんでした。属性「b」はすでに存在します。");
    row("undeclared prefix skipped", "<r><p/></r>", "p", "q:p", "+chkElementNames", "", "",
        "0 件置換しました。1 件は置換できませんでした。名前空間の接頭辞「q」は宣言されていません。");
    row("markup-breaking content skipped", "<r><!--a--><!--b-a--><![CDATA[a]]><?pi a?></r>", "a", "-",
        "+chkComments +chkInstructions -chkText", "", "<r><!--a--><!--b-a--><![CDATA[a]]><?pi -?></r>",
        "1 件置換しました。2 件は置換できませんでした。");
    row("CDATA end and instruction end skipped", "<r><![CDATA[a]]><?pi a?></r>", "a", "]]>?>", "+chkInstructions", "",
        "", "0 件置換しました。2 件は置換できませんでした。");
    row("selected subtree", "<r a=\"x\"><c b=\"x\">x</c><d>x</d></r>", "x", "z", "+optSubtree", "select c",
        "<r a=\"x\"><c b=\"z\">z</c><d>x</d></r>", "2 件置換しました。");
    row("path with a prefix", "<r xmlns:p=\"urn:p\"><p:a k=\"x\"/><a k=\"x\"/></r>", "x", "z", "+optPath",
        "path //p:a", "<r xmlns:p=\"urn:p\"><p:a k=\"z\"/><a k=\"x\"/></r>", "1 件置換しました。");
    row("nothing found", "<r a=\"x\"/>", "q", "z", "", "", "", "見つかりませんでした");
    row("locked names", "<r><x x=\"x\"/></r>", "x", "y", "+chkElementNames", "lock", "<r><x x=\"y\"/></r>",
        "1 件置換しました。1 件は置換できませんでした。要素・属性名はロックされています。");
    row("read-only", "<r a=\"x\"/>", "x", "z", "", "readonly", "", "");
}

// Every kind, option and scope through the dialog's すべて置換, which is one
// history step that undo and redo take back and forth whole, and which
// leaves the tree's open items and its selection as they were.
void TestReplace::replaceAll()
{
    QFETCH(QString, xml);
    QFETCH(QString, find);
    QFETCH(QString, replacement);
    QFETCH(QString, options);
    QFETCH(QString, setup);
    QFETCH(QString, expected);
    QFETCH(QString, message);
    TestWindow w(xml);
    w.window.undo().ResetUndo(); // as opening a file starts the history
    w.window.tvw()->expandAll();
    QModelIndex selected = w.item({0});
    if (setup.startsWith(QLatin1String("select ")))
        selected = w.model().indexForNode(w.doc().documentElement().firstChild());
    w.select(selected);
    if (setup == QLatin1String("lock"))
        w.window.menuItem(QStringLiteral("mnuViewLock"))->setChecked(true);
    if (setup == QLatin1String("readonly"))
        w.window.flags().m_ReadOnly = true;
    ReplaceDialog *dialog = openDialog(w);
    QVERIFY(dialog && dialog->isVisible());
    if (setup.startsWith(QLatin1String("path ")))
        control<QLineEdit>(dialog, "txtPath")->setText(setup.mid(5));
    fill(dialog, find, replacement, options);
    const QString before = w.flat();
    auto *all = control<QPushButton>(dialog, "cmdReplaceAll");
    QCOMPARE(all->isEnabled(), setup != QLatin1String("readonly"));
    all->click();
    const QString after = w.flat();
    QCOMPARE(after, expected);
    QVERIFY2((control<QLabel>(dialog, "lblMessage")->text() + u'|').startsWith(message),
             qPrintable(control<QLabel>(dialog, "lblMessage")->text()));
    QCOMPARE(w.selected(), QModelIndex(selected));
    QVERIFY(w.window.tvw()->isExpanded(w.item({0})));
    if (after == before) {
        QVERIFY(!w.window.undo().CanUndo());
        return;
    }
    QCOMPARE(w.window.statusText(), control<QLabel>(dialog, "lblMessage")->text());
    w.window.undo().DoUndo(); // one step takes every replacement back
    QCOMPARE(w.flat(), before);
    w.window.undo().DoRedo();
    QCOMPARE(w.flat(), expected);
}

// 次を検索 goes through the matches in the tree's order (names before
// values, attributes before children) starting after the selection; 置換
// replaces the one found, as a step of its own, and goes on.
void TestReplace::oneMatchAtATime()
{
    TestWindow w(QStringLiteral("<r x=\"x\"><x>ax</x><!--x--></r>"));
    w.window.undo().ResetUndo();
    w.select(w.item({0}));
    ReplaceDialog *dialog = openDialog(w);
    fill(dialog, QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("+chkElementNames +chkAttributeNames"));
    auto *findNext = control<QPushButton>(dialog, "cmdFindNext");
    auto *replace = control<QPushButton>(dialog, "cmdReplace");
    const auto selectedName = [&] { return w.window.selection().GetSelectedDOMNode().nodeName(); };
    findNext->click();
    QCOMPARE(selectedName(), QStringLiteral("x")); // the attribute's name
    findNext->click();
    QCOMPARE(w.window.selection().GetSelectedDOMNode().isAttribute(), true); // its value
    replace->click();
    QCOMPARE(w.flat(), QStringLiteral("<r x=\"y\"><x>ax</x><!--x--></r>"));
    QCOMPARE(selectedName(), QStringLiteral("x")); // then the element
    replace->click();
    QCOMPARE(selectedName(), QStringLiteral("#text"));
    replace->click();
    QCOMPARE(w.flat(), QStringLiteral("<r x=\"y\"><y>ay</y><!--x--></r>"));
    QCOMPARE(control<QLabel>(dialog, "lblMessage")->text(), QStringLiteral("終わりまで検索しました。"));
    QCOMPARE(w.window.statusText(), QStringLiteral("終わりまで検索しました。"));
    w.window.undo().DoUndo();
    QCOMPARE(w.flat(), QStringLiteral("<r x=\"y\"><y>ax</y><!--x--></r>"));
}

// Only what was replaced is written anew: the rest of the file keeps its
// quoting, spacing and references, and the file parses again.
void TestReplace::savedFileKeepsUntouchedBytes()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("d.xml"));
    const QByteArray original = "<?xml version='1.0'?>\n<r  k = 'v' >\n  <a   n='x' />\n"
                                "  <b m=\"&amp;x\"   >x &amp; y</b>\n  <!--  x  -->\n</r>\n";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(original) == original.size());
    file.close();
    TestWindow w;
    QVERIFY(w.window.OpenFile(path));
    ReplaceDialog *dialog = openDialog(w);
    fill(dialog, QStringLiteral("x"), QStringLiteral("\"<z>\""), QString());
    control<QPushButton>(dialog, "cmdReplaceAll")->click();
    QVERIFY(w.window.SaveFile(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    QCOMPARE(saved, QByteArray("<?xml version='1.0'?>\n<r  k = 'v' >\n  <a n=\"&quot;&lt;z&gt;&quot;\"/>\n"
                               "  <b m=\"&amp;&quot;&lt;z&gt;&quot;\">\"&lt;z&gt;\" &amp; y</b>\n  <!--  x  -->\n</r>\n"));
    QVERIFY(XmlDocument::parse(QString::fromUtf8(saved)));
}

// The dialog's keys as a user types them, through the X server: Ctrl+H opens
// it with the last find's text in the focused find box, Tab goes to the
// replacement, Alt+A replaces all, Esc closes it and Ctrl+Z undoes it all.
void TestReplace::keysAndFocusThroughTheXServer()
{
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (QGuiApplication::platformName() != QLatin1String("xcb") || xdotool.isEmpty())
        QSKIP("needs Xvfb and xdotool");
    TestWindow w(QStringLiteral("<r a=\"old\"><b c=\"old\">old</b></r>"));
    w.window.undo().ResetUndo();
    w.prompt->inputAnswers.enqueue(QStringLiteral("old"));
    w.window.clipboardSearch().finder().mnuEditFind_Click();
    w.window.setGeometry(0, 0, 690, 560);
    QVERIFY(w.showWindow(true));
    const auto run = [&](const QStringList &arguments) {
        QProcess keys;
        keys.start(xdotool, arguments);
        return QTest::qWaitFor([&] { return keys.state() == QProcess::NotRunning; }, 30000) && keys.exitCode() == 0;
    };
    const QString id = QString::number(w.window.winId());
    QVERIFY(run({"windowfocus", "--sync", id, "sleep", "0.3", "key", "ctrl+h"}));
    ReplaceDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = w.window.clipboardSearch().replaceDialog()) && dialog->isActiveWindow());
    auto *find = control<QLineEdit>(dialog, "txtFind");
    QTRY_VERIFY(find->hasFocus());
    QCOMPARE(find->text(), QStringLiteral("old"));
    QVERIFY(run({"key", "Tab", "sleep", "0.2", "type", "new"}));
    QTRY_COMPARE(control<QLineEdit>(dialog, "txtReplace")->text(), QStringLiteral("new"));
    QVERIFY(run({"key", "alt+a"}));
    QTRY_COMPARE(w.flat(), QStringLiteral("<r a=\"new\"><b c=\"new\">new</b></r>"));
    QCOMPARE(w.window.statusText(), QStringLiteral("3 件置換しました。"));
    QVERIFY(run({"key", "Escape"}));
    QTRY_VERIFY(!dialog->isVisible());
    QVERIFY(run({"windowfocus", "--sync", id, "sleep", "0.3", "key", "ctrl+z"}));
    QTRY_COMPARE(w.flat(), QStringLiteral("<r a=\"old\"><b c=\"old\">old</b></r>"));
    w.window.closeWithoutAsking();
}

int main(int argc, char **argv)
{
    return execOnOwnServer<TestReplace>(argc, argv);
}

#include "tst_replace.moc"
