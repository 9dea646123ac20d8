#pragma once

#include <QString>

// The private working folder of one editor window: backups, copied style
// sheets, preview and validation files. Folders live under a per-user root
// (mode 0700) in the runtime folder, one per window, so windows and editor
// processes never overwrite or delete each other's files. The folder is
// removed when the object ends.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    // The folder's path, without a trailing separator. Empty when it could
    // not be created; later copies into it then fail.
    QString path() const { return m_path; }
    bool isValid() const { return !m_path.isEmpty(); }

    // The per-user root all window folders are made in (made when missing;
    // empty when no private folder can be had).
    static QString root();
    // Remove the folders of editor processes that no longer run.
    static void removeStale();

private:
    QString m_path;
};

// Files shipped with the program ("default.xml", "readme.txt"): looked for
// in the executable's folder first, then in the installed data folder
// (share/ostrel-edit beside the installation's bin folder).
// Empty when neither has it.
QString programFile(const QString &name);
