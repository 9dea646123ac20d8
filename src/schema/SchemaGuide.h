#pragma once

#include "xml/XmlNode.h"
#include "XmlValidation.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

class XmlDocument;

// Where the schema that guides editing comes from.
struct SchemaSource
{
    SchemaKind kind = SchemaKind::None;
    // The schema file; empty for a document type declared only inside the
    // document.
    QString path;
    // True for the document's own document type (its internal subset and
    // the external file it names), false for a file named outright.
    bool ownDtd = false;

    bool isNone() const { return kind == SchemaKind::None; }
    // How the status bar names it.
    QString shownName() const;
    friend bool operator==(const SchemaSource &, const SchemaSource &) = default;
};

// The schema in use for `document`: the file chosen for validation when
// there is one (`chosenPath`); otherwise the document's own DTD (its
// external part found through the system catalogs or beside the document,
// never on the network); otherwise a RELAX NG grammar named by an
// <?xml-model schematypens="http://relaxng.org/ns/structure/1.0"?> ahead
// of the root; otherwise an XSD named by xsi:schemaLocation or
// xsi:noNamespaceSchemaLocation. Locations are local files, found through
// the catalogs or relative to `documentPath`'s folder.
SchemaSource schemaInUse(const XmlDocument &document, const QString &chosenPath, const QString &documentPath);

// True when `a` comes before `b` in document order (an attribute where
// its element is, before the element's content).
bool precedesInDocument(const XmlNode &a, const XmlNode &b);

// A schema read once and asked, while editing, what it allows. Read only
// local files, like validation. Queries run on the document's thread and
// leave the document as it was.
class SchemaGuide
{
public:
    SchemaGuide(const XmlDocument &document, const SchemaSource &source);
    ~SchemaGuide();
    SchemaGuide(const SchemaGuide &) = delete;
    SchemaGuide &operator=(const SchemaGuide &) = delete;

    const SchemaSource &source() const { return m_source; }
    // False when the schema could not be read; it then offers nothing.
    bool isUsable() const;
    // Why a schema file or a part of it could not be read, naming it;
    // empty when it could or the engine said no more.
    QString failure() const;

    // The element names that may stand where `element` stands, its own
    // name first. For an element of the document's top, the names a root
    // may have.
    QStringList elementNames(const XmlNode &element) const;
    // The attribute names `element` may have and has not yet, required
    // ones first; `own` (an attribute being renamed) goes first.
    QStringList attributeNames(const XmlNode &element, const XmlNode &own = XmlNode()) const;
    // Names in a namespace that nothing declares where they are offered
    // come with a prefix made up for it. For such a `name` offered for
    // `element` (its own name, or with `attribute` one of its attributes):
    // the prefix and the namespace to declare on it; empty for any other.
    std::pair<QString, QString> declarationFor(const XmlNode &element, const QString &name, bool attribute) const;
    // The first required attribute `element` lacks; empty when none does.
    QString missingRequiredAttribute(const XmlNode &element) const;
    // The values an attribute's type allows when they are a closed list
    // (an enumeration, a NOTATION type, a boolean); empty otherwise.
    QStringList attributeValues(const XmlNode &attribute) const;

    // One fault found by check(): where the offending element or attribute
    // as libxml2 names it stands among the document's elements and
    // attributes in document order (-1: none named), the way to it from the
    // root element (see libxml::forEachInDocumentOrder), and the message.
    struct Fault
    {
        qint64 position = -1;
        std::vector<int> route;
        QString message;
    };
    // Validates `document` as validateDocument does, on a copy with its
    // internal entities substituted, and names the faults by the
    // document's nodes. Meant for a process of its own (a forked child),
    // as it takes the time of a whole validation. Keeps the first `max`
    // faults in `faults`; returns how many there are. Against an XML
    // Schema or a DTD, a document larger than a piece is validated a piece at a
    // time where it can be (see validation::checkInPieces), so that the
    // check holds a piece, not a copy of the whole; `inPieces` tells
    // whether it did. A child copied without content costs about twelve
    // nodes copied whole (its faults are made, then dropped): pieces of
    // 240 nodes per such child keep that to a twentieth.
    struct PieceSize
    {
        qint64 nodes;
        qint64 perChild;
    };
    static constexpr PieceSize kPieceSize{50000, 240};
    int check(const XmlDocument &document, std::vector<Fault> *faults, int max, PieceSize pieceSize = kPieceSize,
              bool *inPieces = nullptr) const;
    // After values changed inside `element` (an attribute's value, a
    // text): the faults check() would find in its subtree, with their
    // nodes, found on the window's thread from a copy of the subtree and
    // the way down to it. False when they cannot be told without checking
    // the whole document (see validation::checkSubtree).
    bool checkWithin(const XmlNode &element, std::vector<std::pair<XmlNode, QString>> *faults) const;

    struct Schema; // libxml2's side
    struct Declarations;

private:
    QStringList elementNames(const XmlNode &element, Declarations *made) const;
    QStringList attributeNames(const XmlNode &element, const XmlNode &own, Declarations *made) const;

    SchemaSource m_source;
    std::unique_ptr<Schema> m_schema;
};
