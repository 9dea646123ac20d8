#include "ScriptedPrompt.h"
#include "TestFiles.h"
#include "TestTables.h"
#include "XvfbScreen.h"
#include "document/StringTable.h"
#include "shell/CommandLine.h"
#include "shell/DisplayCheck.h"
#include "shell/InstanceLife.h"
#include "shell/Translations.h"
#include "shell/Window.h"
#include "shell/basGlobal.h"
#include "shell/frmMain.h"
#include "shell/frmSplash.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>

Q_DECLARE_METATYPE(CommandLine::StartRequest::Action)

// Start-up by a user, and the Window object as the entry routine uses it
// (tst_automation drives it through the bus).
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(m_files.dir.path()).mkpath(QStringLiteral("run")));
        QFile::setPermissions(path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", path("run").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", path("config").toLocal8Bit());
        // A window closed unasked with changes keeps its recovery copy.
        qputenv("XDG_STATE_HOME", path("state").toLocal8Bit());
        for (const char *name : {"my doc.xml", "a.xml"})
            m_files.write(QString::fromLatin1(name), "<?xml version=\"1.0\"?>\n<root><a>first</a></root>\n");
        m_files.write(QStringLiteral("bad.xml"), "<root><a></root>");
    }

    void commandLine_data()
    {
        using Action = CommandLine::StartRequest::Action;
        // exitCode: -1: the editor starts
        // printed: part of what is printed instead
        addColumns<QStringList, Action, bool, QString, QString, int, QString>({"arguments", "action", "automation", "path", "platform", "exitCode", "printed"});

        // The shell has split a quoted name at its blank but kept the quotes.
        QTest::newRow("quoted path with blanks") << QStringList{"\"/tmp/my", "file.xml\""} << Action::Start << false
                                                 << "/tmp/my file.xml" << "" << -1 << "";
        QTest::newRow("unquoted path with blanks") << QStringList{"/tmp/my", "file.xml"} << Action::Start << false
                                                   << "/tmp/my file.xml" << "" << -1 << "";
        QTest::newRow("two names stay one path") << QStringList{"a.xml", "b.xml"} << Action::Start << false << "a.xml b.xml" << "" << -1 << "";
        QTest::newRow("lone quote") << QStringList{"\""} << Action::Start << false << "" << "" << -1 << "";
        QTest::newRow("quote not first") << QStringList{"a.xml\""} << Action::Start << false << "a.xml\"" << "" << -1 << "";
        QTest::newRow("automation switch left out of the path")
            << QStringList{"/tmp/a", "--automation", "b.xml"} << Action::Start << true << "/tmp/a b.xml" << "" << -1
            << "";
        QTest::newRow("lone dash is a name") << QStringList{"-"} << Action::Start << false << "-" << "" << -1 << "";
        QTest::newRow("after -- every word is the path")
            << QStringList{"--", "-draft.xml", "--help"} << Action::Start << false << "-draft.xml --help" << "" << -1
            << "";
        // Left in the arguments for Qt, with their values.
        QTest::newRow("Qt's own options") << QStringList{"-platform", "offscreen", "-reverse", "--style", "fusion", "-stylesheet=a.qss", "a b.xml"}
            << Action::Start << false << "a b.xml" << "offscreen" << -1 << "";
        QTest::newRow("help") << QStringList{"a.xml", "--help"} << Action::Help << false << "" << "" << 0 << "--automation";
        QTest::newRow("short help") << QStringList{"-h"} << Action::Help << false << "" << "" << 0 << "使い方";
        QTest::newRow("version") << QStringList{"--version"} << Action::Version << false << "" << "" << 0 << "Ostrel XML Editor 1.1.10\n";
        QTest::newRow("unknown option") << QStringList{"--verbose", "a.xml"} << Action::BadOption << false << ""
                                        << "" << 2 << "正しくないオプションです: --verbose";
        // An unquoted path whose second word starts with a dash needs "--".
        QTest::newRow("dash word of an unquoted path") << QStringList{"my", "-draft.xml"} << Action::BadOption
                                                       << false << "" << "" << 2 << "-draft.xml\n使い方";
        QTest::newRow("Qt's option without its value") << QStringList{"a.xml", "-platform"} << Action::BadOption
                                                       << false << "" << "" << 2 << "-platform";
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        const CommandLine::StartRequest request = CommandLine::parse(arguments);
        QTEST(request.action, "action");
        QTEST(request.automation, "automation");
        QTEST(CommandLine::filePath(request.commandLine), "path");
        QTEST(request.platform, "platform");
        const std::optional<CommandLine::Answer> answer = CommandLine::answerWithoutStarting(request);
        QCOMPARE(answer ? answer->exitCode : -1, exitCode);
        if (answer) {
            // Usage and version go to standard output; a mistake to standard error.
            const QString &text = exitCode == 0 ? answer->out : answer->err;
            QVERIFY2(text.contains(printed), qPrintable(text));
            QVERIFY((exitCode == 0 ? answer->err : answer->out).isEmpty());
        }
    }

    void splashForm()
    {
        frmSplash splash;
        QCOMPARE(splash.findChild<QLabel *>(QStringLiteral("lblVersion"))->text(), QStringLiteral("Version 1.1.10"));
        // Decimal, without leading zeros.
        QCOMPARE(frmSplash::versionText(QStringLiteral("01.02.003")), QStringLiteral("Version 1.2.3"));
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        QTest::mouseDClick(splash.findChild<QLabel *>(QStringLiteral("Label3")), Qt::LeftButton);
        QVERIFY(!splash.isVisible());
    }

    // The screen the editor starts on, from the environment and Qt's
    // -platform; "X" stands for a running X server's display.
    void screenChoice_data()
    {
        // platform: asked of Qt; empty: Qt's choice
        // message: part of the line printed; empty: starts
        addColumns<QString, QString, QString, QString>({"option", "env", "platform", "message"});
        QTest::newRow("X") << "" << "DISPLAY=X" << "" << "";
        QTest::newRow("no screen") << "" << "" << "" << "DISPLAY も WAYLAND_DISPLAY も";
        QTest::newRow("X that does not answer") << "" << "DISPLAY=:9999" << "" << "DISPLAY=:9999 の画面に接続できません";
        QTest::newRow("Wayland with X: X, for tiling") << "" << "WAYLAND_DISPLAY=w DISPLAY=X" << "xcb" << "";
        QTest::newRow("Wayland without X") << "" << "WAYLAND_DISPLAY=w DISPLAY=:9999" << "" << "";
        QTest::newRow("Wayland by option") << "wayland" << "WAYLAND_DISPLAY=w DISPLAY=X" << "" << "";
        QTest::newRow("Wayland by environment") << "" << "QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=w DISPLAY=X" << "" << "";
    }
    void screenChoice()
    {
        QFETCH(QString, option);
        QFETCH(QString, env);
        QFETCH(QString, platform);
        QFETCH(QString, message);
        if (env.contains("=X") && m_x.display().isEmpty())
            if (const QString why = m_x.start(); !why.isEmpty())
                QSKIP(qPrintable(why));
        const auto restore = qScopeGuard([qpa = qgetenv("QT_QPA_PLATFORM")] {
            qputenv("QT_QPA_PLATFORM", qpa);
            qunsetenv("WAYLAND_DISPLAY");
            qunsetenv("DISPLAY");
        });
        qunsetenv("QT_QPA_PLATFORM");
        for (const QString &setting : env.split(' ', Qt::SkipEmptyParts)) {
            const QString value = setting.section('=', 1);
            qputenv(qPrintable(setting.section('=', 0, 0)), value == "X" ? m_x.display() : value.toLocal8Bit());
        }
        const DisplayCheck check(option, QString());
        QCOMPARE(check.platform(), platform);
        QVERIFY2(message.isEmpty() ? check.message().isEmpty() : check.message().contains(message), qPrintable(check.message()));
    }

    // Were the check an X server's only client when it disconnects, the
    // server would reset just as Qt connects; a reset clears the root
    // window's properties.
    void checkOutlastsQtsConnection()
    {
        if (m_x.display().isEmpty())
            if (const QString why = m_x.start(); !why.isEmpty())
                QSKIP(qPrintable(why));
        xcb_change_property(m_x.connection(), XCB_PROP_MODE_REPLACE, m_x.root(), XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 4, "mark");
        xcb_flush(m_x.connection());
        auto check = std::make_unique<DisplayCheck>(QStringLiteral("xcb"), QString::fromLatin1(m_x.display()));
        m_x.disconnect();
        QVERIFY(m_x.connect()); // as Qt would
        check.reset();
        const auto mark = xcb_get_property_reply(
            m_x.connection(), xcb_get_property(m_x.connection(), 0, m_x.root(), XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 4), nullptr);
        QVERIFY(mark && xcb_get_property_value_length(mark) == 4);
        std::free(mark);
    }

    void standAloneStart_data()
    {
        // commandLine: %1: the test folder
        addColumns<QString, QString, bool, int>({"commandLine", "caption", "hasFile", "messages"});

        QTest::newRow("quoted path with blanks") << "\"%1/my doc.xml\"" << "my doc.xml - Ostrel XML Editor" << true << 0;
        QTest::newRow("no such file") << "%1/missing.xml" << "Ostrel XML Editor" << false << 0;
        // The message is shown, and the caption tells which file it was about.
        QTest::newRow("file that does not parse") << "%1/bad.xml" << "bad.xml - Ostrel XML Editor" << false << 1;
    }

    void standAloneStart()
    {
        QFETCH(QString, commandLine);
        InstanceLife life;
        auto prompt = std::make_unique<ScriptedPrompt>();
        ScriptedPrompt *shown = prompt.get();
        QPointer<frmMain> window = basGlobal::startStandAlone(commandLine.arg(m_files.dir.path()), life, std::move(prompt));
        QVERIFY(window && window->isVisible());
        QTEST(window->windowTitle(), "caption");
        QTEST(window->flags().m_HasFile, "hasFile");
        QTEST(int(shown->shown.size()), "messages");
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY2(!qobject_cast<frmSplash *>(w) || !w->isVisible(), "the splash form is gone");
        // The window alone keeps the process; closing it lets the process end.
        QCOMPARE(life.count(), 1);
        QSignalSpy ended(&life, &InstanceLife::lastReleased);
        window->closeWithoutAsking();
        QCOMPARE(ended.size(), 1);
        QTRY_VERIFY(window.isNull());
    }

    void failedOpenKeepsTheDocumentsName()
    {
        // An empty window shows which file failed to open (standAloneStart);
        // a window holding a document keeps its name, so a later Save cannot
        // write that document over the file that failed to open.
        auto window = makeWindow();
        QVERIFY(window->OpenFile(path("a.xml")).ok());
        const Window::Result failed = window->OpenFile(path("bad.xml"));
        QCOMPARE(failed.code, Window::Result::OpenFailed);
        QVERIFY2(failed.detail.contains(QStringLiteral("XMLをパースできません。")), qPrintable(failed.detail));
        QCOMPARE(window->form()->windowTitle(), QStringLiteral("a.xml - Ostrel XML Editor"));
        QCOMPARE(window->OpenFile(path("missing.xml")).code, Window::Result::OpenFailed);
        QCOMPARE(window->fileName(), path("a.xml"));
        QVERIFY(window->Save().ok());
        QCOMPARE(TestFiles::read(path("bad.xml")), QByteArray("<root><a></root>"));
    }

    void saveNeedsAFileAndAWritableDocument()
    {
        auto window = makeWindow();
        window->form()->LoadXML(QStringLiteral("<new/>"));
        QCOMPARE(window->Save().code, Window::Result::NoFile);

        // The window's own Save would ask for a new name; a client gets told.
        const QString locked = m_files.write(QStringLiteral("locked.xml"), "<locked/>");
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        QVERIFY(window->OpenFile(locked).ok());
        QVERIFY(!window->ReadOnly());
        QCOMPARE(window->Save().code, Window::Result::ReadOnly);
        QCOMPARE(TestFiles::read(locked), QByteArray("<locked/>"));
        QVERIFY(m_prompt->shown.isEmpty());
    }

    void closingAndEnding_data()
    {
        QTest::addColumn<bool>("closeFirst");
        // A shown window staying open when its object ends: standAloneStart.
        QTest::newRow("CloseWindow, shown") << true;
        QTest::newRow("object ends, hidden window is closed") << false;
    }

    void closingAndEnding()
    {
        QFETCH(bool, closeFirst);
        auto window = makeWindow();
        QPointer<frmMain> form = window->form();
        const qint64 handle = window->hWnd();
        QVERIFY(window->OpenFile(path("a.xml")).ok());
        form->DocumentModified();
        QVERIFY(window->setVisible(closeFirst).ok());
        QSignalSpy closed(window.get(), &Window::OnClose);

        if (closeFirst) {
            QVERIFY(window->CloseWindow().ok());
            QVERIFY(!window->form());
            QCOMPARE(window->hWnd(), handle);
            // The object outlives its window until it is released.
            QCOMPARE(closed.size(), 0);
        }
        window->end();
        window->end();
        QCOMPARE(closed.size(), 1);
        QVERIFY(!window->form());
        // A modified document is not asked about.
        QVERIFY(m_prompt->shown.isEmpty());
        QTRY_VERIFY(form.isNull());
        window.reset();
        QCOMPARE(closed.size(), 1);
    }

    // Last: it changes the whole test program's language. Qt's texts in a
    // window whose own texts are Japanese, whatever the system's locale.
    void qtTextsInJapanese()
    {
        useJapaneseLocale();
        QVERIFY2(installJapaneseQtTexts(), "Qt's Japanese catalogue (qt6-translations-l10n) is not installed");
        QMessageBox question(QMessageBox::Question, QString(), GetResString(12), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QCOMPARE(question.button(QMessageBox::Cancel)->text(), QStringLiteral("キャンセル"));
        QCOMPARE(QLocale().toString(QDate(2026, 12, 7), QLocale::ShortFormat), QStringLiteral("2026/12/07"));
        // A text the catalogue lacks: the file dialog's type of a folder.
        QCOMPARE(QFileIconProvider().type(QFileInfo(m_files.dir.path())), QStringLiteral("フォルダー"));
    }

private:
    QString path(const char *name) const { return m_files.path(QString::fromLatin1(name)); }

    TestFiles m_files;
    XvfbScreen m_x; // started by the first test that needs it
    ScriptedPrompt *m_prompt = nullptr;
    // A new Window whose messages go to m_prompt.
    std::unique_ptr<Window> makeWindow() { return std::make_unique<Window>(std::unique_ptr<Prompt>(m_prompt = new ScriptedPrompt)); }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
