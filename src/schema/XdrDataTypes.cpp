#include "XdrValidator.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

#include <limits>

// The values the datatypes namespace's types admit, apart from the schema.

namespace {

QStringList tokens(const QString &s)
{
    return s.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}


bool isNameStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool isNameChar(QChar c)
{
    return isNameStart(c) || c.isDigit() || c == QLatin1Char('.') || c == QLatin1Char('-') || c.isMark() ||
           c.category() == QChar::Number_Letter;
}

bool isNCName(const QString &s)
{
    if (s.isEmpty() || !isNameStart(s.front()))
        return false;
    return std::all_of(s.begin(), s.end(), isNameChar);
}

bool isNmtoken(const QString &s)
{
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) { return isNameChar(c) || c == QLatin1Char(':'); });
}


bool matches(const QString &pattern, const QString &s, QRegularExpressionMatch *match = nullptr)
{
    const QRegularExpression re(QLatin1Char('^') + pattern + QLatin1Char('$'));
    const QRegularExpressionMatch m = re.match(s);
    if (match)
        *match = m;
    return m.hasMatch();
}

bool inRange(const QString &s, qlonglong low, qlonglong high)
{
    if (!matches(QStringLiteral("[+-]?\\d+"), s))
        return false;
    bool ok = false;
    const qlonglong v = s.toLongLong(&ok);
    return ok && v >= low && v <= high;
}

bool unsignedInRange(const QString &s, qulonglong high)
{
    if (!matches(QStringLiteral("\\+?\\d+"), s))
        return false;
    bool ok = false;
    const qulonglong v = QString(s).remove(QLatin1Char('+')).toULongLong(&ok);
    return ok && v <= high;
}

const QString kTimePattern = QStringLiteral("(\\d{2}):(\\d{2})(?::(\\d{2})(?:\\.\\d{1,9})?)?");
const QString kZonePattern = QStringLiteral("(?:Z|[+-](?:0\\d|1[0-4]):[0-5]\\d)?");

bool validTime(const QRegularExpressionMatch &m, int first)
{
    const int second = m.captured(first + 2).isEmpty() ? 0 : m.captured(first + 2).toInt();
    return QTime::isValid(m.captured(first).toInt(), m.captured(first + 1).toInt(), second);
}

bool validDate(const QRegularExpressionMatch &m)
{
    return QDate::isValid(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

} // namespace

const QStringList &XdrValidator::dataTypes()
{
    static const QStringList types{
        QStringLiteral("string"),      QStringLiteral("number"),   QStringLiteral("int"),         QStringLiteral("float"),
        QStringLiteral("fixed.14.4"),  QStringLiteral("boolean"),  QStringLiteral("date"),        QStringLiteral("dateTime"),
        QStringLiteral("dateTime.tz"), QStringLiteral("time"),     QStringLiteral("time.tz"),     QStringLiteral("i1"),
        QStringLiteral("i2"),          QStringLiteral("i4"),       QStringLiteral("i8"),          QStringLiteral("ui1"),
        QStringLiteral("ui2"),         QStringLiteral("ui4"),      QStringLiteral("ui8"),         QStringLiteral("r4"),
        QStringLiteral("r8"),          QStringLiteral("uuid"),     QStringLiteral("uri"),         QStringLiteral("bin.hex"),
        QStringLiteral("bin.base64"),  QStringLiteral("char"),     QStringLiteral("id"),          QStringLiteral("idref"),
        QStringLiteral("idrefs"),      QStringLiteral("entity"),   QStringLiteral("entities"),    QStringLiteral("nmtoken"),
        QStringLiteral("nmtokens"),    QStringLiteral("notation"), QStringLiteral("enumeration"),
    };
    return types;
}

bool XdrValidator::isValidValue(const QString &type, const QString &text, const QStringList &values)
{
    if (type.isEmpty() || type == QLatin1String("string") || type == QLatin1String("uri"))
        return true;
    const QString v = text.trimmed();
    static const QHash<QString, std::pair<qlonglong, qlonglong>> kSigned{
        {QStringLiteral("i1"), {-128, 127}},
        {QStringLiteral("i2"), {-32768, 32767}},
        {QStringLiteral("i4"), {-2147483648LL, 2147483647LL}},
        {QStringLiteral("i8"), {std::numeric_limits<qlonglong>::min(), std::numeric_limits<qlonglong>::max()}}};
    static const QHash<QString, qulonglong> kUnsigned{{QStringLiteral("ui1"), 255},
                                                      {QStringLiteral("ui2"), 65535},
                                                      {QStringLiteral("ui4"), 4294967295ULL},
                                                      {QStringLiteral("ui8"), std::numeric_limits<qulonglong>::max()}};
    if (kSigned.contains(type))
        return inRange(v, kSigned.value(type).first, kSigned.value(type).second);
    if (kUnsigned.contains(type))
        return unsignedInRange(v, kUnsigned.value(type));
    if (type == QLatin1String("int"))
        return matches(QStringLiteral("[+-]?\\d+"), v);
    if (type == QLatin1String("number") || type == QLatin1String("float") || type == QLatin1String("r4") ||
        type == QLatin1String("r8"))
        return matches(QStringLiteral("[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?"), v);
    if (type == QLatin1String("fixed.14.4"))
        return matches(QStringLiteral("[+-]?\\d{1,14}(\\.\\d{0,4})?"), v);
    if (type == QLatin1String("boolean"))
        return v == QLatin1String("0") || v == QLatin1String("1");
    if (type == QLatin1String("char"))
        return v.size() == 1 || (v.size() == 2 && v[0].isHighSurrogate() && v[1].isLowSurrogate());
    if (type == QLatin1String("uuid"))
        return matches(QStringLiteral("[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}"), v);
    if (type == QLatin1String("bin.hex"))
        return matches(QStringLiteral("([0-9A-Fa-f]{2})*"), v);
    if (type == QLatin1String("bin.base64")) {
        const QByteArray bytes = QString(v).remove(QRegularExpression(QStringLiteral("\\s"))).toLatin1();
        return QByteArray::fromBase64Encoding(bytes, QByteArray::AbortOnBase64DecodingErrors).decodingStatus ==
               QByteArray::Base64DecodingStatus::Ok;
    }
    QRegularExpressionMatch m;
    const QString date = QStringLiteral("(\\d{4})-(\\d{2})-(\\d{2})");
    if (type == QLatin1String("date"))
        return matches(date, v, &m) && validDate(m);
    if (type == QLatin1String("dateTime") || type == QLatin1String("dateTime.tz")) {
        const QString zone = type == QLatin1String("dateTime.tz") ? kZonePattern : QString();
        return matches(date + QStringLiteral("(?:T") + kTimePattern + zone + QStringLiteral(")?"), v, &m) &&
               validDate(m) && (m.captured(4).isEmpty() || validTime(m, 4));
    }
    if (type == QLatin1String("time") || type == QLatin1String("time.tz")) {
        const QString zone = type == QLatin1String("time.tz") ? kZonePattern : QString();
        return matches(kTimePattern + zone, v, &m) && validTime(m, 1);
    }
    if (type == QLatin1String("id") || type == QLatin1String("idref") || type == QLatin1String("entity") ||
        type == QLatin1String("notation"))
        return isNCName(v);
    if (type == QLatin1String("nmtoken"))
        return isNmtoken(v);
    if (type == QLatin1String("idrefs") || type == QLatin1String("entities")) {
        const QStringList list = tokens(v);
        return !list.isEmpty() && std::all_of(list.begin(), list.end(), isNCName);
    }
    if (type == QLatin1String("nmtokens")) {
        const QStringList list = tokens(v);
        return !list.isEmpty() && std::all_of(list.begin(), list.end(), isNmtoken);
    }
    if (type == QLatin1String("enumeration"))
        return values.contains(v);
    return false;
}

