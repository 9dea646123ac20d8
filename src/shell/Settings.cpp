#include "Settings.h"

#include "SettingsStore.h"
#include "WindowGeometry.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>
#include <cmath>

namespace {

const QString fontSection = QStringLiteral("Font");
const QString applicationSection = QStringLiteral("Application");
const QString programsSection = QStringLiteral("Programs");
const QString mruSection = QStringLiteral("MRU");

constexpr int mruReadLimit = 10;

QString indexedKey(const char *word, int i)
{
    return QLatin1String(word) + QString::number(i);
}

std::optional<int> storedInt(const SettingsStore &store, const QString &section, const QString &key)
{
    return toInt16(store.read(section, key));
}

} // namespace

SharedSettings &sharedSettings()
{
    static SharedSettings settings;
    return settings;
}

std::optional<int> toInt16(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok); // C locale, surrounding blanks allowed
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double rounded = std::round(value);
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return int(rounded);
}

int toInt16(const QString &text, int fallback)
{
    return toInt16(text).value_or(fallback);
}

void LoadSettings(WindowGeometry &window)
{
    const SettingsStore store;
    SharedSettings &shared = sharedSettings();

    const QString fontName = store.read(fontSection, QStringLiteral("Name"));
    shared.fontName = fontName.isEmpty() ? SharedSettings::defaultFontName() : fontName;
    // A size no font can have counts as unusable, like one that is no number.
    const int fontSize = toInt16(store.read(fontSection, QStringLiteral("Size")), SharedSettings::defaultFontSize);
    shared.fontSize = fontSize > 0 ? fontSize : SharedSettings::defaultFontSize;

    // Each value the store lacks (or holds unusably) stays as the window has it.
    const QRect current = window.windowRectTwips();
    const std::optional<int> left = storedInt(store, applicationSection, QStringLiteral("Left"));
    const std::optional<int> top = storedInt(store, applicationSection, QStringLiteral("Top"));
    std::optional<int> width = storedInt(store, applicationSection, QStringLiteral("Width"));
    std::optional<int> height = storedInt(store, applicationSection, QStringLiteral("Height"));
    if (width && *width <= 0)
        width.reset();
    if (height && *height <= 0)
        height.reset();
    window.setWindowRectTwips(QRect(left.value_or(current.x()), top.value_or(current.y()),
                                    width.value_or(current.width()), height.value_or(current.height())),
                              left.has_value() || top.has_value());

    std::optional<int> splitLeft = storedInt(store, applicationSection, QStringLiteral("SplitLeft"));
    std::optional<int> splitTop = storedInt(store, applicationSection, QStringLiteral("SplitTop"));
    window.setHspPosition(splitLeft && *splitLeft >= 0 ? *splitLeft : window.hspPosition());
    window.setVspPosition(splitTop && *splitTop >= 0 ? *splitTop : window.vspPosition());

    shared.programs.clear();
    for (int i = 0; i < SharedSettings::maxPrograms; ++i) {
        const QString name = store.read(programsSection, indexedKey("Name", i));
        const QString path = store.read(programsSection, indexedKey("Path", i));
        if (name.isEmpty() || path.isEmpty())
            break;
        const bool taken = std::any_of(shared.programs.cbegin(), shared.programs.cend(),
                                       [&](const ExternalProgram &p) { return p.name == name; });
        if (!taken)
            shared.programs.append({name, path});
    }
}

void SaveSettings(const WindowGeometry &window)
{
    SettingsStore store;
    const SharedSettings &shared = sharedSettings();

    store.write(fontSection, QStringLiteral("Name"), shared.fontName);
    store.write(fontSection, QStringLiteral("Size"), QString::number(shared.fontSize));

    // A maximised or minimised window says nothing about where the user
    // wants it next time.
    if (window.isNormalState()) {
        const QRect rect = window.windowRectTwips();
        store.write(applicationSection, QStringLiteral("Left"), QString::number(rect.x()));
        store.write(applicationSection, QStringLiteral("Top"), QString::number(rect.y()));
        store.write(applicationSection, QStringLiteral("Width"), QString::number(rect.width()));
        store.write(applicationSection, QStringLiteral("Height"), QString::number(rect.height()));
        store.write(applicationSection, QStringLiteral("SplitLeft"), QString::number(window.hspPosition()));
        store.write(applicationSection, QStringLiteral("SplitTop"), QString::number(window.vspPosition()));
    }

    const int count = std::min(int(shared.programs.size()), SharedSettings::maxPrograms);
    for (int i = 0; i < count; ++i) {
        store.write(programsSection, indexedKey("Name", i), shared.programs.at(i).name);
        store.write(programsSection, indexedKey("Path", i), shared.programs.at(i).path);
    }
}

namespace {

QStringList loadMru(const SettingsStore &store)
{
    QStringList list;
    for (int i = 1; i <= mruReadLimit; ++i) {
        const QString path = store.read(mruSection, indexedKey("File", i));
        if (path.isEmpty())
            break;
        if (QFileInfo(path).isFile() && !list.contains(path, Qt::CaseInsensitive))
            list.append(path);
    }
    return list;
}

void saveMru(SettingsStore &store, const QStringList &list)
{
    QList<QPair<QString, QString>> values;
    for (int i = 0; i < list.size(); ++i)
        values.append({indexedKey("File", i + 1), list.at(i)});
    // Keys left beyond the list would be read back after it, repeating
    // entries it already holds.
    QStringList stale;
    for (int i = int(list.size()) + 1; i <= mruReadLimit + 1; ++i)
        stale.append(indexedKey("File", i));
    store.writeSection(mruSection, values, stale);
}

} // namespace

QStringList LoadMRU()
{
    return loadMru(SettingsStore());
}

void SaveMRU(const QStringList &list)
{
    SettingsStore store;
    saveMru(store, list);
}

void addRecentFile(const QString &path)
{
    // Absolute, so the entry still names the file after the working folder changes.
    const QString entry = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // Other editor processes update the list too: each reads, merges and
    // writes it whole under one lock, so none writes over another's half.
    QLockFile lock(SettingsStore().fileName() + QStringLiteral(".mru-lock"));
    lock.setStaleLockTime(10000);
    const bool locked = lock.tryLock(5000); // a lock that never comes does not stop the open
    SettingsStore store;
    QStringList list = loadMru(store);
    list.removeIf([&](const QString &p) { return p.compare(entry, Qt::CaseInsensitive) == 0; });
    list.prepend(entry);
    // The list may now hold eleven entries; only ten are ever read back.
    saveMru(store, list);
    if (locked)
        lock.unlock();
}

void bindStoredChoice(QAction *item, const QString &key, bool byDefault)
{
    static const QString section = QStringLiteral("Application");
    const QString fallback = byDefault ? QStringLiteral("1") : QStringLiteral("0");
    item->setCheckable(true);
    item->setChecked(SettingsStore().read(section, key, fallback) != QLatin1String("0"));
    QObject::connect(item, &QAction::toggled, item, [key](bool on) {
        SettingsStore().write(section, key, on ? QStringLiteral("1") : QStringLiteral("0"));
    });
}
