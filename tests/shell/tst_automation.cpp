#include "SessionBus.h"
#include "TestFiles.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>

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

// The editor as a client meets it: a bus of the test's own whose service
// folder is the build tree's, so the first call starts the built editor
// with --automation through D-Bus activation.
class TestAutomation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!SessionBus::installed())
            QSKIP("dbus-daemon is not installed");
        // The bus must start the editor just built, in automation mode.
        QVERIFY(TestFiles::read(QStringLiteral(OSTREL_DBUS_SERVICE_DIR "/org.ostrel.OstrelEdit.service"))
                    .contains("Exec=\"" OSTREL_EDIT_PATH "\" --automation"));
        QVERIFY(QDir(m_files.dir.path()).mkpath(QStringLiteral("run")));
        QFile::setPermissions(path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // The activated editor inherits the bus's environment.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path("run"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
        const QString busError = m_bus.start(m_files.dir.path(), QStringLiteral(OSTREL_DBUS_SERVICE_DIR), env);
        QVERIFY2(busError.isEmpty(), qPrintable(busError));
        m_connection = QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("client"));
        QVERIFY2(m_connection.isConnected(), qPrintable(m_connection.lastError().message()));

        m_files.write(QStringLiteral("a.xml"), "<?xml version=\"1.0\"?>\n<root><a x=\"1\">first</a></root>\n");

        // Held until the last test, so one editor process serves them all.
        m_anchor = createWindow(m_connection);
        QVERIFY(!m_anchor.isEmpty() && m_editorPid > 0);
    }

    void cleanupTestCase()
    {
        if (m_editorPid > 0 && processRuns(m_editorPid))
            ::kill(pid_t(m_editorPid), SIGTERM);
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        m_bus.stop();
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
        m_files.write(QStringLiteral("bad.xml"), "<root><a></root>");

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
    SessionBus m_bus;
    QDBusConnection m_connection{QString()};
    CloseLog m_closed;
    qint64 m_editorPid = 0;
    QString m_anchor;
};

QTEST_MAIN(TestAutomation)
#include "tst_automation.moc"
