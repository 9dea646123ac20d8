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

private:
    // Starts OstrelDDE; cleanup() ends it.
    QProcess *start()
    {
        auto *process = new QProcess;
        m_processes.append(process);
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
};

QTEST_MAIN(TestOstrelDde)
#include "tst_ostreldde.moc"
