#include "TreePrinter.h"

#include "document/DocumentTreeModel.h"
#include "document/ImageList.h"
#include "xml/XmlDocument.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QScreen>

#include <vector>

namespace {

class Outline
{
public:
    Outline(bool showText) : m_showText(showText) {}

    // One item and everything below it. Which ancestors have following
    // siblings is known within this job only, so a job starts afresh.
    void item(const XmlNode &node, int depth, bool hasNext)
    {
        if (int(m_hasNextSibling.size()) <= depth)
            m_hasNextSibling.resize(size_t(depth) + 1);
        m_hasNextSibling[size_t(depth)] = hasNext;
        OutlineLine line;
        for (int i = 1; i < depth; ++i)
            line.indent << (m_hasNextSibling[size_t(i)] ? QStringLiteral(" | ") : QStringLiteral("   "));
        if (depth > 0)
            line.branch = hasNext ? QStringLiteral(" |-") : QStringLiteral(" +-");
        line.imageKey = nodeImageKey(node);
        line.label = nodeLabel(node, m_showText);
        lines << line;

        QList<XmlNode> rows;
        if (node.isElement())
            for (XmlNode a = node.firstAttribute(); a; a = a.nextSibling())
                rows << a;
        for (XmlNode c = node.firstChild(); c; c = c.nextSibling())
            rows << c;
        for (qsizetype i = 0; i < rows.size(); ++i)
            item(rows.at(i), depth + 1, i + 1 < rows.size());
    }

    QList<OutlineLine> lines;

private:
    bool m_showText;
    std::vector<bool> m_hasNextSibling;
};

} // namespace

QList<OutlineLine> treeOutline(const XmlDocument &document, bool showText)
{
    Outline outline(showText);
    outline.item(document.documentNode(), 0, false);
    return std::move(outline.lines);
}

bool printOutline(QPagedPaintDevice *device, const QList<OutlineLine> &lines, const QFont &font)
{
    QPainter painter;
    if (!painter.begin(device))
        return false;
    painter.setFont(font);
    const QFontMetrics metrics(font, device);
    // Icons are 16 screen pixels, whatever the printer's resolution.
    const qreal screenDpi = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->logicalDotsPerInchY() : 96.0;
    const int icon = qRound(16.0 * device->logicalDpiY() / screenDpi);
    const int textHeight = metrics.height();
    const int lineHeight = std::max(icon, textHeight);
    const int iconTop = textHeight > icon ? (textHeight - icon) / 2 : 0;
    const int textTop = textHeight < icon ? (icon - textHeight) / 2 : 0;
    // Marks stand in cells of one width, so levels line up in any face.
    const int cell = std::max({metrics.horizontalAdvance(QStringLiteral(" | ")), metrics.horizontalAdvance(QStringLiteral("   ")),
                               metrics.horizontalAdvance(QStringLiteral(" |-")), metrics.horizontalAdvance(QStringLiteral(" +-"))});
    const int pageHeight = device->height();
    int y = 0;
    for (const OutlineLine &line : lines) {
        if (y + lineHeight > pageHeight && y > 0) {
            device->newPage();
            y = 0;
        }
        int x = 0;
        for (const QString &mark : line.indent + (line.branch.isEmpty() ? QStringList() : QStringList{line.branch})) {
            painter.drawText(x, y + textTop + metrics.ascent(), mark);
            x += cell;
        }
        painter.drawPixmap(x, y + iconTop, ImageList::icon(line.imageKey).pixmap(icon, icon));
        x += icon;
        painter.drawText(x, y + textTop + metrics.ascent(), line.label);
        y += lineHeight;
    }
    return painter.end();
}
