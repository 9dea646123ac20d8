#pragma once

#include "XmlNode.h"

// Turns libxml2 node pointers into handles and back, for the libxml2-based
// services beside XmlDocument (validation), and a handle into the words it
// is made of, for the tree model that names millions of rows by address.
class XmlNodeAccess
{
public:
    // A handle of an element, text, attribute (xmlAttr) or other xmlNode;
    // not for namespace declarations.
    static XmlNode handle(void *node) { return XmlNode(node, nullptr); }
    // The xmlNode (or xmlAttr) behind a handle; null for a namespace
    // declaration, which is no xmlNode.
    static void *raw(const XmlNode &node) { return node.m_owner ? nullptr : node.m_ptr; }
    // The node's address (a namespace declaration's xmlNs) and, for a
    // declaration, its element's; a handle made from both again.
    static void *address(const XmlNode &node) { return node.m_ptr; }
    static void *owner(const XmlNode &node) { return node.m_owner; }
    static XmlNode make(void *address, void *owner) { return XmlNode(address, owner); }
};
