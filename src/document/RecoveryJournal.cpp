#include "RecoveryJournal.h"

#include "base/StringTable.h"
#include "xml/XmlDocument.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <sys/stat.h>

#include <algorithm>
#include <vector>

namespace {

constexpr quint32 kMagic = 0x4f524a31; // "ORJ1"
constexpr auto kStreamVersion = QDataStream::Qt_6_0;

enum class Op : quint8 { Remove = 1, PutBack, InsertElement, InsertLeaf, InsertAttribute, Rename, Text };

QDataStream &stream(QDataStream &s)
{
    s.setVersion(kStreamVersion);
    return s;
}

// Writes values as QDataStream writes them (big-endian; a string as its
// byte count and UTF-16, a null string as 0xffffffff) into room made for
// them, without a stream and its buffer device per record.
struct RecordBytes
{
    char *at;

    template<typename T>
    void number(T value)
    {
        qToBigEndian(value, at);
        at += sizeof(T);
    }
    void path(const RecoveryJournal::Path &path)
    {
        number(path.root);
        number(quint32(path.steps.size()));
        for (const qint32 step : path.steps)
            number(step);
        number(quint8(path.attribute ? 1 : 0));
    }
    static qsizetype pathSize(const RecoveryJournal::Path &path) { return 9 + 4 * path.steps.size(); }
    void string(QStringView text, bool null)
    {
        number(null ? quint32(0xffffffff) : quint32(text.size() * 2));
        if (!null)
            qToBigEndian<char16_t>(text.utf16(), text.size(), at);
        at += null ? 0 : text.size() * 2;
    }
    static qsizetype stringSize(QStringView text, bool null) { return 4 + (null ? 0 : text.size() * 2); }
};

} // namespace

FileIdentity FileIdentity::stat(const QString &path)
{
    FileIdentity id;
    id.path = QFileInfo(path).absoluteFilePath();
    struct ::stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        id.size = st.st_size;
        id.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return id;
}

QByteArray FileIdentity::hashOf(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file) || file.error() != QFileDevice::NoError)
        return QByteArray();
    return hash.result();
}

QDataStream &operator<<(QDataStream &out, const RecoveryJournal::Path &path)
{
    return out << path.root << path.steps << path.attribute;
}

QDataStream &operator>>(QDataStream &in, RecoveryJournal::Path &path)
{
    return in >> path.root >> path.steps >> path.attribute;
}

void RecoveryJournal::restart()
{
    m_removed.clear();
    m_counted.clear();
    m_nextNumber = 0;
    m_pending.clear();
    m_pendingSize = 0;
}

// The document, or a removed node the journal numbered, is where a path
// starts; a node under neither (made and not yet inserted) has none.
bool RecoveryJournal::pathOf(XmlNode node, Path *path) const
{
    path->steps.clear();
    path->steps.reserve(16);
    path->attribute = node.isAttribute();
    while (!node.isDocument()) {
        const XmlNode up = node.isAttribute() ? node.ownerElement() : node.parentNode();
        if (!up) {
            const auto it = m_removed.constFind(node);
            if (it == m_removed.constEnd())
                return false;
            path->root = *it;
            std::reverse(path->steps.begin(), path->steps.end());
            return true;
        }
        path->steps.append(indexOf(node));
        node = up;
    }
    path->root = -1;
    std::reverse(path->steps.begin(), path->steps.end());
    return true;
}

// Counted from the last child counted under the same parent: changes made
// one after another along the document, as by a replace across it or its
// undo, then cost their distance apart instead of the parent's length each.
int RecoveryJournal::indexOf(const XmlNode &node) const
{
    const XmlNode parent = node.parentNode();
    if (!parent)
        return node.indexInParent();
    const auto known = m_counted.find(parent);
    const Counted counted = known != m_counted.end() ? *known : Counted{};
    // Back from both, so changes in either order cost their distance.
    XmlNode fromNode = node, fromCounted = counted.child;
    int index = 0;
    int steps = 0;
    for (;; ++steps) {
        if (!fromNode) {
            index = steps - 1;
            break;
        }
        if (counted.child && fromNode == counted.child) {
            index = counted.index + steps;
            break;
        }
        if (fromCounted && fromCounted == node) {
            index = counted.index - steps;
            break;
        }
        fromNode = fromNode.previousSibling();
        if (fromCounted)
            fromCounted = fromCounted.previousSibling();
    }
    // Remembered only where counting is long: the memory then holds the
    // few parents of many children and is never emptied under them.
    if (known != m_counted.end()) {
        *known = {node, index};
    } else if (steps >= 64) {
        if (m_counted.size() >= 1024)
            m_counted.clear();
        m_counted.insert(parent, {node, index});
    }
    return index;
}

// Where `node` stands (inserted) or stood (removed) under `parent`, before
// `next`; -1 when last.
bool RecoveryJournal::positionOf(const XmlNode &parent, const XmlNode &node, const XmlNode &next, bool inserted,
                                 Path *path) const
{
    if (!pathOf(parent, path))
        return false;
    path->steps.append(!next ? -1 : indexOf(inserted ? node : next));
    path->attribute = node.isAttribute();
    return true;
}

// A record is written straight into the pending bytes, framed by its
// length as a byte array is streamed: one stream per record, no copy.
void RecoveryJournal::append(const std::function<void(QDataStream &)> &write)
{
    QByteArray &block = pendingBlock();
    const qsizetype start = block.size();
    QDataStream out(&block, QIODevice::Append);
    stream(out) << quint32(0);
    write(out);
    frame(block, start);
}

QByteArray &RecoveryJournal::pendingBlock()
{
    constexpr qsizetype kBlock = 64 * 1024;
    if (m_pending.isEmpty() || m_pending.back().size() >= kBlock) {
        m_pending.append(QByteArray());
        m_pending.back().reserve(kBlock + 1024);
    }
    return m_pending.back();
}

// The record begun at `start` gets its length in front.
void RecoveryJournal::frame(QByteArray &block, qsizetype start)
{
    qToBigEndian(quint32(block.size() - start - 4), block.data() + start);
    m_pendingSize += block.size() - start;
}

bool RecoveryJournal::inserted(const XmlDocument &document, const XmlNode &parent, const XmlNode &node,
                               const XmlNode &next)
{
    m_counted.clear();
    Path at;
    if (!positionOf(parent, node, next, true, &at))
        return true; // inside a node not in the tree: recorded whole when it goes in
    if (m_removed.contains(node) || node.isAttribute()) {
        append([&](QDataStream &out) {
            if (const auto it = m_removed.constFind(node); it != m_removed.constEnd())
                out << quint8(Op::PutBack) << at << *it;
            else
                out << quint8(Op::InsertAttribute) << at << node.nodeName() << node.text();
        });
        return true;
    }
    // Taken out before the journal began: a save would still write it from
    // the file's bytes, which a node made from markup would not.
    if (document.hasSourceMarkup(node))
        return false;
    switch (node.kind()) {
    case NodeKind::Element:
        append([&](QDataStream &out) { out << quint8(Op::InsertElement) << at << document.exactMarkup(node); });
        return true;
    case NodeKind::Text:
    case NodeKind::CData:
    case NodeKind::Comment:
    case NodeKind::ProcessingInstruction:
        append([&](QDataStream &out) {
            out << quint8(Op::InsertLeaf) << at << quint8(node.kind()) << node.nodeName() << node.text();
        });
        return true;
    default:
        return false;
    }
}

bool RecoveryJournal::removed(const XmlNode &parent, const XmlNode &node, const XmlNode &formerNext)
{
    m_counted.clear();
    Path at;
    if (!positionOf(parent, node, formerNext, false, &at))
        return true;
    m_removed.insert(node, m_nextNumber++);
    append([&](QDataStream &out) { out << quint8(Op::Remove) << at; });
    return true;
}

bool RecoveryJournal::renamed(const XmlNode &node)
{
    Path at;
    if (!pathOf(node, &at))
        return true;
    append([&](QDataStream &out) { out << quint8(Op::Rename) << at << node.nodeName(); });
    return true;
}

bool RecoveryJournal::textChanged(const XmlNode &node, const QString &oldText)
{
    // An element's text replaces its children.
    if (node.kind() == NodeKind::Element)
        m_counted.clear();
    Path at;
    if (!pathOf(node, &at))
        return true;
    // Only the part that changed: a keystroke in a long text stays small.
    const QString newText = node.text();
    const qsizetype shorter = std::min(oldText.size(), newText.size());
    qsizetype prefix = 0;
    while (prefix < shorter && oldText[prefix] == newText[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && oldText[oldText.size() - 1 - suffix] == newText[newText.size() - 1 - suffix])
        ++suffix;
    // The commonest record, one per value a replacement changes: its bytes
    // are written directly, as the stream would write them.
    const QStringView changed = QStringView(newText).sliced(prefix, newText.size() - prefix - suffix);
    QByteArray &block = pendingBlock();
    const qsizetype start = block.size();
    block.resize(start + 4 + 1 + RecordBytes::pathSize(at) + 3 * 8 + RecordBytes::stringSize(changed, newText.isNull()));
    RecordBytes out{block.data() + start + 4};
    out.number(quint8(Op::Text));
    out.path(at);
    out.number(qint64(prefix));
    out.number(qint64(suffix));
    out.number(qint64(oldText.size() - prefix - suffix));
    out.string(changed, newText.isNull());
    frame(block, start);
    return true;
}

QList<QByteArray> RecoveryJournal::takePending()
{
    m_pendingSize = 0;
    return std::exchange(m_pending, {});
}

QByteArray RecoveryJournal::header(const FileIdentity &identity)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    stream(out) << kMagic << identity.path << identity.size << identity.modifiedNs << identity.hash;
    return bytes;
}

// Applies records to a document loaded from the journal's file.
class JournalReplay
{
public:
    explicit JournalReplay(XmlDocument &document) : m_document(document) {}

    bool apply(const QByteArray &record)
    {
        QDataStream in(record);
        stream(in);
        quint8 op = 0;
        RecoveryJournal::Path at;
        in >> op >> at;
        if (in.status() != QDataStream::Ok)
            return false;
        switch (Op(op)) {
        case Op::Remove: {
            const XmlNode node = resolve(at, true);
            if (!node || !m_document.removeNode(node))
                return false;
            m_removed.push_back(node);
            return true;
        }
        case Op::PutBack: {
            qint32 number = -1;
            in >> number;
            if (number < 0 || size_t(number) >= m_removed.size())
                return false;
            return insert(at, m_removed[number]);
        }
        case Op::InsertElement: {
            QByteArray markup;
            in >> markup;
            const XmlNode parent = resolveParent(at);
            return parent && insert(at, m_document.parseFragment(markup, parent));
        }
        case Op::InsertLeaf: {
            quint8 kind = 0;
            QString name, text;
            in >> kind >> name >> text;
            return insert(at, make(NodeKind(kind), name, text));
        }
        case Op::InsertAttribute: {
            QString name, value;
            in >> name >> value;
            return insertAttribute(at, name, value);
        }
        case Op::Rename: {
            QString name;
            in >> name;
            const XmlNode node = resolve(at, false);
            return node && in.status() == QDataStream::Ok && m_document.rename(node, name);
        }
        case Op::Text: {
            qint64 prefix = 0, suffix = 0, oldLength = 0;
            QString middle;
            in >> prefix >> suffix >> oldLength >> middle;
            const XmlNode node = resolve(at, false);
            if (!node || in.status() != QDataStream::Ok)
                return false;
            const QString current = node.text();
            if (prefix < 0 || suffix < 0 || oldLength < 0 || current.size() != prefix + oldLength + suffix)
                return false;
            return m_document.setText(node, current.left(prefix) + middle + current.right(suffix));
        }
        }
        return false;
    }

private:
    XmlNode rootOf(const RecoveryJournal::Path &at) const
    {
        if (at.root == -1)
            return m_document.documentNode();
        return at.root >= 0 && size_t(at.root) < m_removed.size() ? m_removed[at.root] : XmlNode();
    }
    // The node a path names; with `last`, a last step of -1 names the last one.
    XmlNode resolve(const RecoveryJournal::Path &at, bool last) const
    {
        XmlNode node = rootOf(at);
        for (qsizetype i = 0; node && i < at.steps.size(); ++i) {
            const bool attribute = at.attribute && i == at.steps.size() - 1;
            const int count = attribute ? node.attributeCount() : node.childCount();
            const int step = at.steps[i] == -1 && last && i == at.steps.size() - 1 ? count - 1 : at.steps[i];
            if (step < 0 || step >= count)
                return XmlNode();
            node = attribute ? node.attribute(step) : node.child(step);
        }
        return node;
    }
    XmlNode resolveParent(const RecoveryJournal::Path &at) const
    {
        if (at.steps.isEmpty())
            return XmlNode();
        RecoveryJournal::Path up = at;
        up.steps.removeLast();
        up.attribute = false;
        return resolve(up, false);
    }
    // The node a new one goes before: null for last; false when out of range.
    bool reference(const XmlNode &parent, const RecoveryJournal::Path &at, XmlNode *before) const
    {
        const int step = at.steps.last();
        const int count = at.attribute ? parent.attributeCount() : parent.childCount();
        *before = step == -1 ? XmlNode() : at.attribute ? parent.attribute(step) : parent.child(step);
        return step == -1 || (step >= 0 && step < count);
    }
    bool insert(const RecoveryJournal::Path &at, const XmlNode &node)
    {
        const XmlNode parent = resolveParent(at);
        XmlNode before;
        if (!node || !parent || !reference(parent, at, &before))
            return false;
        if (node.isAttribute())
            return m_document.setAttributeNode(parent, node, before);
        return m_document.insertBefore(parent, node, before);
    }
    bool insertAttribute(const RecoveryJournal::Path &at, const QString &name, const QString &value)
    {
        const XmlNode element = resolveParent(at);
        XmlNode before;
        if (!element || !reference(element, at, &before))
            return false;
        if (name == QLatin1String("xmlns") || name.startsWith(QLatin1String("xmlns:"))) {
            // A declaration is made on its element; then put where it stood.
            if (!m_document.setAttribute(element, name, value))
                return false;
            const XmlNode made = element.attributeNode(name);
            if (!before || made.nextSibling() == before)
                return true;
            return m_document.removeNode(made) && m_document.setAttributeNode(element, made, before);
        }
        const XmlNode attribute = m_document.createAttribute(name);
        return attribute && m_document.setText(attribute, value)
            && m_document.setAttributeNode(element, attribute, before);
    }
    XmlNode make(NodeKind kind, const QString &name, const QString &text)
    {
        switch (kind) {
        case NodeKind::Text:
            return m_document.createTextNode(text);
        case NodeKind::CData:
            return m_document.createCDATASection(text);
        case NodeKind::Comment:
            return m_document.createComment(text);
        case NodeKind::ProcessingInstruction:
            return m_document.createProcessingInstruction(name, text);
        default:
            return XmlNode();
        }
    }

    XmlDocument &m_document;
    std::vector<XmlNode> m_removed;
};

bool RecoveryJournal::restore(XmlDocument &document, const QString &journalPath, QString *error)
{
    QFile file(journalPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QDataStream in(&file);
    stream(in);
    quint32 magic = 0;
    FileIdentity named;
    in >> magic >> named.path >> named.size >> named.modifiedNs >> named.hash;
    if (in.status() != QDataStream::Ok || magic != kMagic) {
        *error = resourceString(1031);
        return false;
    }
    // The bytes hashed are the bytes loaded: the file may change meanwhile.
    QByteArray bytes;
    QFile source(named.path);
    // Only a regular file has a size (stat() gives none for others).
    if (named.size >= 0 && FileIdentity::stat(named.path).sameStat(named) && source.open(QIODevice::ReadOnly))
        bytes = source.readAll();
    if (bytes.size() != named.size || QCryptographicHash::hash(bytes, QCryptographicHash::Sha256) != named.hash) {
        *error = resourceString(1030).arg(named.path);
        return false;
    }
    if (!document.loadBytes(bytes, named.path)) {
        *error = document.parseError().reason;
        return false;
    }
    JournalReplay replay(document);
    for (;;) {
        QByteArray record;
        in >> record;
        if (in.status() != QDataStream::Ok)
            return true; // the end, or a record the process did not finish
        if (!replay.apply(record)) {
            *error = resourceString(1031);
            return false;
        }
    }
}
