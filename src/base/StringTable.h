#pragma once

#include <QString>

// The string table: texts shown to the user, by number. GetResString(n)
// returns entry 1000 + n; an unknown entry gives an empty string.
QString GetResString(int n);
// An entry by its own number (e.g. 1009).
QString resourceString(int id);
