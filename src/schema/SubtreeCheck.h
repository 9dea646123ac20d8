#pragma once

// The check of one element's subtree after a change of values inside it:
// what a check of the whole document would say of that subtree, found
// without copying or validating the rest. Internal to src/schema.

#include <QString>
#include <QStringList>

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
// Whether any of an XML Schema's files may declare a key, a unique or a key
// reference. The parsed schema holds those of imported namespaces where no
// public call reaches them, so the files are looked through as text: any
// start tag of such a name counts, wherever it stands; a file not read
// again, or in a two-byte encoding, counts too.
bool mayDeclareKeys(const QStringList &files);

bool checkSubtree(xmlNodePtr element, xmlSchemaPtr xsd, xmlDtdPtr dtd, bool ownDtd, std::vector<SubtreeFault> *faults);

// Validates the whole document against an XML Schema, or a DTD as
// checkSubtree takes one, a piece of at most
// about `nodes` nodes at a time, each copied with the way down to it as
// checkSubtree does, so that memory follows the piece, not the document.
// Every element's own faults are told once: in its piece, or for an
// element on the way, in the first piece below it. IDs are known across
// pieces as in one copy. Keeps the first `max` faults in `faults` and
// counts them all in `count`. False, with nothing kept, where a whole copy
// must be validated instead: a document of one piece, one with references
// to substitute, a schema with identity constraints, a fault the engine
// names no node for, or pieces that would copy more than the document.
// A piece holds at least `nodes`, and `perChild` for each child of the
// elements on its way, which each piece copies again without content.
bool checkInPieces(xmlDocPtr original, xmlSchemaPtr xsd, xmlDtdPtr dtd, bool ownDtd, qint64 nodes, qint64 perChild, int max,
                   std::vector<SubtreeFault> *faults, int *count);

} // namespace validation
