#include "coordinator.h"
#include "ddecommand.h"
#include "fakewindowsystem.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

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

} // namespace

class TestCoordinator : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
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
    }

    void commands_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QByteArrayList>("answers");
        QTest::addColumn<QStringList>("windows");
        QTest::addColumn<bool>("ends");
        QTest::addColumn<int>("tiles");
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

private:
    std::unique_ptr<QLocalSocket> connectClient()
    {
        auto socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(m_serverName);
        socket->waitForConnected(1000);
        return socket;
    }

    QTemporaryDir m_dir;
    QString m_serverName;
    std::unique_ptr<FakeWindowSystem> m_fake;
    std::unique_ptr<Coordinator> m_coordinator;
    std::unique_ptr<QSignalSpy> m_finished;
};

QTEST_MAIN(TestCoordinator)
#include "tst_coordinator.moc"
