#pragma once

// Encoding names and checks shared by the services in this folder.
// Internal to src/document.

#include <QByteArray>
#include <QString>

struct _xmlDoc;

namespace libxml {

// Files declared Shift_JIS (under any of its names) are nearly always the
// Windows code page 932, which adds the NEC and IBM extension characters the
// strict converter rejects; such names are made to reach the code page 932
// converter, for reading and for writing. EUC-JP likewise reaches the table
// with the same extensions where the system has one. Called once, by
// ensureInitialized(), before any document is read.
void addEncodingAliases();

// True when each byte of `encoding` is a character of its own and the
// ASCII bytes are ASCII (ISO-8859-*, windows-125*, KOI8-R, MacCyrillic, ...):
// markup is then found byte by byte. Asked of iconv once per name.
bool isAsciiSingleByte(const QByteArray &encoding);

// Where `bytes` stop being valid in `encoding`: the 1-based line of the
// first sequence that does not decode and its first bytes, or false when all
// of it decodes (or the system has no converter for the name).
bool findUndecodable(const QByteArray &bytes, const QString &encoding, int *line, QByteArray *sequence);

// Where the document needs a character `encoding` lacks in a place a
// character reference would not stand for it (names, comments, processing
// instructions, CDATA sections): a message naming the character and the
// place, else empty. Text and attribute values need no check: there the
// character is written as a reference.
QString unwritableMarkup(struct _xmlDoc *doc, const QString &encoding);

} // namespace libxml
