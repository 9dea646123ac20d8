#include "shell/AppInfo.h"
#include "shell/Fonts.h"
#include "shell/basGlobal.h"

#include <QApplication>
#include <QFont>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setApplicationVersion(AppInfo::version());
    installFontSubstitutions();
    QApplication::setFont(QFont(QStringLiteral("MS UI Gothic"), 10));
    return basGlobal::Main(app);
}
