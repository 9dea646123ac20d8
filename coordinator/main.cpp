// OstrelDDE: the window coordinator. It has no window; it serves the editor
// windows of all editor processes of this user and ends when the last
// registered window has gone.

#include "coordinator.h"
#include "ddecommand.h"
#include "singleinstance.h"
#include "windowsystem.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("OstrelDDE"));

    const QString serverName = DdeProtocol::serverName();
    // Declared first so the lock is released only after the server has closed.
    SingleInstance instance(serverName);
    if (!instance.claim())
        return 0;

    const std::unique_ptr<WindowSystem> windowSystem = createWindowSystem();
    Coordinator coordinator(*windowSystem);
    if (!coordinator.listen(serverName)) {
        std::fprintf(stderr, "OstrelDDE: cannot listen on %s: %s\n", qPrintable(serverName),
                     qPrintable(coordinator.errorString()));
        return 1;
    }
    QObject::connect(&coordinator, &Coordinator::finished, &app, &QCoreApplication::quit);
    return app.exec();
}
