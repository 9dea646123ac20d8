#include "TestFiles.h"
#include "TestWindow.h"
#include "document/DocumentLifecycle.h"
#include "document/Recovery.h"
#include "document/RecoveryJournal.h"
#include "document/TempFolder.h"
#include "shell/InstanceLife.h"
#include "shell/basGlobal.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QScopeGuard>
#include <QProcess>
#include <QSignalSpy>

#include <iostream>
#include <unistd.h>

// Unsaved work outliving its process, and long loads and saves the user
// may cancel. A killed editor is a child process of this test, started
// from the same executable (see main below).
class TestRecovery : public QObject
{
    Q_OBJECT

    TestFiles m_files;
    QString m_big; // a file large enough for its load and save to report progress

    static bool waitForCopy(frmMain &window)
    {
        QSignalSpy written(window.recovery(), &RecoveryWriter::written);
        return written.wait(20000);
    }
    static QStringList copies()
    {
        QStringList found;
        for (const QString &dir : QDir(Recovery::root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QString &copy : QDir(Recovery::root() + '/' + dir).entryList({"*.xml", "*.journal"}, QDir::Files))
                found << Recovery::root() + '/' + dir + '/' + copy;
        return found;
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_files.path("state")));
        QByteArray big = "<r>";
        for (int i = 0; i < 30000; ++i)
            big += "<e n=\"" + QByteArray::number(i) + "\">text</e>";
        m_big = m_files.write("big.xml", big + "</r>");
    }

    void copyLastsWhileChangesAreUnsaved_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("saved") << "save";
        QTest::newRow("closed, changes not wanted") << "close";
        QTest::newRow("reloaded, changes dropped") << "reload";
        QTest::newRow("closed by a client, copy kept") << "unasked";
    }
    void copyLastsWhileChangesAreUnsaved()
    {
        QFETCH(QString, end);
        const QString path = m_files.write("doc.xml", "<r/>");
        TestWindow w;
        QVERIFY(w.window.OpenFile(path));
        w.window.UpdateStatus(path);
        w.change("1");
        QVERIFY(waitForCopy(w.window));
        const QString copy = w.window.recovery()->copyPath();
        QVERIFY(TestFiles::read(copy).contains("n=\"1\""));
        w.change("2"); // a later change replaces the copy's content
        QVERIFY(waitForCopy(w.window));
        QVERIFY(TestFiles::read(copy).contains("n=\"2\""));
        if (end == "save") {
            w.window.lifecycle().mnuFileSave_Click();
        } else if (end == "close") {
            w.prompt->answers.enqueue(Prompt::Answer::No);
            QVERIFY(w.window.close());
        } else if (end == "reload") {
            w.prompt->answers.enqueue(Prompt::Answer::Yes);
            w.window.lifecycle().mnuFileReload_Click();
        } else {
            // Typed just before, with no pause for the copy to be written.
            w.window.show();
            w.change("3");
            w.window.closeWithoutAsking();
            QCOMPARE(copies(), QStringList{copy});
            QVERIFY(TestFiles::read(copy).contains("n=\"3\""));
            QFile::remove(copy);
            QFile::remove(copy.chopped(4) + ".source");
            return;
        }
        QVERIFY(!QFile::exists(copy));
        QVERIFY(copies().isEmpty());
    }

    // Edits as the commands make them, each one undo step, on the file
    // journalled below.
    static void edit(TestWindow &w, const QString &path, const QString &what)
    {
        XmlDocument &d = w.doc();
        const XmlNode r = d.documentElement();
        const XmlNode b = r.firstChild();
        const XmlNode list = b.nextSibling().nextSibling();
        if (what == "rename") {
            d.rename(b, "bb");
        } else if (what == "value") {
            d.setText(b.firstChild(), "text & less");
        } else if (what == "attributes") {
            d.setAttribute(r, "new", "v");
            d.setText(r.attributeNode("a"), "changed");
            d.removeAttribute(b, "id");
            d.setAttribute(r, "xmlns:q", "urn:q");
        } else if (what == "insert") {
            const XmlNode e = d.createElement("p:n");
            d.insertBefore(list, e, list.firstChild());
            d.setAttribute(e, "k", "v");
            d.appendChild(e, d.createComment("c"));
        } else if (what == "delete") {
            d.removeNode(list.firstChild());
        } else if (what == "element text") {
            d.setText(list, "plain");
        } else if (what == "move") {
            d.insertBefore(r, list.lastChild(), b);
        } else if (what == "paste") {
            const auto pasted = XmlDocument::parse("<p:z xmlns:p=\"urn:p\" t='1'><q>&lt;日本</q></p:z>");
            d.insertBefore(r, d.cloneNode(pasted->documentElement()), list);
        } else if (what == "values apart") {
            // Forward and back, near and far: positions are counted from
            // the last node the journal named.
            QList<XmlNode> padding;
            for (XmlNode n = list.nextSibling(); n; n = n.nextSibling())
                if (n.kind() == NodeKind::Element)
                    padding.append(n);
            for (int i : {150, 3, 120, 121, 119, 199, 0, 60})
                d.setText(padding[i].attributeNode("n"), QString::number(-i));
        } else if (what == "long values") {
            // More records than are held back before the pause: written as they come.
            int i = 0;
            for (XmlNode n = list.nextSibling(); n; n = n.nextSibling())
                if (n.kind() == NodeKind::Element)
                    d.setText(n.attributeNode("n"), QString(300, QChar(u'あ' + i++ % 80)));
        } else if (what == "undo") {
            w.window.undo().DoUndo();
            return;
        } else if (what == "redo") {
            w.window.undo().DoRedo();
            return;
        } else if (what == "save") {
            QVERIFY(w.window.SaveFile(path));
            return;
        }
        w.window.DocumentModified();
    }

    // The journal of a file's changes restores the bytes a whole copy of
    // the document would hold, which is what saving it would write.
    void journalRestoresWhatACopyWould_data()
    {
        QTest::addColumn<QStringList>("edits");
        QTest::addColumn<bool>("journal"); // false: a whole copy stands for it
        QTest::newRow("rename") << QStringList{"rename"} << true;
        QTest::newRow("value") << QStringList{"value"} << true;
        QTest::newRow("attributes") << QStringList{"attributes"} << true;
        QTest::newRow("insert") << QStringList{"insert"} << true;
        QTest::newRow("delete") << QStringList{"delete"} << true;
        QTest::newRow("element text") << QStringList{"element text"} << true;
        QTest::newRow("move") << QStringList{"move"} << true;
        QTest::newRow("paste") << QStringList{"paste"} << true;
        QTest::newRow("values apart, undone, redone") << QStringList{"values apart", "undo", "redo"} << true;
        QTest::newRow("long values") << QStringList{"long values"} << true;
        QTest::newRow("undo and redo mixed")
            << QStringList{"delete", "move", "undo", "rename", "paste", "undo", "redo", "insert", "undo", "value"} << true;
        QTest::newRow("edited after a save") << QStringList{"rename", "move", "save", "value", "delete", "undo"} << true;
        QTest::newRow("undone to the saved state, then edited") << QStringList{"rename", "move", "undo", "undo", "value"} << true;
        // The node comes back with the file's bytes the journal never had.
        QTest::newRow("deleted before a save, back after") << QStringList{"delete", "save", "undo"} << false;
    }
    void journalRestoresWhatACopyWould()
    {
        QFETCH(QStringList, edits);
        QFETCH(bool, journal);
        const bool large = edits.contains("long values");
        QByteArray pad;
        for (int i = 0; i < (large ? 3000 : 200); ++i)
            pad += "\n  <e n='" + QByteArray::number(i) + "'>" + (large ? QByteArray(1000, 'p') : "padding") + "</e>";
        const QString path = m_files.write("journal.xml", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<!-- head -->\n<r xmlns:p=\"urn:p\" a='single'>\n"
                                                          "  <b id=\"1\">text &amp; more</b>\n\t<p:c x = \"1\" />\n"
                                                          "  <list><i>one</i> <i>two</i><i>three</i></list>" + pad + "\n</r>\n");
        TestWindow w;
        QVERIFY(w.window.OpenFile(path));
        w.window.UpdateStatus(path);
        for (const QString &e : edits)
            edit(w, path, e);
        QVERIFY(waitForCopy(w.window));
        const QString copy = w.window.recovery()->copyPath();
        QCOMPARE(copy.endsWith(".journal"), journal);
        QByteArray expected;
        QVERIFY(w.doc().serialize(&expected));

        TestWindow restored;
        QString error;
        QVERIFY2(restored.window.lifecycle().Recover(copy, path, &error), qPrintable(error));
        QByteArray got;
        QVERIFY(restored.doc().serialize(&got));
        QCOMPARE(QString::fromUtf8(got), QString::fromUtf8(expected));
    }

    // An editor with an unsaved change to `path` in a child process, killed
    // once its copy is on disk: the copy, which nobody was offered while
    // that editor ran.
    QString killedEditorsCopy(const QString &path)
    {
        QProcess editor;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("OSTREL_RECOVERY_CHILD", path);
        editor.setProcessEnvironment(env);
        editor.start(QCoreApplication::applicationFilePath(), {"-platform", "offscreen"});
        if (!editor.waitForStarted())
            return QString();
        while (!editor.readAllStandardOutput().contains("written"))
            if (!editor.waitForReadyRead(30000))
                return QString();
        ScriptedPrompt prompt;
        Recovery::offerOrphans(prompt, [](const QString &, const QString &, QString *) { return true; });
        const QStringList left = copies();
        editor.kill();
        editor.waitForFinished();
        return prompt.shown.isEmpty() && left.size() == 1 ? left[0] : QString();
    }

    void killedEditorsWorkIsOffered_data()
    {
        QTest::addColumn<Prompt::Answer>("answer");
        QTest::addColumn<QString>("spoiled"); // the copy, or the file it belongs to, changed after the kill
        QTest::addColumn<int>("padding");     // a file this long is kept as a journal of its changes
        QTest::newRow("restored") << Prompt::Answer::Yes << "" << 0;
        QTest::newRow("declined") << Prompt::Answer::No << "" << 0;
        QTest::newRow("copy does not parse") << Prompt::Answer::Yes << "copy" << 0;
        QTest::newRow("restored from the journal") << Prompt::Answer::Yes << "" << 200;
        QTest::newRow("journal spoiled") << Prompt::Answer::Yes << "copy" << 200;
        QTest::newRow("file changed since the journal began") << Prompt::Answer::Yes << "file" << 200;
    }
    void killedEditorsWorkIsOffered()
    {
        QFETCH(Prompt::Answer, answer);
        QFETCH(QString, spoiled);
        QFETCH(int, padding);
        const QByteArray content = padding ? "<r><!--" + QByteArray(padding, 'x') + "--></r>" : "<r/>";
        const QString path = m_files.write("killed.xml", content);
        const QString left = killedEditorsCopy(path);
        QVERIFY(!left.isEmpty());
        QCOMPARE(left.endsWith(".journal"), padding > 0);
        QFile copy(left);
        if (spoiled == "copy" && (!copy.open(QIODevice::WriteOnly) || copy.write("<r><unclosed></r>") < 0))
            QFAIL("cannot spoil the copy");
        copy.close();
        if (spoiled == "file")
            m_files.write("killed.xml", content + "\n");
        const bool corrupt = !spoiled.isEmpty();

        std::vector<std::unique_ptr<TestWindow>> restored;
        ScriptedPrompt prompt;
        prompt.answers.enqueue(answer);
        Recovery::offerOrphans(prompt, [&](const QString &copy, const QString &source, QString *error) {
            restored.push_back(std::make_unique<TestWindow>());
            return restored.back()->window.lifecycle().Recover(copy, source, error);
        });
        QCOMPARE(prompt.shown.size(), corrupt ? 2 : 1);
        QVERIFY(prompt.shown[0].text.contains(path));
        QCOMPARE(prompt.shown[0].buttons, Prompt::Buttons::YesNo);
        if (corrupt) {
            QVERIFY(prompt.shown[1].text.contains(left));
            QCOMPARE(copies(), QStringList{left}); // kept for the user
            QDir(QFileInfo(left).path()).removeRecursively();
            return;
        }
        QVERIFY(copies().isEmpty());
        QCOMPARE(restored.size(), answer == Prompt::Answer::Yes ? 1u : 0u);
        if (!restored.empty()) {
            frmMain &w = restored[0]->window;
            const auto expected = XmlDocument::parse(QString::fromUtf8(content));
            expected->setAttribute(expected->documentElement(), "n", "changed");
            QCOMPARE(restored[0]->markup(), expected->xml(expected->documentNode()));
            QVERIFY(w.flags().m_Dirty && w.flags().m_HasFile);
            QCOMPARE(w.flags().m_FileName, path);
            QCOMPARE(w.windowTitle(), "killed.xml * - Ostrel XML Editor");
            QCOMPARE(TestFiles::read(path), content); // the file itself waits for a save
        }
    }

    // The empty start-up window takes the recovered document: none is left
    // behind it.
    void startUpRestoresIntoItsEmptyWindow()
    {
        const QString path = m_files.write("started.xml", "<r/>");
        QVERIFY(!killedEditorsCopy(path).isEmpty());
        InstanceLife life;
        auto prompt = std::make_unique<ScriptedPrompt>();
        ScriptedPrompt *asked = prompt.get();
        QPointer<frmMain> restored = basGlobal::startStandAlone(QString(), life, std::move(prompt));
        QCOMPARE(asked->shown.size(), 1);
        QCOMPARE(life.count(), 1);
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(w == restored || !qobject_cast<frmMain *>(w) || !w->isVisible());
        QCOMPARE(restored->windowTitle(), "started.xml * - Ostrel XML Editor");
        QVERIFY(copies().isEmpty()); // until the restored window writes its own
        QVERIFY(waitForCopy(*restored));
        QVERIFY(restored->SaveFile(path)); // closed unasked, unsaved work would be kept
        restored->closeWithoutAsking();
        QVERIFY(copies().isEmpty());
    }

    // A planted link or another user's folder where the editor keeps its
    // folders is neither changed nor written into; recovery still works.
    void untrustedFoldersAreNotUsed_data()
    {
        QTest::addColumn<QString>("planted"); // in the state or runtime folder
        QTest::addColumn<bool>("link");
        QTest::newRow("recovery folder is a link") << "state/ostrel-edit/recovery" << true;
        QTest::newRow("recovery parent is a link") << "state/ostrel-edit" << true;
        QTest::newRow("recovery folder is another user's") << "state/ostrel-edit/recovery" << false;
        QTest::newRow("window folders' root is a link") << "runtime/ostrel-edit" << true;
    }
    void untrustedFoldersAreNotUsed()
    {
        QFETCH(QString, planted);
        QFETCH(bool, link);
        TestFiles files;
        const QString target = files.path("target");
        QVERIFY(QDir().mkpath(target) && QDir().mkpath(files.path("runtime")) && QDir().mkpath(QFileInfo(files.path(planted)).path()));
        QFile::setPermissions(files.path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (link)
            QVERIFY(QFile::link(target, files.path(planted)));
        else if (!QDir().mkdir(files.path(planted)) || ::chown(QFile::encodeName(files.path(planted)), 65534, 65534) != 0)
            QSKIP("giving a folder to another user needs root");
        const QFileDevice::Permissions before = QFileInfo(files.path(planted)).permissions();
        const auto restore = qScopeGuard([state = qgetenv("XDG_STATE_HOME")] {
            qputenv("XDG_STATE_HOME", state);
            qunsetenv("XDG_RUNTIME_DIR");
        });
        qputenv("XDG_STATE_HOME", QFile::encodeName(files.path("state")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(files.path("runtime")));

        const QString used = planted.startsWith("state") ? Recovery::root() : TempFolder::root();
        QVERIFY(!used.isEmpty() && !used.startsWith(files.path(planted)));
        QCOMPARE(QFileInfo(files.path(planted)).permissions(), before);
        // A window's folder, or a killed editor's copy, lands in the folder used instead.
        const QString made = planted.startsWith("state") ? killedEditorsCopy(m_files.write("fallback.xml", "<r/>")) : TempFolder().path();
        QVERIFY2(made.startsWith(used + '/'), qPrintable(made));
        QVERIFY(QDir(target).isEmpty());
    }

    void cancelledLoadChangesNothing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("open") << "open";
        QTest::newRow("reload") << "reload";
    }
    void cancelledLoadChangesNothing()
    {
        QFETCH(QString, command);
        TestWindow w;
        QVERIFY(w.window.OpenFile(m_big));
        w.window.UpdateStatus(m_big);
        w.change("kept");
        const QString markup = w.markup();
        const QString caption = w.window.windowTitle();
        const int rows = w.model().rowCount(w.item({0}));
        w.prompt->cancelProgressAt = 1;
        if (command == "open") {
            w.prompt->answers.enqueue(Prompt::Answer::No); // the changes are not saved first
            w.prompt->fileAnswers.enqueue({m_big});
            w.window.lifecycle().mnuFileOpen_Click();
        } else {
            w.prompt->answers.enqueue(Prompt::Answer::Yes); // the changes may go
            w.window.lifecycle().mnuFileReload_Click();
        }
        QCOMPARE(w.prompt->lastAsked(), "progress big.xml を開いています...");
        QVERIFY(w.window.lifecycle().wasCancelled());
        QCOMPARE(w.markup(), markup);
        QCOMPARE(w.window.windowTitle(), caption);
        QVERIFY(w.window.flags().m_Dirty);
        QCOMPARE(w.model().rowCount(w.item({0})), rows);
        QCOMPARE(w.prompt->shown.size(), 1); // the question only, no failure reported
    }

    void cancelledSaveKeepsTheFile()
    {
        const QString path = m_files.write("save.xml", TestFiles::read(m_big));
        // An opened file whose markup is kept is written back in one quick
        // pass; a document from markup is written whole, reporting progress.
        TestWindow w(QString::fromUtf8(TestFiles::read(m_big)));
        w.window.flags().m_HasFile = true;
        w.window.UpdateStatus(path);
        w.change("unsaved");
        w.prompt->cancelProgressAt = 1;
        w.window.lifecycle().mnuFileSave_Click();
        QCOMPARE(w.prompt->lastAsked(), "progress save.xml を保存しています...");
        QCOMPARE(TestFiles::read(path), TestFiles::read(m_big));
        QVERIFY(w.window.flags().m_Dirty);
        QVERIFY(w.prompt->shown.isEmpty());
        w.prompt->cancelProgressAt = -1;
        w.window.lifecycle().mnuFileSave_Click();
        QVERIFY(TestFiles::read(path).contains("n=\"unsaved\""));
    }
};

// The child: an editor window with a change that is never saved, until
// the test kills it.
static int editorWithUnsavedChange(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString path = qEnvironmentVariable("OSTREL_RECOVERY_CHILD");
    TestWindow w;
    if (!w.window.OpenFile(path))
        return 1;
    w.window.UpdateStatus(path);
    QObject::connect(w.window.recovery(), &RecoveryWriter::written, [] { std::cout << "written" << std::endl; });
    w.change("changed");
    return QApplication::exec();
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("OSTREL_RECOVERY_CHILD"))
        return editorWithUnsavedChange(argc, argv);
    QApplication app(argc, argv);
    TestRecovery test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recovery.moc"
