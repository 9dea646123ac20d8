#include "TestFiles.h"
#include "TestWindow.h"
#include "document/DocumentLifecycle.h"
#include "document/Recovery.h"
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
            for (const QString &copy : QDir(Recovery::root() + '/' + dir).entryList({"*.xml"}, QDir::Files))
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
        QTest::addColumn<bool>("corrupt");
        QTest::newRow("restored") << Prompt::Answer::Yes << false;
        QTest::newRow("declined") << Prompt::Answer::No << false;
        QTest::newRow("copy does not parse") << Prompt::Answer::Yes << true;
    }
    void killedEditorsWorkIsOffered()
    {
        QFETCH(Prompt::Answer, answer);
        QFETCH(bool, corrupt);
        const QString path = m_files.write("killed.xml", "<r/>");
        const QString left = killedEditorsCopy(path);
        QVERIFY(!left.isEmpty());
        QFile copy(left);
        if (corrupt && (!copy.open(QIODevice::WriteOnly) || copy.write("<r><unclosed></r>") < 0))
            QFAIL("cannot spoil the copy");
        copy.close();

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
            QCOMPARE(restored[0]->markup(), "<r n=\"changed\"/>");
            QVERIFY(w.flags().m_Dirty && w.flags().m_HasFile);
            QCOMPARE(w.flags().m_FileName, path);
            QCOMPARE(w.windowTitle(), "killed.xml * - Ostrel XML Editor");
            QCOMPARE(TestFiles::read(path), "<r/>"); // the file itself waits for a save
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
