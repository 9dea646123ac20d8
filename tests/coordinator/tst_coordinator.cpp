#include "SessionBus.h"
#include "TestTables.h"
#include "XvfbScreen.h"
#include "coordinator.h"
#include "ddecommand.h"
#include "shell/CoordinatorClient.h"
#include "shell/frmMain.h"
#include "singleinstance.h"
#include "windowsystem.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// In-memory desktop: windows exist while they have an entry in m_titles, and
// tiling records where each existing window was put.
class FakeWindowSystem : public WindowSystem
{
public:
    QRect m_desktop{0, 0, 1001, 700};
    QHash<WindowId, QString> m_titles;
    QHash<WindowId, QRect> m_geometry;
    int m_tileCalls = 0;

    QRect desktopRect() override { return m_desktop; }

    void tileColumns(const QList<WindowId> &windows, const QRect &area) override
    {
        ++m_tileCalls;
        const QList<QRect> columns = columnRects(area, int(windows.size()));
        for (qsizetype i = 0; i < windows.size(); ++i) {
            if (m_titles.contains(windows[i]))
                m_geometry[windows[i]] = columns[i];
        }
    }

    int titleLength(WindowId window) override { return int(m_titles.value(window).size()); }
};

// Reads answer lines until count have arrived; the server runs meanwhile.
QByteArrayList readAnswers(QLocalSocket &socket, int count)
{
    QByteArrayList answers;
    (void)QTest::qWaitFor([&] {
        while (socket.canReadLine())
            answers.append(socket.readLine().trimmed());
        return answers.size() >= count;
    });
    return answers;
}

QByteArray ask(QLocalSocket &socket, const QString &command)
{
    socket.write(DdeProtocol::encodeLine(command));
    return readAnswers(socket, 1).value(0);
}

// The coordinator an editor started runs detached, so the test knows it only
// by the process id in its lock file; the check on the program keeps a reused
// id from being taken for it. 0 when it is not running.
qint64 coordinatorPid()
{
    qint64 pid = 0;
    const QLockFile lock(SingleInstance::lockFilePath(DdeProtocol::serverName()));
    const bool locked = lock.getLockInfo(&pid, nullptr, nullptr);
    const bool ours = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget()
                      == QFileInfo(QStringLiteral(OSTREL_DDE_PATH)).canonicalFilePath();
    return locked && ours ? pid : 0;
}

// Stands in for the coordinator: records every line and answers it with
// m_answer. The first m_dropConnections connections are cut off after their
// first line, unanswered, like a coordinator that dies.
class ScriptedCoordinator : public QObject
{
public:
    explicit ScriptedCoordinator(const QString &name)
    {
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            QLocalSocket *socket = m_server.nextPendingConnection();
            const bool drop = m_dropConnections-- > 0;
            connect(socket, &QLocalSocket::readyRead, this, [this, socket, drop] {
                while (socket->canReadLine()) {
                    m_lines.append(socket->readLine().trimmed());
                    if (drop) {
                        socket->abort();
                        return;
                    }
                    socket->write(m_answer + '\n');
                }
            });
        });
        m_server.listen(name);
    }

    QByteArrayList m_lines;
    QByteArray m_answer = "OK";
    int m_dropConnections = 0;
    // Last, so its sockets go first and cannot signal into destroyed members.
    QLocalServer m_server;
};

} // namespace

// The coordinator's protocol against a fake window system, the real
// OstrelDDE program, and the editor's client of it. Without DISPLAY that
// program cannot check windows and only REMOVE shrinks its list, except in
// the last test: real editors on an X server of the test's own.
class TestCoordinator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("DISPLAY"); }

    void init()
    {
        // The real program's runtime folder, new for each test: nothing
        // started here meets a real coordinator or an earlier test's.
        QVERIFY((m_runtimeDir = std::make_unique<QTemporaryDir>())->isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtimeDir->path()));
        static int run = 0;
        m_serverName = m_dir.filePath(QStringLiteral("dde%1").arg(++run));
        m_fake = std::make_unique<FakeWindowSystem>();
        for (WindowId id = 1; id <= 40; ++id)
            m_fake->m_titles.insert(id, QStringLiteral("Window %1").arg(id));
        m_coordinator = std::make_unique<Coordinator>(*m_fake);
        m_finished = std::make_unique<QSignalSpy>(m_coordinator.get(), &Coordinator::finished);
        QVERIFY2(m_coordinator->listen(m_serverName), qPrintable(m_coordinator->errorString()));
    }

    void cleanup()
    {
        m_finished.reset();
        m_coordinator.reset();
        m_fake.reset();
        for (QProcess *process : std::as_const(m_processes))
            process->kill(), process->waitForFinished(5000);
        qDeleteAll(std::exchange(m_processes, {}));
        for (pid_t pid : std::as_const(m_children)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        m_children.clear();
        // An editor's coordinator may not have taken its lock yet, and
        // without a window it would wait for one for ever.
        qint64 pid = 0;
        if (std::exchange(m_editorsStarted, false) && QTest::qWaitFor([&pid] { return (pid = coordinatorPid()) != 0; }, 5000))
            ::kill(pid_t(pid), SIGKILL);
    }

    void commands_data()
    {
        addColumns<QStringList, QByteArrayList, QStringList, bool, int>({"commands", "answers", "windows", "ends", "tiles"});
        const QByteArray ok = "OK", no = "REFUSED";
        // Each row is written as one batch, before any answer is read.
        QTest::newRow("removing the only window ends") << QStringList{"ADD 1234", "REMOVE 1234"} << QByteArrayList{ok, ok} << QStringList{} << true << 0;
        QTest::newRow("registration order kept") << QStringList{"ADD 3", "ADD 1", "ADD 2", "REMOVE 1"} << QByteArrayList{ok, ok, ok, ok}
                                                 << QStringList{"3", "2"} << false << 0;
        // A second entry would keep the program alive after the window's REMOVE.
        QTest::newRow("duplicate add keeps one entry") << QStringList{"ADD 5", "ADD 5", "REMOVE 5"} << QByteArrayList{ok, ok, ok} << QStringList{}
                                                       << true << 0;
        QTest::newRow("unknown remove changes nothing") << QStringList{"ADD 5", "REMOVE 6", "REMOVE"} << QByteArrayList{ok, ok, ok}
                                                        << QStringList{"5"} << false << 0;
        // The coordinator waits for its first ADD; an early REMOVE must not end it.
        QTest::newRow("remove on empty list keeps running") << QStringList{"REMOVE 6"} << QByteArrayList{ok} << QStringList{} << false << 0;
        // One window closing while another registers: the list is empty only
        // inside the batch, and ending there would lose the new window.
        QTest::newRow("empty only inside a batch") << QStringList{"ADD 1", "REMOVE 1", "ADD 2"} << QByteArrayList{ok, ok, ok}
                                                   << QStringList{"2"} << false << 0;
        QTest::newRow("unknown verbs refused") << QStringList{"ADD 1", "add 2", "remove 1", " ADD 3", "CLOSE 1", "", "ADDX 4", "ADD\t5", "ADD\u00a06"}
                                               << QByteArrayList{ok, no, no, no, no, no, no, no, no} << QStringList{"1"} << false << 0;
        // Only the first blank splits: the rest is the handle.
        QTest::newRow("add without a handle refused") << QStringList{"ADD", "ADD ", "ADD  12", "ADD abc", "ADD +1", "ADD 0", "ADD 4294967296"}
                                                      << QByteArrayList{no, no, no, no, no, no, no} << QStringList{} << false << 0;
        QTest::newRow("tile argument ignored") << QStringList{"ADD 1", "TILE_VERTICAL now and then"} << QByteArrayList{ok, ok}
                                               << QStringList{"1"} << false << 1;
        QTest::newRow("tile on empty list does nothing") << QStringList{"TILE_VERTICAL"} << QByteArrayList{ok} << QStringList{} << false << 0;
    }

    void commands()
    {
        QFETCH(QStringList, commands);
        const auto client = connectClient();
        for (const QString &command : commands)
            client->write(DdeProtocol::encodeLine(command));
        QTEST(readAnswers(*client, int(commands.size())), "answers");
        QTEST(m_coordinator->windows(), "windows");
        // One more round trip lets the end check run before it is looked at.
        QCOMPARE(ask(*client, "PING"), QByteArray("REFUSED"));
        QFETCH(bool, ends);
        QCOMPARE(m_finished->count(), ends ? 1 : 0);
        QTEST(m_fake->m_tileCalls, "tiles");
    }

    void tileFollowsRegistrationOrder()
    {
        const auto client = connectClient();
        for (const char *command : {"ADD 30", "ADD 10", "ADD 20", "TILE_VERTICAL"})
            QCOMPARE(ask(*client, command), QByteArray("OK"));

        // 1001 pixels wide: the spare pixel goes to a column, none is left uncovered.
        QCOMPARE((QList<QRect>{m_fake->m_geometry.value(30), m_fake->m_geometry.value(10), m_fake->m_geometry.value(20)}),
                 (QList<QRect>{QRect(0, 0, 334, 700), QRect(334, 0, 334, 700), QRect(668, 0, 333, 700)}));
    }

    void vanishingMisbehavingAndConcurrentClients()
    {
        // A half-written line dies with its client.
        const auto partial = connectClient();
        partial->write("ADD 7");
        QVERIFY(partial->waitForBytesWritten(1000));
        partial->abort();

        // A complete line counts even if its client is gone before the answer:
        // editors send REMOVE while they close.
        const auto hasty = connectClient();
        hasty->write("ADD 8\n");
        QVERIFY(hasty->waitForBytesWritten(1000));
        hasty->abort();
        QTRY_VERIFY(m_coordinator->windows().contains("8"));

        // A client that never ends its line is cut off instead of buffered.
        const auto endless = connectClient();
        endless->write(QByteArray(DdeProtocol::maxLineLength + 100, 'x'));
        QTRY_COMPARE(endless->state(), QLocalSocket::UnconnectedState);

        // Each client writes all its commands before any is answered; every
        // command must be answered, on its own connection, in its order.
        const auto a = connectClient(), b = connectClient(), c = connectClient();
        a->write("ADD 1\nADD 2\nADD 3\n");
        b->write("bogus\nADD 4\n");
        c->write("ADD 5\n");
        QCOMPARE(readAnswers(*a, 3), (QByteArrayList{"OK", "OK", "OK"}));
        QCOMPARE(readAnswers(*b, 2), (QByteArrayList{"REFUSED", "OK"}));
        QCOMPARE(readAnswers(*c, 1), QByteArrayList{"OK"});
        QStringList windows = m_coordinator->windows();
        QVERIFY(windows.indexOf("1") < windows.indexOf("2") && windows.indexOf("2") < windows.indexOf("3"));
        windows.sort();
        QCOMPARE(windows, (QStringList{"1", "2", "3", "4", "5", "8"}));
    }

    void sweepDropsVanishedWindows()
    {
        const auto client = connectClient();
        client->write("ADD 1\nADD 2\n");
        QCOMPARE(readAnswers(*client, 2), (QByteArrayList{"OK", "OK"}));
        m_fake->m_titles.remove(1);
        QTRY_COMPARE(m_coordinator->windows(), QStringList{"2"});
        QCOMPARE(m_finished->count(), 0);

        // An empty title counts as gone; the last window leaving ends it.
        m_fake->m_titles[2].clear();
        QTRY_COMPARE(m_finished->count(), 1);
        QVERIFY(m_coordinator->windows().isEmpty());
    }

    void onlyOneCoordinatorRuns()
    {
        // Started together, one wins.
        QProcess *a = start();
        QProcess *b = start();
        QTRY_VERIFY(a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning);
        QProcess *first = a->state() == QProcess::Running ? a : b;
        QCOMPARE(first->state(), QProcess::Running);
        QCOMPARE(ask(*connectClient(DdeProtocol::serverName()), "ADD 1"), QByteArray("OK"));

        // Killed, it leaves its socket and lock file; a successor takes over...
        first->kill();
        QVERIFY(first->waitForFinished(5000));
        QProcess *successor = start();
        const auto client = connectClient(DdeProtocol::serverName());
        // ...and holds the claim: a later one ends at once.
        QProcess *late = start();
        QVERIFY(late->waitForFinished(5000) && late->exitCode() == 0);
        // It ends, cleanly, once its last window is removed (a REMOVE before
        // the first ADD is no end: commands()).
        for (const char *command : {"ADD 2", "ADD 3", "REMOVE 2"})
            QCOMPARE(ask(*client, command), QByteArray("OK"));
        QCOMPARE(successor->state(), QProcess::Running);
        QCOMPARE(ask(*client, "REMOVE 3"), QByteArray("OK"));
        QTRY_COMPARE(successor->state(), QProcess::NotRunning);
        QCOMPARE(std::pair(successor->exitStatus(), successor->exitCode()), std::pair(QProcess::NormalExit, 0));
    }

    // More idle connections than it has descriptors do not stop it
    // serving; without a display it ends once its editors have ended.
    void servesUnderLoadAndEndsWithItsEditors()
    {
        QProcess *dde = start();
        connectClient(DdeProtocol::serverName());
        std::vector<std::unique_ptr<QLocalSocket>> idle(120);
        for (auto &socket : idle) {
            socket = std::make_unique<QLocalSocket>();
            socket->connectToServer(DdeProtocol::serverName());
        }
        const pid_t editor = editorProcess();
        QVERIFY(editor > 0 && ::kill(editor, SIGKILL) == 0);
        QVERIFY(dde->waitForFinished(5000));
    }

    // The editor's side: the client that registers its windows.
    void registrationWaitsForCoordinator()
    {
        // The editor's first window registers before the coordinator it has just
        // started listens. Tiling and removal meanwhile are one-off attempts, and
        // a removed window's pending registration is withdrawn.
        CoordinatorClient client(clientSide());
        QSignalSpy registered(&client, &CoordinatorClient::windowRegistered);
        client.tileVertical();
        client.registerWindow(3);
        client.unregisterWindow(3);
        client.registerWindow(42);
        QCOMPARE(registered.count(), 0);

        ScriptedCoordinator coordinator(clientSide());
        QTRY_COMPARE(registered.count(), 1);
        QVERIFY(registered.at(0).at(0).value<quint64>() == 42 && coordinator.m_lines == QByteArrayList{"ADD 42"});
    }

    void registrationFailures()
    {
        CoordinatorClient client(clientSide());
        client.setRegistrationTimeout(300);
        QSignalSpy failed(&client, &CoordinatorClient::registrationFailed);
        client.registerWindow(7); // nobody ever answers
        QTRY_COMPARE(failed.count(), 1);

        ScriptedCoordinator coordinator(clientSide());
        coordinator.m_answer = "REFUSED";
        client.registerWindow(8);
        QTRY_COMPARE(failed.count(), 2);
        QCOMPARE(failed.at(1).at(0).value<quint64>(), quint64(8));
    }

    void registrationSurvivesLostConnection()
    {
        // A coordinator ending just as the ADD arrives: the ADD goes again.
        ScriptedCoordinator coordinator(clientSide());
        coordinator.m_dropConnections = 1;
        CoordinatorClient client(clientSide());
        QSignalSpy registered(&client, &CoordinatorClient::windowRegistered);
        client.registerWindow(9);
        QTRY_COMPARE(registered.count(), 1);
        QCOMPARE(coordinator.m_lines, (QByteArrayList{"ADD 9", "ADD 9"}));
    }

    void commandsArriveInOrder()
    {
        ScriptedCoordinator coordinator(clientSide());
        CoordinatorClient client(clientSide());
        for (quint64 window : {1, 2})
            client.registerWindow(window);
        client.tileVertical();
        client.unregisterWindow(1); // blocks until handed over; must not overtake
        QTRY_COMPARE(coordinator.m_lines, (QByteArrayList{"ADD 1", "ADD 2", "TILE_VERTICAL", "REMOVE 1"}));
    }

    void windowsRegisterInOpeningOrder()
    {
        // A second window opened once the coordinator listens, while the first
        // one's registration still waits for its retry: the coordinator tiles in
        // registration order, so the second must not be registered first.
        frmMain first;
        ScriptedCoordinator coordinator(DdeProtocol::serverName());
        frmMain second;
        const auto add = [](const frmMain &window) { return "ADD " + QByteArray::number(window.windowHandle()); };
        QTRY_COMPARE(coordinator.m_lines, (QByteArrayList{add(first), add(second)}));
    }

    // Editor windows of two editor processes on an X server of the test's
    // own, tiled by the coordinator the first editor started; a bus of the
    // test's own and the runtime folder of init() keep them from any session.
    void tilesWindowsOfTwoEditorsAndDropsKilledOne()
    {
        // The first editor starts the coordinator from its own folder.
        QCOMPARE(QFileInfo(QStringLiteral(OSTREL_DDE_PATH)).absolutePath(), QFileInfo(QStringLiteral(OSTREL_EDIT_PATH)).absolutePath());
        XvfbScreen screen;
        SessionBus bus;
        const QString dir = m_runtimeDir->path(), noScreen = screen.start(), noBus = bus.start(dir);
        if (!noScreen.isEmpty() || !SessionBus::installed())
            QSKIP(qPrintable(noScreen + noBus));
        QVERIFY2(noBus.isEmpty(), qPrintable(noBus));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto &[name, value] : {std::pair("QT_QPA_PLATFORM", QStringLiteral("xcb")), {"DISPLAY", QString::fromLatin1(screen.display())},
                                          {"DBUS_SESSION_BUS_ADDRESS", bus.address()}, {"XDG_RUNTIME_DIR", dir},
                                          {"XDG_CONFIG_HOME", dir + QStringLiteral("/config")}, {"XDG_STATE_HOME", dir + QStringLiteral("/state")}})
            env.insert(QString::fromLatin1(name), value);
        const auto startEditor = [&](const QStringList &arguments) {
            QProcess *editor = m_processes.emplace_back(new QProcess);
            m_editorsStarted = true;
            editor->setProcessEnvironment(env);
            editor->setProcessChannelMode(QProcess::ForwardedChannels);
            editor->start(QStringLiteral(OSTREL_EDIT_PATH), arguments);
            return editor->waitForStarted(10000);
        };

        // Editor process 1 under automation; its windows are asked for one
        // after the other, as a client script would, and their ids come with them.
        const QString service = QStringLiteral("org.ostrel.OstrelEdit");
        const QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("tiling"));
        const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("tiling")); });
        QVERIFY(startEditor({QStringLiteral("--automation")}) && connection.isConnected());
        QTRY_VERIFY_WITH_TIMEOUT(connection.interface()->isServiceRegistered(service), 30000);
        QDBusInterface editor1(service, QStringLiteral("/org/ostrel/OstrelEdit"), service, connection);
        QStringList paths;
        const auto createShownWindow = [&]() -> quint32 {
            const QDBusReply<QDBusObjectPath> path = editor1.call(QStringLiteral("CreateWindow"));
            if (!path.isValid())
                return 0;
            paths << path.value().path();
            QDBusInterface window(service, path.value().path(), QStringLiteral("org.ostrel.OstrelEdit.Window"), connection);
            return window.setProperty("Visible", true) ? quint32(window.property("hWnd").toLongLong()) : 0;
        };
        // The size a closing window leaves for the next one, in twips.
        const auto closeAndStoredSize = [&](const QString &path) {
            const QString ini = dir + QStringLiteral("/config/Ostrel XML Editor/Ostrel XML Editor.ini");
            QFile::remove(ini);
            QDBusInterface(service, path, QStringLiteral("org.ostrel.OstrelEdit.Window"), connection).call(QStringLiteral("CloseWindow"));
            QSize size;
            for (QDeadlineTimer wait(10000); size.isEmpty() && !wait.hasExpired(); QTest::qWait(50)) {
                const QSettings stored(ini, QSettings::IniFormat);
                size = QSize(stored.value(QStringLiteral("Application/Width")).toInt(), stored.value(QStringLiteral("Application/Height")).toInt());
            }
            return size;
        };
        // A window closed untiled tells the size windows open at (one stays
        // open, or the coordinator would end with the last).
        const quint32 first = createShownWindow();
        QVERIFY(first != 0 && createShownWindow() != 0);
        const QSize chosen = closeAndStoredSize(paths.takeLast());
        QVERIFY(!chosen.isEmpty());
        const quint32 second = createShownWindow();
        QVERIFY(second != 0);

        // Sends TILE_VERTICAL as the Window menu does; run again and again by
        // QTRY, each run sees what the previous one did, and the first success
        // also means every window in the list has registered.
        CoordinatorClient client;
        const auto tiled = [&](const QList<quint32> &windows) {
            client.tileVertical();
            return screen.tiledAsColumns(windows);
        };
        QTRY_VERIFY_WITH_TIMEOUT(tiled({first, second}), 20000);
        const qint64 coordinator = coordinatorPid();
        QVERIFY(coordinator != 0);

        // Editor process 2, started by a user with a file, adds the third window.
        QFile document(dir + QStringLiteral("/second.xml"));
        QVERIFY(document.open(QIODevice::WriteOnly) && document.write("<root/>\n") > 0 && document.flush());
        QVERIFY(startEditor({document.fileName()}));
        quint32 third = 0;
        QTRY_VERIFY_WITH_TIMEOUT((third = screen.findWindow("second.xml - Ostrel XML Editor")) != 0, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(tiled({first, second, third}), 20000);

        // Killed, editor 2 cannot say REMOVE; the sweep drops its window.
        const auto kill = [](QProcess *editor) { return editor->kill(), editor->waitForFinished(5000); };
        QVERIFY(kill(m_processes.last()));
        QTRY_VERIFY_WITH_TIMEOUT(tiled({first, second}), 2000);
        // Tiled windows keep the size they had: the tile's is not stored.
        const QSize kept = closeAndStoredSize(paths.takeLast());
        QVERIFY2(std::abs(kept.width() - chosen.width()) <= 30 && std::abs(kept.height() - chosen.height()) <= 30,
                 qPrintable(QStringLiteral("%1x%2, not %3x%4").arg(kept.width()).arg(kept.height()).arg(chosen.width()).arg(chosen.height())));
        // With the last window gone the coordinator ends by itself.
        QVERIFY(kill(m_processes.first()));
        QTRY_VERIFY_WITH_TIMEOUT(coordinatorPid() != coordinator, 20000);
        m_editorsStarted = false;
    }

private:
    // A name apart from the coordinator of this process, for the client's tests.
    QString clientSide() const { return m_serverName + QLatin1Char('c'); }

    // A connection to the coordinator in this process, or to the one
    // serving `name`, waiting until one serves.
    std::unique_ptr<QLocalSocket> connectClient(const QString &name = QString())
    {
        auto socket = std::make_unique<QLocalSocket>();
        (void)QTest::qWaitFor([&] {
            socket->connectToServer(name.isEmpty() ? m_serverName : name);
            return socket->waitForConnected(1000);
        }, 10000);
        return socket;
    }

    // An editor in a process of its own that has registered a window and
    // waits to be killed; -1 when it was not answered OK.
    pid_t editorProcess()
    {
        sockaddr_un address{AF_UNIX, {}};
        qstrncpy(address.sun_path, QFile::encodeName(DdeProtocol::serverName()).constData(), sizeof address.sun_path);
        char answer[3] = {};
        int ready[2];
        if (::pipe(ready) != 0)
            return -1;
        const pid_t pid = ::fork();
        if (pid == 0) { // only calls that are safe after fork() in a threaded program
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
                || ::write(fd, "ADD 5\n", 6) != 6 || ::read(fd, answer, 3) != 3 || ::write(ready[1], answer, 2) != 2)
                ::_exit(1);
            for (;;)
                ::pause();
        }
        m_children.append(pid);
        ::close(ready[1]);
        const bool ok = ::read(ready[0], answer, 2) == 2 && qstrcmp(answer, "OK") == 0;
        ::close(ready[0]);
        return ok ? pid : -1;
    }

    // Starts OstrelDDE with few descriptors, as under a low limit; cleanup() ends it.
    QProcess *start()
    {
        auto *process = new QProcess;
        m_processes.append(process);
        process->setChildProcessModifier([] {
            const rlimit limit{64, 64};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        });
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(OSTREL_DDE_PATH));
        process->waitForStarted(5000);
        return process;
    }

    std::unique_ptr<QTemporaryDir> m_runtimeDir;
    QList<QProcess *> m_processes;
    QList<pid_t> m_children;
    bool m_editorsStarted = false;

    QTemporaryDir m_dir;
    QString m_serverName;
    std::unique_ptr<FakeWindowSystem> m_fake;
    std::unique_ptr<Coordinator> m_coordinator;
    std::unique_ptr<QSignalSpy> m_finished;
};

QTEST_MAIN(TestCoordinator)
#include "tst_coordinator.moc"
