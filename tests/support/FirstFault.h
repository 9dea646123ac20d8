#pragma once

#include "schema/XmlValidation.h"
#include "xml/XmlDocument.h"

// Helpers of the validation and schema-guidance tests.

// A validation's first fault as "name@line" of its node (the owner
// element's line for an attribute), "valid" without faults, "schema: "
// and the reason when the schema could not be used.
inline QString firstFault(const ValidationResult &r)
{
    if (!r.schemaError.isEmpty())
        return QStringLiteral("schema: ") + r.schemaError;
    if (r.isValid())
        return QStringLiteral("valid");
    const XmlNode n = r.errors.value(0).node;
    const XmlNode at = n.isAttribute() ? n.ownerElement() : n;
    return n.nodeName() + QLatin1Char('@') + QString::number(at.lineNumber());
}

// The first element named `localName` in any namespace, in document order.
inline XmlNode firstNamed(XmlDocument &doc, const QString &localName)
{
    QList<XmlNode> found;
    doc.selectNodes(QStringLiteral("(//*[local-name()='%1'])[1]").arg(localName), doc.documentNode(), &found);
    return found.value(0);
}
