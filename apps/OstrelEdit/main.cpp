#include "shell/AppInfo.h"
#include "shell/Fonts.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QFileInfo>
#include <QFont>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setApplicationVersion(AppInfo::version());
    installFontSubstitutions();
    QApplication::setFont(QFont(QStringLiteral("MS UI Gothic"), 10));

    auto *window = new frmMain;
    window->setAttribute(Qt::WA_DeleteOnClose);
    const QStringList args = app.arguments().mid(1);
    const QString path = args.join(QLatin1Char(' '));
    window->show();
    if (!path.isEmpty() && QFileInfo::exists(path))
        window->OpenFile(path);
    return app.exec();
}
