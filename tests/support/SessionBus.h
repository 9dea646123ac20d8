#pragma once

// A session bus of the test's own (dbus-daemon), so the editors a test starts
// meet neither a real session nor another test's editors on the bus.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

class SessionBus
{
public:
    SessionBus() = default;
    SessionBus(const SessionBus &) = delete;
    SessionBus &operator=(const SessionBus &) = delete;
    ~SessionBus() { stop(); }

    // Without it the test skips.
    static bool installed() { return !program().isEmpty(); }

    // Starts the bus with its socket and configuration in `folder`. Programs
    // it activates come from `serviceDir` (none when empty) and inherit
    // `environment`. Empty when it runs; otherwise what went wrong.
    QString start(const QString &folder, const QString &serviceDir = {},
                  const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        if (!installed())
            return QStringLiteral("dbus-daemon is not installed");
        const QString configPath = QDir(folder).filePath(QStringLiteral("bus.conf"));
        const QString services = serviceDir.isEmpty() ? QString() : QStringLiteral("<servicedir>%1</servicedir>").arg(serviceDir);
        QFile config(configPath);
        if (!config.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write ") + configPath;
        config.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  %2
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                         .arg(folder, services)
                         .toUtf8());
        config.close();

        m_daemon.setProcessEnvironment(environment);
        m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_daemon.start(program(), {QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        m_daemon.waitForStarted(5000);
        (void)QTest::qWaitFor([this] { return m_daemon.canReadLine() || m_daemon.state() != QProcess::Running; }, 10000);
        if (!m_daemon.canReadLine())
            return QStringLiteral("dbus-daemon did not start");
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        return {};
    }

    // For QDBusConnection::connectToBus and DBUS_SESSION_BUS_ADDRESS.
    QString address() const { return m_address; }

    void stop()
    {
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            if (!m_daemon.waitForFinished(5000))
                m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }

private:
    static QString program() { return QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")); }

    QProcess m_daemon;
    QString m_address;
};
