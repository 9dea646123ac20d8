#include "SubtreeCheck.h"

#include "GuideErrors.h"
#include "ValidationCopy.h"

#include <libxml/hash.h>
#include <libxml/schemasInternals.h>
#include <libxml/valid.h>

#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <optional>
#include <unordered_set>

namespace validation {

namespace {

// Past this many copied nodes the whole check in a child is the better way.
constexpr qint64 kMaxCopied = 50000;

// Copies elements with their namespace declarations and attributes as they
// are; every node of the copy keeps its original in _private.
class Copier
{
public:
    explicit Copier(xmlDocPtr copy, qint64 limit = kMaxCopied) : m_copy(copy), m_limit(limit) {}

    bool refused() const { return m_refused || m_copied > m_limit; }
    // Attributes whose copies are to be taken as IDs already known.
    void markIds(const std::unordered_set<xmlAttrPtr> *ids) { m_ids = ids; }

    // Only the schema instance's attributes (xsi:type, xsi:nil), which
    // decide an element's type: for an element whose own faults are not
    // wanted, so that none of its IDs counts a second time.
    enum class Attributes { All, SchemaInstance };

    xmlNodePtr element(xmlNodePtr original, xmlNodePtr parent, Attributes which = Attributes::All)
    {
        xmlNodePtr made = xmlNewDocNode(m_copy, nullptr, original->name, nullptr);
        if (!made) {
            m_refused = true;
            return nullptr;
        }
        made->_private = original;
        made->line = original->line;
        xmlAddChild(parent ? parent : reinterpret_cast<xmlNodePtr>(m_copy), made);
        for (xmlNsPtr d = original->nsDef; d; d = d->next)
            xmlNewNs(made, d->href, d->prefix);
        xmlSetNs(made, sameNamespace(made, original->ns));
        xmlAttrPtr last = nullptr;
        for (xmlAttrPtr a = original->properties; a; a = a->next) {
            if (which == Attributes::SchemaInstance
                && !(a->ns && xmlStrEqual(a->ns->href, BAD_CAST "http://www.w3.org/2001/XMLSchema-instance")))
                continue;
            // Mostly one text, taken in place; where several, joined.
            const xmlNodePtr only = a->children && !a->children->next && a->children->type == XML_TEXT_NODE ? a->children : nullptr;
            QByteArray value;
            for (xmlNodePtr c = only ? nullptr : a->children; c; c = c->next) {
                if (c->type != XML_TEXT_NODE)
                    m_refused = true; // a reference to substitute
                else if (c->content)
                    value += reinterpret_cast<const char *>(c->content);
            }
            // Taken as it stands: no references are looked for in it.
            const xmlChar *text = only && only->content ? only->content : reinterpret_cast<const xmlChar *>(value.constData());
            // Made apart, then put on the element: made on it, an ID would be
            // registered that the validation then finds registered already.
            xmlAttrPtr copied = xmlNewNsProp(nullptr, sameNamespace(made, a->ns), a->name, text);
            if (!copied) {
                m_refused = true;
                continue;
            }
            xmlSetTreeDoc(reinterpret_cast<xmlNodePtr>(copied), m_copy);
            copied->parent = made;
            (last ? last->next : made->properties) = copied;
            copied->prev = last;
            last = copied;
            copied->_private = a;
            if (m_ids && m_ids->count(a))
                copied->atype = XML_ATTRIBUTE_ID;
            ++m_copied;
        }
        ++m_copied;
        return made;
    }

    // The whole content of `original` under its copy `into`.
    void content(xmlNodePtr original, xmlNodePtr into)
    {
        for (xmlNodePtr n = original->children; n && !refused(); n = n->next) {
            switch (n->type) {
            case XML_ELEMENT_NODE:
                if (xmlNodePtr made = element(n, into))
                    content(n, made);
                break;
            default:
                leaf(n, into);
                break;
            }
        }
    }

    // A node with no children of its own: text, a comment, an instruction.
    void leaf(xmlNodePtr original, xmlNodePtr into)
    {
        switch (original->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
            if (xmlNodePtr made = xmlDocCopyNode(original, m_copy, 1)) {
                made->_private = original;
                xmlAddChild(into, made);
                ++m_copied;
            }
            break;
        case XML_ENTITY_REF_NODE:
            m_refused = true;
            break;
        default:
            break;
        }
    }

    // References stand in the content of an element on the way: what they
    // stand for may be elements, which would change the way's positions.
    void refuseReferencesIn(xmlNodePtr element)
    {
        for (xmlNodePtr n = element->children; n; n = n->next)
            m_refused = m_refused || n->type == XML_ENTITY_REF_NODE;
    }

private:
    // The copy's declaration of a namespace, in scope as in the original,
    // since the declarations on the way are copied too.
    xmlNsPtr sameNamespace(xmlNodePtr made, xmlNsPtr ns)
    {
        if (!ns)
            return nullptr;
        xmlNsPtr found = xmlSearchNs(m_copy, made, ns->prefix);
        if (!found || !xmlStrEqual(found->href, ns->href))
            m_refused = true;
        return found;
    }

    xmlDocPtr m_copy;
    qint64 m_limit;
    const std::unordered_set<xmlAttrPtr> *m_ids = nullptr;
    qint64 m_copied = 0;
    bool m_refused = false;
};

// The node after `n` in document order inside `top`'s subtree, an
// element's content included; null past its end.
xmlNodePtr nextIn(xmlNodePtr n, xmlNodePtr top)
{
    if (n->type == XML_ELEMENT_NODE && n->children)
        return n->children;
    while (n != top && !n->next)
        n = n->parent;
    return n == top ? nullptr : n->next;
}

// A document to copy parts of `original` into, with its internal subset
// when `subset`. With `sharedNames`, names come from the original's
// dictionary, as a copy of the whole document takes them, rather than each
// allocated again: where no other thread may be adding to it meanwhile.
// Null when out of memory.
DocCopy emptyCopy(xmlDocPtr original, bool subset, bool sharedNames = false)
{
    DocCopy copy(xmlNewDoc(original->version ? original->version : BAD_CAST "1.0"));
    if (copy && sharedNames && original->dict) {
        copy->dict = original->dict;
        xmlDictReference(copy->dict);
    }
    if (copy && subset && original->intSubset) {
        xmlDtdPtr dtd = xmlCopyDtd(original->intSubset);
        if (!dtd)
            return nullptr;
        xmlSetTreeDoc(reinterpret_cast<xmlNodePtr>(dtd), copy.get());
        copy->intSubset = dtd;
        xmlAddChild(reinterpret_cast<xmlNodePtr>(copy.get()), reinterpret_cast<xmlNodePtr>(dtd));
    }
    return copy;
}

// Nodes of an element's subtree (itself, attributes, content), counted up
// to just past `limit`.
qint64 sizeUpTo(xmlNodePtr element, qint64 limit)
{
    qint64 size = 0;
    for (xmlNodePtr n = element; n && size <= limit; n = nextIn(n, element)) {
        ++size;
        for (xmlAttrPtr a = n->type == XML_ELEMENT_NODE ? n->properties : nullptr; a; a = a->next)
            ++size;
    }
    return size;
}

// One piece of the document: the way down from the root element, and the
// consecutive children of the way's last element copied whole.
struct Piece
{
    std::vector<xmlNodePtr> way;
    std::vector<xmlNodePtr> whole;
};

// Cuts the subtree of `element`, larger than `budget` nodes, into pieces of
// at most that many, each child too large cut in turn. An element with no
// piece of its own under it still gets one, for its own faults. `widest`:
// the most children an element on a way has.
void cut(xmlNodePtr element, qint64 budget, std::vector<xmlNodePtr> &way, std::vector<Piece> &pieces, qint64 *widest)
{
    way.push_back(element);
    qint64 children = 0;
    const std::size_t before = pieces.size();
    Piece piece;
    qint64 size = 0;
    const auto flush = [&] {
        if (!piece.whole.empty()) {
            piece.way = way;
            pieces.push_back(std::move(piece));
        }
        piece = Piece();
        size = 0;
    };
    for (xmlNodePtr c = element->children; c; c = c->next) {
        ++children;
        if (c->type != XML_ELEMENT_NODE)
            continue;
        const qint64 n = sizeUpTo(c, budget);
        if (n > budget) {
            flush();
            cut(c, budget, way, pieces, widest);
            continue;
        }
        if (size + n > budget)
            flush();
        piece.whole.push_back(c);
        size += n;
    }
    flush();
    if (pieces.size() == before)
        pieces.push_back(Piece{way, {}});
    way.pop_back();
    *widest = std::max(*widest, children);
}

bool inside(xmlNodePtr node, xmlNodePtr subtree)
{
    for (xmlNodePtr p = node; p; p = p->parent) {
        if (p == subtree)
            return true;
    }
    return false;
}

// An ID or a reference to one in the subtree: what it must be unique in,
// or point to, is the whole document.
bool holdsIds(xmlDocPtr copy, xmlNodePtr subtree, bool byDtd)
{
    for (xmlNodePtr e = subtree; e; e = nextIn(e, subtree)) {
        for (xmlAttrPtr a = e->type == XML_ELEMENT_NODE ? e->properties : nullptr; a; a = a->next) {
            const bool xmlId = a->ns && xmlStrEqual(a->ns->href, XML_XML_NAMESPACE) && xmlStrEqual(a->name, BAD_CAST "id");
            // An XML Schema's validation marks the IDs and references it finds.
            const bool marked = a->atype == XML_ATTRIBUTE_ID || a->atype == XML_ATTRIBUTE_IDREF || a->atype == XML_ATTRIBUTE_IDREFS;
            if (xmlId || marked || (byDtd && (xmlIsID(copy, e, a) || xmlIsRef(copy, e, a))))
                return true;
        }
    }
    return false;
}

} // namespace

bool mayDeclareKeys(const QStringList &files)
{
    static const QRegularExpression tag(QStringLiteral("[<:](key|keyref|unique)[\\s/>]"));
    for (const QString &path : files) {
        QByteArray bytes;
        QString reason;
        if (!libxml::readRegularFile(path, &bytes, &reason) || bytes.contains('\0')
            || QString::fromLatin1(bytes).contains(tag))
            return true;
    }
    return false;
}

bool checkSubtree(xmlNodePtr element, xmlSchemaPtr xsd, xmlDtdPtr dtd, bool ownDtd, std::vector<SubtreeFault> *faults)
{
    if (!element || element->type != XML_ELEMENT_NODE || !element->doc || (!xsd && !dtd && !ownDtd))
        return false;
    // Keys and references to them are checked across their scope.
    if (xsd && xsd->idcDef && xmlHashSize(xsd->idcDef) > 0)
        return false;
    xmlDocPtr original = element->doc;
    std::vector<xmlNodePtr> way; // the root down to the element's parent
    for (xmlNodePtr n = element->parent; n && n->type == XML_ELEMENT_NODE; n = n->parent)
        way.push_back(n);
    std::reverse(way.begin(), way.end());

    const bool byDtd = !xsd;
    // An XML Schema looks up the unparsed entities an ENTITY value names
    // in the document's own subset, as the whole check's copy has it.
    DocCopy copy = emptyCopy(original, !byDtd || ownDtd);
    if (!copy)
        return false;
    Copier copier(copy.get());
    xmlNodePtr subtree = nullptr;
    if (way.empty()) {
        subtree = copier.element(element, nullptr);
    } else {
        xmlNodePtr parent = copier.element(way.front(), nullptr);
        for (std::size_t i = 0; i < way.size() && parent && !copier.refused(); ++i) {
            const xmlNodePtr next = i + 1 < way.size() ? way[i + 1] : element;
            copier.refuseReferencesIn(way[i]);
            xmlNodePtr nextCopy = nullptr;
            for (xmlNodePtr c = way[i]->children; c && !copier.refused(); c = c->next) {
                if (c->type != XML_ELEMENT_NODE)
                    continue;
                xmlNodePtr made = copier.element(c, parent);
                if (c == next)
                    nextCopy = made;
            }
            parent = nextCopy;
        }
        subtree = parent;
    }
    if (subtree)
        copier.content(element, subtree);
    if (!subtree || copier.refused())
        return false;

    std::vector<guide::Collector::Entry> entries;
    {
        guide::Collector collector(copy.get(), &entries, INT_MAX);
        if (xsd && !validateWithSchema(copy.get(), xsd))
            return false;
        if (!xsd)
            validateWithDtd(copy.get(), dtd, ownDtd, [](qint64) { return true; });
    }
    // The DTD in force, as the validation had it, tells the IDs.
    xmlDtdPtr external = copy->extSubset;
    if (byDtd && dtd)
        copy->extSubset = dtd;
    const bool ids = holdsIds(copy.get(), subtree, byDtd);
    copy->extSubset = external;
    if (ids)
        return false;
    std::vector<SubtreeFault> found;
    for (const guide::Collector::Entry &e : entries) {
        auto *node = static_cast<xmlNodePtr>(e.node);
        if (!node)
            return false;
        if (!inside(node, subtree))
            continue; // of the way, whose content is left out
        auto *own = static_cast<xmlNodePtr>(node->_private);
        if (!own)
            return false;
        found.push_back({own, e.message});
    }
    faults->insert(faults->end(), found.begin(), found.end());
    return true;
}

namespace {

// The whole document validated a piece at a time in one copy (see
// checkInPieces): each piece is made in it, validated and freed, but for
// the attributes the copy's tables of IDs and references name, kept until
// the end.
class PieceCheck
{
public:
    PieceCheck(xmlDocPtr original, xmlSchemaPtr xsd, xmlDtdPtr dtd, bool ownDtd)
        : m_xsd(xsd), m_copy(emptyCopy(original, xsd || ownDtd, true))
    {
        if (m_copy && !xsd)
            m_dtd.emplace(m_copy.get(), dtd, ownDtd);
    }
    ~PieceCheck()
    {
        for (xmlAttrPtr a : m_kept)
            xmlFreeProp(a);
        for (xmlNodePtr stub : m_stubs)
            xmlFreeNode(stub);
    }
    PieceCheck(const PieceCheck &) = delete;
    PieceCheck &operator=(const PieceCheck &) = delete;

    xmlDocPtr copy() const { return m_copy.get(); }

    // As a whole copy of an XML Schema's document knows them before it is
    // validated (those its own document type declares, and xml:id): the
    // first of each value, held by a stand-in.
    void knowId(xmlDocPtr original, xmlAttrPtr a)
    {
        xmlChar *value = xmlNodeListGetString(original, a->children, 1);
        xmlAttrPtr stand = value ? xmlNewNsProp(nullptr, nullptr, a->name, value) : nullptr;
        if (stand) {
            xmlSetTreeDoc(reinterpret_cast<xmlNodePtr>(stand), m_copy.get());
            if (xmlAddID(nullptr, m_copy.get(), value, stand)) {
                m_knownIds.insert(a);
                m_kept.push_back(stand);
            } else {
                xmlFreeProp(stand);
            }
        }
        xmlFree(value);
    }

    // Copies, validates and frees one piece, its faults counted and the
    // first `max` of all kept; false where the pieces cannot go on.
    bool check(const Piece &piece, int max, std::vector<SubtreeFault> *faults, int *count)
    {
        if (!make(piece))
            return false;
        // The faults of the piece's own and of the way's elements met
        // first; not those of the rest, told in their own pieces.
        const auto wanted = [this](xmlNodePtr node) {
            if (!node)
                return true; // naming none, which stops the pieces
            xmlNodePtr at = node->type == XML_ATTRIBUTE_NODE ? node->parent : node;
            while (at && at->type != XML_ELEMENT_NODE)
                at = at->parent;
            bool counts = std::find(m_own.begin(), m_own.end(), at) != m_own.end();
            for (xmlNodePtr p = at; p && !counts; p = p->parent)
                counts = std::find(m_told.begin(), m_told.end(), p) != m_told.end();
            return counts;
        };
        std::vector<guide::Collector::Entry> entries;
        {
            guide::Collector collector(m_copy.get(), &entries, INT_MAX, wanted);
            if (!validate())
                return false;
        }
        for (const guide::Collector::Entry &e : entries) {
            auto *node = static_cast<xmlNodePtr>(e.node);
            if (!node || !node->_private)
                return false;
        }
        add(entries, max, faults, count);
        xmlNodePtr top = xmlDocGetRootElement(m_copy.get());
        keep(top);
        xmlUnlinkNode(top);
        xmlFreeNode(top);
        return true;
    }

    // A document type's references to IDs, once all pieces are done: by
    // the element that holds each (null where none could be noted).
    void finish(int max, std::vector<SubtreeFault> *faults, int *count)
    {
        if (!m_dtd)
            return;
        std::vector<guide::Collector::Entry> entries;
        {
            guide::Collector collector(m_copy.get(), &entries, INT_MAX);
            m_dtd->finish();
        }
        add(entries, max, faults, count);
    }

private:
    static void add(const std::vector<guide::Collector::Entry> &entries, int max, std::vector<SubtreeFault> *faults, int *count)
    {
        for (const guide::Collector::Entry &e : entries) {
            auto *node = static_cast<xmlNodePtr>(e.node);
            if (++*count <= max)
                faults->push_back({node ? static_cast<xmlNodePtr>(node->_private) : nullptr, e.message});
        }
    }

    // The way down: each element's own faults once, in the first piece on
    // its way, with its attributes and text; its children without content
    // but for the next on the way and the piece's own.
    bool make(const Piece &piece)
    {
        Copier copier(m_copy.get(), LLONG_MAX);
        copier.markIds(&m_knownIds);
        m_own.clear();
        m_told.clear();
        const auto onWay = [&](xmlNodePtr original, xmlNodePtr parent, bool *first) {
            *first = m_met.insert(original).second;
            xmlNodePtr made = copier.element(original, parent, *first ? Copier::Attributes::All : Copier::Attributes::SchemaInstance);
            if (made && *first)
                m_own.push_back(made);
            return made;
        };
        bool first = false;
        xmlNodePtr made = onWay(piece.way.front(), nullptr, &first);
        if (made && m_dtd && !m_started) {
            if (!m_dtd->start())
                return false; // another root than the document type's
            m_started = true;
        }
        for (std::size_t i = 0; i < piece.way.size() && made && !copier.refused(); ++i) {
            const bool firstHere = first;
            const xmlNodePtr next = i + 1 < piece.way.size() ? piece.way[i + 1] : nullptr;
            xmlNodePtr nextCopy = nullptr;
            std::size_t whole = 0; // the piece's own are consecutive
            for (xmlNodePtr c = piece.way[i]->children; c && !copier.refused(); c = c->next) {
                if (c->type != XML_ELEMENT_NODE) {
                    if (firstHere)
                        copier.leaf(c, made);
                } else if (c == next) {
                    nextCopy = onWay(c, made, &first);
                } else if (!next && whole < piece.whole.size() && c == piece.whole[whole]) {
                    ++whole;
                    if (xmlNodePtr part = copier.element(c, made)) {
                        copier.content(c, part);
                        m_told.push_back(part);
                    }
                } else {
                    copier.element(c, made, Copier::Attributes::SchemaInstance);
                }
            }
            if (next)
                made = nextCopy;
        }
        return made && !copier.refused();
    }

    bool validate()
    {
        if (m_xsd)
            return validateWithSchema(m_copy.get(), m_xsd);
        // In document order, as one copy would be: the way's elements met
        // first (each above the next), then the piece's own.
        for (xmlNodePtr own : m_own) {
            m_dtd->node(own);
            for (xmlNodePtr c = own->children; c; c = c->next) {
                if (c->type != XML_ELEMENT_NODE)
                    m_dtd->node(c);
            }
        }
        for (xmlNodePtr part : m_told) {
            for (xmlNodePtr n = part; n; n = nextIn(n, part))
                m_dtd->node(n);
        }
        return true;
    }

    // Takes the attributes the tables of IDs and references name out of
    // a piece about to be freed; a reference keeps a stand-in for its
    // element, which the check of references names.
    void keep(xmlNodePtr top)
    {
        for (xmlNodePtr e = top; e; e = nextIn(e, top)) {
            if (e->type != XML_ELEMENT_NODE)
                continue;
            xmlNodePtr stub = nullptr;
            for (xmlAttrPtr a = e->properties, next; a; a = next) {
                next = a->next;
                const bool reference = m_dtd && (a->atype == XML_ATTRIBUTE_IDREF || a->atype == XML_ATTRIBUTE_IDREFS);
                if (a->atype != XML_ATTRIBUTE_ID && !reference)
                    continue;
                (a->prev ? a->prev->next : e->properties) = a->next;
                if (a->next)
                    a->next->prev = a->prev;
                a->prev = a->next = nullptr;
                a->parent = nullptr;
                if (reference && !stub && (stub = xmlNewDocNode(e->doc, nullptr, e->name, nullptr))) {
                    stub->_private = e->_private;
                    m_stubs.push_back(stub);
                }
                if (reference)
                    a->parent = stub;
                m_kept.push_back(a);
            }
        }
    }

    xmlSchemaPtr m_xsd;
    DocCopy m_copy;
    std::optional<DtdValidation> m_dtd; // before the copy's end: it puts the subsets back
    bool m_started = false;
    std::unordered_set<xmlAttrPtr> m_knownIds;
    std::unordered_set<xmlNodePtr> m_met; // way elements whose own faults are told
    std::vector<xmlNodePtr> m_own;        // copies whose own faults count
    std::vector<xmlNodePtr> m_told;       // copies whose faults, inside them, count
    std::vector<xmlAttrPtr> m_kept;
    std::vector<xmlNodePtr> m_stubs;
};

} // namespace

bool checkInPieces(xmlDocPtr original, xmlSchemaPtr xsd, xmlDtdPtr dtd, bool ownDtd, qint64 nodes, qint64 perChild, int max,
                   std::vector<SubtreeFault> *faults, int *count)
{
    xmlNodePtr root = xmlDocGetRootElement(original);
    if (!root || nodes <= 0 || (!xsd && !dtd && !ownDtd) || (xsd && xsd->idcDef && xmlHashSize(xsd->idcDef) > 0))
        return false;
    PieceCheck check(original, xsd, dtd, ownDtd);
    if (!check.copy())
        return false;

    // One look at the whole document: its size, any reference to
    // substitute, and the IDs an XML Schema's whole copy knows from the
    // start (a document type's validation makes its own).
    qint64 total = 0;
    for (xmlNodePtr n = root; n; n = nextIn(n, root)) {
        ++total;
        if (n->type == XML_ENTITY_REF_NODE)
            return false;
        for (xmlAttrPtr a = n->type == XML_ELEMENT_NODE ? n->properties : nullptr; a; a = a->next) {
            ++total;
            for (xmlNodePtr c = a->children; c; c = c->next) {
                if (c->type != XML_TEXT_NODE)
                    return false;
            }
            if (xsd && original->ids && xmlIsID(original, n, a))
                check.knowId(original, a);
        }
    }
    // Pieces large enough for the way's children, copied again in each.
    std::vector<Piece> pieces;
    std::vector<xmlNodePtr> way;
    for (qint64 budget = nodes, tries = 0;; ++tries) {
        if (total <= budget || tries == 3)
            return false; // one piece: the whole copy is as good
        pieces.clear();
        qint64 widest = 0;
        cut(root, budget, way, pieces, &widest);
        if (widest * perChild <= budget)
            break;
        budget = widest * perChild;
    }
    // Past the document's own size in all, a whole copy does better.
    qint64 again = 0;
    for (const Piece &piece : pieces) {
        for (xmlNodePtr w : piece.way) {
            for (xmlNodePtr c = w->children; c && again <= total; c = c->next)
                ++again;
        }
        if (again > total)
            return false;
    }

    std::vector<SubtreeFault> found;
    int counted = 0;
    for (const Piece &piece : pieces) {
        if (!check.check(piece, max, &found, &counted))
            return false;
    }
    check.finish(max, &found, &counted);
    faults->insert(faults->end(), found.begin(), found.end());
    *count = counted;
    return true;
}

} // namespace validation
