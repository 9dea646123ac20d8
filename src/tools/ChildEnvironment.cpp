#include "ChildEnvironment.h"

#include <QHash>

#include <optional>

namespace {

// The values before the editor's own, by name; set on the user-interface
// thread only, before programs are started.
QHash<QByteArray, std::optional<QByteArray>> &originals()
{
    static QHash<QByteArray, std::optional<QByteArray>> values;
    return values;
}

} // namespace

namespace ChildEnvironment {

void setOwn(const char *name, const QByteArray &value)
{
    const QByteArray key(name);
    if (!originals().contains(key))
        originals().insert(key, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    qputenv(name, value);
}

QProcessEnvironment forPrograms()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (auto it = originals().cbegin(); it != originals().cend(); ++it) {
        const QString key = QString::fromLocal8Bit(it.key());
        if (it.value())
            environment.insert(key, QString::fromLocal8Bit(*it.value()));
        else
            environment.remove(key);
    }
    return environment;
}

} // namespace ChildEnvironment
