#include "HelpCommands.h"

#include "ChildEnvironment.h"

#include "document/Prompt.h"
#include "document/TempFolder.h"
#include "document/WindowContext.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QVersionNumber>

HelpCommands::HelpCommands(WindowContext &window, const AboutInfo &about, QObject *parent)
    : QObject(parent), m_window(window), m_about(about)
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
    // Only the opener's exit status says whether a viewer took the file
    // (QDesktopServices reports success once the opener has started), and
    // it may take a while: the window goes on meanwhile.
    auto *opener = new QProcess(this);
    opener->setProcessEnvironment(ChildEnvironment::forPrograms());
    connect(opener, &QProcess::finished, this, [this, opener, path](int code, QProcess::ExitStatus status) {
        opener->deleteLater();
        if (status != QProcess::NormalExit || code != 0)
            showReadme(path);
    });
    connect(opener, &QProcess::errorOccurred, this, [this, opener, path](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        opener->deleteLater();
        showReadme(path);
    });
    opener->start(QStringLiteral("xdg-open"), {path});
}

void HelpCommands::showReadme(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        m_window.prompt().showText(QFileInfo(path).fileName(), QString::fromUtf8(file.readAll()));
}
