#pragma once

// Helpers shared by the files that make up XmlDocument. Internal to
// src/document: only code here includes libxml2.

#include "LibXmlSupport.h"

#include <QByteArray>
#include <QString>

#include <libxml/tree.h>

#include <vector>

enum class NodeKind;

namespace xmldoc {

QByteArray utf8(const QString &s);
const xmlChar *xc(const QByteArray &bytes);

using libxml::xmlSpaceOf;

bool fail(QString *error, const QString &message);
bool checkChars(const QString &text, QString *error);
// Element and attribute names: the parser is namespace-aware, so a name
// must be a qualified name (at most one colon, not at either end), or the
// saved file would not read back as the same name.
bool checkName(const QString &name, QString *error);
bool isDeclarationTarget(const xmlChar *name);
// A PI target is a name without colon; "xml" in any case is reserved, and
// only the declaration itself (exactly "xml") may carry it.
bool checkTarget(const QString &target, bool allowDeclaration, QString *error);
// Content that markup cannot carry would make the saved file unreadable.
bool checkContent(NodeKind kind, const QString &text, bool declaration, QString *error);

// An attribute's value as literal text: no entity references are parsed
// out of it (xmlNewDocProp would, and cut the value at a lone '&').
void setLiteralValue(xmlAttrPtr a, const QByteArray &value);

xmlNsPtr &namespaceOf(xmlNodePtr n);
// Puts an element's or attribute's name where it reads back the same in
// the place it now stands (`element`: the node itself, or the attribute's
// element). A prefixed name made before its prefix was in scope is bound
// once it is; a namespace no longer in scope under its prefix is declared
// again on the element; an unprefixed element without a namespace takes the
// default namespace in scope, exactly as its markup would on reload.
void fixNamespace(xmlDocPtr doc, xmlNodePtr n, xmlNodePtr element);
void fixNamespaces(xmlDocPtr doc, xmlNodePtr top);
// True when a name in the subtree of `owner` is in namespace `ns`.
bool namespaceUsed(xmlNodePtr owner, xmlNsPtr ns);
void repointNamespace(xmlNodePtr owner, xmlNsPtr from, xmlNsPtr to);
void unlinkNamespace(xmlNodePtr owner, xmlNsPtr ns);

// Visits an element's attributes and the nodes of their values.
template<class Visit>
bool visitAttributes(xmlNodePtr element, Visit &visit)
{
    for (xmlAttrPtr a = element->properties; a; a = a->next) {
        if (!visit(reinterpret_cast<xmlNodePtr>(a)))
            return false;
        for (xmlNodePtr v = a->children; v; v = v->next)
            if (!visit(v))
                return false;
    }
    return true;
}

// Visits every node of a node list and of its subtrees, attributes and
// their values included, without recursion (documents can be deep). Entity
// references are visited but not entered. `visit` returns false to stop.
template<class Visit>
void forEachInList(xmlNodePtr first, Visit visit)
{
    std::vector<xmlNodePtr> resume;
    xmlNodePtr n = first;
    while (n) {
        if (!visit(n))
            return;
        xmlNodePtr next = n->next;
        if (n->type == XML_ELEMENT_NODE) {
            if (!visitAttributes(n, visit))
                return;
            if (n->children) {
                resume.push_back(next);
                next = n->children;
            }
        }
        n = next;
        while (!n && !resume.empty()) {
            n = resume.back();
            resume.pop_back();
        }
    }
}

// The same for one node and its subtree, not its following siblings.
template<class Visit>
void forEachInSubtree(xmlNodePtr top, Visit visit)
{
    if (!visit(top) || top->type != XML_ELEMENT_NODE || !visitAttributes(top, visit))
        return;
    forEachInList(top->children, visit);
}

} // namespace xmldoc
