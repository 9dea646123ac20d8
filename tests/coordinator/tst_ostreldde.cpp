// Runs the real OstrelDDE program. Each test has its own runtime folder, so
// nothing started here meets a real coordinator. Without DISPLAY the program
// cannot check windows and only REMOVE shrinks its list; the tiling test
// gives it a real X server.

#include "XvfbScreen.h"
#include "ddecommand.h"

#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestOstrelDde : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void endsWhenLastWindowRemoved();
    void onlyOneCoordinatorRuns();
    void tilesRealWindowsAndSweepsKilledProcess();

private:
    QProcess *start(const QString &program, const QStringList &arguments = {});
    // A connection to the coordinator, waiting until one serves.
    std::unique_ptr<QLocalSocket> connectWhenServing();
    static QByteArray ask(QLocalSocket &socket, const QString &command);

    std::unique_ptr<QTemporaryDir> m_runtimeDir;
    QList<QProcess *> m_processes;
    std::unique_ptr<XvfbScreen> m_screen;
};

void TestOstrelDde::initTestCase()
{
    qunsetenv("DISPLAY");
}

void TestOstrelDde::init()
{
    m_runtimeDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_runtimeDir->isValid());
    // Inherited by the programs started here; serverName() follows it too.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtimeDir->path()));
}

void TestOstrelDde::cleanup()
{
    for (auto it = m_processes.crbegin(); it != m_processes.crend(); ++it) {
        (*it)->kill();
        (*it)->waitForFinished(5000);
        delete *it;
    }
    m_processes.clear();
    m_screen.reset(); // after the programs using it
    qunsetenv("DISPLAY");
}

QProcess *TestOstrelDde::start(const QString &program, const QStringList &arguments)
{
    auto *process = new QProcess;
    m_processes.append(process);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    process->waitForStarted(5000);
    return process;
}

std::unique_ptr<QLocalSocket> TestOstrelDde::connectWhenServing()
{
    auto socket = std::make_unique<QLocalSocket>();
    (void)QTest::qWaitFor([&] {
        socket->connectToServer(DdeProtocol::serverName());
        return socket->waitForConnected(1000);
    }, 10000);
    return socket;
}

QByteArray TestOstrelDde::ask(QLocalSocket &socket, const QString &command)
{
    socket.write(DdeProtocol::encodeLine(command));
    socket.waitForBytesWritten(5000);
    if (!socket.canReadLine())
        socket.waitForReadyRead(5000);
    return socket.readLine().trimmed();
}

void TestOstrelDde::endsWhenLastWindowRemoved()
{
    QProcess *dde = start(OSTREL_DDE_PATH);
    const auto client = connectWhenServing();
    QCOMPARE(ask(*client, "REMOVE 1"), QByteArray("OK")); // before the first ADD: no end
    QCOMPARE(ask(*client, "ADD 1234"), QByteArray("OK"));
    QCOMPARE(ask(*client, "ADD 99"), QByteArray("OK"));
    QCOMPARE(ask(*client, "REMOVE 1234"), QByteArray("OK"));
    QCOMPARE(dde->state(), QProcess::Running);
    QCOMPARE(ask(*client, "REMOVE 99"), QByteArray("OK"));
    QVERIFY(dde->waitForFinished(5000));
    QCOMPARE(dde->exitStatus(), QProcess::NormalExit);
    QCOMPARE(dde->exitCode(), 0);
}

void TestOstrelDde::onlyOneCoordinatorRuns()
{
    // Started together, one wins.
    QProcess *a = start(OSTREL_DDE_PATH);
    QProcess *b = start(OSTREL_DDE_PATH);
    QTRY_VERIFY(a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning);
    QProcess *first = a->state() == QProcess::Running ? a : b;
    QCOMPARE(first->state(), QProcess::Running);
    auto client = connectWhenServing();
    QCOMPARE(ask(*client, "ADD 1"), QByteArray("OK"));

    // Killed, it leaves its socket and lock file; a successor takes over...
    first->kill();
    QVERIFY(first->waitForFinished(5000));
    QProcess *successor = start(OSTREL_DDE_PATH);
    client = connectWhenServing();
    QCOMPARE(ask(*client, "ADD 2"), QByteArray("OK"));

    // ...and holds the claim: a later one ends at once.
    QProcess *late = start(OSTREL_DDE_PATH);
    QVERIFY(late->waitForFinished(5000));
    QCOMPARE(late->exitCode(), 0);
    QCOMPARE(successor->state(), QProcess::Running);
    QCOMPARE(ask(*client, "REMOVE 2"), QByteArray("OK"));
    QVERIFY(successor->waitForFinished(5000));
}

void TestOstrelDde::tilesRealWindowsAndSweepsKilledProcess()
{
    m_screen = std::make_unique<XvfbScreen>();
    const QString whyNot = m_screen->start();
    if (!whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    qputenv("DISPLAY", m_screen->display());

    QProcess *dde = start(OSTREL_DDE_PATH);
    const auto client = connectWhenServing();
    // Editor stand-ins: the first process shows two windows, the second one.
    const auto startEditor = [this](const QString &windowCount) {
        QProcess *editor = start(OSTREL_TILE_HELPER_PATH, {windowCount, "-platform", "xcb"});
        QList<quint32> windows;
        (void)QTest::qWaitFor([&] {
            while (editor->canReadLine()) {
                const QByteArray line = editor->readLine().trimmed();
                if (line.startsWith("registered "))
                    windows.append(line.mid(11).toUInt());
            }
            return windows.size() == windowCount.toInt();
        }, 10000);
        return std::make_pair(editor, windows);
    };
    const auto [first, firstWindows] = startEditor("2");
    QCOMPARE(firstWindows.size(), 2);
    const auto [second, secondWindows] = startEditor("1");
    QCOMPARE(secondWindows.size(), 1);

    // The answer comes after the X server has carried out the moves.
    QCOMPARE(ask(*client, "TILE_VERTICAL"), QByteArray("OK"));
    QVERIFY(m_screen->tiledAsColumns(firstWindows + secondWindows));

    // Once the sweep has dropped the killed process's window, the two left
    // share the screen.
    second->kill();
    QVERIFY(second->waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(ask(*client, "TILE_VERTICAL") == "OK" && m_screen->tiledAsColumns(firstWindows), 2000);

    // The last windows vanishing ends the coordinator.
    first->kill();
    QVERIFY(first->waitForFinished(5000));
    QVERIFY(dde->waitForFinished(5000));
    QCOMPARE(dde->exitCode(), 0);
}

QTEST_MAIN(TestOstrelDde)
#include "tst_ostreldde.moc"
