#pragma once

#include <QString>
#include <QStringView>

#include <vector>

// True when the whole of `text` matches `pattern`, case-sensitively:
// `*` any run of characters, `?` any one character, `#` one digit 0-9,
// `[list]` one character of the list (ranges such as a-z allowed),
// `[!list]` one character not in it; `[*]`, `[?]`, `[#]` and `[[]` stand
// for the character itself, as does every other character. A `[` without
// its closing `]` stands for itself too.
//
// Runs in time proportional to the text's length times the pattern's, so
// patterns with many stars cannot blow up.
bool wildcardMatch(const QString &text, const QString &pattern);

// A pattern read once, for matching it against many texts.
class WildcardPattern
{
public:
    explicit WildcardPattern(const QString &pattern);
    bool matches(QStringView text) const;

    struct Token
    {
        enum Kind { Star, Any, Digit, Char, List } kind = Char;
        QChar ch;
        bool negated = false;
        std::vector<std::pair<QChar, QChar>> ranges; // inclusive
    };

private:
    std::vector<Token> m_tokens;
    // The sets of pattern positions reached, kept to spare allocations.
    mutable std::vector<char> m_states;
    mutable std::vector<char> m_next;
};
