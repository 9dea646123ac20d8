#pragma once

#include "schema/XmlValidation.h"

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
