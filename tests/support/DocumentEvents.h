#pragma once

#include "xml/XmlDocument.h"
#include "xml/XmlDocumentObserver.h"

#include <QStringList>

// A node in one word: 'text', @attribute or the node's name.
inline QString label(const XmlNode &n)
{
    if (n.kind() == NodeKind::Text)
        return QLatin1Char('\'') + n.text() + QLatin1Char('\'');
    return (n.isAttribute() ? QStringLiteral("@") : QString()) + n.nodeName();
}

// Records a document's notifications as "+parent:node<next", "-parent:node<next",
// "~node:old name", "=node:old text" and "replaced", and keeps every handle passed.
struct Recorder : XmlDocumentObserver
{
    QStringList events;
    QList<XmlNode> handles;
    void note(const QString &event, std::initializer_list<XmlNode> nodes)
    {
        events << event;
        handles << nodes;
    }
    void nodeInserted(const XmlNode &p, const XmlNode &n, const XmlNode &next) override
    {
        note("+" + label(p) + ":" + label(n) + "<" + label(next), {p, n, next});
    }
    void nodeRemoved(const XmlNode &p, const XmlNode &n, const XmlNode &next) override
    {
        note("-" + label(p) + ":" + label(n) + "<" + label(next), {p, n, next});
    }
    void nodeRenamed(const XmlNode &n, const QString &old) override { note("~" + label(n) + ":" + old, {n}); }
    void textChanged(const XmlNode &n, const QString &old) override { note("=" + label(n) + ":" + old, {n}); }
    void documentReplaced() override { events << QStringLiteral("replaced"); }
};
