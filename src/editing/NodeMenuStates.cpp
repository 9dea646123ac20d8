#include "NodeMenuStates.h"

NodeMenuStates nodeMenuStates(const XmlNode &node, bool readOnly, bool hasRootElement, bool hasTreeChildren)
{
    NodeMenuStates s;
    if (!node)
        return s;
    const bool writable = !readOnly;
    s.expandCollapse = hasTreeChildren;
    switch (node.kind()) {
    case NodeKind::Document:
        s.addElement = writable && !hasRootElement;
        return s;
    case NodeKind::Attribute:
        return s;
    case NodeKind::Element:
        s.addElement = writable;
        s.addOther = writable;
        break;
    default:
        break;
    }
    s.insert = writable;
    const XmlNode parent = node.parentNode();
    const bool movable = writable && parent && !parent.isDocument();
    s.moveUp = movable && node.previousSibling();
    s.moveDown = movable && node.nextSibling();
    return s;
}

bool canExpandCollapse(const XmlNode &node)
{
    return node && (node.isElement() || node.isDocument());
}

bool canDeleteOrRename(const XmlNode &node, bool readOnly)
{
    return !readOnly && node && !node.isDocument();
}
