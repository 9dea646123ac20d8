#pragma once

#include "xml/XmlNode.h"

// Enabled states of the structure commands for a selected node, worked out
// when a menu opens. Decisions only: the caller gathers the facts.
struct NodeMenuStates
{
    bool addElement = false;
    bool addOther = false; // attribute, text, comment, CDATA
    bool insert = false;   // all four insert commands
    bool moveUp = false;
    bool moveDown = false;
    bool expandCollapse = false;

    bool operator==(const NodeMenuStates &) const = default;
};

// The Node menu's states. `node` null: nothing selected. `hasTreeChildren`:
// the selected item has rows under it.
NodeMenuStates nodeMenuStates(const XmlNode &node, bool readOnly, bool hasRootElement, bool hasTreeChildren);

// The View menu's expand and collapse items: only an element or the
// document has a subtree to open.
bool canExpandCollapse(const XmlNode &node);

// The Edit menu's Delete and Rename: a writable document and a selected
// node other than the document.
bool canDeleteOrRename(const XmlNode &node, bool readOnly);
