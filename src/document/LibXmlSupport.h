#pragma once

// Process-wide libxml2 setup, shared by the services in this folder.
// Internal to src/document: only code here includes libxml2.

#include <QString>

struct _xmlNode;

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

QString fromXml(const unsigned char *text);
QString fromXml(const unsigned char *text, int length);

} // namespace libxml
