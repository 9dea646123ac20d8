#pragma once

// Process-wide libxml2 setup, shared by the services in this folder.
// Internal to src/document: only code here includes libxml2.

#include <QString>

struct _xmlNode;
struct _xmlNs;

namespace libxml {

// Initialises libxml2 once: silences its default error printing and installs
// an entity loader that refuses every external resource unless an
// ExternalLoadScope is open (validation opens one for local schema files).
void ensureInitialized();

// While alive, the loader may read local files (never the network).
class ExternalLoadScope
{
public:
    ExternalLoadScope();
    ~ExternalLoadScope();
    ExternalLoadScope(const ExternalLoadScope &) = delete;
    ExternalLoadScope &operator=(const ExternalLoadScope &) = delete;

private:
    bool m_previous;
};

// The libxml2 structure behind an XmlNode's opaque pointer.
inline struct _xmlNode *asNode(void *p)
{
    return static_cast<struct _xmlNode *>(p);
}
inline struct _xmlNs *asNs(void *p)
{
    return static_cast<struct _xmlNs *>(p);
}

QString fromXml(const unsigned char *text);
QString fromXml(const unsigned char *text, int length);

} // namespace libxml
