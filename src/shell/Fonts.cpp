#include "Fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

void installFontSubstitutions()
{
    const QStringList candidates{QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                                 QStringLiteral("IPAGothic"), QStringLiteral("VL Gothic")};
    const QStringList families = QFontDatabase::families();
    for (const QString &face : candidates) {
        if (!families.contains(face))
            continue;
        for (const char *windowsFace : {"MS UI Gothic", "ＭＳ Ｐゴシック", "MS PGothic", "MS Gothic", "Meiryo UI"})
            QFont::insertSubstitution(QString::fromUtf8(windowsFace), face);
        return;
    }
}
