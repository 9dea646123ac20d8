#include "RelaxNgPatterns.h"

// Reading a grammar's XML syntax into patterns: its defines combined, its
// includes (their overrides left out) and external references read through
// libxml2's entity loader, names qualified as the grammar's namespaces say.

#include "ValidationCopy.h"
#include "xml/LibXmlSupport.h"

#include <libxml/parser.h>
#include <libxml/uri.h>

#include <algorithm>
#include <deque>
#include <set>

namespace {

const xmlChar *const kRngNs = reinterpret_cast<const xmlChar *>("http://relaxng.org/ns/structure/1.0");
const QByteArray kStart("\x01start");
// Deeper nesting of a grammar's files or patterns is no grammar a person
// wrote, and would only run the reader out of stack.
constexpr int kMaxDepth = 200;
QByteArray attr(xmlNodePtr n, const char *name)
{
    xmlChar *v = xmlGetNoNsProp(n, reinterpret_cast<const xmlChar *>(name));
    const QByteArray out = v ? QByteArray(reinterpret_cast<const char *>(v)).trimmed() : QByteArray();
    xmlFree(v);
    return out;
}

bool hasAttr(xmlNodePtr n, const char *name)
{
    return xmlHasNsProp(n, reinterpret_cast<const xmlChar *>(name), nullptr) != nullptr;
}

bool isRng(xmlNodePtr n)
{
    return n && n->type == XML_ELEMENT_NODE && n->ns && xmlStrEqual(n->ns->href, kRngNs);
}

bool is(xmlNodePtr n, const char *local)
{
    return xmlStrEqual(n->name, reinterpret_cast<const xmlChar *>(local));
}

std::vector<xmlNodePtr> rngChildren(xmlNodePtr n)
{
    std::vector<xmlNodePtr> out;
    for (xmlNodePtr c = n->children; c; c = c->next) {
        if (isRng(c))
            out.push_back(c);
    }
    return out;
}

} // namespace

class RngReader
{
public:
    explicit RngReader(RelaxNgPatterns &g) : g(g) {}

    using P = RelaxNgPatterns;
    struct Scope
    {
        std::map<QByteArray, int> defines;
        std::map<int, QByteArray> combine;
        Scope *parent = nullptr;
    };

    P &g;
    bool ok = true;
    std::deque<Scope> scopes;
    std::vector<validation::DocCopy> docs;
    std::vector<QByteArray> open; // files being read, innermost last (load() adds)

    xmlNodePtr load(xmlNodePtr at, const QByteArray &href)
    {
        xmlChar *base = at ? xmlNodeGetBase(at->doc, at) : nullptr;
        xmlChar *uri = xmlBuildURI(reinterpret_cast<const xmlChar *>(href.constData()), base);
        xmlFree(base);
        const QByteArray name = uri ? QByteArray(reinterpret_cast<const char *>(uri)) : href;
        xmlFree(uri);
        // A part that includes itself, directly or not, is no grammar.
        if (open.size() > 32 || std::find(open.begin(), open.end(), name) != open.end())
            return fail();
        xmlDocPtr doc = xmlReadFile(name.constData(), nullptr, XML_PARSE_NONET);
        if (!doc)
            return fail();
        docs.emplace_back(doc);
        xmlNodePtr root = xmlDocGetRootElement(doc);
        if (!isRng(root))
            return fail();
        open.push_back(name);
        return root;
    }
    std::nullptr_t fail()
    {
        ok = false;
        return nullptr;
    }

    int defineIndex(Scope &s, const QByteArray &name)
    {
        const auto found = s.defines.find(name);
        if (found != s.defines.end())
            return found->second;
        g.m_defines.push_back(-1);
        return s.defines[name] = int(g.m_defines.size()) - 1;
    }

    void define(Scope &s, const QByteArray &name, int pattern, const QByteArray &combine)
    {
        const int i = defineIndex(s, name);
        QByteArray &method = s.combine[i];
        if (!combine.isEmpty())
            method = combine;
        int &slot = g.m_defines[i];
        slot = slot < 0 ? pattern : method == "interleave" ? g.interleave(slot, pattern) : g.choice(slot, pattern);
    }

    static QByteArray nsOf(xmlNodePtr n, const QByteArray &inherited)
    {
        return hasAttr(n, "ns") ? attr(n, "ns") : inherited;
    }

    // Names a define or start of a grammar's content overrides.
    static void overridden(xmlNodePtr n, std::set<QByteArray> *names)
    {
        for (xmlNodePtr c : rngChildren(n)) {
            if (is(c, "start"))
                names->insert(kStart);
            else if (is(c, "define"))
                names->insert(attr(c, "name"));
            else if (is(c, "div"))
                overridden(c, names);
        }
    }

    void grammarContent(xmlNodePtr n, Scope &s, const QByteArray &ns, const std::set<QByteArray> &skip, int depth)
    {
        if (depth > kMaxDepth)
            return (void)fail();
        for (xmlNodePtr c : rngChildren(n)) {
            if (!ok)
                return;
            const QByteArray inner = nsOf(c, ns);
            if (is(c, "start") || is(c, "define")) {
                const QByteArray name = is(c, "start") ? kStart : attr(c, "name");
                if (!skip.count(name))
                    define(s, name, groupOf(c, s, inner, depth + 1), attr(c, "combine"));
            } else if (is(c, "div")) {
                grammarContent(c, s, inner, skip, depth + 1);
            } else if (is(c, "include")) {
                std::set<QByteArray> more = skip;
                overridden(c, &more);
                const QByteArray href = attr(c, "href");
                xmlNodePtr root = load(c, href);
                if (!root || !is(root, "grammar"))
                    return (void)fail();
                grammarContent(root, s, nsOf(root, inner), more, depth + 1);
                open.pop_back();
                grammarContent(c, s, inner, skip, depth + 1);
            }
        }
    }

    int groupOf(xmlNodePtr n, Scope &s, const QByteArray &ns, int depth, bool skipNameClass = false)
    {
        int out = 1;
        bool first = true;
        for (xmlNodePtr c : rngChildren(n)) {
            if (first && skipNameClass) {
                first = false;
                continue;
            }
            out = g.group(out, pattern(c, s, ns, depth + 1));
        }
        return out;
    }

    int fold(xmlNodePtr n, Scope &s, const QByteArray &ns, int depth, bool interleave)
    {
        int out = -1;
        for (xmlNodePtr c : rngChildren(n)) {
            const int p = pattern(c, s, ns, depth + 1);
            out = out < 0 ? p : interleave ? g.interleave(out, p) : g.choice(out, p);
        }
        return out < 0 ? 0 : out;
    }

    int nameClass(xmlNodePtr n, const QByteArray &ns, bool element, int depth)
    {
        if (!n || depth > kMaxDepth)
            return fail(), 0;
        P::NameClass c;
        const QByteArray inner = nsOf(n, ns);
        if (is(n, "name")) {
            xmlChar *text = xmlNodeGetContent(n);
            c.local = QByteArray(reinterpret_cast<const char *>(text)).trimmed();
            xmlFree(text);
            if (!qualify(n, &c, inner))
                return 0;
            (element ? g.m_elementNames : g.m_attributeNames).emplace_back(c.ns, c.local);
        } else if (is(n, "anyName") || is(n, "nsName")) {
            c.k = is(n, "anyName") ? P::NameClass::Any : P::NameClass::NsName;
            c.ns = inner;
            const std::vector<xmlNodePtr> except = rngChildren(n);
            if (!except.empty() && is(except.front(), "except"))
                c.a = anyOf(except.front(), inner, element, depth + 1);
        } else if (is(n, "choice")) {
            const int out = anyOf(n, inner, element, depth + 1);
            return out < 0 ? (fail(), 0) : out;
        } else {
            return fail(), 0;
        }
        g.m_classes.push_back(c);
        return int(g.m_classes.size()) - 1;
    }

    // The name classes a choice or an except holds, as one; -1 for none.
    int anyOf(xmlNodePtr n, const QByteArray &ns, bool element, int depth)
    {
        int out = -1;
        for (xmlNodePtr k : rngChildren(n)) {
            const int one = nameClass(k, ns, element, depth + 1);
            if (out < 0) {
                out = one;
                continue;
            }
            P::NameClass both;
            both.k = P::NameClass::Choice;
            both.a = out;
            both.b = one;
            g.m_classes.push_back(both);
            out = int(g.m_classes.size()) - 1;
        }
        return out;
    }

    bool qualify(xmlNodePtr at, P::NameClass *c, const QByteArray &ns)
    {
        const qsizetype colon = c->local.indexOf(':');
        if (colon < 0) {
            c->ns = ns;
            return true;
        }
        xmlNsPtr bound = xmlSearchNs(at->doc, at, reinterpret_cast<const xmlChar *>(c->local.left(colon).constData()));
        if (!bound)
            return fail(), false;
        c->ns = reinterpret_cast<const char *>(bound->href);
        c->local = c->local.mid(colon + 1);
        return true;
    }

    int namedBy(xmlNodePtr n, const QByteArray &ns, bool element)
    {
        P::NameClass c;
        c.local = attr(n, "name");
        if (!qualify(n, &c, ns))
            return 0;
        (element ? g.m_elementNames : g.m_attributeNames).emplace_back(c.ns, c.local);
        g.m_classes.push_back(c);
        return int(g.m_classes.size()) - 1;
    }

    // An attribute's content when it is one value or a choice of values:
    // their list's index; -1 for any other.
    int valuesOf(const std::vector<xmlNodePtr> &content)
    {
        if (content.size() != 1)
            return -1;
        const std::vector<xmlNodePtr> values = is(content.front(), "choice") ? rngChildren(content.front()) : content;
        QStringList list;
        for (xmlNodePtr v : values) {
            if (!is(v, "value"))
                return -1;
            xmlChar *text = xmlNodeGetContent(v);
            list << QString::fromUtf8(reinterpret_cast<const char *>(text));
            xmlFree(text);
        }
        g.m_values.push_back(list);
        return int(g.m_values.size()) - 1;
    }

    int pattern(xmlNodePtr n, Scope &s, const QByteArray &inherited, int depth)
    {
        if (!ok || depth > kMaxDepth)
            return fail(), 0;
        const QByteArray ns = nsOf(n, inherited);
        if (is(n, "element") || is(n, "attribute")) {
            const bool element = is(n, "element");
            const bool named = hasAttr(n, "name");
            // An attribute named by its name attribute is in no namespace
            // unless its own ns says otherwise.
            const QByteArray nameNs = element || !named ? ns : attr(n, "ns");
            const std::vector<xmlNodePtr> kids = rngChildren(n);
            const int nc = named ? namedBy(n, nameNs, element) : nameClass(kids.empty() ? nullptr : kids.front(), ns, element, depth + 1);
            if (!element)
                return g.make(P::K::Attribute, 2, valuesOf(named ? kids : std::vector<xmlNodePtr>(kids.begin() + !kids.empty(), kids.end())), nc);
            const int p = g.make(P::K::Element, groupOf(n, s, ns, depth, !named), -1, nc);
            g.m_elements.push_back(p);
            return p;
        }
        if (is(n, "group"))
            return groupOf(n, s, ns, depth);
        if (is(n, "choice") || is(n, "interleave"))
            return fold(n, s, ns, depth, is(n, "interleave"));
        if (is(n, "optional"))
            return g.choice(groupOf(n, s, ns, depth), 1);
        if (is(n, "zeroOrMore"))
            return g.choice(g.oneOrMore(groupOf(n, s, ns, depth)), 1);
        if (is(n, "oneOrMore"))
            return g.oneOrMore(groupOf(n, s, ns, depth));
        if (is(n, "mixed"))
            return g.interleave(groupOf(n, s, ns, depth), 2);
        if (is(n, "empty"))
            return 1;
        if (is(n, "text") || is(n, "data") || is(n, "value") || is(n, "list"))
            return 2;
        if (is(n, "notAllowed"))
            return 0;
        if (is(n, "ref"))
            return g.make(P::K::Ref, defineIndex(s, attr(n, "name")));
        if (is(n, "parentRef"))
            return s.parent ? g.make(P::K::Ref, defineIndex(*s.parent, attr(n, "name"))) : (fail(), 0);
        if (is(n, "grammar")) {
            Scope &inner = scopes.emplace_back();
            inner.parent = &s;
            grammarContent(n, inner, ns, {}, depth + 1);
            return g.make(P::K::Ref, defineIndex(inner, kStart));
        }
        if (is(n, "externalRef")) {
            const QByteArray href = attr(n, "href");
            xmlNodePtr root = load(n, href);
            if (!root)
                return 0;
            Scope &own = scopes.emplace_back();
            const int p = pattern(root, own, ns, depth + 1);
            open.pop_back();
            return p;
        }
        return fail(), 0;
    }
};

std::unique_ptr<RelaxNgPatterns> RelaxNgPatterns::read(const QString &path)
{
    auto g = std::unique_ptr<RelaxNgPatterns>(new RelaxNgPatterns);
    g->make(K::NotAllowed);
    g->make(K::Empty);
    g->make(K::Text);
    RngReader reader(*g);
    xmlNodePtr root = reader.load(nullptr, libxml::fileUri(path));
    if (!root)
        return nullptr;
    RngReader::Scope &top = reader.scopes.emplace_back();
    g->m_start = reader.pattern(root, top, reader.nsOf(root, QByteArray()), 0);
    if (!reader.ok)
        return nullptr;
    for (auto *names : {&g->m_elementNames, &g->m_attributeNames}) {
        std::sort(names->begin(), names->end(), [](const auto &x, const auto &y) { return x.second != y.second ? x.second < y.second : x.first < y.first; });
        names->erase(std::unique(names->begin(), names->end()), names->end());
    }
    g->m_grammarSize = g->m_patterns.size();
    g->m_derived.reserve(1 << 16);
    return g;
}
