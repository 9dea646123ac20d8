#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

// The per-user settings store: (section, key) → text, kept as an INI file
// named after the application ("Ostrel XML Editor") in the user's
// configuration folder, which XDG_CONFIG_HOME decides. Sections and keys are
// used exactly as given, letter case included.
//
// A store object reads the file when it is created and sees its own writes
// from then on; every write reaches the file before write() returns. Create
// one store per task (loading the settings, reading the recent files), so
// that what other windows and processes wrote in between is seen.
class SettingsStore
{
public:
    SettingsStore();

    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // The stored text, or `defaultValue` when the key (or its section) is
    // missing. A key that is present with an empty value reads as empty.
    QString read(const QString &section, const QString &key, const QString &defaultValue = QString()) const;

    // Stores `value` and writes the file. False when the file could not be
    // written; the value then only lives in this process until a later
    // write succeeds.
    bool write(const QString &section, const QString &key, const QString &value);

    // Several keys of one section in one write of the file: `values` set,
    // the keys of `removed` taken out.
    bool writeSection(const QString &section, const QList<QPair<QString, QString>> &values,
                      const QStringList &removed = {});

    // The INI file's path.
    QString fileName() const;

private:
    QSettings m_settings;
};
