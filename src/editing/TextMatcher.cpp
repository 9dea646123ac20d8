#include "TextMatcher.h"

#include "base/StringTable.h"

TextMatcher::TextMatcher(const MatchOptions &options)
    : m_case(options.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive)
{
    if (options.pattern.isEmpty()) {
        m_error = resourceString(3410);
        return;
    }
    if (!options.regularExpression) {
        m_literal = options.pattern;
        // Without case, only ASCII letters compare alike byte by byte.
        bool ascii = true;
        for (const QChar c : m_literal)
            ascii = ascii && c.unicode() < 128;
        if (options.caseSensitive || ascii)
            m_required = m_literal.toUtf8();
    }
    m_useExpression = options.regularExpression || options.wholeWord;
    if (!m_useExpression) {
        m_replacement = options.replacement;
        return;
    }
    QString source = options.regularExpression ? options.pattern : QRegularExpression::escape(options.pattern);
    // Look-arounds rather than \b: a word that begins or ends with a sign
    // still has to stand apart from the letters around it.
    if (options.wholeWord)
        source = QStringLiteral("(?<!\\w)(?:") + source + QStringLiteral(")(?!\\w)");
    QRegularExpression::PatternOptions flags = QRegularExpression::UseUnicodePropertiesOption;
    if (!options.caseSensitive)
        flags |= QRegularExpression::CaseInsensitiveOption;
    m_expression = QRegularExpression(source, flags);
    if (!m_expression.isValid()) {
        m_error = resourceString(3411).arg(m_expression.errorString());
        return;
    }
    m_expression.optimize();
    if (options.regularExpression)
        parseReplacement(options.replacement, m_expression.captureCount());
    else
        m_pieces.push_back({options.replacement});
}

void TextMatcher::parseReplacement(const QString &replacement, int groups)
{
    QString text;
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar c = replacement[i];
        if (c != u'\\' || i + 1 == replacement.size()) {
            text += c;
            continue;
        }
        const QChar next = replacement[++i];
        if (next.isDigit() && next.unicode() < 128) {
            const int group = next.digitValue();
            if (group > groups) {
                m_error = resourceString(3412).arg(group);
                return;
            }
            m_pieces.push_back({text});
            m_pieces.push_back({{}, group});
            text.clear();
        } else if (next == u'n') {
            text += u'\n';
        } else if (next == u't') {
            text += u'\t';
        } else {
            text += next; // \\ and any other escaped character stand for themselves
        }
    }
    m_pieces.push_back({text});
}

bool TextMatcher::mayContain(const QString &text) const
{
    // The literal's search is many times quicker than the expression's, and
    // most values of a document do not hold it.
    return m_literal.isEmpty() || text.contains(m_literal, m_case);
}

int TextMatcher::count(const QString &text) const
{
    if (!m_error.isEmpty() || !mayContain(text))
        return 0;
    int n = 0;
    if (!m_useExpression) {
        for (qsizetype at = text.indexOf(m_literal, 0, m_case); at >= 0;
             at = text.indexOf(m_literal, at + m_literal.size(), m_case))
            ++n;
        return n;
    }
    for (auto it = m_expression.globalMatch(text); it.hasNext();)
        if (it.next().capturedLength() > 0)
            ++n;
    return n;
}

QString TextMatcher::replaced(const QString &text, int *matches) const
{
    int n = 0;
    QString out;
    qsizetype done = 0;
    if (!m_error.isEmpty() || !mayContain(text)) {
        // nothing to replace
    } else if (!m_useExpression) {
        for (qsizetype at = text.indexOf(m_literal, 0, m_case); at >= 0;
             at = text.indexOf(m_literal, done, m_case)) {
            out += QStringView(text).mid(done, at - done);
            out += m_replacement;
            done = at + m_literal.size();
            ++n;
        }
    } else {
        for (auto it = m_expression.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            if (match.capturedLength() == 0)
                continue;
            out += QStringView(text).mid(done, match.capturedStart() - done);
            for (const Piece &piece : m_pieces)
                out += piece.group < 0 ? piece.text : match.captured(piece.group);
            done = match.capturedEnd();
            ++n;
        }
    }
    if (matches)
        *matches = n;
    if (n == 0)
        return text;
    out += QStringView(text).mid(done);
    return out;
}
