#include "RelaxNgPatterns.h"

#include "ValidationCopy.h"
#include "xml/LibXmlSupport.h"

#include <libxml/parser.h>
#include <libxml/uri.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <set>
#include <unordered_set>

namespace {

const xmlChar *const kRngNs = reinterpret_cast<const xmlChar *>("http://relaxng.org/ns/structure/1.0");
const QByteArray kStart("\x01start");
// Deeper nesting of a grammar's files or patterns is no grammar a person
// wrote, and would only run the reader out of stack.
constexpr int kMaxDepth = 200;
// A query's derivatives beyond this many patterns are dropped before the
// next one; the keys below hold operands in 20 bits.
constexpr std::size_t kMaxPatterns = 900'000;

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
    return g;
}

int RelaxNgPatterns::make(K k, int a, int b, int nc)
{
    const auto key = (static_cast<unsigned long long>(k) << 60) | (static_cast<unsigned long long>(a + 1) << 40)
                   | (static_cast<unsigned long long>(b + 1) << 20) | static_cast<unsigned long long>(nc + 1);
    const auto found = m_made.find(key);
    if (found != m_made.end())
        return found->second;
    if (m_patterns.size() >= kMaxPatterns) {
        m_overflow = true;
        return 0;
    }
    m_patterns.push_back({k, a, b, nc});
    return m_made[key] = int(m_patterns.size()) - 1;
}

int RelaxNgPatterns::choice(int a, int b)
{
    if (a == 0 || a == b)
        return b;
    if (b == 0)
        return a;
    if (a > b)
        std::swap(a, b);
    const Pattern &pa = m_patterns[a], &pb = m_patterns[b];
    if (pb.k == K::Choice && (pb.a == a || pb.b == a))
        return b;
    if (pa.k == K::Choice && (pa.a == b || pa.b == b))
        return a;
    return make(K::Choice, a, b);
}

int RelaxNgPatterns::group(int a, int b)
{
    if (a == 0 || b == 0)
        return 0;
    return a == 1 ? b : b == 1 ? a : make(K::Group, a, b);
}

int RelaxNgPatterns::interleave(int a, int b)
{
    if (a == 0 || b == 0)
        return 0;
    if (a > b)
        std::swap(a, b);
    return a == 1 ? b : b == 1 ? a : make(K::Interleave, a, b);
}

int RelaxNgPatterns::oneOrMore(int p)
{
    return p <= 1 ? p : make(K::OneOrMore, p);
}

int RelaxNgPatterns::deref(int p) const
{
    for (int hops = 0; p >= 0 && m_patterns[p].k == K::Ref && hops < 1000; ++hops)
        p = m_defines[m_patterns[p].a];
    return p < 0 || m_patterns[p].k == K::Ref ? 0 : p;
}

bool RelaxNgPatterns::contains(int nc, const QByteArray &ns, const QByteArray &local) const
{
    if (nc < 0)
        return false;
    const NameClass &c = m_classes[nc];
    switch (c.k) {
    case NameClass::Named:
        return c.local == local && c.ns == ns;
    case NameClass::Any:
        return !contains(c.a, ns, local);
    case NameClass::NsName:
        return c.ns == ns && !contains(c.a, ns, local);
    case NameClass::Choice:
        return contains(c.a, ns, local) || contains(c.b, ns, local);
    }
    return false;
}

bool RelaxNgPatterns::namesIn(int nc, std::set<std::pair<QByteArray, QByteArray>> *names) const
{
    if (nc < 0)
        return true;
    const NameClass &c = m_classes[nc];
    if (c.k == NameClass::Named)
        names->emplace(c.ns, c.local);
    return c.k == NameClass::Named || (c.k == NameClass::Choice && namesIn(c.a, names) && namesIn(c.b, names));
}

int RelaxNgPatterns::nameId(const QByteArray &ns, const QByteArray &local)
{
    const auto [at, added] = m_names.emplace(std::make_pair(ns, local), int(m_nameList.size()));
    if (added)
        m_nameList.emplace_back(ns, local);
    return at->second;
}

bool RelaxNgPatterns::nullable(int p)
{
    p = deref(p);
    const auto found = m_nullable.find(p);
    if (found != m_nullable.end())
        return found->second;
    const Pattern x = m_patterns[p];
    bool out = false;
    switch (x.k) {
    case K::Empty:
    case K::Text:
        out = true;
        break;
    case K::Choice:
        out = nullable(x.a) || nullable(x.b);
        break;
    case K::Group:
    case K::Interleave:
        out = nullable(x.a) && nullable(x.b);
        break;
    case K::OneOrMore:
        out = nullable(x.a);
        break;
    default:
        break;
    }
    return m_nullable[p] = out;
}

// Clark's derivative, by an element child (its content not looked into)
// or by an attribute (which comes in any order, so a group's members are
// tried each way).
int RelaxNgPatterns::derive(int p, int name, bool attribute)
{
    p = deref(p);
    if (attribute && !hasAttributes(p))
        return 0;
    // Leaves, most of what a large choice holds, are answered without the
    // table of derivatives.
    const Pattern &leaf = m_patterns[p];
    if (leaf.k == K::Element || leaf.k == K::Attribute) {
        const auto &[ns, local] = m_nameList[name];
        return (leaf.k == K::Attribute) == attribute && contains(leaf.nc, ns, local) ? 1 : 0;
    }
    if (leaf.k == K::NotAllowed || leaf.k == K::Empty || leaf.k == K::Text)
        return 0;
    const auto key = (static_cast<unsigned long long>(attribute) << 63) | (static_cast<unsigned long long>(p) << 32) | unsigned(name);
    const auto found = m_derived.find(key);
    if (found != m_derived.end())
        return found->second;
    const Pattern x = m_patterns[p];
    int out = 0;
    switch (x.k) {
    case K::Choice:
        out = choice(derive(x.a, name, attribute), derive(x.b, name, attribute));
        break;
    case K::Group:
        out = group(derive(x.a, name, attribute), x.b);
        if (attribute)
            out = choice(out, group(x.a, derive(x.b, name, attribute)));
        else if (nullable(x.a))
            out = choice(out, derive(x.b, name, attribute));
        break;
    case K::Interleave:
        out = choice(interleave(derive(x.a, name, attribute), x.b), interleave(x.a, derive(x.b, name, attribute)));
        break;
    case K::OneOrMore:
        out = group(derive(x.a, name, attribute), choice(p, 1));
        break;
    default:
        break;
    }
    m_derived[key] = out;
    return out;
}

// Whether an attribute pattern is reachable from `p` without entering an
// element: where none is, attributes have nothing to change, and a large
// grammar's content models are passed over whole.
bool RelaxNgPatterns::hasAttributes(int p)
{
    p = deref(p);
    if (std::size_t(p) >= m_hasAttributes.size())
        m_hasAttributes.resize(m_patterns.size() + 1, -1);
    if (m_hasAttributes[p] >= 0)
        return m_hasAttributes[p];
    const Pattern x = m_patterns[p];
    bool out = x.k == K::Attribute;
    if (x.k == K::Choice || x.k == K::Group || x.k == K::Interleave)
        out = hasAttributes(x.a) || hasAttributes(x.b);
    else if (x.k == K::OneOrMore)
        out = hasAttributes(x.a);
    m_hasAttributes[p] = out;
    return out;
}

int RelaxNgPatterns::withoutAttributes(int p)
{
    p = deref(p);
    if (!hasAttributes(p))
        return p;
    const auto found = m_stripped.find(p);
    if (found != m_stripped.end())
        return found->second;
    const Pattern x = m_patterns[p];
    int out = p;
    switch (x.k) {
    case K::Choice:
        out = choice(withoutAttributes(x.a), withoutAttributes(x.b));
        break;
    case K::Group:
        out = group(withoutAttributes(x.a), withoutAttributes(x.b));
        break;
    case K::Interleave:
        out = interleave(withoutAttributes(x.a), withoutAttributes(x.b));
        break;
    case K::OneOrMore:
        out = oneOrMore(withoutAttributes(x.a));
        break;
    case K::Attribute:
        out = 1;
        break;
    default:
        break;
    }
    return m_stripped[p] = out;
}

bool RelaxNgPatterns::satisfiableWithout(int p, int name)
{
    p = deref(p);
    if (!hasAttributes(p))
        return p != 0;
    const auto key = (1ULL << 62) | (static_cast<unsigned long long>(p) << 32) | unsigned(name);
    const auto found = m_derived.find(key);
    if (found != m_derived.end())
        return found->second;
    const Pattern x = m_patterns[p];
    bool out = true;
    switch (x.k) {
    case K::NotAllowed:
        out = false;
        break;
    case K::Choice:
        out = satisfiableWithout(x.a, name) || satisfiableWithout(x.b, name);
        break;
    case K::Group:
    case K::Interleave:
        out = satisfiableWithout(x.a, name) && satisfiableWithout(x.b, name);
        break;
    case K::OneOrMore:
        out = satisfiableWithout(x.a, name);
        break;
    case K::Attribute: {
        const auto &[ns, local] = m_nameList[name];
        out = !contains(x.nc, ns, local);
        break;
    }
    default:
        break;
    }
    m_derived[key] = out;
    return out;
}

void RelaxNgPatterns::firstElements(int p, std::vector<int> *out, std::vector<char> *seen)
{
    p = deref(p);
    if (std::size_t(p) >= seen->size())
        seen->resize(m_patterns.size() + 1, 0);
    if ((*seen)[p])
        return;
    (*seen)[p] = 1;
    const Pattern x = m_patterns[p];
    switch (x.k) {
    case K::Choice:
    case K::Interleave:
        firstElements(x.a, out, seen);
        firstElements(x.b, out, seen);
        break;
    case K::Group:
        firstElements(x.a, out, seen);
        if (nullable(x.a))
            firstElements(x.b, out, seen);
        break;
    case K::OneOrMore:
        firstElements(x.a, out, seen);
        break;
    case K::Element:
        out->push_back(p);
        break;
    default:
        break;
    }
}

namespace {

std::pair<QByteArray, QByteArray> qname(xmlNodePtr n)
{
    return {n->ns && n->ns->href ? QByteArray(reinterpret_cast<const char *>(n->ns->href)) : QByteArray(),
            QByteArray(reinterpret_cast<const char *>(n->name))};
}

bool isElement(xmlNodePtr n)
{
    return n && n->type == XML_ELEMENT_NODE;
}

} // namespace

// The content `element` may have where it stands, with its attributes
// taken (`skipped` left out). Where the document already strays from the
// grammar above it, the fault is passed over: the element is taken as any
// of the grammar's elements of its name, a sibling or attribute that fits
// nowhere as absent.
int RelaxNgPatterns::contentOf(xmlNodePtr element, xmlAttrPtr skipped)
{
    std::vector<xmlNodePtr> chain;
    for (xmlNodePtr n = element; isElement(n); n = n->parent)
        chain.push_back(n);
    int state = m_start;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        xmlNodePtr c = *it;
        if (it != chain.rbegin()) {
            state = withoutAttributes(state);
            for (xmlNodePtr sibling = c->parent->children; sibling != c; sibling = sibling->next) {
                if (!isElement(sibling))
                    continue;
                const auto [ns, local] = qname(sibling);
                if (const int next = derive(state, nameId(ns, local)))
                    state = next;
            }
        }
        const auto [ns, local] = qname(c);
        std::vector<int> first;
        std::vector<char> seen;
        firstElements(state, &first, &seen);
        int content = 0;
        for (int e : first) {
            if (contains(m_patterns[e].nc, ns, local))
                content = choice(content, m_patterns[e].a);
        }
        if (content == 0) {
            for (int e : m_elements) {
                if (contains(m_patterns[e].nc, ns, local))
                    content = choice(content, m_patterns[e].a);
            }
        }
        for (xmlAttrPtr a = c->properties; a; a = a->next) {
            if (a == skipped)
                continue;
            const auto [ans, alocal] = qname(reinterpret_cast<xmlNodePtr>(a));
            if (const int next = derive(content, nameId(ans, alocal), true))
                content = next;
        }
        state = content;
    }
    return state;
}

void RelaxNgPatterns::trim()
{
    if (m_patterns.size() < m_grammarSize + 300'000 && !m_overflow)
        return;
    m_patterns.resize(m_grammarSize);
    for (auto it = m_made.begin(); it != m_made.end();)
        it = it->second >= int(m_grammarSize) ? m_made.erase(it) : std::next(it);
    m_derived.clear();
    m_stripped.clear();
    m_hasAttributes.clear();
    m_nullable.clear();
    m_overflow = false;
}

std::vector<RelaxNgPatterns::Name> RelaxNgPatterns::elementNames(xmlNodePtr element, bool followers)
{
    trim();
    std::vector<Name> out;
    xmlNodePtr parent = element->parent;
    const bool top = !isElement(parent);
    int state = m_start;
    if (!top) {
        state = withoutAttributes(contentOf(parent, nullptr));
        for (xmlNodePtr sibling = parent->children; sibling != element; sibling = sibling->next) {
            if (!isElement(sibling))
                continue;
            const auto [ns, local] = qname(sibling);
            if (const int next = derive(state, nameId(ns, local)))
                state = next;
        }
    }
    // Only the names of the elements that may come first can fit: the
    // others are not derived at all, which a large grammar's choices of
    // a hundred elements make worth while.
    std::vector<int> first;
    std::vector<char> seen;
    firstElements(state, &first, &seen);
    std::set<std::pair<QByteArray, QByteArray>> leading;
    bool wildcard = false;
    for (int e : first)
        wildcard = !namesIn(m_patterns[e].nc, &leading) || wildcard;
    std::unordered_map<int, Fit> fits; // by the state after the name
    for (const auto &[ns, local] : m_elementNames) {
        const int after = wildcard || leading.count({ns, local}) ? derive(state, nameId(ns, local)) : 0;
        Fit fit = Fit::Rejected;
        if (after != 0) {
            const auto known = fits.find(after);
            if (known != fits.end()) {
                fit = known->second;
            } else {
                int s = after;
                for (xmlNodePtr n = element->next; s && n && followers && !top; n = n->next) {
                    if (isElement(n)) {
                        const auto [fns, flocal] = qname(n);
                        s = derive(s, nameId(fns, flocal));
                    }
                }
                fit = s == 0 ? Fit::Rejected : (followers || top) && nullable(s) ? Fit::Valid : Fit::Unfinished;
                fits.emplace(after, fit);
            }
        }
        if (m_overflow)
            return {};
        out.push_back({local, ns, fit, false});
    }
    return out;
}

std::vector<RelaxNgPatterns::Name> RelaxNgPatterns::attributeNames(xmlNodePtr element, xmlAttrPtr skipped)
{
    trim();
    std::vector<Name> out;
    const int content = contentOf(element, skipped);
    for (const auto &[ns, local] : m_attributeNames) {
        const int name = nameId(ns, local);
        if (derive(content, name, true) == 0)
            continue;
        out.push_back({local, ns, Fit::Valid, !satisfiableWithout(content, name)});
    }
    if (m_overflow)
        return {};
    return out;
}

QStringList RelaxNgPatterns::attributeValues(xmlAttrPtr attribute)
{
    trim();
    const auto [ns, local] = qname(reinterpret_cast<xmlNodePtr>(attribute));
    QStringList out;
    bool closed = true;
    std::vector<char> seen;
    // The attribute patterns of the element's content that take the name.
    const std::function<void(int)> walk = [&](int p) {
        p = deref(p);
        if (std::size_t(p) >= seen.size())
            seen.resize(m_patterns.size() + 1, 0);
        if (seen[p])
            return;
        seen[p] = 1;
        const Pattern x = m_patterns[p];
        if (x.k == K::Choice || x.k == K::Group || x.k == K::Interleave || x.k == K::OneOrMore) {
            walk(x.a);
            if (x.b >= 0)
                walk(x.b);
        } else if (x.k == K::Attribute && contains(x.nc, ns, local)) {
            closed = closed && x.b >= 0;
            if (x.b >= 0)
                out += m_values[x.b];
        }
    };
    walk(contentOf(attribute->parent, attribute));
    out.removeDuplicates();
    return closed ? out : QStringList();
}
