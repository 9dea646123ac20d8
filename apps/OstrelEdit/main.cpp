#include "shell/AppInfo.h"
#include "shell/Fonts.h"
#include "shell/basGlobal.h"

#include <QApplication>
#include <QFont>

#include <unistd.h>

int main(int argc, char *argv[])
{
    // The preview's browser engine cannot sandbox itself for root, and
    // refuses to start then; administrators edit files as root.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // The preview's web engine shares its rendering contexts with the windows.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setApplicationVersion(AppInfo::version());
    installFontSubstitutions();
    QApplication::setFont(QFont(QStringLiteral("MS UI Gothic"), 10));
    return basGlobal::Main(app);
}
