#include "base/Resources.h"
#include "shell/AppInfo.h"
#include "shell/CommandLine.h"
#include "shell/DisplayCheck.h"
#include "shell/Fonts.h"
#include "shell/HugePages.h"
#include "shell/Translations.h"
#include "shell/basGlobal.h"
#include "tools/ChildEnvironment.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

#include <cstdio>
#include <memory>
#include <unistd.h>

int main(int argc, char *argv[])
{
    HugePages::useForHeap(argv);
    useJapaneseLocale();
    // --help, --version, a wrong option and a missing screen are answered
    // before Qt starts, which needs a screen.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine::StartRequest request = CommandLine::parse(arguments);
    if (const auto answer = CommandLine::answerWithoutStarting(request)) {
        std::fputs(answer->out.toLocal8Bit().constData(), stdout);
        std::fputs(answer->err.toLocal8Bit().constData(), stderr);
        return answer->exitCode;
    }
    auto screen = std::make_unique<DisplayCheck>(request.platform, request.display);
    if (!screen->message().isEmpty()) {
        std::fputs((screen->message() + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
        return 1;
    }
    if (!screen->platform().isEmpty())
        ChildEnvironment::setOwn("QT_QPA_PLATFORM", screen->platform().toLocal8Bit());

    // The preview's browser engine cannot sandbox itself for root, and
    // refuses to start then; administrators edit files as root.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        ChildEnvironment::setOwn("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // The preview's web engine shares its rendering contexts with the windows.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    screen.reset(); // Qt has its own connection now
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setApplicationVersion(AppInfo::version());
    // The desktop entry and the icon are named after the bus name.
    QApplication::setDesktopFileName(QStringLiteral("org.ostrel.OstrelEdit"));
    ensureResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/org.ostrel.OstrelEdit.svg")));
    installJapaneseQtTexts();
    installFontSubstitutions();
    QApplication::setFont(QFont(QStringLiteral("MS UI Gothic"), 10));
    return basGlobal::Main(app);
}
