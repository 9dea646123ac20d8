// The built editor and coordinator together, as a user meets them: editor
// windows of two editor processes on an X server of the test's own, tiled by
// the coordinator the first editor started. A private session bus, runtime
// folder and settings folder keep the programs away from any real session
// and from other tests.

#include "SessionBus.h"
#include "XvfbScreen.h"
#include "ddecommand.h"
#include "shell/CoordinatorClient.h"
#include "singleinstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

namespace {

const QString kService = QStringLiteral("org.ostrel.OstrelEdit");
const QString kBusName = QStringLiteral("tiling");

// The coordinator is started detached, so the test knows it only by the
// process id in its lock file; the check on the program keeps a reused id
// from being taken for it. 0 when it is not running.
qint64 coordinatorPid()
{
    qint64 pid = 0;
    const QLockFile lock(SingleInstance::lockFilePath(DdeProtocol::serverName()));
    const bool locked = lock.getLockInfo(&pid, nullptr, nullptr);
    const bool ours = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget()
                      == QFileInfo(QStringLiteral(OSTREL_DDE_PATH)).canonicalFilePath();
    return locked && ours ? pid : 0;
}

// Ends whatever the test started, also when a check fails half-way: the
// editors, the coordinator the first one started, the bus connection.
struct Started
{
    std::vector<std::unique_ptr<QProcess>> editors;
    bool coordinatorEnded = false;

    ~Started()
    {
        for (const auto &editor : editors)
            editor->kill(), editor->waitForFinished(5000);
        // It may not have taken its lock yet, and without a window it would
        // wait for one for ever.
        qint64 pid = 0;
        if (!editors.empty() && !coordinatorEnded
            && QTest::qWaitFor([&pid] { return (pid = coordinatorPid()) != 0; }, 5000))
            ::kill(pid_t(pid), SIGKILL);
        QDBusConnection::disconnectFromBus(kBusName);
    }
};

} // namespace

class TestEditorTiling : public QObject
{
    Q_OBJECT
private slots:
    void tilesWindowsOfTwoEditorsAndDropsKilledOne();
};

void TestEditorTiling::tilesWindowsOfTwoEditorsAndDropsKilledOne()
{
    // The first editor starts the coordinator from its own folder.
    QCOMPARE(QFileInfo(QStringLiteral(OSTREL_DDE_PATH)).absolutePath(), QFileInfo(QStringLiteral(OSTREL_EDIT_PATH)).absolutePath());
    if (!SessionBus::installed())
        QSKIP("dbus-daemon is not installed");
    QTemporaryDir dir; // 0700, so it serves as the runtime folder
    XvfbScreen screen;
    if (const QString noScreen = screen.start(); !noScreen.isEmpty())
        QSKIP(qPrintable(noScreen));
    SessionBus bus;
    const QString noBus = bus.start(dir.path());
    QVERIFY2(dir.isValid() && noBus.isEmpty(), qPrintable(noBus));
    Started started;

    // The test's own coordinator client must find the same socket.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : {std::pair("QT_QPA_PLATFORM", QStringLiteral("xcb")), {"DISPLAY", QString::fromLatin1(screen.display())},
                                      {"DBUS_SESSION_BUS_ADDRESS", bus.address()}, {"XDG_RUNTIME_DIR", dir.path()},
                                      {"XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config"))}, {"XDG_STATE_HOME", dir.filePath(QStringLiteral("state"))}})
        env.insert(QString::fromLatin1(name), value);
    const auto startEditor = [&](const QStringList &arguments) {
        started.editors.push_back(std::make_unique<QProcess>());
        QProcess &editor = *started.editors.back();
        editor.setProcessEnvironment(env);
        editor.setProcessChannelMode(QProcess::ForwardedChannels);
        editor.start(QStringLiteral(OSTREL_EDIT_PATH), arguments);
        return editor.waitForStarted(10000);
    };

    // Editor process 1 under automation; its windows are asked for one after
    // the other, as a client script would, and their ids come with them.
    const QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), kBusName);
    QVERIFY(startEditor({QStringLiteral("--automation")}) && connection.isConnected());
    QTRY_VERIFY_WITH_TIMEOUT(connection.interface()->isServiceRegistered(kService), 30000);
    QDBusInterface editor1(kService, QStringLiteral("/org/ostrel/OstrelEdit"), kService, connection);
    const auto createShownWindow = [&]() -> quint32 {
        const QDBusReply<QDBusObjectPath> path = editor1.call(QStringLiteral("CreateWindow"));
        if (!path.isValid())
            return 0;
        QDBusInterface window(kService, path.value().path(), QStringLiteral("org.ostrel.OstrelEdit.Window"), connection);
        return window.setProperty("Visible", true) ? quint32(window.property("hWnd").toLongLong()) : 0;
    };
    const quint32 first = createShownWindow(), second = createShownWindow();
    QVERIFY(first != 0 && second != 0);

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
    QFile document(dir.filePath(QStringLiteral("second.xml")));
    QVERIFY(document.open(QIODevice::WriteOnly) && document.write("<root/>\n") > 0 && document.flush());
    QVERIFY(startEditor({document.fileName()}));
    quint32 third = 0;
    QTRY_VERIFY_WITH_TIMEOUT((third = screen.findWindow("second.xml - Ostrel XML Editor")) != 0, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(tiled({first, second, third}), 20000);

    // Killed, editor 2 cannot say REMOVE; the sweep drops its window.
    const auto kill = [](QProcess &editor) { return editor.kill(), editor.waitForFinished(5000); };
    QVERIFY(kill(*started.editors.back()));
    QTRY_VERIFY_WITH_TIMEOUT(tiled({first, second}), 2000);
    // With the last window gone the coordinator ends by itself.
    QVERIFY(kill(*started.editors.front()));
    QTRY_VERIFY_WITH_TIMEOUT(coordinatorPid() != coordinator, 20000);
    started.coordinatorEnded = true;
}

QTEST_MAIN(TestEditorTiling)
#include "tst_editortiling.moc"
