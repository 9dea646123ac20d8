#include "Fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

namespace {

QString firstInstalled(const QStringList &candidates, const QStringList &families)
{
    for (const QString &face : candidates) {
        if (families.contains(face))
            return face;
    }
    return {};
}

} // namespace

void installFontSubstitutions()
{
    const QStringList families = QFontDatabase::families();
    const QString cjk = firstInstalled({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                                        QStringLiteral("IPAGothic"), QStringLiteral("VL Gothic")},
                                       families);
    if (!cjk.isEmpty()) {
        for (const char *windowsFace : {"MS UI Gothic", "ＭＳ Ｐゴシック", "MS PGothic", "MS Gothic", "Meiryo UI"})
            QFont::insertSubstitution(QString::fromUtf8(windowsFace), cjk);
    }
    // The splash form's title face: any fixed-pitch face will do.
    const QString mono = firstInstalled({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                                         QStringLiteral("Noto Sans Mono")},
                                        families);
    if (!mono.isEmpty())
        QFont::insertSubstitution(QStringLiteral("Lucida Console"), mono);
}
