#pragma once

// What a validation checks, shared by the F7 validation and the check in
// the background so that both give the same verdict: a copy of the
// document with its internal entities substituted, validated element by
// element. Internal to src/document.

#include <QString>

#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlschemas.h>

#include <functional>
#include <memory>
#include <vector>

namespace validation {

struct DocFree
{
    void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
};
using DocCopy = std::unique_ptr<xmlDoc, DocFree>;

// A copy of a document whose every element, attribute and other node keeps
// its original in _private, with the entity references noted.
struct Copied
{
    DocCopy doc;
    std::vector<xmlNodePtr> references;
    std::vector<xmlAttrPtr> attributes; // values holding references
    qint64 elements = 0;
};
Copied copyWithOrigins(xmlDocPtr original);

// The original's node a node of the copy stands for: its own, or for
// content substituted from an entity, the element that held the reference.
xmlNodePtr origin(xmlNodePtr copied);

// A reference whose entity could not be substituted: it stays in the copy,
// and the validation reports it here rather than as missing content.
struct Unexpanded
{
    xmlNodePtr element; // of the copy
    QString message;
};

// Replaces the copy's references to internal entities, those of its own
// document type and of `schemaDtd`, by what they stand for. External
// entities are never read: their references stay. False when substitution
// would add beyond a bound ("billion laughs"); the copy is then of no use.
bool substituteEntities(Copied &copied, xmlDtdPtr schemaDtd, std::vector<Unexpanded> *unexpanded);

// Validates `doc` against an XML Schema; false when out of memory.
bool validateWithSchema(xmlDocPtr doc, xmlSchemaPtr xsd);

// Validates `doc` against `dtd` (null: its own) as xmlValidateDocument
// would, with the document's internal subset in force only when
// `ownSubset`. Attribute values are checked as the characters they are.
// Faults go to the thread's structured error handler. `step` is called
// with the count of elements done; false from it stops the validation.
void validateWithDtd(xmlDocPtr doc, xmlDtdPtr dtd, bool ownSubset, const std::function<bool(qint64)> &step);

// Makes the schema's DTD the document's for a query or a check, as
// validation against a chosen file does, and puts the document's back.
class SubsetSwap
{
public:
    SubsetSwap(xmlDocPtr doc, xmlDtdPtr dtd, bool own);
    ~SubsetSwap();
    SubsetSwap(const SubsetSwap &) = delete;
    SubsetSwap &operator=(const SubsetSwap &) = delete;

private:
    xmlDocPtr m_doc;
    xmlDtdPtr m_internal;
    xmlDtdPtr m_external;
};

// The same a node at a time, for a document made and validated in parts:
// start() once the root element is in place (false when the document type
// names another root), node() for each node in document order, finish()
// for the ID references, once every ID has been met. The subsets are the
// document's own again when it ends.
class DtdValidation
{
public:
    DtdValidation(xmlDocPtr doc, xmlDtdPtr dtd, bool ownSubset);
    ~DtdValidation();
    DtdValidation(const DtdValidation &) = delete;
    DtdValidation &operator=(const DtdValidation &) = delete;

    bool start();
    void node(xmlNodePtr n);
    void finish();

private:
    xmlDocPtr m_doc;
    xmlValidCtxtPtr m_context;
    SubsetSwap m_subsets;
};

} // namespace validation
