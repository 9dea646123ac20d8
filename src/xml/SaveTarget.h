#pragma once

#include <QByteArray>
#include <QString>

// Where a save writes, and how. A plain file with one link is replaced
// atomically (a temporary file renamed over it) and the new file gets the
// old one's owner, group and mode. A file with other hard links, one whose
// owner or group this process may not give a new file, or one in a folder
// this process may not add files to, is written in place, so every name
// sees the new content and the owner stays. Anything that is not a plain
// file is refused. Symbolic links are followed: the file they point to is
// the one written.
namespace savetarget {

// A message naming what `path` is when it is no file to save to (a folder,
// a device, a FIFO, a socket); empty for a plain file or a name not taken.
QString refusal(const QString &path);

// True when a save to `path` writes over the existing file's content
// instead of replacing the file.
bool writesInPlace(const QString &path);

// Writes `bytes` to `path` as described above; on failure `error` says why
// and a replaced file is left as it was.
bool write(const QString &path, const QByteArray &bytes, QString *error);

} // namespace savetarget
