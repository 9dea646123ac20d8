#include "XdrValidator.h"

#include "xml/XmlDocument.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <set>
#include <vector>

namespace {

const QString kXdrNamespace = QStringLiteral("urn:schemas-microsoft-com:xml-data");
const QString kTypesNamespace = QStringLiteral("urn:schemas-microsoft-com:datatypes");

// Namespace prefixes in scope: prefix ("" for the default) to name.
using Scope = QHash<QString, QString>;

Scope scopeOf(const XmlNode &element, const Scope &outer)
{
    Scope scope = outer;
    for (XmlNode a = element.firstAttribute(); a; a = a.nextSibling()) {
        const QString name = a.nodeName();
        if (name == QLatin1String("xmlns"))
            scope.insert(QString(), a.text());
        else if (name.startsWith(QLatin1String("xmlns:")))
            scope.insert(name.mid(6), a.text());
    }
    return scope;
}

QString prefixOf(const QString &name)
{
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    return colon < 0 ? QString() : name.left(colon);
}

QString localOf(const QString &name)
{
    return name.mid(name.indexOf(QLatin1Char(':')) + 1);
}

bool isDeclaration(const QString &attributeName)
{
    return attributeName == QLatin1String("xmlns") || attributeName.startsWith(QLatin1String("xmlns:"));
}

QStringList tokens(const QString &s)
{
    return s.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// ---- The schema ----------------------------------------------------------

struct AttributeDecl
{
    QString name;
    QString type; // empty: string
    QStringList values;
    QString defaultValue;
    bool hasDefault = false;
    bool required = false;
};

// An element reference or a group, with how often it may occur.
struct Particle
{
    enum Order { Seq, One, Many };
    bool isGroup = false;
    QString type; // element type, for a reference
    Order order = Seq;
    bool optional = false;  // minOccurs="0"
    bool unbounded = false; // maxOccurs="*"
    std::vector<Particle> children;
};

struct ElementDecl
{
    enum Content { Empty, TextOnly, EltOnly, Mixed };
    QString name;
    Content content = Mixed;
    bool closed = false;
    QString type;
    QStringList values;
    Particle model; // a group
    QHash<QString, AttributeDecl> attributes;
};

struct Schema
{
    QHash<QString, ElementDecl> elements;
};

class SchemaReader
{
public:
    bool read(const XmlDocument &doc, Schema *schema);
    QString error() const { return m_error; }

private:
    bool fail(const XmlNode &at, const QString &reason)
    {
        if (m_error.isEmpty())
            m_error = at.lineNumber() > 0 ? QStringLiteral("line %1: %2").arg(at.lineNumber()).arg(reason) : reason;
        return false;
    }
    // Schema elements under `parent`, with their scopes; other elements and
    // "description" skipped.
    std::vector<std::pair<XmlNode, Scope>> schemaChildren(const XmlNode &parent, const Scope &scope);
    QString attribute(const XmlNode &element, const Scope &scope, const QString &ns, const QString &local);
    bool readAttributeType(const XmlNode &node, const Scope &scope, AttributeDecl *decl);
    // required and default, on an AttributeType or an attribute using one.
    bool readUse(const XmlNode &node, const Scope &scope, AttributeDecl *decl);
    bool readDataType(const XmlNode &node, const Scope &scope, QString *type, QStringList *values);
    bool readOccurs(const XmlNode &node, Particle *p);
    bool readParticles(const XmlNode &node, const Scope &scope, Particle *group);
    bool readElementType(const XmlNode &node, const Scope &scope, const QHash<QString, AttributeDecl> &globals,
                         ElementDecl *decl);
    bool checkReferences(const Particle &p, const Schema &schema, const XmlNode &at);

    QString m_error;
};

QString SchemaReader::attribute(const XmlNode &element, const Scope &scope, const QString &ns, const QString &local)
{
    for (XmlNode a = element.firstAttribute(); a; a = a.nextSibling()) {
        const QString name = a.nodeName();
        if (isDeclaration(name) || localOf(name) != local)
            continue;
        const QString prefix = prefixOf(name);
        if ((prefix.isEmpty() && ns.isEmpty()) || (!prefix.isEmpty() && scope.value(prefix) == ns))
            return a.text();
    }
    return QString();
}

std::vector<std::pair<XmlNode, Scope>> SchemaReader::schemaChildren(const XmlNode &parent, const Scope &scope)
{
    std::vector<std::pair<XmlNode, Scope>> out;
    for (XmlNode c = parent.firstChild(); c; c = c.nextSibling()) {
        if (!c.isElement())
            continue;
        Scope inner = scopeOf(c, scope);
        if (inner.value(prefixOf(c.nodeName())) != kXdrNamespace || localOf(c.nodeName()) == QLatin1String("description"))
            continue;
        out.emplace_back(c, std::move(inner));
    }
    return out;
}

bool SchemaReader::readDataType(const XmlNode &node, const Scope &scope, QString *type, QStringList *values)
{
    const QString t = attribute(node, scope, kTypesNamespace, QStringLiteral("type"));
    if (t.isEmpty())
        return true;
    if (!XdrValidator::dataTypes().contains(t))
        return fail(node, QStringLiteral("unknown data type '%1'").arg(t));
    *type = t;
    *values = tokens(attribute(node, scope, kTypesNamespace, QStringLiteral("values")));
    if (t == QLatin1String("enumeration") && values->isEmpty())
        return fail(node, QStringLiteral("the enumeration has no dt:values"));
    return true;
}

bool SchemaReader::readAttributeType(const XmlNode &node, const Scope &scope, AttributeDecl *decl)
{
    decl->name = attribute(node, scope, QString(), QStringLiteral("name"));
    if (decl->name.isEmpty())
        return fail(node, QStringLiteral("AttributeType without a name"));
    if (!readDataType(node, scope, &decl->type, &decl->values))
        return false;
    // The type may as well be given by a datatype child, as for elements.
    for (const auto &[child, inner] : schemaChildren(node, scope)) {
        if (decl->type.isEmpty() && localOf(child.nodeName()) == QLatin1String("datatype")
            && !readDataType(child, inner, &decl->type, &decl->values))
            return false;
    }
    return readUse(node, scope, decl);
}

bool SchemaReader::readUse(const XmlNode &node, const Scope &scope, AttributeDecl *decl)
{
    const QString required = attribute(node, scope, QString(), QStringLiteral("required"));
    if (!required.isEmpty()) {
        if (required != QLatin1String("yes") && required != QLatin1String("no"))
            return fail(node, QStringLiteral("required must be \"yes\" or \"no\""));
        decl->required = required == QLatin1String("yes");
    }
    if (node.attributeNode(QStringLiteral("default"))) {
        decl->hasDefault = true;
        decl->defaultValue = attribute(node, scope, QString(), QStringLiteral("default"));
        if (!XdrValidator::isValidValue(decl->type, decl->defaultValue, decl->values))
            return fail(node, QStringLiteral("the default '%1' is not of the type '%2'").arg(decl->defaultValue, decl->type));
    }
    return true;
}

bool SchemaReader::readOccurs(const XmlNode &node, Particle *p)
{
    const XmlNode min = node.attributeNode(QStringLiteral("minOccurs"));
    const XmlNode max = node.attributeNode(QStringLiteral("maxOccurs"));
    if (min && min.text() != QLatin1String("0") && min.text() != QLatin1String("1"))
        return fail(node, QStringLiteral("minOccurs must be 0 or 1"));
    if (max && max.text() != QLatin1String("1") && max.text() != QLatin1String("*"))
        return fail(node, QStringLiteral("maxOccurs must be 1 or *"));
    p->optional = min && min.text() == QLatin1String("0");
    p->unbounded = max && max.text() == QLatin1String("*");
    return true;
}

bool readOrder(const QString &text, Particle::Order *order)
{
    if (text == QLatin1String("seq"))
        *order = Particle::Seq;
    else if (text == QLatin1String("one"))
        *order = Particle::One;
    else if (text == QLatin1String("many"))
        *order = Particle::Many;
    else
        return false;
    return true;
}

bool SchemaReader::readParticles(const XmlNode &node, const Scope &scope, Particle *group)
{
    for (const auto &[child, inner] : schemaChildren(node, scope)) {
        const QString local = localOf(child.nodeName());
        if (local == QLatin1String("element")) {
            Particle p;
            p.type = attribute(child, inner, QString(), QStringLiteral("type"));
            if (p.type.isEmpty())
                return fail(child, QStringLiteral("element without a type"));
            if (!readOccurs(child, &p))
                return false;
            group->children.push_back(std::move(p));
        } else if (local == QLatin1String("group")) {
            Particle p;
            p.isGroup = true;
            const QString order = attribute(child, inner, QString(), QStringLiteral("order"));
            if (!order.isEmpty() && !readOrder(order, &p.order))
                return fail(child, QStringLiteral("unknown order '%1'").arg(order));
            if (!readOccurs(child, &p) || !readParticles(child, inner, &p))
                return false;
            group->children.push_back(std::move(p));
        }
    }
    return true;
}

bool SchemaReader::readElementType(const XmlNode &node, const Scope &scope,
                                   const QHash<QString, AttributeDecl> &globals, ElementDecl *decl)
{
    decl->name = attribute(node, scope, QString(), QStringLiteral("name"));
    if (decl->name.isEmpty())
        return fail(node, QStringLiteral("ElementType without a name"));
    if (!readDataType(node, scope, &decl->type, &decl->values))
        return false;

    const QString content = attribute(node, scope, QString(), QStringLiteral("content"));
    static const QHash<QString, ElementDecl::Content> kContents{{QStringLiteral("empty"), ElementDecl::Empty},
                                                                {QStringLiteral("textOnly"), ElementDecl::TextOnly},
                                                                {QStringLiteral("eltOnly"), ElementDecl::EltOnly},
                                                                {QStringLiteral("mixed"), ElementDecl::Mixed}};
    if (!content.isEmpty() && !kContents.contains(content))
        return fail(node, QStringLiteral("unknown content '%1'").arg(content));
    decl->content = content.isEmpty() ? ElementDecl::Mixed : kContents.value(content);

    const QString model = attribute(node, scope, QString(), QStringLiteral("model"));
    if (!model.isEmpty() && model != QLatin1String("open") && model != QLatin1String("closed"))
        return fail(node, QStringLiteral("unknown model '%1'").arg(model));
    decl->closed = model == QLatin1String("closed");

    decl->model.isGroup = true;
    const QString order = attribute(node, scope, QString(), QStringLiteral("order"));
    if (!order.isEmpty() && !readOrder(order, &decl->model.order))
        return fail(node, QStringLiteral("unknown order '%1'").arg(order));
    if (order.isEmpty())
        decl->model.order = decl->content == ElementDecl::Mixed ? Particle::Many : Particle::Seq;
    if (decl->content == ElementDecl::Mixed && decl->model.order != Particle::Many)
        return fail(node, QStringLiteral("mixed content needs order=\"many\""));
    if (!readParticles(node, scope, &decl->model))
        return false;

    // Local attribute types first: an attribute child may come before the
    // AttributeType it names.
    QHash<QString, AttributeDecl> locals;
    const auto children = schemaChildren(node, scope);
    for (const auto &[child, inner] : children) {
        const QString local = localOf(child.nodeName());
        if (local == QLatin1String("AttributeType")) {
            AttributeDecl a;
            if (!readAttributeType(child, inner, &a))
                return false;
            locals.insert(a.name, a);
        } else if (local == QLatin1String("datatype")) {
            if (!readDataType(child, inner, &decl->type, &decl->values))
                return false;
        }
    }
    if (!decl->type.isEmpty())
        decl->content = ElementDecl::TextOnly;

    for (const auto &[child, inner] : children) {
        if (localOf(child.nodeName()) != QLatin1String("attribute"))
            continue;
        const QString type = attribute(child, inner, QString(), QStringLiteral("type"));
        if (!locals.contains(type) && !globals.contains(type))
            return fail(child, QStringLiteral("AttributeType '%1' is not declared").arg(type));
        AttributeDecl a = locals.contains(type) ? locals.value(type) : globals.value(type);
        if (!readUse(child, inner, &a))
            return false;
        decl->attributes.insert(a.name, a);
    }
    return true;
}

bool SchemaReader::checkReferences(const Particle &p, const Schema &schema, const XmlNode &at)
{
    if (!p.isGroup && !schema.elements.contains(p.type))
        return fail(at, QStringLiteral("ElementType '%1' is not declared").arg(p.type));
    for (const Particle &c : p.children)
        if (!checkReferences(c, schema, at))
            return false;
    return true;
}

bool SchemaReader::read(const XmlDocument &doc, Schema *schema)
{
    const XmlNode root = doc.documentElement();
    const Scope scope = scopeOf(root, Scope());
    if (!root || localOf(root.nodeName()) != QLatin1String("Schema") ||
        scope.value(prefixOf(root.nodeName())) != kXdrNamespace)
        return fail(root, QStringLiteral("not an XDR schema: the root element is not Schema of %1").arg(kXdrNamespace));

    QHash<QString, AttributeDecl> globals;
    const auto children = schemaChildren(root, scope);
    for (const auto &[child, inner] : children) {
        if (localOf(child.nodeName()) == QLatin1String("AttributeType")) {
            AttributeDecl a;
            if (!readAttributeType(child, inner, &a))
                return false;
            globals.insert(a.name, a);
        }
    }
    std::vector<std::pair<XmlNode, QString>> declared;
    for (const auto &[child, inner] : children) {
        const QString local = localOf(child.nodeName());
        if (local == QLatin1String("ElementType")) {
            ElementDecl e;
            if (!readElementType(child, inner, globals, &e))
                return false;
            if (schema->elements.contains(e.name))
                return fail(child, QStringLiteral("ElementType '%1' is declared twice").arg(e.name));
            declared.emplace_back(child, e.name);
            schema->elements.insert(e.name, e);
        } else if (local != QLatin1String("AttributeType")) {
            return fail(child, QStringLiteral("unknown schema element '%1'").arg(local));
        }
    }
    for (const auto &[node, name] : declared) {
        if (!checkReferences(schema->elements.value(name).model, *schema, node))
            return false;
    }
    return true;
}

// ---- Content models ------------------------------------------------------

// Which prefixes of a run of child elements a model can match: the sets
// hold positions (the number of children consumed). Keeps the furthest
// position any partial match reached, which names the first child that
// does not fit.
class ContentMatcher
{
public:
    using Positions = std::set<int>;
    explicit ContentMatcher(const QStringList &names) : m_names(names) {}

    bool matches(const Particle &model)
    {
        return group(model, {0}).count(int(m_names.size())) > 0;
    }
    int furthest() const { return m_furthest; }
    // The element types the model could take at the furthest position.
    QString expected() const
    {
        QStringList names;
        if (m_expectedAt == m_furthest)
            names = QStringList(m_expected.begin(), m_expected.end());
        return names.isEmpty() ? QStringLiteral("no more elements") : names.join(QStringLiteral(", "));
    }

private:
    Positions occurrences(const Particle &p, const Positions &from)
    {
        Positions result = once(p, from);
        if (p.unbounded) {
            Positions frontier = result;
            while (!frontier.empty()) {
                Positions next;
                for (int pos : once(p, frontier))
                    if (result.insert(pos).second)
                        next.insert(pos);
                frontier.swap(next);
            }
        }
        if (p.optional)
            result.insert(from.begin(), from.end());
        return result;
    }
    Positions once(const Particle &p, const Positions &from)
    {
        if (p.isGroup)
            return group(p, from);
        Positions result;
        for (int pos : from) {
            if (pos > m_expectedAt) {
                m_expectedAt = pos;
                m_expected.clear();
            }
            if (pos == m_expectedAt)
                m_expected.insert(p.type);
            if (pos < m_names.size() && m_names[pos] == p.type) {
                result.insert(pos + 1);
                m_furthest = std::max(m_furthest, pos + 1);
            }
        }
        return result;
    }
    Positions group(const Particle &g, const Positions &from)
    {
        switch (g.order) {
        case Particle::Seq: {
            Positions at = from;
            for (const Particle &c : g.children)
                at = occurrences(c, at);
            return at;
        }
        case Particle::One: {
            Positions result;
            for (const Particle &c : g.children) {
                const Positions r = occurrences(c, from);
                result.insert(r.begin(), r.end());
            }
            return result;
        }
        case Particle::Many: {
            Positions result = from;
            Positions frontier = from;
            while (!frontier.empty()) {
                Positions next;
                for (const Particle &c : g.children)
                    for (int pos : occurrences(c, frontier))
                        if (result.insert(pos).second)
                            next.insert(pos);
                frontier.swap(next);
            }
            return result;
        }
        }
        return {};
    }

    const QStringList &m_names;
    int m_furthest = 0;
    int m_expectedAt = -1;
    std::set<QString> m_expected;
};

void allowedNames(const Particle &p, QSet<QString> *names)
{
    if (!p.isGroup)
        names->insert(p.type);
    for (const Particle &c : p.children)
        allowedNames(c, names);
}

// ---- The document --------------------------------------------------------

class InstanceChecker
{
public:
    InstanceChecker(const Schema &schema, const QString &schemaNamespace, ValidationResult *result)
        : m_schema(schema), m_namespace(schemaNamespace), m_result(result)
    {
    }

    void check(const XmlNode &root)
    {
        Scope scope = scopeOf(root, Scope());
        scope.insert(QString(), m_namespace);
        if (scope.value(prefixOf(root.nodeName())) != m_namespace)
            error(root, QStringLiteral("Element '%1': the root element is not of the schema.").arg(root.nodeName()));
        else
            element(root, scope);
        for (const auto &[id, node] : m_references)
            if (!m_ids.contains(id))
                error(node, QStringLiteral("No element has the ID '%1'.").arg(id));
    }

private:
    void error(const XmlNode &node, const QString &reason)
    {
        ++m_result->errorCount;
        if (m_result->errors.size() < ValidationResult::kMaxErrors)
            m_result->errors.append({reason, node});
    }

    // Checks a value of a type, keeping IDs and references for the end.
    bool value(const XmlNode &node, const QString &type, const QStringList &values, const QString &text)
    {
        if (!XdrValidator::isValidValue(type, text, values))
            return false;
        const QString v = text.trimmed();
        if (type == QLatin1String("id")) {
            if (m_ids.contains(v))
                error(node, QStringLiteral("The ID '%1' is not unique.").arg(v));
            m_ids.insert(v);
        } else if (type == QLatin1String("idref") || type == QLatin1String("idrefs")) {
            for (const QString &t : tokens(v))
                m_references.emplace_back(t, node);
        }
        return true;
    }

    void attributes(const XmlNode &e, const ElementDecl &decl, const Scope &scope)
    {
        const QString name = e.nodeName();
        QSet<QString> present;
        for (XmlNode a = e.firstAttribute(); a; a = a.nextSibling()) {
            const QString attributeName = a.nodeName();
            if (isDeclaration(attributeName))
                continue;
            const QString prefix = prefixOf(attributeName);
            if (!prefix.isEmpty()) {
                const QString ns = scope.value(prefix);
                if (decl.closed && prefix != QLatin1String("xml") && ns != kTypesNamespace)
                    error(a, QStringLiteral("Attribute '%1': not allowed on '%2', whose model is closed.").arg(attributeName, name));
                continue;
            }
            const auto found = decl.attributes.constFind(attributeName);
            if (found == decl.attributes.cend()) {
                error(a, QStringLiteral("Attribute '%1' is not declared for element '%2'.").arg(attributeName, name));
                continue;
            }
            present.insert(attributeName);
            if (!value(a, found->type, found->values, a.text()))
                error(a, QStringLiteral("Attribute '%1': '%2' is not a value of the type '%3'.")
                             .arg(attributeName, a.text(), typeName(*found)));
        }
        for (const AttributeDecl &d : decl.attributes)
            if (d.required && !present.contains(d.name))
                error(e, QStringLiteral("Element '%1': the required attribute '%2' is missing.").arg(name, d.name));
    }

    static QString typeName(const AttributeDecl &d)
    {
        if (d.type == QLatin1String("enumeration"))
            return QStringLiteral("enumeration (%1)").arg(d.values.join(QLatin1Char(' ')));
        return d.type.isEmpty() ? QStringLiteral("string") : d.type;
    }

    void element(const XmlNode &e, const Scope &scope)
    {
        const QString name = e.nodeName();
        const auto found = m_schema.elements.constFind(localOf(name));
        if (found == m_schema.elements.cend()) {
            error(e, QStringLiteral("Element '%1' is not declared in the schema.").arg(name));
            return;
        }
        const ElementDecl &decl = *found;
        attributes(e, decl, scope);

        QStringList names;
        std::vector<std::pair<XmlNode, Scope>> ours;
        bool hasText = false;
        for (XmlNode c = e.firstChild(); c; c = c.nextSibling()) {
            switch (c.kind()) {
            case NodeKind::Text:
            case NodeKind::CData:
            case NodeKind::EntityReference:
                hasText = hasText || !c.text().trimmed().isEmpty() || c.kind() == NodeKind::EntityReference;
                break;
            case NodeKind::Element: {
                Scope inner = scopeOf(c, scope);
                if (inner.value(prefixOf(c.nodeName())) == m_namespace) {
                    names.append(localOf(c.nodeName()));
                    ours.emplace_back(c, std::move(inner));
                } else if (decl.closed) {
                    error(c, QStringLiteral("Element '%1': not allowed in '%2', whose model is closed.").arg(c.nodeName(), name));
                }
                break;
            }
            default:
                break;
            }
        }

        switch (decl.content) {
        case ElementDecl::Empty:
            if (hasText)
                error(e, QStringLiteral("Element '%1' must be empty, but has text.").arg(name));
            for (const auto &c : ours)
                error(c.first, QStringLiteral("Element '%1' is not expected: '%2' must be empty.").arg(c.first.nodeName(), name));
            break;
        case ElementDecl::TextOnly:
            for (const auto &c : ours)
                error(c.first, QStringLiteral("Element '%1' is not expected: '%2' holds text only.").arg(c.first.nodeName(), name));
            if (!decl.type.isEmpty() && !value(e, decl.type, decl.values, e.text()))
                error(e, QStringLiteral("Element '%1': '%2' is not a value of the type '%3'.")
                             .arg(name, e.text(), decl.type));
            break;
        case ElementDecl::EltOnly: {
            if (hasText)
                error(e, QStringLiteral("Element '%1' holds elements only, but has text.").arg(name));
            ContentMatcher matcher(names);
            if (!matcher.matches(decl.model)) {
                if (matcher.furthest() < names.size()) {
                    const XmlNode at = ours[size_t(matcher.furthest())].first;
                    error(at, QStringLiteral("Element '%1' is not expected here in '%2'. Expected: %3.")
                                  .arg(at.nodeName(), name, matcher.expected()));
                } else {
                    error(e, QStringLiteral("Element '%1': its content is incomplete. Expected: %2.").arg(name, matcher.expected()));
                }
            }
            break;
        }
        case ElementDecl::Mixed: {
            QSet<QString> allowed;
            allowedNames(decl.model, &allowed);
            for (const auto &c : ours)
                if (!allowed.contains(localOf(c.first.nodeName())))
                    error(c.first, QStringLiteral("Element '%1' is not expected here in '%2'.").arg(c.first.nodeName(), name));
            break;
        }
        }
        for (const auto &[child, inner] : ours)
            element(child, inner);
    }

    const Schema &m_schema;
    QString m_namespace;
    ValidationResult *m_result;
    QSet<QString> m_ids;
    std::vector<std::pair<QString, XmlNode>> m_references;
};

} // namespace

ValidationResult XdrValidator::validate(const XmlDocument &document, const QString &schemaPath)
{
    ValidationResult result;
    XmlDocument schemaDocument;
    if (!schemaDocument.load(schemaPath)) {
        const XmlParseError &e = schemaDocument.parseError();
        result.schemaError = e.line > 0 ? QStringLiteral("line %1: %2").arg(e.line).arg(e.reason) : e.reason;
        return result;
    }
    Schema schema;
    SchemaReader reader;
    if (!reader.read(schemaDocument, &schema)) {
        result.schemaError = reader.error();
        return result;
    }
    const XmlNode root = document.documentElement();
    if (!root) {
        result.errors.append({QStringLiteral("The document has no root element."), XmlNode()});
        result.errorCount = 1;
        return result;
    }
    InstanceChecker(schema, QStringLiteral("x-schema:") + QFileInfo(schemaPath).fileName(), &result).check(root);
    return result;
}
