#pragma once

// libxml2's reports while the schema guide queries or checks: silenced,
// or collected with the nodes they name. Internal to src/schema.

#include "xml/LibXmlSupport.h"

#include <QString>

#include <libxml/globals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <functional>
#include <vector>

namespace guide {

// Silences libxml2's reports while a query tries names out.
class Quiet
{
public:
    Quiet() : m_previous(xmlStructuredError), m_context(xmlStructuredErrorContext)
    {
        xmlSetStructuredErrorFunc(nullptr, [](void *, xmlErrorPtr) {});
    }
    ~Quiet() { xmlSetStructuredErrorFunc(m_context, m_previous); }
    Quiet(const Quiet &) = delete;
    Quiet &operator=(const Quiet &) = delete;

private:
    xmlStructuredErrorFunc m_previous;
    void *m_context;
};

// Collects faults with the document's nodes.
class Collector
{
public:
    struct Entry
    {
        void *node;
        QString message;
    };
    // With `wanted`, only the faults of the nodes it takes are kept and
    // counted (null: those naming no node), their messages alone written.
    Collector(xmlDocPtr doc, std::vector<Entry> *faults, int max, std::function<bool(xmlNodePtr)> wanted = {})
        : m_doc(doc), m_faults(faults), m_max(max), m_wanted(std::move(wanted))
    {
        m_previous = xmlStructuredError;
        m_context = xmlStructuredErrorContext;
        xmlSetStructuredErrorFunc(this, [](void *self, xmlErrorPtr error) { static_cast<Collector *>(self)->add(error); });
    }
    ~Collector() { xmlSetStructuredErrorFunc(m_context, m_previous); }
    Collector(const Collector &) = delete;
    Collector &operator=(const Collector &) = delete;

    int count = 0;

    void add(xmlNodePtr node, const QString &message)
    {
        if (++count <= m_max)
            m_faults->push_back({node, message});
    }

private:
    void add(xmlErrorPtr error)
    {
        if (!error || error->level == XML_ERR_WARNING)
            return;
        auto *node = static_cast<xmlNodePtr>(error->node);
        if (node && node->doc != m_doc)
            node = nullptr;
        if (m_wanted && !m_wanted(node))
            return;
        add(node, libxml::withLocalPaths(libxml::fromXml(reinterpret_cast<const xmlChar *>(error->message)).trimmed()));
    }

    xmlDocPtr m_doc;
    std::vector<Entry> *m_faults;
    int m_max;
    std::function<bool(xmlNodePtr)> m_wanted;
    xmlStructuredErrorFunc m_previous;
    void *m_context;
};

} // namespace guide
