#include "Encodings.h"

#include <libxml/encoding.h>

#include <algorithm>
#include <cerrno>
#include <iconv.h>

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

} // namespace

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
