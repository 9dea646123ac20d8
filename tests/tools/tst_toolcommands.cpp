#include "TestFiles.h"
#include "TestWindow.h"
#include "document/Selection.h"
#include "document/StringTable.h"
#include "shell/SettingsStore.h"
#include "tools/HelpCommands.h"
#include "tools/ToolCommands.h"
#include "undo/UndoController.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

// An HTTP server on 127.0.0.1 that answers each request with `status`
// once the whole body has arrived (status 0: never), and keeps the last
// request.
class LocalServer : public QObject
{
public:
    explicit LocalServer(int status) : m_status(status)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                request += socket->readAll();
                if (!complete() || m_status == 0)
                    return;
                socket->write("HTTP/1.1 " + QByteArray::number(m_status) + " Status\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            });
        });
    }
    bool complete() const { return request.contains("\r\n\r\n") && body().size() >= contentLength(); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/in").arg(m_server.serverPort()); }
    QByteArray body() const { return request.mid(request.indexOf("\r\n\r\n") + 4); }
    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : request.left(request.indexOf("\r\n\r\n")).split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return QByteArray();
    }
    qsizetype contentLength() const { return header("Content-Length").toLongLong(); }

    QByteArray request;

private:
    QTcpServer m_server;
    int m_status;
};

} // namespace

// Clear values, send, external programs and the Help menu, through the
// window's menu items.
class TestToolCommands : public QObject
{
    Q_OBJECT

    TestFiles files;

    static void trigger(TestWindow &w, const char *item) { w.window.menuItem(QString::fromLatin1(item))->trigger(); }

private slots:
    void clearValues()
    {
        const QString xml = QStringLiteral("<?xml version=\"1.0\"?><!--top--><?pi data?>"
                                           "<a xmlns:p=\"urn:p\" x=\"1\" p:y=\"2\"><!--c--><b>t</b><![CDATA[d]]></a>");
        TestWindow w(xml);
        w.window.undo().ResetUndo();
        const QString before = w.markup();

        w.prompt->answers.enqueue(Prompt::Answer::Cancel);
        trigger(w, "mnuToolRemoveText");
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].text, GetResString(6));
        QCOMPARE(w.prompt->shown[0].buttons, Prompt::Buttons::OkCancel);
        QCOMPARE(w.markup(), before);
        QVERIFY(!w.window.flags().m_Dirty);

        trigger(w, "mnuToolRemoveText");
        // Elements, attributes, CDATA and instructions stay; text, comments
        // and values go. The namespace declaration is no value: it stays.
        QCOMPARE(w.markup(), QStringLiteral("<?xml version=\"1.0\"?>\n<?pi data?>\n<a xmlns:p=\"urn:p\" x=\"\" p:y=\"\"><b/><![CDATA[d]]></a>"));
        QVERIFY(w.window.flags().m_Dirty);
        // The tree was made anew from the document, its top item shown.
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), w.doc().documentNode());

        // One step of the history takes it all back.
        QCOMPARE(w.window.undo().history()->undoCount(), 1);
        w.window.undo().DoUndo();
        QCOMPARE(w.markup(), before);

        // A read-only window is not asked.
        w.window.flags().m_ReadOnly = true;
        trigger(w, "mnuToolRemoveText");
        QCOMPARE(w.prompt->shown.size(), 2);
        QCOMPARE(w.markup(), before);
    }

    void send_data()
    {
        QTest::addColumn<QString>("answer"); // a number: a local server's status; null: the box is cancelled
        QTest::addColumn<bool>("warned");
        QTest::newRow("accepted") << "200" << false;
        QTest::newRow("not found") << "404" << true;
        QTest::newRow("server error") << "500" << true;
        QTest::newRow("cancelled") << QString() << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("not a URL") << "http//example" << true;
        QTest::newRow("not HTTP") << "file:///etc/passwd" << true;
        QTest::newRow("refused") << "refused" << true;
        QTest::newRow("no answer in time") << "silent" << true;
    }
    void send()
    {
        QFETCH(QString, answer);
        QFETCH(bool, warned);
        TestWindow w(QStringLiteral("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r>日本</r>"));
        QSignalSpy finished(w.window.findChild<ToolCommands *>(), &ToolCommands::sendFinished);
        std::unique_ptr<LocalServer> server;
        const bool refused = answer == QLatin1String("refused"), silent = answer == QLatin1String("silent");
        w.window.findChild<ToolCommands *>()->sendTimeoutMs = 1000;
        if (answer.toInt() || silent) {
            server = std::make_unique<LocalServer>(answer.toInt());
            answer = server->url();
        } else if (refused) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            answer = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
        }
        if (!answer.isNull())
            w.prompt->inputAnswers.enqueue(answer);
        trigger(w, "mnuToolSend");
        QCOMPARE(w.prompt->asked, QStringList{QStringLiteral("input URL?")});
        if (server || refused) // reported when the answer or the failure comes, not before
            QVERIFY(finished.wait());
        QCOMPARE(w.prompt->shown.size(), warned ? 1 : 0);
        if (warned)
            QCOMPARE(w.prompt->shown[0].icon, Prompt::Icon::Exclamation);
        if (silent)
            QCOMPARE(w.prompt->shown[0].text, QStringLiteral("送信できませんでした。\n") + resourceString(3203).arg(1));
        QVERIFY(!w.window.flags().m_Dirty);
        if (!server)
            return;
        QVERIFY(server->request.startsWith("POST /in "));
        QCOMPARE(server->header("Content-Type"), QByteArray("application/xml"));
        QByteArray saved;
        QVERIFY(w.doc().serialize(&saved));
        QCOMPARE(server->body(), saved); // as Save writes it, in its encoding
        QCOMPARE(finished[0][0].toString().isEmpty(), !warned);
    }

    // A window closed while its send waits for an answer goes quietly.
    void windowClosedWhileSending()
    {
        LocalServer server(0);
        auto w = std::make_unique<TestWindow>(QStringLiteral("<r/>"));
        w->prompt->inputAnswers.enqueue(server.url());
        trigger(*w, "mnuToolSend");
        QTRY_VERIFY(server.complete());
        w.reset();
    }

    // The file reaches the program as one argument, blanks and all, with
    // no shell between; a program that cannot start is reported.
    void openInExternalProgram()
    {
        QVERIFY(QDir(files.dir.path()).mkpath(QStringLiteral("my tools")));
        const QString out = files.path(QStringLiteral("args.txt"));
        const QString script = files.write(QStringLiteral("my tools/show args.sh"),
                                           "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + out.toUtf8() + ".tmp'\n"
                                           "mv '" + out.toUtf8() + ".tmp' '" + out.toUtf8() + "'\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(QDir(files.dir.path()).mkpath(QStringLiteral("my docs")));
        const QString document = files.write(QStringLiteral("my docs/a $b 'c'.xml"), "<r/>");

        const QStringList keys{QStringLiteral("Name0"), QStringLiteral("Path0"), QStringLiteral("Name1"), QStringLiteral("Path1")};
        SettingsStore().writeSection(QStringLiteral("Programs"), {{keys[0], QStringLiteral("&Show")}, {keys[1], script},
                                                                  {keys[2], QStringLiteral("Gone")},
                                                                  {keys[3], files.path(QStringLiteral("none"))}});
        TestWindow w;
        SettingsStore().writeSection(QStringLiteral("Programs"), {}, keys);
        QVERIFY(w.window.OpenFile(document));
        w.window.UpdateStatus(document); // as the Open command does
        QAction *show = w.window.findChild<QAction *>(QStringLiteral("mnuToolOpen0"));
        QVERIFY(show);
        show->trigger();
        QTRY_COMPARE(TestFiles::read(out), "1\n" + document.toUtf8() + "\n");
        QVERIFY(w.prompt->shown.isEmpty());

        w.window.findChild<QAction *>(QStringLiteral("mnuToolOpen1"))->trigger();
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].icon, Prompt::Icon::Exclamation);
    }

    void about()
    {
        TestWindow w;
        trigger(w, "mnuHelpAbout");
        QCOMPARE(w.prompt->shown.size(), 1);
        QCOMPARE(w.prompt->shown[0].icon, Prompt::Icon::Information);
        QCOMPARE(HelpCommands::aboutText({QStringLiteral("T"), QStringLiteral("01.02.0030"), QStringLiteral("c")}),
                 QStringLiteral("T\tVersion 1.2.30\r\nc"));
    }

    // The desktop's opener gets the readme; when it finds no viewer, the
    // editor shows it. The opener here notes the file and exits as told.
    void readme()
    {
        const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/readme.txt");
        QVERIFY(QDir(files.dir.path()).mkpath(QStringLiteral("bin")));
        const QString log = files.path(QStringLiteral("opened")), exitCode = files.path(QStringLiteral("code"));
        const QString opener = files.write(QStringLiteral("bin/xdg-open"), "#!/bin/sh\necho \"$1\" >> '" + log.toUtf8()
                                               + "'\nexit $(cat '" + exitCode.toUtf8() + "')\n");
        QFile::setPermissions(opener, QFile::ReadOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(files.path(QStringLiteral("bin"))) + ':' + qgetenv("PATH"));
        TestWindow w;
        auto *help = w.window.findChild<HelpCommands *>();
        const auto ran = [&] { return QTest::qWaitFor([&] { return help->findChildren<QProcess *>().isEmpty(); }); };
        trigger(w, "mnuHelpReadme"); // no readme: nothing at all
        QVERIFY(ran() && !QFile::exists(log) && w.prompt->asked.isEmpty());

        // Beside the test program; gone again whatever the outcome.
        const auto removeReadme = qScopeGuard([&] { QFile::remove(path); });
        files.write(QStringLiteral("code"), "0");
        QVERIFY(QFile::copy(files.write(QStringLiteral("readme.txt"), "Readme 日本語\n"), path));
        trigger(w, "mnuHelpReadme");
        QVERIFY(ran());
        QCOMPARE(TestFiles::read(log), path.toUtf8() + '\n');
        QVERIFY(w.prompt->asked.isEmpty());

        files.write(QStringLiteral("code"), "3"); // xdg-open: no viewer for the file
        trigger(w, "mnuHelpReadme");
        QVERIFY(ran());
        QCOMPARE(w.prompt->asked, QStringList{QStringLiteral("text readme.txt")});
        QCOMPARE(w.prompt->shownTexts, QStringList{QStringLiteral("Readme 日本語\n")});
    }
};

QTEST_MAIN(TestToolCommands)
#include "tst_toolcommands.moc"
