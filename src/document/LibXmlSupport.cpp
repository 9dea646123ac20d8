#include "LibXmlSupport.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <cstring>
#include <mutex>

namespace libxml {

namespace {

bool g_allowLocalFiles = false;
xmlExternalEntityLoader g_defaultLoader = nullptr;

void silentGenericError(void *, const char *, ...) {}
void silentStructuredError(void *, xmlErrorPtr) {}

// External entities and DTDs are never fetched from the network, and local
// files only while a validation asks for them.
xmlParserInputPtr guardedLoader(const char *url, const char *id, xmlParserCtxtPtr ctxt)
{
    const bool network = url && (std::strncmp(url, "http:", 5) == 0 || std::strncmp(url, "https:", 6) == 0
                                 || std::strncmp(url, "ftp:", 4) == 0);
    if (!g_allowLocalFiles || network)
        return nullptr;
    return g_defaultLoader(url, id, ctxt);
}

} // namespace

void ensureInitialized()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetGenericErrorFunc(nullptr, silentGenericError);
        xmlSetStructuredErrorFunc(nullptr, silentStructuredError);
        g_defaultLoader = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(guardedLoader);
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
