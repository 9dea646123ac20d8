#pragma once

// A RELAX NG grammar (XML syntax) read as patterns, asked which element
// and attribute names fit where. libxml2 validates RELAX NG but answers no
// such question, so the grammar is read here once more and the names are
// matched by derivatives of its patterns: a name fits when what follows it
// among its siblings can still match. Children's own content is not
// looked into, nor are text and values. Internal to src/schema.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <libxml/tree.h>

#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

class RelaxNgPatterns
{
public:
    // Reads the grammar at `path` and the parts it includes or references,
    // through libxml2's entity loader, so under the caller's load scope.
    // Null when a part cannot be read or uses what this reader does not
    // know: it then offers no names, rather than wrong ones.
    static std::unique_ptr<RelaxNgPatterns> read(const QString &path);

    enum class Fit { Rejected, Unfinished, Valid };
    struct Name
    {
        QByteArray local;
        QByteArray ns;
        Fit fit = Fit::Rejected;
        bool required = false; // attributes: the element is incomplete without it
    };

    // Every named element of the grammar, with how it fits in place of
    // `element` among its siblings (the following ones checked only when
    // `followers`; else a fit is Unfinished at best).
    std::vector<Name> elementNames(xmlNodePtr element, bool followers);
    // Every named attribute of the grammar that `element` may have beside
    // those it has (`skipped` not counted: it is being renamed).
    std::vector<Name> attributeNames(xmlNodePtr element, xmlAttrPtr skipped = nullptr);
    // The values `attribute` may have where the grammar lists them all
    // (a choice of values); empty where it takes others too.
    QStringList attributeValues(xmlAttrPtr attribute);

private:
    friend class RngReader;
    enum class K : unsigned char { NotAllowed, Empty, Text, Choice, Group, Interleave, OneOrMore, Element, Attribute, Ref };
    struct Pattern
    {
        K k;
        int a = -1; // first operand, content, or the define of a Ref
        int b = -1; // second operand; an attribute's list of values (-1: any)
        int nc = -1; // name class of an element or attribute
    };
    struct NameClass
    {
        enum Kind { Named, Any, NsName, Choice } k = Named;
        QByteArray ns, local;
        int a = -1, b = -1; // except (Any, NsName); operands (Choice)
    };

    int make(K k, int a = -1, int b = -1, int nc = -1);
    int choice(int a, int b);
    int group(int a, int b);
    int interleave(int a, int b);
    int oneOrMore(int p);
    int deref(int p) const;
    bool contains(int nc, const QByteArray &ns, const QByteArray &local) const;
    // Adds the names `nc` takes; false when it takes others too (a wildcard).
    bool namesIn(int nc, std::set<std::pair<QByteArray, QByteArray>> *names) const;
    int nameId(const QByteArray &ns, const QByteArray &local);
    bool nullable(int p);
    int derive(int p, int name, bool attribute = false);
    bool hasAttributes(int p);
    int withoutAttributes(int p);       // those still wanted count as given
    bool satisfiableWithout(int p, int name); // with `name` never given
    void firstElements(int p, std::vector<int> *out, std::vector<char> *seen);
    int stateBefore(xmlNodePtr parent, xmlNodePtr stop, xmlAttrPtr skipped);
    int contentOf(xmlNodePtr element, xmlAttrPtr skipped);
    void trim();

    std::vector<Pattern> m_patterns;
    std::vector<NameClass> m_classes;
    std::vector<int> m_defines; // pattern of each define; -1 if never defined
    int m_start = -1;
    std::size_t m_grammarSize = 0; // patterns made while reading; the rest are a query's
    bool m_overflow = false;
    std::vector<std::pair<QByteArray, QByteArray>> m_elementNames, m_attributeNames; // ns, local
    std::vector<int> m_elements; // every element pattern
    std::vector<QStringList> m_values; // the closed lists of attributes' values
    std::map<std::pair<QByteArray, QByteArray>, int> m_names;
    std::vector<std::pair<QByteArray, QByteArray>> m_nameList; // by id
    std::unordered_map<unsigned long long, int> m_made, m_derived;
    std::unordered_map<int, int> m_stripped;
    std::vector<signed char> m_nullable; // by pattern; -1 not known yet
    std::vector<signed char> m_hasAttributes; // by pattern; -1 not known yet
};
