#include "XdrValidator.h"

#include "XmlDocument.h"

#include <QDate>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <limits>
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

// ---- Data types ----------------------------------------------------------

bool isNameStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool isNameChar(QChar c)
{
    return isNameStart(c) || c.isDigit() || c == QLatin1Char('.') || c == QLatin1Char('-') || c.isMark() ||
           c.category() == QChar::Number_Letter;
}

bool isNCName(const QString &s)
{
    if (s.isEmpty() || !isNameStart(s.front()))
        return false;
    return std::all_of(s.begin(), s.end(), isNameChar);
}

bool isNmtoken(const QString &s)
{
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) { return isNameChar(c) || c == QLatin1Char(':'); });
}

QStringList tokens(const QString &s)
{
    return s.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

bool matches(const QString &pattern, const QString &s, QRegularExpressionMatch *match = nullptr)
{
    const QRegularExpression re(QLatin1Char('^') + pattern + QLatin1Char('$'));
    const QRegularExpressionMatch m = re.match(s);
    if (match)
        *match = m;
    return m.hasMatch();
}

bool inRange(const QString &s, qlonglong low, qlonglong high)
{
    if (!matches(QStringLiteral("[+-]?\\d+"), s))
        return false;
    bool ok = false;
    const qlonglong v = s.toLongLong(&ok);
    return ok && v >= low && v <= high;
}

bool unsignedInRange(const QString &s, qulonglong high)
{
    if (!matches(QStringLiteral("\\+?\\d+"), s))
        return false;
    bool ok = false;
    const qulonglong v = QString(s).remove(QLatin1Char('+')).toULongLong(&ok);
    return ok && v <= high;
}

const QString kTimePattern = QStringLiteral("(\\d{2}):(\\d{2})(?::(\\d{2})(?:\\.\\d{1,9})?)?");
const QString kZonePattern = QStringLiteral("(?:Z|[+-](?:0\\d|1[0-4]):[0-5]\\d)?");

bool validTime(const QRegularExpressionMatch &m, int first)
{
    const int second = m.captured(first + 2).isEmpty() ? 0 : m.captured(first + 2).toInt();
    return QTime::isValid(m.captured(first).toInt(), m.captured(first + 1).toInt(), second);
}

bool validDate(const QRegularExpressionMatch &m)
{
    return QDate::isValid(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
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

const QStringList &XdrValidator::dataTypes()
{
    static const QStringList types{
        QStringLiteral("string"),      QStringLiteral("number"),   QStringLiteral("int"),         QStringLiteral("float"),
        QStringLiteral("fixed.14.4"),  QStringLiteral("boolean"),  QStringLiteral("date"),        QStringLiteral("dateTime"),
        QStringLiteral("dateTime.tz"), QStringLiteral("time"),     QStringLiteral("time.tz"),     QStringLiteral("i1"),
        QStringLiteral("i2"),          QStringLiteral("i4"),       QStringLiteral("i8"),          QStringLiteral("ui1"),
        QStringLiteral("ui2"),         QStringLiteral("ui4"),      QStringLiteral("ui8"),         QStringLiteral("r4"),
        QStringLiteral("r8"),          QStringLiteral("uuid"),     QStringLiteral("uri"),         QStringLiteral("bin.hex"),
        QStringLiteral("bin.base64"),  QStringLiteral("char"),     QStringLiteral("id"),          QStringLiteral("idref"),
        QStringLiteral("idrefs"),      QStringLiteral("entity"),   QStringLiteral("entities"),    QStringLiteral("nmtoken"),
        QStringLiteral("nmtokens"),    QStringLiteral("notation"), QStringLiteral("enumeration"),
    };
    return types;
}

bool XdrValidator::isValidValue(const QString &type, const QString &text, const QStringList &values)
{
    if (type.isEmpty() || type == QLatin1String("string") || type == QLatin1String("uri"))
        return true;
    const QString v = text.trimmed();
    static const QHash<QString, std::pair<qlonglong, qlonglong>> kSigned{
        {QStringLiteral("i1"), {-128, 127}},
        {QStringLiteral("i2"), {-32768, 32767}},
        {QStringLiteral("i4"), {-2147483648LL, 2147483647LL}},
        {QStringLiteral("i8"), {std::numeric_limits<qlonglong>::min(), std::numeric_limits<qlonglong>::max()}}};
    static const QHash<QString, qulonglong> kUnsigned{{QStringLiteral("ui1"), 255},
                                                      {QStringLiteral("ui2"), 65535},
                                                      {QStringLiteral("ui4"), 4294967295ULL},
                                                      {QStringLiteral("ui8"), std::numeric_limits<qulonglong>::max()}};
    if (kSigned.contains(type))
        return inRange(v, kSigned.value(type).first, kSigned.value(type).second);
    if (kUnsigned.contains(type))
        return unsignedInRange(v, kUnsigned.value(type));
    if (type == QLatin1String("int"))
        return matches(QStringLiteral("[+-]?\\d+"), v);
    if (type == QLatin1String("number") || type == QLatin1String("float") || type == QLatin1String("r4") ||
        type == QLatin1String("r8"))
        return matches(QStringLiteral("[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?"), v);
    if (type == QLatin1String("fixed.14.4"))
        return matches(QStringLiteral("[+-]?\\d{1,14}(\\.\\d{0,4})?"), v);
    if (type == QLatin1String("boolean"))
        return v == QLatin1String("0") || v == QLatin1String("1");
    if (type == QLatin1String("char"))
        return v.size() == 1 || (v.size() == 2 && v[0].isHighSurrogate() && v[1].isLowSurrogate());
    if (type == QLatin1String("uuid"))
        return matches(QStringLiteral("[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}"), v);
    if (type == QLatin1String("bin.hex"))
        return matches(QStringLiteral("([0-9A-Fa-f]{2})*"), v);
    if (type == QLatin1String("bin.base64")) {
        const QByteArray bytes = QString(v).remove(QRegularExpression(QStringLiteral("\\s"))).toLatin1();
        return QByteArray::fromBase64Encoding(bytes, QByteArray::AbortOnBase64DecodingErrors).decodingStatus ==
               QByteArray::Base64DecodingStatus::Ok;
    }
    QRegularExpressionMatch m;
    const QString date = QStringLiteral("(\\d{4})-(\\d{2})-(\\d{2})");
    if (type == QLatin1String("date"))
        return matches(date, v, &m) && validDate(m);
    if (type == QLatin1String("dateTime") || type == QLatin1String("dateTime.tz")) {
        const QString zone = type == QLatin1String("dateTime.tz") ? kZonePattern : QString();
        return matches(date + QStringLiteral("(?:T") + kTimePattern + zone + QStringLiteral(")?"), v, &m) &&
               validDate(m) && (m.captured(4).isEmpty() || validTime(m, 4));
    }
    if (type == QLatin1String("time") || type == QLatin1String("time.tz")) {
        const QString zone = type == QLatin1String("time.tz") ? kZonePattern : QString();
        return matches(kTimePattern + zone, v, &m) && validTime(m, 1);
    }
    if (type == QLatin1String("id") || type == QLatin1String("idref") || type == QLatin1String("entity") ||
        type == QLatin1String("notation"))
        return isNCName(v);
    if (type == QLatin1String("nmtoken"))
        return isNmtoken(v);
    if (type == QLatin1String("idrefs") || type == QLatin1String("entities")) {
        const QStringList list = tokens(v);
        return !list.isEmpty() && std::all_of(list.begin(), list.end(), isNCName);
    }
    if (type == QLatin1String("nmtokens")) {
        const QStringList list = tokens(v);
        return !list.isEmpty() && std::all_of(list.begin(), list.end(), isNmtoken);
    }
    if (type == QLatin1String("enumeration"))
        return values.contains(v);
    return false;
}

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
