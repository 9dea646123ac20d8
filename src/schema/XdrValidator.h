#pragma once

#include "XmlValidation.h"

#include <QString>
#include <QStringList>

// Validation against an XML-Data Reduced schema: a "Schema" element of the
// namespace urn:schemas-microsoft-com:xml-data holding ElementType and
// AttributeType declarations.
//
// What is checked:
// - ElementType: content "empty", "textOnly", "eltOnly" or "mixed" (the
//   default; it allows text and the declared elements in any order and
//   number); order "seq", "one" or "many" (the default for mixed content,
//   "seq" otherwise) over its element and group children, each with
//   minOccurs 0 or 1 and maxOccurs 1 or "*"; model "open" (the default:
//   elements and attributes of other namespaces may appear anywhere) or
//   "closed"; a data type (dt:type, or a datatype child) makes the content
//   text of that type.
// - AttributeType, global or local to its ElementType, used through
//   attribute children: dt:type, dt:values for enumerations, default,
//   required; the attribute child may override required and default.
// - The data types of urn:schemas-microsoft-com:datatypes, IDs unique
//   and IDREFs naming an existing ID.
//
// The schema stands in for the document root's default namespace, as an
// "x-schema:" reference on the root would: unqualified elements that no
// declaration below the root puts into another namespace are the schema's;
// they must be declared, and unqualified attributes must be declared for
// their element.
class XdrValidator
{
public:
    static ValidationResult validate(const XmlDocument &document, const QString &schemaPath);

    // The names of the data types, and whether `value` is one of `type`
    // (`values`: the tokens of an enumeration).
    static const QStringList &dataTypes();
    static bool isValidValue(const QString &type, const QString &value, const QStringList &values = {});
};
