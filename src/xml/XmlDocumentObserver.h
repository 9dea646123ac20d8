#pragma once

#include "XmlNode.h"

// Told of every change of an XmlDocument, after it happened. Attributes are
// nodes too: setting a new attribute is an insertion, removing one a
// removal. Carries what an undo journal needs to invert each change.
class XmlDocumentObserver
{
public:
    virtual ~XmlDocumentObserver() = default;

    // `node` now stands under `parent` (an element's attribute list for an
    // attribute), just before `nextSibling` (none: last).
    virtual void nodeInserted(const XmlNode &parent, const XmlNode &node, const XmlNode &nextSibling) = 0;
    // `node` was taken out from under `parent`, where it stood before
    // `formerNextSibling`. It is detached now and still readable.
    virtual void nodeRemoved(const XmlNode &parent, const XmlNode &node, const XmlNode &formerNextSibling) = 0;
    virtual void nodeRenamed(const XmlNode &node, const QString &oldName) = 0;
    // The text of a text, CDATA, comment or PI node, or an attribute's value.
    virtual void textChanged(const XmlNode &node, const QString &oldText) = 0;
    // The whole document was replaced by a load; every old handle is gone.
    virtual void documentReplaced() = 0;
};
