#include "HelpCommands.h"

#include "document/Prompt.h"
#include "document/TempFolder.h"
#include "document/WindowContext.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QVersionNumber>

HelpCommands::HelpCommands(WindowContext &window, const AboutInfo &about, QObject *parent)
    : QObject(parent), openUrl(&QDesktopServices::openUrl), m_window(window), m_about(about)
{
}

QString HelpCommands::aboutText(const AboutInfo &about)
{
    const QVersionNumber v = QVersionNumber::fromString(about.version);
    return about.title + QStringLiteral("\tVersion %1.%2.%3").arg(v.majorVersion()).arg(v.minorVersion()).arg(v.microVersion()) +
           QStringLiteral("\r\n") + about.legalCopyright;
}

void HelpCommands::mnuHelpAbout_Click()
{
    m_window.prompt().message(aboutText(m_about), Prompt::Icon::Information);
}

void HelpCommands::mnuHelpReadme_Click()
{
    const QString path = programFile(QStringLiteral("readme.txt"));
    if (path.isEmpty())
        return;
    if (openUrl && openUrl(QUrl::fromLocalFile(path)))
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    m_window.prompt().showText(QFileInfo(path).fileName(), QString::fromUtf8(file.readAll()));
}
