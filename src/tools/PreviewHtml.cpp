#include "PreviewHtml.h"

#include "base/Resources.h"
#include "xml/NodeCount.h"
#include "xml/XmlDocument.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

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

bool isStyleSheetNamespace(const QString &uri)
{
    return uri == kXslNamespace || uri == kXslDraftNamespace;
}

// The one walk of the nodes; what it makes of them is the sink's affair.
class Writer
{
public:
    Writer(SourceSink &sink, int budget) : m_sink(sink), m_budget(budget) {}

    void node(const XmlNode &n, const QString &id)
    {
        if (m_shown >= m_budget || m_characters >= kCharacterBudget) {
            m_left += countLines(n);
            return;
        }
        ++m_shown;
        switch (n.kind()) {
        case NodeKind::Element: element(n, id); break;
        case NodeKind::Text:
            m_sink.beginLine("e", false);
            m_sink.run("tx", cut(n.text()));
            m_sink.endLine();
            break;
        case NodeKind::EntityReference: {
            // Its text, as the document reads; the reference itself when it has none.
            const QString text = cut(n.text());
            m_sink.beginLine("e", false);
            if (text.isEmpty())
                m_sink.run("m", QLatin1Char('&') + n.nodeName() + QLatin1Char(';'));
            else
                m_sink.run("tx", text);
            m_sink.endLine();
            break;
        }
        case NodeKind::Comment: delimited(n, "<!--", "-->", "ci", "cb"); break;
        case NodeKind::CData: delimited(n, "<![CDATA[", "]]>", "di", "db"); break;
        case NodeKind::ProcessingInstruction: instruction(n); break;
        case NodeKind::DocumentType:
            m_sink.beginLine("e", false);
            m_sink.doctype(n.nodeName());
            m_sink.endLine();
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

    qint64 m_left = 0;

private:
    // A view is read, not searched: a long value shows its start, and the
    // view stops taking nodes past a total, so no document makes a view
    // that takes long to lay out.
    static constexpr qsizetype kLongText = 10000;
    static constexpr qsizetype kCharacterBudget = 1000000;
    QString cut(const QString &text)
    {
        m_characters += std::min(text.size(), kLongText);
        if (text.size() <= kLongText)
            return text;
        return text.left(kLongText) + QStringLiteral(" …（ほかに %1 文字）").arg(text.size() - kLongText);
    }

    void name(const XmlNode &n, const QString &id)
    {
        m_sink.run(isStyleSheetNamespace(n.namespaceUri()) ? "xt" : "t", n.nodeName(), id);
    }

    void attributes(const XmlNode &element)
    {
        const bool inStyleSheet = isStyleSheetNamespace(element.namespaceUri());
        for (XmlNode a = element.firstAttribute(); a; a = a.nextSibling()) {
            const QString attributeName = a.nodeName();
            const char *cls = inStyleSheet ? "xt" : "t";
            const char *valueClass = "tx";
            if (attributeName == QLatin1String("xmlns") || attributeName.startsWith(QLatin1String("xmlns:"))
                || attributeName.startsWith(QLatin1String("xml:")))
                cls = valueClass = "ns";
            else if (kDatatypeNamespaces.contains(a.namespaceUri()))
                cls = valueClass = "dt";
            m_sink.plain(QStringLiteral(" "));
            m_sink.run(cls, attributeName);
            m_sink.run("m", QStringLiteral("=\""));
            m_sink.run(valueClass, cut(a.text()));
            m_sink.run("m", QStringLiteral("\""));
        }
    }

    void element(const XmlNode &n, const QString &id)
    {
        bool elementChild = false;
        for (XmlNode c = n.firstChild(); c; c = c.nextSibling())
            elementChild |= c.isElement();
        if (!n.hasChildNodes()) {
            m_sink.beginLine("e", true);
            m_sink.run("m", QStringLiteral("<"));
            name(n, id);
            attributes(n);
            m_sink.run("m", QStringLiteral(" />"));
            m_sink.endLine();
            return;
        }
        if (!elementChild && holdsOnlyText(n)) {
            m_sink.beginLine("e", true);
            m_sink.run("m", QStringLiteral("<"));
            name(n, id);
            attributes(n);
            m_sink.run("m", QStringLiteral(">"));
            m_sink.run("tx", cut(n.text()));
            m_sink.run("m", QStringLiteral("</"));
            name(n, id);
            m_sink.run("m", QStringLiteral(">"));
            m_sink.endLine();
            return;
        }
        // Only elements with element children are found by their id; mixed
        // content without one is shown but not linked.
        const QString nameId = elementChild ? id : QString();
        m_sink.beginFold("e");
        m_sink.run("m", QStringLiteral("<"));
        name(n, nameId);
        attributes(n);
        m_sink.run("m", QStringLiteral(">"));
        m_sink.beginBody();
        children(n, id);
        m_sink.beginClosing(true);
        m_sink.run("m", QStringLiteral("</"));
        name(n, nameId);
        m_sink.run("m", QStringLiteral(">"));
        m_sink.endFold();
    }

    void delimited(const XmlNode &n, const char *start, const char *end, const char *inlineClass, const char *blockClass)
    {
        const QString text = cut(n.text());
        if (!text.contains(QLatin1Char('\n'))) {
            m_sink.beginLine("k", true);
            m_sink.run("m", QLatin1String(start));
            m_sink.preformatted(inlineClass, text);
            m_sink.run("m", QLatin1String(end));
            m_sink.endLine();
            return;
        }
        m_sink.beginFold("k");
        m_sink.run("m", QLatin1String(start));
        m_sink.beginBody();
        m_sink.preformatted(blockClass, text);
        m_sink.beginClosing(false);
        m_sink.run("m", QLatin1String(end));
        m_sink.endFold();
    }

    void instruction(const XmlNode &n)
    {
        m_sink.beginLine("e", true);
        m_sink.run("m", QStringLiteral("<?"));
        if (n.nodeName() == QLatin1String("xml")) {
            // The declaration's pseudo-attributes, each as name="value".
            m_sink.run("pi", QStringLiteral("xml"));
            static const QRegularExpression pseudo(QStringLiteral("([A-Za-z_:][-.\\w:]*)\\s*=\\s*([\"'])(.*?)\\2"));
            for (auto it = pseudo.globalMatch(n.text()); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                m_sink.plain(QStringLiteral(" "));
                m_sink.run("t", m.captured(1));
                m_sink.run("m", QStringLiteral("=\""));
                m_sink.run("tx", m.captured(3));
                m_sink.run("m", QStringLiteral("\""));
            }
        } else {
            m_sink.run("pi", n.nodeName() + QLatin1Char(' ') + cut(n.text()));
        }
        m_sink.run("m", QStringLiteral("?>"));
        m_sink.endLine();
    }

    SourceSink &m_sink;
    int m_budget;
    int m_shown = 0;
    qsizetype m_characters = 0;
};

// The page file: nested blocks, folded by its own script.
class HtmlSink : public SourceSink
{
public:
    void beginLine(const char *cls, bool spacer) override
    {
        m_out += QStringLiteral("<div class=\"%1\">").arg(QLatin1String(cls));
        if (spacer)
            m_out += kSpacer;
    }
    void endLine() override { m_out += QStringLiteral("</div>"); }
    void beginFold(const char *cls) override
    {
        m_out += QStringLiteral("<div class=\"%1\"><div class=\"c\"><a class=\"b\" href=\"#\">-</a> ").arg(QLatin1String(cls));
    }
    void beginBody() override { m_out += QStringLiteral("</div><div>"); }
    void beginClosing(bool spacer) override
    {
        m_out += QStringLiteral("</div><div>");
        if (spacer)
            m_out += kSpacer;
    }
    void endFold() override { m_out += QStringLiteral("</div></div>"); }
    void run(const char *cls, const QString &text, const QString &id) override
    {
        const QString idAttribute = id.isEmpty() ? QString() : QStringLiteral(" id=\"%1\"").arg(id);
        m_out += QStringLiteral("<span class=\"%1\"%2>%3</span>").arg(QLatin1String(cls), idAttribute, escaped(text));
    }
    void plain(const QString &text) override { m_out += escaped(text); }
    void preformatted(const char *cls, const QString &text) override
    {
        m_out += QStringLiteral("<pre class=\"%1\">%2</pre>").arg(QLatin1String(cls), escaped(text));
    }
    void doctype(const QString &name) override
    {
        m_out += QStringLiteral("<span class=\"d\">&lt;!DOCTYPE %1<i> (View Source for full doctype...)</i>&gt;</span>").arg(escaped(name));
    }
    void note(const QString &text) override { m_out += QStringLiteral("<div class=\"more\">%1</div>").arg(escaped(text)); }

    QString m_out;

private:
    const QString kSpacer = QStringLiteral("<span class=\"b\">&nbsp;</span>");
};

} // namespace

namespace {
// One walk for two sinks.
class BothSinks : public SourceSink
{
public:
    BothSinks(SourceSink &a, SourceSink &b) : m_a(a), m_b(b) {}
    void beginLine(const char *cls, bool spacer) override { m_a.beginLine(cls, spacer), m_b.beginLine(cls, spacer); }
    void endLine() override { m_a.endLine(), m_b.endLine(); }
    void beginFold(const char *cls) override { m_a.beginFold(cls), m_b.beginFold(cls); }
    void beginBody() override { m_a.beginBody(), m_b.beginBody(); }
    void beginClosing(bool spacer) override { m_a.beginClosing(spacer), m_b.beginClosing(spacer); }
    void endFold() override { m_a.endFold(), m_b.endFold(); }
    void run(const char *cls, const QString &text, const QString &id) override { m_a.run(cls, text, id), m_b.run(cls, text, id); }
    void plain(const QString &text) override { m_a.plain(text), m_b.plain(text); }
    void preformatted(const char *cls, const QString &text) override { m_a.preformatted(cls, text), m_b.preformatted(cls, text); }
    void doctype(const QString &name) override { m_a.doctype(name), m_b.doctype(name); }
    void note(const QString &text) override { m_a.note(text), m_b.note(text); }

private:
    SourceSink &m_a;
    SourceSink &m_b;
};
} // namespace

QString SourceView::html(const XmlNode &node, SourceSink *also) const
{
    HtmlSink page;
    BothSinks both(page, also ? *also : page);
    SourceSink &sink = also ? static_cast<SourceSink &>(both) : page;
    Writer writer(sink, nodeBudget);
    if (node.isDocument())
        writer.children(node, QStringLiteral("1"));
    else
        writer.node(node, QStringLiteral("1.1"));
    if (writer.m_left > 0)
        sink.note(QStringLiteral("ここから後の %1 個のノードは表示していません（全体が大きいため）。"
                                 "ツリーでノードを選んで Ctrl+F5 を押すと、そのノードを表示できます。")
                      .arg(writer.m_left));
    QString css = resourceText(QStringLiteral(":/preview/sourceview.css"));
    css.replace(QLatin1String("%FONT_NAME%"), fontName).replace(QLatin1String("%FONT_SIZE%"), QString::number(fontSize) + QLatin1String("pt"));
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><style>%1</style><script>%2</script></head>"
                          "<body class=\"st\">%3</body></html>")
        .arg(css, resourceText(QStringLiteral(":/preview/sourceview.js")), page.m_out);
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
