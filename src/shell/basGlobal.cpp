#include "basGlobal.h"

#include "AutomationServer.h"
#include "CommandLine.h"
#include "CoordinatorClient.h"
#include "InstanceLife.h"
#include "InstanceLock.h"
#include "Window.h"
#include "document/DocumentLifecycle.h"
#include "document/Prompt.h"
#include "document/Recovery.h"
#include "document/TempFolder.h"
#include "frmMain.h"
#include "frmSplash.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTimer>
#include <QWindow>

namespace {

// A process started for a client that never asks for a window ends after this.
constexpr int kIdleExitMs = 60000;
// How long the splash form may take to appear on the screen.
constexpr int kSplashExposeMs = 500;

void letSplashPaint(frmSplash &splash)
{
    // On X11 the form is mapped and exposed asynchronously, so one pass
    // of pending events often comes before it can paint.
    QCoreApplication::processEvents();
    const QDeadlineTimer deadline(kSplashExposeMs);
    QTimer wake; // ends the wait below at the deadline at the latest
    wake.start(kSplashExposeMs);
    while (splash.isVisible() && splash.windowHandle() && !splash.windowHandle()->isExposed() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
}

} // namespace

namespace basGlobal {

frmMain *startStandAlone(const QString &commandLine, InstanceLife &life, std::unique_ptr<Prompt> prompt)
{
    frmSplash splash;
    splash.show();
    letSplashPaint(splash);

    Window window(std::move(prompt));
    frmMain *form = window.form();
    life.holdWindow(form);
    const QString path = CommandLine::filePath(commandLine);
    if (!path.isEmpty() && QFileInfo(path).isFile())
        window.OpenFile(path);
    window.setVisible(true);
    splash.close();
    // Work left unsaved by editors that ended without closing their windows.
    Recovery::offerOrphans(form->prompt(), [&life, form](const QString &copy, const QString &source, QString *error) {
        // The first recovered document takes the start-up window while it
        // is still empty, rather than leaving it behind the new one.
        if (!form->dom() && form->flags().m_FileName.isEmpty())
            return form->lifecycle().Recover(copy, source, error);
        Window restored;
        life.holdWindow(restored.form());
        if (!restored.form()->lifecycle().Recover(copy, source, error)) {
            restored.Quit();
            return false;
        }
        restored.setVisible(true);
        return true;
    });
    // Leaving ends the Window object; the shown window stays open.
    return form;
}

int Main(QApplication &app)
{
    // Windows come and go under automation; the process ends by its own count.
    QApplication::setQuitOnLastWindowClosed(false);
    const CommandLine::StartRequest request = CommandLine::parse(QCoreApplication::arguments().mid(1));

    const InstanceLock lock; // held until the process ends
    if (lock.isFirst()) {
        TempFolder::removeStale();
        CoordinatorClient::startCoordinatorIfPresent();
        QCoreApplication::processEvents();
    }

    InstanceLife life;
    AutomationServer server(QDBusConnection::sessionBus(), life);
    const auto quitWhenUnheld = [&life, &server, &app] {
        if (!life.isEmpty())
            return;
        // Give up the name first: a client's next call then starts a new
        // instance instead of reaching this one as it goes.
        server.releaseName();
        app.quit();
    };
    // Queued: a client that releases one window and creates the next in
    // quick succession keeps the process.
    QObject::connect(&life, &InstanceLife::lastReleased, &app, quitWhenUnheld, Qt::QueuedConnection);

    if (request.automation) {
        if (!server.start(AutomationServer::NameRequest::Now)) {
            qWarning("OstrelEdit: could not serve %s on the session bus", qPrintable(AutomationServer::serviceName()));
            return 1;
        }
        QTimer::singleShot(kIdleExitMs, &app, quitWhenUnheld);
    } else {
        // A user-started editor works without a bus; with one, it also
        // serves clients, or takes over when the instance serving them ends.
        server.start(AutomationServer::NameRequest::WaitInLine);
        startStandAlone(request.commandLine, life);
    }
    return QApplication::exec();
}

} // namespace basGlobal
