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
#include <poll.h>
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
        m_runtimeDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_runtimeDir->isValid());
        // Inherited by the programs started here; serverName() follows it too.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtimeDir->path()));
    }

    void cleanup()
    {
        for (auto it = m_processes.crbegin(); it != m_processes.crend(); ++it) {
            (*it)->kill();
            (*it)->waitForFinished(5000);
            delete *it;
        }
        m_processes.clear();
        for (pid_t pid : std::as_const(m_children)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        m_children.clear();
    }

    void endsWhenLastWindowRemoved()
    {
        QProcess *dde = start();
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

    void onlyOneCoordinatorRuns()
    {
        // Started together, one wins.
        QProcess *a = start();
        QProcess *b = start();
        QTRY_VERIFY(a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning);
        QProcess *first = a->state() == QProcess::Running ? a : b;
        QCOMPARE(first->state(), QProcess::Running);
        auto client = connectWhenServing();
        QCOMPARE(ask(*client, "ADD 1"), QByteArray("OK"));

        // Killed, it leaves its socket and lock file; a successor takes over...
        first->kill();
        QVERIFY(first->waitForFinished(5000));
        QProcess *successor = start();
        client = connectWhenServing();
        QCOMPARE(ask(*client, "ADD 2"), QByteArray("OK"));

        // ...and holds the claim: a later one ends at once.
        QProcess *late = start();
        QVERIFY(late->waitForFinished(5000));
        QCOMPARE(late->exitCode(), 0);
        QCOMPARE(successor->state(), QProcess::Running);
        QCOMPARE(ask(*client, "REMOVE 2"), QByteArray("OK"));
        QVERIFY(successor->waitForFinished(5000));
    }

    // Other processes hold more idle connections than it has descriptors;
    // an editor arriving afterwards is still served.
    void keepsServingWhenOutOfDescriptors()
    {
        QProcess *dde = start(64);
        connectWhenServing();
        for (int i = 0; i < 12; ++i)
            QVERIFY(holdConnections(10, nullptr) > 0);
        const auto client = connectWhenServing();
        QCOMPARE(ask(*client, "ADD 1"), QByteArray("OK"));
        QCOMPARE(dde->state(), QProcess::Running);
    }

    // Without a display windows cannot be checked, but their editors can.
    void endsWhenItsEditorsHaveEnded()
    {
        QProcess *dde = start();
        connectWhenServing();
        const pid_t first = holdConnections(1, "ADD 5\n");
        const pid_t second = holdConnections(1, "ADD 6\nADD 7\n");
        QVERIFY(first > 0 && second > 0);
        ::kill(first, SIGKILL);
        QVERIFY(!dde->waitForFinished(1500)); // the other editor's windows keep it
        ::kill(second, SIGKILL);
        QVERIFY(dde->waitForFinished(5000));
        QCOMPARE(dde->exitCode(), 0);
    }

private:
    // A process of its own holding `count` connections, each having sent
    // `lines` (and read the first answer), until cleanup() kills it.
    pid_t holdConnections(int count, const char *lines)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(DdeProtocol::serverName()).constData(), sizeof address.sun_path);
        int ready[2];
        if (::pipe(ready) != 0)
            return -1;
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Only calls that are safe after fork() in a threaded program.
            for (int i = 0; i < count; ++i) {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
                    ::_exit(1);
                char answer[8];
                if (lines && (::write(fd, lines, ::strlen(lines)) < 0 || ::read(fd, answer, sizeof answer) <= 0))
                    ::_exit(1);
            }
            [[maybe_unused]] const ssize_t n = ::write(ready[1], "r", 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        m_children.append(pid);
        pollfd done{ready[0], POLLIN, 0};
        char byte = 0;
        const bool ok = pid > 0 && ::poll(&done, 1, 10000) == 1 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        return ok ? pid : -1;
    }

    // Starts OstrelDDE, with at most `files` descriptors when given;
    // cleanup() ends it.
    QProcess *start(int files = 0)
    {
        auto *process = new QProcess;
        m_processes.append(process);
        if (files > 0)
            process->setChildProcessModifier([files] {
                const rlimit limit{rlim_t(files), rlim_t(files)};
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
