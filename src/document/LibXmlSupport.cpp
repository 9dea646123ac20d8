#include "LibXmlSupport.h"

#include "Encodings.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>

#include <cctype>
#include <mutex>
#include <strings.h>

namespace libxml {

namespace {

bool g_allowLocalFiles = false;

void silentGenericError(void *, const char *, ...) {}
void silentStructuredError(void *, xmlErrorPtr) {}

// True for a plain path or a file: URL. Any other scheme (http, HTTP, ftp,
// and whatever else libxml2's I/O layer may learn) counts as the network.
bool isLocal(const char *url)
{
    if (!url || !*url)
        return false;
    const char *p = url;
    if (std::isalpha(static_cast<unsigned char>(*p))) {
        while (std::isalnum(static_cast<unsigned char>(*p)) || *p == '+' || *p == '-' || *p == '.')
            ++p;
        if (*p == ':')
            return p - url == 4 && strncasecmp(url, "file", 4) == 0;
    }
    return true;
}

// External entities and DTDs are never fetched from the network, and local
// files only while a validation asks for them. The no-network loader also
// refuses what a catalog maps to a network address.
xmlParserInputPtr guardedLoader(const char *url, const char *id, xmlParserCtxtPtr ctxt)
{
    if (!g_allowLocalFiles || !isLocal(url))
        return nullptr;
    return xmlNoNetExternalEntityLoader(url, id, ctxt);
}

} // namespace

void ensureInitialized()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetGenericErrorFunc(nullptr, silentGenericError);
        xmlSetStructuredErrorFunc(nullptr, silentStructuredError);
        xmlSetExternalEntityLoader(guardedLoader);
        addEncodingAliases();
    });
}

ExternalLoadScope::ExternalLoadScope() : m_previous(g_allowLocalFiles)
{
    g_allowLocalFiles = true;
}

ExternalLoadScope::~ExternalLoadScope()
{
    g_allowLocalFiles = m_previous;
}

QString fromXml(const unsigned char *text)
{
    return text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString();
}

QString fromXml(const unsigned char *text, int length)
{
    return text ? QString::fromUtf8(reinterpret_cast<const char *>(text), length) : QString();
}

} // namespace libxml
