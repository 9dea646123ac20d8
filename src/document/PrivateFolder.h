#pragma once

#include <QString>

#include <functional>

// Folders only this user may enter (mode 0700), made and checked without
// following a symbolic link: a planted link would otherwise have the editor
// change another folder's mode and write its files there.
namespace PrivateFolder {

// Makes base/relative, each component of `relative` a folder created when
// missing. Every component must be a real folder owned by this user; its
// mode is set to 0700 through the opened folder, never through a path.
// `base` itself is the user's choice and may be a link. Empty when a
// component is a link, another user's or no folder: *refused then names it.
QString make(const QString &base, const QString &relative, QString *refused = nullptr);

// make(base, relative); when that is refused, says so on one line of
// standard error (once per process) and returns fallback() instead.
QString makeOr(const QString &base, const QString &relative, const std::function<QString()> &fallback);

} // namespace PrivateFolder
