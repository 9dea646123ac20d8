#include "SchemaGuide.h"

#include "xml/LibXmlSupport.h"
#include "xml/XmlDocument.h"
#include "xml/XmlNodeAccess.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <libxml/catalog.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

// Which schema guides a document: the one chosen for its window, its own
// DTD, the RELAX NG grammar an xml-model instruction names, or the XML
// Schema its root names.

using libxml::fromXml;

namespace {

const xmlChar *xsiNamespace = reinterpret_cast<const xmlChar *>("http://www.w3.org/2001/XMLSchema-instance");

bool remote(const QString &location)
{
    const QUrl url(location);
    return url.scheme().size() > 1 && url.scheme() != QLatin1String("file");
}

// A location a document names, as a local regular file.
QString localFile(const QString &location, const QString &folder)
{
    if (location.isEmpty() || remote(location))
        return QString();
    QString path = location.startsWith(QLatin1String("file:")) ? QUrl(location).toLocalFile() : location;
    if (QDir::isRelativePath(path)) {
        if (folder.isEmpty())
            return QString();
        path = QDir(folder).absoluteFilePath(path);
    }
    const QFileInfo info(path);
    return info.isFile() ? info.absoluteFilePath() : QString();
}

// The external part of the document's own DTD: through the catalogs first,
// then beside the document.
QString ownDtdFile(xmlDtdPtr subset, const QString &folder)
{
    if (!subset->SystemID && !subset->ExternalID)
        return QString();
    if (xmlChar *mapped = xmlCatalogResolve(subset->ExternalID, subset->SystemID)) {
        const QString found = localFile(fromXml(mapped), folder);
        xmlFree(mapped);
        if (!found.isEmpty())
            return found;
    }
    return subset->SystemID ? localFile(fromXml(subset->SystemID), folder) : QString();
}

QString xsiLocation(xmlNodePtr root, const QString &folder)
{
    if (xmlChar *plain = xmlGetNsProp(root, reinterpret_cast<const xmlChar *>("noNamespaceSchemaLocation"), xsiNamespace)) {
        const QString found = localFile(fromXml(plain).trimmed(), folder);
        xmlFree(plain);
        if (!found.isEmpty())
            return found;
    }
    xmlChar *pairs = xmlGetNsProp(root, reinterpret_cast<const xmlChar *>("schemaLocation"), xsiNamespace);
    if (!pairs)
        return QString();
    const QStringList words = fromXml(pairs).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    xmlFree(pairs);
    const QString rootNs = root->ns && root->ns->href ? fromXml(root->ns->href) : QString();
    for (int i = 0; i + 1 < words.size(); i += 2) {
        if (words[i] == rootNs)
            return localFile(words[i + 1], folder);
    }
    return QString();
}

// The RELAX NG grammar an <?xml-model?> instruction ahead of the root
// names (through the catalogs first, then beside the document); one in the
// compact syntax is passed over, as it is not read.
QString modelLocation(xmlDocPtr doc, const QString &folder)
{
    static const QRegularExpression pseudo(QStringLiteral("([A-Za-z][\\w.-]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')"));
    for (xmlNodePtr n = doc->children; n && n->type != XML_ELEMENT_NODE; n = n->next) {
        if (n->type != XML_PI_NODE || !xmlStrEqual(n->name, reinterpret_cast<const xmlChar *>("xml-model")))
            continue;
        QString href, typens;
        for (auto m = pseudo.globalMatch(fromXml(n->content)); m.hasNext();) {
            const QRegularExpressionMatch found = m.next();
            QString value = found.captured(2) + found.captured(3);
            value.replace(QLatin1String("&quot;"), QLatin1String("\"")).replace(QLatin1String("&apos;"), QLatin1String("'"));
            value.replace(QLatin1String("&lt;"), QLatin1String("<")).replace(QLatin1String("&gt;"), QLatin1String(">"));
            value.replace(QLatin1String("&amp;"), QLatin1String("&"));
            if (found.captured(1) == QLatin1String("href"))
                href = value.trimmed();
            else if (found.captured(1) == QLatin1String("schematypens"))
                typens = value.trimmed();
        }
        if (typens != QLatin1String("http://relaxng.org/ns/structure/1.0") || href.isEmpty() || isCompactRelaxNg(href))
            continue;
        const QByteArray name = href.toUtf8();
        const auto *id = reinterpret_cast<const xmlChar *>(name.constData());
        xmlChar *mapped = xmlCatalogResolveURI(id);
        if (!mapped)
            mapped = xmlCatalogResolveSystem(id);
        if (mapped) {
            const QString found = localFile(fromXml(mapped), folder);
            xmlFree(mapped);
            if (!found.isEmpty())
                return found;
        }
        const QString found = localFile(href, folder);
        if (!found.isEmpty())
            return found;
    }
    return QString();
}

} // namespace

QString SchemaSource::shownName() const
{
    if (!path.isEmpty())
        return QFileInfo(path).fileName();
    return ownDtd ? QStringLiteral("DOCTYPE") : QString();
}

bool precedesInDocument(const XmlNode &a, const XmlNode &b)
{
    auto *x = static_cast<xmlNodePtr>(XmlNodeAccess::raw(a));
    auto *y = static_cast<xmlNodePtr>(XmlNodeAccess::raw(b));
    return x && y && xmlXPathCmpNodes(x, y) == 1;
}

SchemaSource schemaInUse(const XmlDocument &document, const QString &chosenPath, const QString &documentPath)
{
    if (!chosenPath.isEmpty() && schemaKindOf(chosenPath) != SchemaKind::None)
        return {schemaKindOf(chosenPath), chosenPath, false};
    auto *doc = static_cast<xmlDocPtr>(document.rawDocument());
    xmlNodePtr root = doc ? xmlDocGetRootElement(doc) : nullptr;
    if (!root)
        return {};
    libxml::ensureInitialized();
    // Where the document was read from, else where the window keeps it.
    QString from = doc->URL ? localFile(fromXml(doc->URL), QString()) : QString();
    if (from.isEmpty())
        from = documentPath;
    const QString folder = from.isEmpty() ? QString() : QFileInfo(from).absolutePath();
    if (xmlDtdPtr own = doc->intSubset) {
        const QString file = ownDtdFile(own, folder);
        if (!file.isEmpty() || own->elements)
            return {SchemaKind::Dtd, file, true};
    }
    const QString grammar = modelLocation(doc, folder);
    if (!grammar.isEmpty())
        return {SchemaKind::RelaxNg, grammar, false};
    const QString xsd = xsiLocation(root, folder);
    if (!xsd.isEmpty())
        return {SchemaKind::Xsd, xsd, false};
    return {};
}
