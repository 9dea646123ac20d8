#include "ScriptedPrompt.h"
#include "SessionBus.h"
#include "TestFiles.h"
#include "TestTables.h"
#include "XvfbScreen.h"
#include "base/StringTable.h"
#include "shell/CommandLine.h"
#include "shell/DisplayCheck.h"
#include "shell/InstanceLife.h"
#include "shell/Translations.h"
#include "shell/Window.h"
#include "shell/basGlobal.h"
#include "shell/frmMain.h"
#include "shell/frmSplash.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFileIconProvider>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>

#include <csignal>

namespace {

const QString kService = QStringLiteral("org.ostrel.OstrelEdit");
const QString kRoot = QStringLiteral("/org/ostrel/OstrelEdit");
const QString kWindow = QStringLiteral("org.ostrel.OstrelEdit.Window");
const QString kErrors = QStringLiteral("org.ostrel.OstrelEdit.Error.");

// Records the OnClose signals that reach a connection.
class CloseLog : public QObject
{
    Q_OBJECT
public:
    QStringList paths;
public slots:
    void record(const QDBusMessage &message) { paths.append(message.path()); }
};

// A process that has exited, or only waits to be reaped, has ended.
bool processRuns(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')');
    return end >= 0 && line.size() > end + 2 && line.at(end + 2) != 'Z';
}

bool succeeded(const QDBusMessage &reply)
{
    const bool ok = reply.type() == QDBusMessage::ReplyMessage;
    return ok || (qWarning() << reply.errorName() << reply.errorMessage(), false);
}

} // namespace

using Action = CommandLine::StartRequest::Action;

// Start-up by a user, the Window object as the entry routine uses it, and
// the editor as a client meets it: a bus of the test's own whose service
// folder is the build tree's, so the first call starts the built editor
// with --automation through D-Bus activation.
class TestAutomation : public QObject
{
    Q_OBJECT

    // exitCode: -1: the editor starts
    // printed: part of what is printed instead
    struct Parsed { QStringList arguments; Action action; bool automation; QString path, platform; int exitCode; QString printed; };

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(m_files.dir.path()).mkpath(QStringLiteral("run")));
        QFile::setPermissions(path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // A window closed unasked with changes keeps its recovery copy. The
        // editor the bus starts inherits these, and QT_QPA_PLATFORM.
        qputenv("XDG_RUNTIME_DIR", path("run").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", path("config").toLocal8Bit());
        qputenv("XDG_STATE_HOME", path("state").toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "offscreen");
        for (const char *name : {"my doc.xml", "a.xml"})
            m_files.write(QString::fromLatin1(name), "<?xml version=\"1.0\"?>\n<root><a x=\"1\">first</a></root>\n");
        m_files.write(QStringLiteral("bad.xml"), "<root><a></root>");
        if (!SessionBus::installed())
            return; // the client's tests skip
        // The bus must start the editor just built, in automation mode.
        QVERIFY(TestFiles::read(QStringLiteral(OSTREL_DBUS_SERVICE_DIR "/org.ostrel.OstrelEdit.service"))
                    .contains("Exec=\"" OSTREL_EDIT_PATH "\" --automation"));
        const QString busError = m_bus.start(m_files.dir.path(), QStringLiteral(OSTREL_DBUS_SERVICE_DIR));
        QVERIFY2(busError.isEmpty(), qPrintable(busError));
        m_connection = QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("client"));
        QVERIFY2(m_connection.isConnected(), qPrintable(m_connection.lastError().message()));
        // Held until the last test, so one editor process serves them all.
        m_anchor = createWindow(m_connection);
        QVERIFY(!m_anchor.isEmpty() && m_editorPid > 0);
    }

    // The client's tests need the editor the bus starts.
    void init()
    {
        const QByteArrayList client{"createAndDriveWindows", "failuresAreErrorReplies", "clientThatLeavesReleasesItsObjects", "processEndsWhenNothingIsHeld"};
        if (client.contains(QTest::currentTestFunction()) && m_anchor.isEmpty())
            QSKIP("dbus-daemon is not installed");
    }

    void cleanupTestCase()
    {
        if (m_editorPid > 0 && processRuns(m_editorPid))
            ::kill(pid_t(m_editorPid), SIGTERM);
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        m_bus.stop();
    }

    void commandLine_data()
    {
        QTest::addColumn<Parsed>("row");
        const auto start = [](const char *name, const QStringList &arguments, const QString &path, bool automation = false,
                              const QString &platform = {}) { QTest::newRow(name) << Parsed{arguments, Action::Start, automation, path, platform, -1, {}}; };
        const auto answer = [](const char *name, const QStringList &arguments, Action action, int exitCode, const QString &printed) {
            QTest::newRow(name) << Parsed{arguments, action, false, {}, {}, exitCode, printed};
        };
        // The shell has split a quoted name at its blank but kept the quotes.
        start("quoted path with blanks", {"\"/tmp/my", "file.xml\""}, "/tmp/my file.xml");
        start("unquoted path with blanks", {"/tmp/my", "file.xml"}, "/tmp/my file.xml");
        start("two names stay one path", {"a.xml", "b.xml"}, "a.xml b.xml");
        start("lone quote", {"\""}, "");
        start("quote not first", {"a.xml\""}, "a.xml\"");
        start("automation switch left out of the path", {"/tmp/a", "--automation", "b.xml"}, "/tmp/a b.xml", true);
        start("lone dash is a name", {"-"}, "-");
        start("after -- every word is the path", {"--", "-draft.xml", "--help"}, "-draft.xml --help");
        // Left in the arguments for Qt, with their values.
        start("Qt's own options", {"-platform", "offscreen", "-reverse", "--style", "fusion", "-stylesheet=a.qss", "a b.xml"}, "a b.xml", false, "offscreen");
        answer("help", {"a.xml", "--help"}, Action::Help, 0, "--automation");
        answer("short help", {"-h"}, Action::Help, 0, "使い方");
        answer("version", {"--version"}, Action::Version, 0, "Ostrel XML Editor 1.1.10\n");
        answer("unknown option", {"--verbose", "a.xml"}, Action::BadOption, 2, "正しくないオプションです: --verbose");
        // An unquoted path whose second word starts with a dash needs "--".
        answer("dash word of an unquoted path", {"my", "-draft.xml"}, Action::BadOption, 2, "-draft.xml\n使い方");
        answer("Qt's option without its value", {"a.xml", "-platform"}, Action::BadOption, 2, "-platform");
    }

    void commandLine()
    {
        QFETCH(Parsed, row);
        const auto &[arguments, action, automation, path, platform, exitCode, printed] = row;
        const CommandLine::StartRequest request = CommandLine::parse(arguments);
        QCOMPARE(request.action, action);
        QCOMPARE(request.automation, automation);
        QCOMPARE(CommandLine::filePath(request.commandLine), path);
        QCOMPARE(request.platform, platform);
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

    void createAndDriveWindows()
    {
        const QString first = createWindow(m_connection), second = createWindow(m_connection);
        QVERIFY(!first.isEmpty() && !second.isEmpty() && first != second);
        auto w1 = window(first);
        QVERIFY2(w1->isValid(), qPrintable(w1->lastError().message()));
        const qint64 h1 = w1->property("hWnd").toLongLong(), h2 = window(second)->property("hWnd").toLongLong();
        QVERIFY(h1 != 0 && h2 != 0 && h1 != h2);
        // A window made for a client stays hidden until the client shows it.
        QCOMPARE(std::pair(w1->property("ReadOnly"), w1->property("Visible")), std::pair(QVariant(false), QVariant(false)));
        QVERIFY(w1->setProperty("Visible", true) && w1->property("Visible") == QVariant(true));

        QVERIFY(succeeded(call(first, "OpenFile", {path("a.xml")})) && succeeded(call(first, "SaveAs", {path("saved.xml")})));
        QVERIFY(TestFiles::read(path("saved.xml")).contains("<a x=\"1\">first</a>"));
        // Save writes to the file the window now has: the one of SaveAs.
        QVERIFY(QFile::remove(path("saved.xml")) && succeeded(call(first, "Save")) && QFile::exists(path("saved.xml")));
        // Shown, the window would outlive its object, out of the test's reach.
        for (const auto &[object, method] : {std::pair(first, "CloseWindow"), {first, "Release"}, {second, "Release"}})
            QVERIFY(succeeded(call(object, method)));
        QTRY_VERIFY(m_closed.paths.contains(first) && m_closed.paths.contains(second));
    }

    void failuresAreErrorReplies()
    {
        const QString plain = createWindow(m_connection);

        // No dialog waits for a user: the reply says what went wrong.
        QCOMPARE(call(plain, "OpenFile", {path("bad.xml")}).errorName(), kErrors + QStringLiteral("OpenFailed"));
        QCOMPARE(call(plain, "Save").errorName(), kErrors + QStringLiteral("NoDocument"));
        QCOMPARE(call(plain, "OpenFile", {QStringLiteral("a.xml")}).errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));

        QVERIFY(succeeded(call(plain, "OpenFile", {path("a.xml")})));
        const QDBusMessage reply = call(plain, "SaveAs", {path("no/such/folder/x.xml")});
        QVERIFY(reply.errorName() == kErrors + QStringLiteral("SaveFailed") && reply.errorMessage().contains(path("no/such/folder/x.xml")));
        QVERIFY(succeeded(call(plain, "Release")));

        // A closed window's object, until it is released.
        const QString closed = createWindow(m_connection), quit = createWindow(m_connection);
        auto w = window(closed);
        QVERIFY(w->setProperty("Visible", true));
        const qint64 handle = w->property("hWnd").toLongLong();
        QVERIFY(succeeded(call(closed, "CloseWindow")) && succeeded(call(quit, "Quit")));

        // The object outlives its window; what needs the window fails clearly.
        QVERIFY(!w->property("Visible").isValid());
        QCOMPARE(w->lastError().name(), kErrors + QStringLiteral("WindowClosed"));
        QVERIFY2(w->lastError().message().contains(QStringLiteral("closed")), qPrintable(w->lastError().message()));
        QCOMPARE(call(closed, "OpenFile", {path("a.xml")}).errorName(), kErrors + QStringLiteral("WindowClosed"));
        QVERIFY(w->property("hWnd").toLongLong() == handle && !m_closed.paths.contains(closed));

        QVERIFY(succeeded(call(closed, "Release")));
        QTRY_COMPARE(m_closed.paths.count(closed), 1);
        QCOMPARE(call(closed, "Save").errorName(), QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
        QVERIFY(succeeded(call(quit, "Release")));
    }

    // A client creating windows in a loop is stopped at its limit, others
    // are not; when it leaves, all its objects go.
    void clientThatLeavesReleasesItsObjects()
    {
        const QString name = QStringLiteral("leaving client");
        QString first, second;
        {
            const QDBusConnection leaving = QDBusConnection::connectToBus(m_bus.address(), name);
            QDBusInterface root(kService, kRoot, kService, leaving);
            QStringList made;
            QDBusMessage reply;
            while (made.size() <= 256 && (reply = root.call(QStringLiteral("CreateWindow"))).type() == QDBusMessage::ReplyMessage)
                made << reply.arguments().value(0).value<QDBusObjectPath>().path();
            QCOMPARE(made.size(), 256);
            QCOMPARE(reply.errorName(), kErrors + QStringLiteral("TooManyWindows"));
            QVERIFY2(reply.errorMessage().contains(QStringLiteral("256")), qPrintable(reply.errorMessage()));
            QVERIFY(succeeded(call(createWindow(m_connection), "Release"))); // others are not bound by it
            std::tie(first, second) = std::pair(made.first(), made.last());
            QVERIFY(succeeded(QDBusInterface(kService, first, kWindow, leaving).call(QStringLiteral("OpenFile"), path("a.xml"))));
        }
        QDBusConnection::disconnectFromBus(name);

        QTRY_VERIFY_WITH_TIMEOUT(m_closed.paths.contains(first) && m_closed.paths.contains(second), 60000);
        QCOMPARE(call(first, "Save").errorName(), QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
    }

    void processEndsWhenNothingIsHeld()
    {
        // Only the anchor's hidden window and object are left. Ending the object
        // closes the window nobody can reach any more, and with nothing held
        // the editor ends.
        QVERIFY(processRuns(m_editorPid) && succeeded(call(m_anchor, "Release")));
        QTRY_VERIFY(m_closed.paths.contains(m_anchor));
        QTRY_VERIFY_WITH_TIMEOUT(!processRuns(m_editorPid), 20000);
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
    // A new window object for `connection`'s client.
    QString createWindow(const QDBusConnection &connection)
    {
        QDBusInterface root(kService, kRoot, kService, connection);
        const QDBusReply<QDBusObjectPath> reply = root.call(QStringLiteral("CreateWindow"));
        if (!reply.isValid()) {
            qWarning() << reply.error();
            return {};
        }
        if (m_editorPid == 0) {
            m_editorPid = connection.interface()->servicePid(kService).value();
            // Listen for OnClose once the editor runs; the call after it makes
            // sure the bus has the match rule before anything can close.
            m_connection.connect(kService, QString(), kWindow, QStringLiteral("OnClose"), &m_closed, SLOT(record(QDBusMessage)));
            m_connection.interface()->isServiceRegistered(kService);
        }
        return reply.value().path();
    }

    std::unique_ptr<QDBusInterface> window(const QString &path)
    {
        return std::make_unique<QDBusInterface>(kService, path, kWindow, m_connection);
    }

    QDBusMessage call(const QString &path, const char *method, const QVariantList &arguments = {})
    {
        return window(path)->callWithArgumentList(QDBus::Block, QString::fromLatin1(method), arguments);
    }

    QString path(const char *name) const { return m_files.path(QString::fromLatin1(name)); }

    TestFiles m_files;
    XvfbScreen m_x; // started by the first test that needs it
    ScriptedPrompt *m_prompt = nullptr;
    // A new Window whose messages go to m_prompt.
    std::unique_ptr<Window> makeWindow() { return std::make_unique<Window>(std::unique_ptr<Prompt>(m_prompt = new ScriptedPrompt)); }
    SessionBus m_bus;
    QDBusConnection m_connection{QString()};
    CloseLog m_closed;
    qint64 m_editorPid = 0;
    QString m_anchor;
};

QTEST_MAIN(TestAutomation)
#include "tst_automation.moc"
