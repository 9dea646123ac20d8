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
    window->ClearStatus();
    const QString path = app.arguments().mid(1).join(QLatin1Char(' '));
    if (!path.isEmpty() && QFileInfo(path).isFile() && window->OpenFile(path))
        window->UpdateStatus(path);
    window->show();
    return app.exec();
}
