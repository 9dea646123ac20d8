#pragma once

#include "XmlNode.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <future>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class XmlDocumentObserver;
namespace xmldoc {
struct XmlSource;
}

// What a failed load reports.
struct XmlParseError
{
    int errorCode = 0; // 0: no error
    QString reason;
    int line = 0;
    int column = 0;
};

// One XML document, over libxml2. This is the only class that touches
// libxml2's tree; the rest of the editor sees XmlNode handles.
//
// Ownership: the document owns every node it ever held or created. Nodes
// taken out of the tree (removed, replaced, created and never inserted)
// stay owned until the document is freed, so no XmlNode handle dangles.
// Only a load frees the old content: observers hear documentReplaced().
//
// Loading never touches the network, never fetches external entities or
// DTDs, does not validate, and bounds entity expansion. A reference to an
// external entity stays an unexpanded reference node and is written back
// as it was; entity references whose expanded text would exceed 10 MB plus
// five times the file's size fail the load. White-space-only
// text is dropped, except under xml:space="preserve". An XML declaration is
// kept as a processing instruction named "xml", the first child.
class XmlDocument
{
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument &) = delete;
    XmlDocument &operator=(const XmlDocument &) = delete;

    // How far a long load or save has come, in bytes of the file (`total`
    // 0: not known). Returning false stops the work: the load or save fails
    // and changes nothing.
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    // Replace the content by a file's or a string's. On failure the document
    // is unchanged and parseError() tells why.
    bool load(const QString &path, const Progress &progress = {});
    bool loadXML(const QString &xml);
    // Load from bytes (as read from a file), for callers that have them.
    bool loadBytes(const QByteArray &bytes, const QString &sourceUrl = QString());
    const XmlParseError &parseError() const { return m_parseError; }

    // Parse markup as a standalone document without touching this one; for
    // typed markup and pasted text. Null when it does not parse.
    static std::unique_ptr<XmlDocument> parse(const QString &xml, XmlParseError *error = nullptr);

    XmlNode documentNode() const;
    XmlNode documentElement() const;

    // Creation: the new node is detached, owned by this document.
    XmlNode createElement(const QString &name, QString *error = nullptr);
    XmlNode createAttribute(const QString &name, QString *error = nullptr);
    XmlNode createProcessingInstruction(const QString &target, const QString &data, QString *error = nullptr);
    // Content the markup cannot carry (characters XML forbids, "--" in a
    // comment, "]]>" in CDATA, "?>" in a PI, a PI target "xml" in another
    // case, a malformed declaration) gives a null node; these say why.
    XmlNode createTextNode(const QString &text, QString *error = nullptr);
    XmlNode createComment(const QString &text, QString *error = nullptr);
    XmlNode createCDATASection(const QString &text, QString *error = nullptr);

    // A deep copy of `node`, which may belong to another document; the copy
    // is detached and belongs to this one. From another document, the
    // namespaces it uses are declared on the copy, and references to
    // entities this document does not declare are replaced by their
    // replacement text (nothing for an external or empty entity).
    XmlNode cloneNode(const XmlNode &node);
    // How many references in `node`'s subtree name an entity whose text
    // this document does not have (external or undeclared): copied into
    // another document they become nothing.
    int externalReferences(const XmlNode &node) const;
    // The first prefix that a name in `node`'s subtree (`node` may belong
    // to another document) uses without a declaration binding it there or
    // in scope at `at`, where it is to go; empty when every prefix is bound.
    QString unboundPrefix(const XmlNode &node, const XmlNode &at) const;

    // Structure. `node` must belong to this document; it is moved when
    // attached elsewhere. A null `reference` appends. Each fails with a
    // description and changes nothing when the DOM forbids the change (wrong
    // kind under the parent, a second root element, a node under itself, a
    // reference that is not a child of the parent, anything before the
    // declaration or a second one, the document type after the root).
    // An inserted subtree keeps its namespaces: where a prefix it uses is
    // not declared (or means another namespace) at the new place, it is
    // declared on the node that uses it; an unprefixed element without a
    // namespace takes the default namespace in scope, as its markup would.
    bool insertBefore(const XmlNode &parent, const XmlNode &node, const XmlNode &reference, QString *error = nullptr);
    bool appendChild(const XmlNode &parent, const XmlNode &node, QString *error = nullptr);
    bool removeChild(const XmlNode &parent, const XmlNode &node, QString *error = nullptr);
    bool replaceChild(const XmlNode &parent, const XmlNode &newNode, const XmlNode &oldNode, QString *error = nullptr);
    // Take a node (or attribute) out of wherever it stands. A namespace
    // declaration still used by a name under its element is refused.
    bool removeNode(const XmlNode &node, QString *error = nullptr);
    // Replace the root element (or set one when there is none).
    bool setDocumentElement(const XmlNode &element, QString *error = nullptr);

    // Attributes. setAttributeNode puts `attribute` on `element` before
    // `reference` (null: last; a namespace declaration: first of the other
    // attributes); an attribute of the same name is taken off first and
    // returned through `replaced`. A namespace declaration taken off may be
    // put back on its own element; names bound to a declaration it replaces
    // are bound to it. setAttribute with the name xmlns or xmlns:p declares
    // a namespace (a node made by createAttribute stays an attribute).
    bool setAttributeNode(const XmlNode &element, const XmlNode &attribute, const XmlNode &reference = XmlNode(),
                          XmlNode *replaced = nullptr, QString *error = nullptr);
    bool setAttribute(const XmlNode &element, const QString &name, const QString &value, QString *error = nullptr);
    bool removeAttribute(const XmlNode &element, const QString &name, QString *error = nullptr);

    // Text: an attribute's value; the content of text, CDATA, comment and PI
    // nodes; for an element, its children are replaced by one text node.
    // Values the XML cannot hold (characters XML forbids, "--" in a comment,
    // "]]>" in CDATA, "?>" in a PI) are refused with a description.
    bool setText(const XmlNode &node, const QString &text, QString *error = nullptr);
    // Rename an element, attribute or PI; the name must be a valid XML name.
    bool rename(const XmlNode &node, const QString &name, QString *error = nullptr);

    // The markup of a node with its subtree, indented with the document's
    // indentation unit; for the document, every top-level node including
    // the declaration.
    QString xml(const XmlNode &node) const;
    // The same in UTF-8, made without a copy in UTF-16 (for a large
    // document handed to another process).
    QByteArray xmlUtf8(const XmlNode &node) const;
    // The same, but at most about `maxBytes` of it (whole lines), with
    // `truncated` telling whether anything was left out. Writing stops at
    // the limit, so a huge document costs little to preview.
    QString xml(const XmlNode &node, qsizetype maxBytes, bool *truncated) const;
    // The markup as xml() gives it, for use outside this document (copied,
    // dragged): an element also declares the namespaces its names use that
    // are declared above it, so that it parses on its own.
    QString portableXml(const XmlNode &node) const;

    // XPath 1.0 from `context` (the document when null). Namespace prefixes
    // declared in scope of the context node can be used, and prefixes
    // declared elsewhere in the document (the first declaration wins).
    // Results are in document order. Fails with the engine's description,
    // or when the result is not a node set.
    bool selectNodes(const QString &expression, const XmlNode &context, QList<XmlNode> *result,
                     QString *error = nullptr) const;

    // For replaying a change elsewhere: an element's markup exactly as its
    // tree stands (nothing indented, UTF-8), and such markup parsed where
    // `context` stands, its prefixes bound as there, into one detached node
    // of this document (null, with the reason, when it is not exactly one).
    QByteArray exactMarkup(const XmlNode &node) const;
    XmlNode parseFragment(const QByteArray &markup, const XmlNode &context, QString *error = nullptr);
    // True when a save may still write `node` with the bytes it had in the
    // loaded source: a fresh node of the same markup would be written anew.
    bool hasSourceMarkup(const XmlNode &node) const;

    // Write the document to a file. A loaded document keeps the bytes of
    // everything the user did not change, in its encoding and line ends;
    // changed and new markup is written anew, indented like its neighbours.
    // Otherwise (a document made from a string, or one whose declaration
    // now names another encoding) it is written indented, in the encoding
    // named by the declaration (UTF-8 when none), with a UTF-8 byte-order
    // mark when the loaded file had one. Written as SaveTarget.h describes:
    // a plain file is replaced atomically keeping its owner, group and mode,
    // a file with other hard links is written in place, and what is not a
    // file is refused. A document without a root element is refused: it
    // would not load again.
    bool save(const QString &path, QString *error = nullptr, const Progress &progress = {}) const;
    // The bytes save() would write.
    bool serialize(QByteArray *out, QString *error = nullptr, const Progress &progress = {}) const;
    // Waits for the work a load left running in the background (mapping the
    // file's bytes onto the tree). Every change and save does so first; a
    // process about to fork must too, as the work's thread is not copied.
    void settle() const;
    // True when settle() would not wait.
    bool isSettled() const;
    // Gives every element its place in document order, which XPath then
    // compares instead of walking the tree (libxml2 keeps it in each
    // element). Done once, before a child that evaluates XPath shares the
    // tree: the child then writes nothing to pages it shares. Elements
    // inserted later have no place, so a moved one never has a stale one;
    // XPath walks the tree for those.
    void numberElements();
    // Makes settle(), and so every change, save and the destructor, wait
    // until `reading` is ready: a thread reading the tree (a validation
    // copying it) has done so.
    void waitBeforeChanges(std::shared_future<void> reading) const { m_reading = std::move(reading); }

    // Observed properties of the loaded source.
    QString indentUnit() const { return m_indentUnit; }
    void setIndentUnit(const QString &unit) { m_indentUnit = unit; }
    bool hadByteOrderMark() const { return m_byteOrderMark; }
    // The size of the file or bytes last loaded; 0 for none.
    qint64 sourceSize() const { return m_sourceSize; }
    // The encoding the declaration names, "UTF-8" without one.
    QString declaredEncoding() const;

    void addObserver(XmlDocumentObserver *observer);
    void removeObserver(XmlDocumentObserver *observer);

    // True when `node` is a handle of this document.
    bool owns(const XmlNode &node) const;

    // Raw access for the other libxml2-based services in this folder
    // (transforms, validation): the xmlDoc of this document.
    void *rawDocument() const { return m_doc; }

    struct ParseResult; // a parse's outcome, before it replaces the content

    // What changed since the load, as far as saving over the source needs:
    // nodes whose own markup or whose content changed (and their
    // ancestors), the markup a changed node had at first, and where a
    // loaded node taken out of the tree first stood.
    // Qt's open-addressed tables, and the first markups one after another
    // in one array (a node's is at an offset, of a length): a change of
    // 100,000 values takes a third of the memory node-based tables and an
    // array per node would.
    struct SourceChanges
    {
        QSet<void *> changed;
        QHash<void *, std::pair<qsizetype, qsizetype>> originalMarkup;
        QByteArray markups;
        QHash<void *, void *> originalParent;
    };

private:
    bool adopt(ParseResult &&result);
    void freeContent();
    void keep(void *node); // keep a detached node alive until the document ends
    void notifyInserted(const XmlNode &parent, const XmlNode &node);
    void notifyRemoved(const XmlNode &parent, const XmlNode &node, const XmlNode &next);
    bool checkInsert(const XmlNode &parent, const XmlNode &node, const XmlNode &reference, QString *error) const;
    bool checkPlacement(const XmlNode &parent, const XmlNode &node, const XmlNode &reference, const XmlNode &replacing,
                        QString *error) const;
    void *expandForeignReferences(void *copy, void *sourceDocument);
    bool declareNamespace(const XmlNode &element, const QString &prefix, const QString &uri, QString *error);
    // Writes the markup into `out`, indented unless `format` is false; with
    // `limit` > 0 writing stops once that many bytes are out (true is
    // returned when it did). `progress`, when given, hears of each chunk
    // written.
    bool dump(const XmlNode &node, QByteArray *out, const char *encoding, qsizetype limit = 0, bool format = true,
              const Progress *progress = nullptr) const;
    // Saving over the loaded source (see save()).
    bool canSplice(const QByteArray &encoding) const;
    void splice(QByteArray *out) const;
    void keepSource(const QByteArray &bytes);
    // Called before a node's own markup changes (an element's name or
    // attributes, other nodes' name or text), and after a node was
    // inserted under or removed from `parent`.
    void noteMarkupChange(void *node);
    void noteContentChange(void *parent);
    void noteRemoval(void *parent, void *node);

    struct _xmlDoc *m_doc = nullptr;
    std::unordered_set<void *> m_detached;
    std::vector<void *> m_detachedNamespaces;
    std::vector<XmlDocumentObserver *> m_observers;
    XmlParseError m_parseError;
    QString m_indentUnit = QStringLiteral("  ");
    bool m_byteOrderMark = false;
    bool m_numbered = false; // numberElements() has run on this tree
    qint64 m_sourceSize = 0;
    // A large source is mapped onto the tree beside the window after a load;
    // settle() takes the result. The window only reads the tree meanwhile.
    mutable std::future<xmldoc::XmlSource *> m_mapping;
    mutable std::shared_future<void> m_reading;
    mutable std::unique_ptr<xmldoc::XmlSource> m_source;
    SourceChanges m_changes;
};
