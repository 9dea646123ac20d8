#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QAction;
class WindowGeometry;

// An external editor offered by the "open in another editor" submenu.
struct ExternalProgram
{
    QString name; // caption, used as given ("&" marks an access key)
    QString path;
    friend bool operator==(const ExternalProgram &, const ExternalProgram &) = default;
};

// Values held once per process and shared by all its windows. LoadSettings
// replaces them from the store, the Font command changes the font here, and
// SaveSettings writes them back.
struct SharedSettings
{
    static constexpr int maxPrograms = 11;

    QString fontName = defaultFontName();
    int fontSize = defaultFontSize; // points
    // In stored order; names are unique (the first of equal names wins).
    QList<ExternalProgram> programs;

    static QString defaultFontName() { return QStringLiteral("MS UI Gothic"); }
    static constexpr int defaultFontSize = 10;
};
SharedSettings &sharedSettings();

// Stored numbers are read as 16-bit integers: the text as a decimal number,
// rounded to the nearest whole number (halves away from zero). Text that is
// no number, or whose value lies outside −32768 … 32767, gives no value, so
// the caller's default applies.
std::optional<int> toInt16(const QString &text);
int toInt16(const QString &text, int fallback);

// Reads the font, the window's position and size, the splitter positions and
// the external programs; the window is moved, sized and split accordingly.
// Called first when a window is initialised.
void LoadSettings(WindowGeometry &window);
// Writes the font and the external programs, and the window's geometry and
// splitter positions when the window is in its normal state. Called first
// when a window unloads, so the window closed last decides the geometry.
void SaveSettings(const WindowGeometry &window);

// The recent-file list, most recent first, read from the store each time:
// at most ten entries, files that no longer exist left out, no two entries
// equal ignoring letter case.
QStringList LoadMRU();
// Writes entry i as File<i> (1-based) and removes the stored keys beyond
// the list, all in one write.
void SaveMRU(const QStringList &list);
// After a successful open: `path` (made absolute) goes first, an entry equal
// to it ignoring case is removed. Safe against other processes doing the same.
void addRecentFile(const QString &path);

// A checkable menu item whose choice is kept in the store (Application
// section): checked as stored (`byDefault` when nothing is), and each toggle
// written back at once.
void bindStoredChoice(QAction *item, const QString &key, bool byDefault);
