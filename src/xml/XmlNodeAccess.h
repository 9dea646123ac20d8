#pragma once

#include "XmlNode.h"

// Internal to src/document: turns libxml2 node pointers into handles and
// back, for the libxml2-based services beside XmlDocument (validation).
class XmlNodeAccess
{
public:
    // A handle of an element, text, attribute (xmlAttr) or other xmlNode;
    // not for namespace declarations.
    static XmlNode handle(void *node) { return XmlNode(node, nullptr); }
    // The xmlNode (or xmlAttr) behind a handle; null for a namespace
    // declaration, which is no xmlNode.
    static void *raw(const XmlNode &node) { return node.m_owner ? nullptr : node.m_ptr; }
};
