#pragma once

#include <QByteArray>
#include <QString>

// The outcome of running a user's style sheet.
struct TransformResult
{
    bool ok = false;
    QByteArray output; // UTF-8, declaring UTF-8 where it declares anything
    QString error;     // the engine's reason, with the style sheet's line
    QString method;    // the declared output method: "html", "text", "xml" or empty
    bool outOfMemory = false;
    bool truncated = false; // the output is the first part of a longer one
};

// Runs the XSLT 1.0 style sheet at `styleSheetPath` (EXSLT available) over
// the document given as markup. Safe on any thread; nothing is shared with
// the window's document. The style sheet is read where it lies, and its
// include, import and document() read local regular files relative to it;
// writing files, creating folders and every network access are refused.
// Entities declared in the document's internal subset are substituted;
// external ones are never loaded. White-space-only text is dropped, as
// in the window's tree, except under xml:space="preserve".
// A transform during which an allocation failed fails as out of memory,
// even when the engine went on and made output.
// With `stopPast` > 0 the transform stops once its output is longer than
// that, and the result holds the output so far (more than `stopPast`
// bytes, of which the first `stopPast` are final), marked as cut.
TransformResult transformWithStyleSheet(const QByteArray &documentMarkup, const QString &styleSheetPath,
                                        qint64 stopPast = 0);

class XmlDocument;

// Whether transformTree() can run on `document`: not where it declares
// entities, whose references the engine would meet unsubstituted.
bool canTransformTree(const XmlDocument &document);
// The same over the document's own tree, numbered beforehand
// (XmlDocument::numberElements), for a forked child sharing it with the
// window. Unlike a copy of it, it holds a node for the XML declaration,
// which the child takes out. Writing nothing to the tree's nodes beyond
// that, the child copies none of the pages it shares; the engine would
// otherwise number every element again.
// Not thread-safe: for a process that runs nothing else.
TransformResult transformTree(XmlDocument &document, const QString &styleSheetPath, qint64 stopPast = 0);

// For a process of its own: at most `memoryMb` more address space than
// the process maps now (nothing for 0).
void limitAddressSpace(long long memoryMb);

// For a process of its own, once its libxml2 allocators are set: every
// allocation of libxml2 and libxslt that fails is counted, so that a
// transform meeting one fails even where the engine says nothing.
void countAllocationFailures();

// For a process that ends after its transform: the document is left for
// the process's end to give back instead of being freed node by node.
void leaveDocumentsToExit();
