#pragma once

#include <QByteArray>
#include <QProcessEnvironment>

// The editor sets some variables for itself alone (the web engine's flags,
// its sandbox, a platform it chose). Programs it starts for the user get
// the environment the editor was started with instead: a browser started
// with the preview's proxy would have no network, and as root no sandbox.
namespace ChildEnvironment {

// Sets `name` for this process; programs started later get the value it
// had before the first such call (or none).
void setOwn(const char *name, const QByteArray &value);

// This process's environment with every variable set through setOwn back
// as it was.
QProcessEnvironment forPrograms();

} // namespace ChildEnvironment
