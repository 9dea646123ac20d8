#include "Encodings.h"

#include "XmlDocumentInternal.h"

#include <libxml/encoding.h>

#include <QHash>
#include <QMutex>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <unordered_set>

namespace libxml {

namespace {

bool systemConverts(const char *name)
{
    const iconv_t cd = iconv_open("UTF-8", name);
    if (cd == iconv_t(-1))
        return false;
    iconv_close(cd);
    return true;
}

// The converter a name reaches: its alias, else the name.
QByteArray converterName(const QString &encoding)
{
    const QByteArray name = encoding.toLatin1();
    const char *alias = xmlGetEncodingAlias(name.constData());
    return alias ? QByteArray(alias) : name;
}

// Finds the characters of UTF-8 strings that an encoding has no code for.
class EncodingCheck
{
public:
    explicit EncodingCheck(const QByteArray &name) : m_cd(iconv_open(name.constData(), "UTF-8")) {}
    ~EncodingCheck()
    {
        if (m_cd != iconv_t(-1))
            iconv_close(m_cd);
    }
    EncodingCheck(const EncodingCheck &) = delete;
    EncodingCheck &operator=(const EncodingCheck &) = delete;

    // The first character of `text` the encoding lacks, or empty.
    QString firstMissing(const xmlChar *text)
    {
        const char *p = reinterpret_cast<const char *>(text);
        if (!p || m_cd == iconv_t(-1))
            return QString();
        size_t left = std::strlen(p);
        if (std::all_of(p, p + left, [](char c) { return uchar(c) < 0x80; }))
            return QString(); // every encoding a document may declare has ASCII
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char *in = const_cast<char *>(p);
        char buffer[4096];
        while (left > 0) {
            char *out = buffer;
            size_t room = sizeof buffer;
            if (iconv(m_cd, &in, &left, &out, &room) == size_t(-1) && errno != E2BIG) {
                const uchar lead = uchar(*in);
                return QString::fromUtf8(in, lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4);
            }
        }
        return QString();
    }

private:
    iconv_t m_cd;
};

} // namespace

QString unwritableMarkup(struct _xmlDoc *doc, const QString &encoding)
{
    // The Unicode encodings hold every character.
    if (encoding.startsWith(QLatin1String("UTF"), Qt::CaseInsensitive)
        || encoding.startsWith(QLatin1String("UCS"), Qt::CaseInsensitive))
        return QString();
    EncodingCheck check(converterName(encoding));
    // Names are shared through the parser's dictionary: each is checked once.
    std::unordered_set<const xmlChar *> goodNames;
    QString missing;
    QString place;
    const auto lacks = [&](const xmlChar *text, const QString &where) {
        missing = check.firstMissing(text);
        if (!missing.isEmpty())
            place = where;
        return !missing.isEmpty();
    };
    const auto lacksInName = [&](const xmlChar *name) {
        if (!name || goodNames.count(name))
            return false;
        if (lacks(name, QStringLiteral("名前「%1」").arg(QString::fromUtf8(reinterpret_cast<const char *>(name)))))
            return true;
        goodNames.insert(name);
        return false;
    };
    xmldoc::forEachInList(doc->children, [&](xmlNodePtr n) {
        switch (n->type) {
        case XML_ELEMENT_NODE:
            for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
                if (lacksInName(ns->prefix))
                    return false;
            return !lacksInName(n->name) && !(n->ns && lacksInName(n->ns->prefix));
        case XML_ATTRIBUTE_NODE: {
            const xmlNsPtr ns = reinterpret_cast<xmlAttrPtr>(n)->ns;
            return !lacksInName(n->name) && !(ns && lacksInName(ns->prefix));
        }
        case XML_COMMENT_NODE:
            return !lacks(n->content, QStringLiteral("コメント"));
        case XML_PI_NODE:
            return !lacksInName(n->name) && !lacks(n->content, QStringLiteral("処理命令"));
        case XML_CDATA_SECTION_NODE:
            return !lacks(n->content, QStringLiteral("CDATA セクション"));
        default:
            return true;
        }
    });
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("%1の文字「%2」は文字コード「%3」で書けないため保存できません。").arg(place, missing, encoding);
}

namespace {

bool probeAsciiSingleByte(const QByteArray &name)
{
    const iconv_t cd = iconv_open("UTF-8", name.constData());
    if (cd == iconv_t(-1))
        return false;
    bool single = true;
    for (int b = 0; b < 256 && single; ++b) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char byte = char(b), decoded[16];
        char *in = &byte, *out = decoded;
        size_t left = 1, room = sizeof decoded;
        if (iconv(cd, &in, &left, &out, &room) == size_t(-1)) {
            // A byte the encoding does not use is harmless; one that starts
            // a longer sequence (or a shift) is not.
            single = errno == EILSEQ && b >= 0x80;
            continue;
        }
        iconv(cd, nullptr, nullptr, &out, &room);
        const qsizetype length = out - decoded;
        single = b < 0x80 ? length == 1 && decoded[0] == byte : length >= 2;
    }
    iconv_close(cd);
    return single;
}

} // namespace

bool isAsciiSingleByte(const QByteArray &encoding)
{
    static QMutex mutex;
    static QHash<QByteArray, bool> known;
    const QByteArray name = converterName(QString::fromLatin1(encoding)).toUpper();
    const QMutexLocker lock(&mutex);
    const auto found = known.constFind(name);
    if (found != known.constEnd())
        return *found;
    return *known.insert(name, probeAsciiSingleByte(name));
}

void addEncodingAliases()
{
    if (systemConverts("CP932"))
        for (const char *name : {"Shift_JIS", "Shift-JIS", "x-sjis", "MS_Kanji", "Windows-31J", "SJIS", "csShiftJIS"})
            xmlAddEncodingAlias("CP932", name);
    if (systemConverts("EUC-JP-MS"))
        for (const char *name : {"EUC-JP", "EUCJP", "x-euc-jp", "eucJP-win"})
            xmlAddEncodingAlias("EUC-JP-MS", name);
}

bool findUndecodable(const QByteArray &bytes, const QString &encoding, int *line, QByteArray *sequence)
{
    const QByteArray name = converterName(encoding);
    const iconv_t cd = iconv_open("UTF-8", name.constData());
    if (cd == iconv_t(-1))
        return false;
    char *in = const_cast<char *>(bytes.constData());
    size_t left = size_t(bytes.size());
    int lines = 1;
    bool bad = false;
    char buffer[16384];
    while (left > 0 && !bad) {
        char *out = buffer;
        size_t room = sizeof buffer;
        const size_t done = iconv(cd, &in, &left, &out, &room);
        // Line ends are counted in the decoded text, so the count holds for
        // encodings whose line end is not the byte 0x0A.
        for (const char *p = buffer; p < out; ++p)
            lines += *p == '\n';
        // A sequence cut off at the end is as undecodable as a wrong one.
        bad = done == size_t(-1) && errno != E2BIG;
    }
    iconv_close(cd);
    if (bad) {
        *line = lines;
        *sequence = QByteArray(in, int(std::min<size_t>(left, 2)));
    }
    return bad;
}

} // namespace libxml
