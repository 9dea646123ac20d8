#include "RelaxNgPatterns.h"

#include <algorithm>
#include <functional>
#include <set>

namespace {

// A query's derivatives beyond this many patterns are dropped before the
// next one; the keys below hold operands in 20 bits.
constexpr std::size_t kMaxPatterns = 900'000;

} // namespace

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
    if (std::size_t(p) >= m_nullable.size())
        m_nullable.resize(m_patterns.size() + 1, -1);
    if (m_nullable[p] >= 0)
        return m_nullable[p];
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
    m_nullable[p] = out;
    return out;
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
    m_derived.reserve(1 << 16);
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
