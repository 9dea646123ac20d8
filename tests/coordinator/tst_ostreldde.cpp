// Runs the real OstrelDDE program. Each test has its own runtime folder, so
// nothing started here meets a real coordinator. Without DISPLAY the program
// cannot check windows and only REMOVE shrinks its list; tst_editortiling
// gives it a real X server and real editor windows.

#include "ddecommand.h"

#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

class TestOstrelDde : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("DISPLAY"); }

    void init()
    {
        QVERIFY((m_runtimeDir = std::make_unique<QTemporaryDir>())->isValid());
        // Inherited by the programs started here; serverName() follows it too.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtimeDir->path()));
    }

    void cleanup()
    {
        for (QProcess *process : std::as_const(m_processes))
            process->kill(), process->waitForFinished(5000);
        qDeleteAll(std::exchange(m_processes, {}));
        for (pid_t pid : std::as_const(m_children)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        m_children.clear();
    }

    void onlyOneCoordinatorRuns()
    {
        // Started together, one wins.
        QProcess *a = start();
        QProcess *b = start();
        QTRY_VERIFY(a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning);
        QProcess *first = a->state() == QProcess::Running ? a : b;
        QCOMPARE(first->state(), QProcess::Running);
        QCOMPARE(ask(*connectWhenServing(), "ADD 1"), QByteArray("OK"));

        // Killed, it leaves its socket and lock file; a successor takes over...
        first->kill();
        QVERIFY(first->waitForFinished(5000));
        QProcess *successor = start();
        const auto client = connectWhenServing();
        // ...and holds the claim: a later one ends at once.
        QProcess *late = start();
        QVERIFY(late->waitForFinished(5000) && late->exitCode() == 0);
        // It ends, cleanly, once its last window is removed (a REMOVE before
        // the first ADD is no end: tst_coordinator).
        for (const char *command : {"ADD 2", "ADD 3", "REMOVE 2"})
            QCOMPARE(ask(*client, command), QByteArray("OK"));
        QCOMPARE(successor->state(), QProcess::Running);
        QCOMPARE(ask(*client, "REMOVE 3"), QByteArray("OK"));
        QVERIFY(successor->waitForFinished(5000));
        QCOMPARE(std::pair(successor->exitStatus(), successor->exitCode()), std::pair(QProcess::NormalExit, 0));
    }

    // More idle connections than it has descriptors do not stop it
    // serving; without a display it ends once its editors have ended.
    void servesUnderLoadAndEndsWithItsEditors()
    {
        QProcess *dde = start();
        connectWhenServing();
        std::vector<std::unique_ptr<QLocalSocket>> idle(120);
        for (auto &socket : idle) {
            socket = std::make_unique<QLocalSocket>();
            socket->connectToServer(DdeProtocol::serverName());
        }
        const pid_t editor = editorProcess();
        QVERIFY(editor > 0 && ::kill(editor, SIGKILL) == 0);
        QVERIFY(dde->waitForFinished(5000));
    }

private:
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

    // A connection to the coordinator, waiting until one serves.
    std::unique_ptr<QLocalSocket> connectWhenServing()
    {
        auto socket = std::make_unique<QLocalSocket>();
        (void)QTest::qWaitFor([&] {
            socket->connectToServer(DdeProtocol::serverName());
            return socket->waitForConnected(1000);
        }, 10000);
        return socket;
    }

    static QByteArray ask(QLocalSocket &socket, const QString &command)
    {
        socket.write(DdeProtocol::encodeLine(command));
        socket.waitForBytesWritten(5000);
        if (!socket.canReadLine())
            socket.waitForReadyRead(5000);
        return socket.readLine().trimmed();
    }

    std::unique_ptr<QTemporaryDir> m_runtimeDir;
    QList<QProcess *> m_processes;
    QList<pid_t> m_children;
};

QTEST_MAIN(TestOstrelDde)
#include "tst_ostreldde.moc"
