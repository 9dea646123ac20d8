#include "Translations.h"

#include "base/StringTable.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

QLocale japanese()
{
    return QLocale(QLocale::Japanese, QLocale::Japan);
}

// Texts of Qt 6 that its Japanese catalogue has no entry for yet: the file
// dialog's "Type" of a folder or a drive.
class MissingQtTexts : public QTranslator
{
public:
    using QTranslator::QTranslator;

    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        if (qstrcmp(sourceText, "Folder") == 0)
            return resourceString(3006);
        if (qstrcmp(sourceText, "Drive") == 0)
            return resourceString(3007);
        return {};
    }
    bool isEmpty() const override { return false; }
};

} // namespace

void useJapaneseLocale()
{
    QLocale::setDefault(japanese());
}

bool installJapaneseQtTexts()
{
    QCoreApplication *app = QCoreApplication::instance();
    QCoreApplication::installTranslator(new MissingQtTexts(app));
    // qt_ja is the catalogue that pulls in those of Qt's modules.
    auto *catalogue = new QTranslator(app);
    if (!catalogue->load(japanese(), QStringLiteral("qt"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete catalogue;
        return false;
    }
    return QCoreApplication::installTranslator(catalogue);
}
