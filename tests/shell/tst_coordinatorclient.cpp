#include "ddecommand.h"
#include "shell/CoordinatorClient.h"
#include "shell/frmMain.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

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

class TestCoordinatorClient : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_name;

private slots:
    void init()
    {
        static int run = 0;
        m_name = m_dir.filePath(QStringLiteral("dde%1").arg(++run));
    }

    void registrationWaitsForCoordinator()
    {
        // The editor's first window registers before the coordinator it has just
        // started listens. Tiling and removal meanwhile are one-off attempts, and
        // a removed window's pending registration is withdrawn.
        CoordinatorClient client(m_name);
        QSignalSpy registered(&client, &CoordinatorClient::windowRegistered);
        client.tileVertical();
        client.registerWindow(3);
        client.unregisterWindow(3);
        client.registerWindow(42);
        QCOMPARE(registered.count(), 0);

        ScriptedCoordinator coordinator(m_name);
        QTRY_COMPARE(registered.count(), 1);
        QVERIFY(registered.at(0).at(0).value<quint64>() == 42 && coordinator.m_lines == QByteArrayList{"ADD 42"});
    }

    void registrationFailures()
    {
        CoordinatorClient client(m_name);
        client.setRegistrationTimeout(300);
        QSignalSpy failed(&client, &CoordinatorClient::registrationFailed);
        client.registerWindow(7); // nobody ever answers
        QTRY_COMPARE(failed.count(), 1);

        ScriptedCoordinator coordinator(m_name);
        coordinator.m_answer = "REFUSED";
        client.registerWindow(8);
        QTRY_COMPARE(failed.count(), 2);
        QCOMPARE(failed.at(1).at(0).value<quint64>(), quint64(8));
    }

    void registrationSurvivesLostConnection()
    {
        // A coordinator ending just as the ADD arrives: the ADD goes again.
        ScriptedCoordinator coordinator(m_name);
        coordinator.m_dropConnections = 1;
        CoordinatorClient client(m_name);
        QSignalSpy registered(&client, &CoordinatorClient::windowRegistered);
        client.registerWindow(9);
        QTRY_COMPARE(registered.count(), 1);
        QCOMPARE(coordinator.m_lines, (QByteArrayList{"ADD 9", "ADD 9"}));
    }

    void commandsArriveInOrder()
    {
        ScriptedCoordinator coordinator(m_name);
        CoordinatorClient client(m_name);
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
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
        frmMain first;
        ScriptedCoordinator coordinator(DdeProtocol::serverName());
        frmMain second;
        const auto add = [](const frmMain &window) { return "ADD " + QByteArray::number(window.windowHandle()); };
        QTRY_COMPARE(coordinator.m_lines, (QByteArrayList{add(first), add(second)}));
    }
};

QTEST_MAIN(TestCoordinatorClient)
#include "tst_coordinatorclient.moc"
