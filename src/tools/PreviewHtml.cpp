#include "PreviewHtml.h"

#include "base/Resources.h"
#include "xml/NodeCount.h"
#include "xml/XmlDocument.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace {

const QString kXslNamespace = QStringLiteral("http://www.w3.org/1999/XSL/Transform");
const QString kXslDraftNamespace = QStringLiteral("http://www.w3.org/TR/WD-xsl");
const QStringList kDatatypeNamespaces{QStringLiteral("urn:schemas-microsoft-com:datatypes"),
                                      QStringLiteral("uuid:C2F41010-65B3-11d1-A29F-00AA00C14882")};

QString resourceText(const QString &path)
{
    ensureResources();
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString span(const char *cls, const QString &html)
{
    return QStringLiteral("<span class=\"%1\">%2</span>").arg(QLatin1String(cls), html);
}

QString markup(const QString &text)
{
    return span("m", escaped(text));
}

bool isStyleSheetNamespace(const QString &uri)
{
    return uri == kXslNamespace || uri == kXslDraftNamespace;
}

class Writer
{
public:
    explicit Writer(int budget) : m_budget(budget) {}

    void node(const XmlNode &n, const QString &id)
    {
        if (m_shown >= m_budget) {
            m_left += countLines(n);
            return;
        }
        ++m_shown;
        switch (n.kind()) {
        case NodeKind::Element: element(n, id); break;
        case NodeKind::Text:
            m_out += QStringLiteral("<div class=\"e\">") + span("tx", escaped(n.text())) + QStringLiteral("</div>");
            break;
        case NodeKind::EntityReference: {
            // Its text, as the document reads; the reference itself when it has none.
            const QString text = n.text();
            m_out += QStringLiteral("<div class=\"e\">")
                + (text.isEmpty() ? markup(QLatin1Char('&') + n.nodeName() + QLatin1Char(';')) : span("tx", escaped(text)))
                + QStringLiteral("</div>");
            break;
        }
        case NodeKind::Comment: delimited(n, "<!--", "-->", "ci", "cb"); break;
        case NodeKind::CData: delimited(n, "<![CDATA[", "]]>", "di", "db"); break;
        case NodeKind::ProcessingInstruction: instruction(n); break;
        case NodeKind::DocumentType:
            m_out += QStringLiteral("<div class=\"e\"><span class=\"d\">&lt;!DOCTYPE %1<i> (View Source for full "
                                    "doctype...)</i>&gt;</span></div>")
                         .arg(escaped(n.nodeName()));
            break;
        default: break;
        }
    }

    // Children of `parent` whose position paths extend `id`.
    void children(const XmlNode &parent, const QString &id)
    {
        int position = 1;
        for (XmlNode c = parent.firstChild(); c; c = c.nextSibling(), ++position)
            node(c, id + QLatin1Char('.') + QString::number(position));
    }

    QString m_out;
    qint64 m_left = 0;

private:
    QString name(const XmlNode &n, const QString &id) const
    {
        const char *cls = isStyleSheetNamespace(n.namespaceUri()) ? "xt" : "t";
        const QString idAttribute = id.isEmpty() ? QString() : QStringLiteral(" id=\"%1\"").arg(id);
        return QStringLiteral("<span class=\"%1\"%2>%3</span>").arg(QLatin1String(cls), idAttribute, escaped(n.nodeName()));
    }

    QString attributes(const XmlNode &element) const
    {
        const bool inStyleSheet = isStyleSheetNamespace(element.namespaceUri());
        QString out;
        for (XmlNode a = element.firstAttribute(); a; a = a.nextSibling()) {
            const QString attributeName = a.nodeName();
            const char *cls = inStyleSheet ? "xt" : "t";
            const char *valueClass = "tx";
            if (attributeName == QLatin1String("xmlns") || attributeName.startsWith(QLatin1String("xmlns:"))
                || attributeName.startsWith(QLatin1String("xml:")))
                cls = valueClass = "ns";
            else if (kDatatypeNamespaces.contains(a.namespaceUri()))
                cls = valueClass = "dt";
            out += QStringLiteral(" ") + span(cls, escaped(attributeName)) + markup(QStringLiteral("=\""))
                + span(valueClass, escaped(a.text())) + markup(QStringLiteral("\""));
        }
        return out;
    }

    void element(const XmlNode &n, const QString &id)
    {
        bool elementChild = false;
        for (XmlNode c = n.firstChild(); c; c = c.nextSibling())
            elementChild |= c.isElement();
        const QString open = markup(QStringLiteral("<"));
        if (!n.hasChildNodes()) {
            m_out += QStringLiteral("<div class=\"e\"><span class=\"b\">&nbsp;</span>") + open + name(n, id)
                + attributes(n) + markup(QStringLiteral(" />")) + QStringLiteral("</div>");
            return;
        }
        if (!elementChild && holdsOnlyText(n)) {
            m_out += QStringLiteral("<div class=\"e\"><span class=\"b\">&nbsp;</span>") + open + name(n, id)
                + attributes(n) + markup(QStringLiteral(">")) + span("tx", escaped(n.text()))
                + markup(QStringLiteral("</")) + name(n, id) + markup(QStringLiteral(">")) + QStringLiteral("</div>");
            return;
        }
        // Only elements with element children are found by their id; mixed
        // content without one is shown but not linked.
        const QString nameId = elementChild ? id : QString();
        m_out += QStringLiteral("<div class=\"e\"><div class=\"c\"><a class=\"b\" href=\"#\">-</a> ") + open
            + name(n, nameId) + attributes(n) + markup(QStringLiteral(">")) + QStringLiteral("</div><div>");
        children(n, id);
        m_out += QStringLiteral("<div><span class=\"b\">&nbsp;</span>") + markup(QStringLiteral("</"))
            + name(n, nameId) + markup(QStringLiteral(">")) + QStringLiteral("</div></div></div>");
    }

    void delimited(const XmlNode &n, const char *start, const char *end, const char *inlineClass, const char *blockClass)
    {
        const QString text = n.text();
        if (!text.contains(QLatin1Char('\n'))) {
            m_out += QStringLiteral("<div class=\"k\"><span class=\"b\">&nbsp;</span>") + markup(QLatin1String(start))
                + QStringLiteral("<pre class=\"%1\">%2</pre>").arg(QLatin1String(inlineClass), escaped(text))
                + markup(QLatin1String(end)) + QStringLiteral("</div>");
            return;
        }
        m_out += QStringLiteral("<div class=\"k\"><div class=\"c\"><a class=\"b\" href=\"#\">-</a> ")
            + markup(QLatin1String(start)) + QStringLiteral("</div><div><pre class=\"%1\">%2</pre></div>")
                                                 .arg(QLatin1String(blockClass), escaped(text))
            + QStringLiteral("<div>") + markup(QLatin1String(end)) + QStringLiteral("</div></div>");
    }

    void instruction(const XmlNode &n)
    {
        QString body;
        if (n.nodeName() == QLatin1String("xml")) {
            // The declaration's pseudo-attributes, each as name="value".
            static const QRegularExpression pseudo(QStringLiteral("([A-Za-z_:][-.\\w:]*)\\s*=\\s*([\"'])(.*?)\\2"));
            for (auto it = pseudo.globalMatch(n.text()); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                body += QStringLiteral(" ") + span("t", escaped(m.captured(1))) + markup(QStringLiteral("=\""))
                    + span("tx", escaped(m.captured(3))) + markup(QStringLiteral("\""));
            }
            body = span("pi", QStringLiteral("xml")) + body;
        } else {
            body = span("pi", escaped(n.nodeName() + QLatin1Char(' ') + n.text()));
        }
        m_out += QStringLiteral("<div class=\"e\"><span class=\"b\">&nbsp;</span>") + markup(QStringLiteral("<?"))
            + body + markup(QStringLiteral("?>")) + QStringLiteral("</div>");
    }

    int m_budget;
    int m_shown = 0;
};

} // namespace

QString SourceView::html(const XmlNode &node) const
{
    Writer writer(nodeBudget);
    if (node.isDocument())
        writer.children(node, QStringLiteral("1"));
    else
        writer.node(node, QStringLiteral("1.1"));
    if (writer.m_left > 0)
        writer.m_out += QStringLiteral("<div class=\"more\">ここから後の %1 個のノードは表示していません（全体が大きいため）。"
                                       "ツリーでノードを選んで Ctrl+F5 を押すと、そのノードを表示できます。</div>")
                            .arg(writer.m_left);
    QString css = resourceText(QStringLiteral(":/preview/sourceview.css"));
    css.replace(QLatin1String("%FONT_NAME%"), fontName).replace(QLatin1String("%FONT_SIZE%"), QString::number(fontSize) + QLatin1String("pt"));
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><style>%1</style><script>%2</script></head>"
                          "<body class=\"st\">%3</body></html>")
        .arg(css, resourceText(QStringLiteral(":/preview/sourceview.js")), writer.m_out);
}

XmlNode nodeForSourceViewId(const XmlDocument &document, const QString &id)
{
    const QStringList parts = id.split(QLatin1Char('.'));
    if (id.isEmpty() || parts.size() < 2)
        return XmlNode();
    XmlNode node = document.documentElement();
    for (qsizetype i = 2; i < parts.size() && node; ++i) {
        bool ok = false;
        const int position = parts.at(i).toInt(&ok);
        if (!ok || position < 1)
            return XmlNode();
        node = node.child(position - 1);
    }
    return node;
}
