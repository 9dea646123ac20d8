#pragma once

#include <QList>
#include <QString>

class QFont;
class QPagedPaintDevice;
class XmlDocument;

// The tree as an outline, one line per item as the tree shows it fully
// expanded (an element's attributes, then its children): branch marks
// " |-" and " +-" (the last child), and for each ancestor level from the
// second on " | " while that ancestor has a following sibling, blanks
// otherwise.
struct OutlineLine
{
    QStringList indent; // one " | " or "   " per ancestor level
    QString branch;     // " |-", " +-", or empty for the top item
    QString imageKey;
    QString label;

    QString text() const { return indent.join(QString()) + branch + label; }
};
QList<OutlineLine> treeOutline(const XmlDocument &document, bool showText);

// Prints the outline on `device` in `font`, each line's icon beside it:
// the text centred on the icon when it is smaller, the icon on the text
// when it is larger. A line and its icon never straddle a page. False when
// painting could not start.
bool printOutline(QPagedPaintDevice *device, const QList<OutlineLine> &lines, const QFont &font);
