#pragma once

#include <QRegularExpression>
#include <QString>

#include <vector>

// What a find and replace looks for and how.
struct MatchOptions
{
    QString pattern;
    QString replacement;
    bool caseSensitive = false;
    // A match may not have a letter, digit or underscore (of any script)
    // right before or after it.
    bool wholeWord = false;
    // `pattern` is a Perl-like regular expression and `replacement` may
    // refer to its groups as \0 to \9 (\\ is a backslash, \n and \t a line
    // break and a tab); otherwise both are taken as they are.
    bool regularExpression = false;
};

// Finds and replaces the matches of a pattern in strings. Matches of no
// characters (a pattern such as "x*" between two letters) are passed over:
// they would insert the replacement between every two characters of every
// value of a document.
class TextMatcher
{
public:
    explicit TextMatcher(const MatchOptions &options);

    // Empty when the pattern and the replacement can be used; else why not.
    QString error() const { return m_error; }
    // How many matches `text` holds (0 with an error).
    int count(const QString &text) const;
    // Bytes every match's text holds, in UTF-8 (ASCII letters in either case
    // when caseless()); empty when no such bytes are known.
    QByteArray requiredBytes() const { return m_required; }
    bool caseless() const { return m_case == Qt::CaseInsensitive; }
    // `text` with every match replaced; `matches` (when given) their number.
    QString replaced(const QString &text, int *matches = nullptr) const;

private:
    // A piece of the replacement: literal text, or a group's number.
    struct Piece
    {
        QString text;
        int group = -1;
    };
    bool mayContain(const QString &text) const;
    void parseReplacement(const QString &replacement, int groups);

    QString m_error;
    QString m_literal; // the pattern, when it is no regular expression
    QByteArray m_required;
    Qt::CaseSensitivity m_case;
    // Set when a plain search is not enough (a pattern or whole words).
    QRegularExpression m_expression;
    bool m_useExpression = false;
    QString m_replacement; // literal replacement
    std::vector<Piece> m_pieces; // with an expression's groups
};
