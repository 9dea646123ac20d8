#include "SettingsStore.h"

#include "AppInfo.h"

#include <QStringList>

namespace {

QString storeKey(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}

} // namespace

SettingsStore::SettingsStore()
    : m_settings(QSettings::IniFormat, QSettings::UserScope, AppInfo::title(), AppInfo::title())
{
    // Only the user's own file: an organisation-wide or system file must not
    // supply values where the user's store has none.
    m_settings.setFallbacksEnabled(false);
}

QString SettingsStore::read(const QString &section, const QString &key, const QString &defaultValue) const
{
    const QVariant value = m_settings.value(storeKey(section, key));
    if (!value.isValid())
        return defaultValue;
    // A hand-edited value with an unquoted comma comes back as a list.
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1String(", "));
    return value.toString();
}

bool SettingsStore::write(const QString &section, const QString &key, const QString &value)
{
    m_settings.setValue(storeKey(section, key), value);
    m_settings.sync();
    return m_settings.status() == QSettings::NoError;
}

bool SettingsStore::writeSection(const QString &section, const QList<QPair<QString, QString>> &values,
                                 const QStringList &removed)
{
    for (const auto &[key, value] : values)
        m_settings.setValue(storeKey(section, key), value);
    for (const QString &key : removed)
        m_settings.remove(storeKey(section, key));
    m_settings.sync();
    return m_settings.status() == QSettings::NoError;
}

QString SettingsStore::fileName() const
{
    return m_settings.fileName();
}
