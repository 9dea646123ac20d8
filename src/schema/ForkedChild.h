#pragma once

#include <QByteArray>

#include <functional>

class XmlDocument;

// Work on a document in a forked child of the window's process. The child
// sees the document as it was at the fork through copy-on-write pages, so
// the window neither copies it nor waits for the work; ending the child
// gives its processor time and memory back at once.
namespace forked {

// Forks a child that runs `work` with the write end of a pipe and then
// ends (exit status 0 when `work` returns true). Returns the child's id and
// sets `readEnd` to the pipe's read end (close-on-exec), or returns -1.
// The document must not change on this thread until the fork returns; it
// is settled first, since the child has this thread only.
int start(const XmlDocument &document, const std::function<bool(int fd)> &work, int *readEnd);

// Writes all of `data` to `fd`; false when the reader has gone.
bool writeAll(int fd, const QByteArray &data);

// Kills a child and reaps it without waiting here: a child with a large
// copy of the editor takes a while to be torn down.
void end(int pid);

} // namespace forked
