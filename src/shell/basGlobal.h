#pragma once

#include <memory>

class InstanceLife;
class Prompt;
class QApplication;
class QString;
class frmMain;

// The editor's entry routine and its steps.
namespace basGlobal {

// Runs the editor in `app` until the last window has closed and no
// automation client holds a window object; returns the exit code.
// The first instance of this user starts the window coordinator and clears
// the working folders of ended instances. Started with --automation, the
// program only serves D-Bus; started by a user, it shows the splash form and
// one window with the file the command line names.
int Main(QApplication &app);

// Start-up by a user: the splash form, then a window with the file
// `commandLine` names (when one exists there), shown, the splash gone. The
// window is held in `life`. `prompt` null: the window asks through Qt
// dialogs. Returns the window.
frmMain *startStandAlone(const QString &commandLine, InstanceLife &life, std::unique_ptr<Prompt> prompt = nullptr);

} // namespace basGlobal
