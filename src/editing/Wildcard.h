#pragma once

#include <QString>

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
