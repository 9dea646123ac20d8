#include "Wildcard.h"

#include <vector>

namespace {

using Token = WildcardPattern::Token;

std::vector<Token> compile(const QString &pattern)
{
    std::vector<Token> tokens;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        Token t;
        if (c == QLatin1Char('*')) {
            // A run of stars matches what one star does.
            if (!tokens.empty() && tokens.back().kind == Token::Star)
                continue;
            t.kind = Token::Star;
        } else if (c == QLatin1Char('?')) {
            t.kind = Token::Any;
        } else if (c == QLatin1Char('#')) {
            t.kind = Token::Digit;
        } else if (c == QLatin1Char('[') && pattern.indexOf(QLatin1Char(']'), i + 1) > i) {
            const qsizetype close = pattern.indexOf(QLatin1Char(']'), i + 1);
            qsizetype j = i + 1;
            t.kind = Token::List;
            if (j < close && pattern[j] == QLatin1Char('!')) {
                t.negated = true;
                ++j;
            }
            while (j < close) {
                if (j + 2 < close && pattern[j + 1] == QLatin1Char('-')) {
                    t.ranges.emplace_back(pattern[j], pattern[j + 2]);
                    j += 3;
                } else {
                    t.ranges.emplace_back(pattern[j], pattern[j]);
                    ++j;
                }
            }
            i = close;
        } else {
            t.ch = c;
        }
        tokens.push_back(std::move(t));
    }
    return tokens;
}

bool accepts(const Token &t, QChar c)
{
    switch (t.kind) {
    case Token::Any: return true;
    case Token::Digit: return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    case Token::Char: return c == t.ch;
    case Token::List: {
        bool in = false;
        for (const auto &[from, to] : t.ranges)
            in = in || (c >= from && c <= to);
        return in != t.negated;
    }
    case Token::Star: break;
    }
    return false;
}

} // namespace

bool wildcardMatch(const QString &text, const QString &pattern)
{
    return WildcardPattern(pattern).matches(text);
}

WildcardPattern::WildcardPattern(const QString &pattern)
    : m_tokens(compile(pattern)), m_states(m_tokens.size() + 1), m_next(m_tokens.size() + 1)
{
}

bool WildcardPattern::matches(QStringView text) const
{
    // The set of pattern positions reached so far, advanced one character
    // at a time; a star's position is also passed over for free.
    const std::vector<Token> &tokens = m_tokens;
    const size_t n = tokens.size();
    std::vector<char> &states = m_states;
    std::vector<char> &next = m_next;
    auto close = [&](std::vector<char> &set) {
        for (size_t p = 0; p < n; ++p)
            if (set[p] && tokens[p].kind == Token::Star)
                set[p + 1] = 1;
    };
    std::fill(states.begin(), states.end(), 0);
    states[0] = 1;
    close(states);
    for (const QChar c : text) {
        std::fill(next.begin(), next.end(), 0);
        bool any = false;
        for (size_t p = 0; p < n; ++p) {
            if (!states[p])
                continue;
            if (tokens[p].kind == Token::Star) {
                next[p] = 1;
                any = true;
            } else if (accepts(tokens[p], c)) {
                next[p + 1] = 1;
                any = true;
            }
        }
        if (!any)
            return false;
        close(next);
        states.swap(next);
    }
    return states[n] != 0;
}
