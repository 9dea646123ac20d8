#pragma once

// The check of one element's subtree after a change of values inside it:
// what a check of the whole document would say of that subtree, found
// without copying or validating the rest. Internal to src/schema.

#include <QString>

#include <libxml/tree.h>
#include <libxml/xmlschemas.h>

#include <vector>

namespace validation {

struct SubtreeFault
{
    xmlNodePtr node; // the document's own: the element or attribute named
    QString message;
};

// Validates a copy that holds `element` with its whole subtree and, for
// each ancestor up to the root, its child elements with their attributes
// but without their content: each element on the way then gets the
// declaration it has in the whole document, and the faults found inside
// the subtree are the whole check's. Those outside it (the ancestors' and
// their children's, whose content is left out) are dropped.
// False when the subtree cannot be told apart from the rest: an XML Schema
// with identity constraints, an ID or ID reference in the subtree (unique
// in, or pointing into, the whole document), an entity reference to
// substitute, a fault the engine names no node for, a copy too large to be
// worth it, or a grammar other than a DTD or an XML Schema (`xsd` and `dtd`
// null, `ownDtd` false). The whole document must be checked then.
bool checkSubtree(xmlNodePtr element, xmlSchemaPtr xsd, xmlDtdPtr dtd, bool ownDtd, std::vector<SubtreeFault> *faults);

} // namespace validation
