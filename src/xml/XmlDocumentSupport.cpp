// Small helpers shared by the document files: conversions and checks.
#include "XmlDocument.h"

#include "XmlDocumentInternal.h"

#include <QRegularExpression>

#include <libxml/tree.h>

using namespace xmldoc;

namespace xmldoc {

QByteArray utf8(const QString &s)
{
    return s.toUtf8();
}

const xmlChar *xc(const QByteArray &bytes)
{
    return reinterpret_cast<const xmlChar *>(bytes.constData());
}

bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

bool checkChars(const QString &text, QString *error)
{
    for (char32_t c : text.toUcs4()) {
        if (!isXmlChar(c)) {
            if (error)
                *error = QStringLiteral("XMLで使用できない文字 (U+%1) が含まれています。")
                             .arg(QString::number(uint(c), 16).toUpper().rightJustified(4, QLatin1Char('0')));
            return false;
        }
    }
    return true;
}

bool checkName(const QString &name, QString *error)
{
    const QByteArray n = utf8(name);
    if (name.isEmpty() || xmlValidateQName(xc(n), 0) != 0) {
        if (error)
            *error = QStringLiteral("「%1」はXMLの名前として正しくありません。").arg(name);
        return false;
    }
    return true;
}

bool isDeclarationTarget(const xmlChar *name)
{
    return xmlStrEqual(name, BAD_CAST "xml");
}

bool checkTarget(const QString &target, bool allowDeclaration, QString *error)
{
    const QByteArray t = utf8(target);
    const bool reserved = target.compare(QLatin1String("xml"), Qt::CaseInsensitive) == 0
        && !(allowDeclaration && target == QLatin1String("xml"));
    if (target.isEmpty() || xmlValidateNCName(xc(t), 0) != 0 || reserved) {
        if (error)
            *error = QStringLiteral("「%1」は処理命令のターゲットとして使用できません。").arg(target);
        return false;
    }
    return true;
}

bool checkContent(NodeKind kind, const QString &text, bool declaration, QString *error)
{
    if (!checkChars(text, error))
        return false;
    switch (kind) {
    case NodeKind::Comment:
        if (text.contains(QLatin1String("--")) || text.endsWith(QLatin1Char('-'))) {
            if (error)
                *error = QStringLiteral("コメントに \"--\" を含めたり、\"-\" で終えたりすることはできません。");
            return false;
        }
        break;
    case NodeKind::CData:
        if (text.contains(QLatin1String("]]>"))) {
            if (error)
                *error = QStringLiteral("CDATAセクションに \"]]>\" を含めることはできません。");
            return false;
        }
        break;
    case NodeKind::ProcessingInstruction: {
        if (text.contains(QLatin1String("?>"))) {
            if (error)
                *error = QStringLiteral("処理命令に \"?>\" を含めることはできません。");
            return false;
        }
        static const QRegularExpression declarationSyntax(QStringLiteral(
            "^\\s*version\\s*=\\s*([\"'])1\\.[0-9]+\\1(\\s+encoding\\s*=\\s*([\"'])[A-Za-z][A-Za-z0-9._-]*\\3)?"
            "(\\s+standalone\\s*=\\s*([\"'])(yes|no)\\5)?\\s*$"));
        if (declaration && !declarationSyntax.match(text).hasMatch()) {
            if (error)
                *error = QStringLiteral("XML宣言の内容が正しくありません: %1").arg(text);
            return false;
        }
        break;
    }
    default:
        break;
    }
    return true;
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

void setLiteralValue(xmlAttrPtr a, const QByteArray &value)
{
    xmlFreeNodeList(a->children);
    a->children = a->last = nullptr;
    xmlNodePtr text = xmlNewDocText(a->doc, xc(value));
    text->parent = reinterpret_cast<xmlNodePtr>(a);
    a->children = a->last = text;
}

} // namespace xmldoc
