#pragma once

#include <QObject>
#include <QString>

class WindowContext;

// The program's own facts the About box shows.
struct AboutInfo
{
    QString title;
    QString version; // "major.minor.revision"
    QString legalCopyright;
};

// The Help menu: the readme and the About box.
class HelpCommands : public QObject
{
    Q_OBJECT
public:
    HelpCommands(WindowContext &window, const AboutInfo &about, QObject *parent = nullptr);

    // Shows readme.txt from the program's files in the desktop's text
    // viewer, or in a read-only window of the editor's own when the desktop
    // has none. Nothing happens when there is no readme.
    void mnuHelpReadme_Click();
    void mnuHelpAbout_Click();

    // Title, tab, "Version " and the version without leading zeros, CR LF,
    // the legal notice.
    static QString aboutText(const AboutInfo &about);

private:
    void showReadme(const QString &path);

    WindowContext &m_window;
    AboutInfo m_about;
};
