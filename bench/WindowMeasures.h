#pragma once

#include "document/Prompt.h"

#include <QString>

#include <chrono>
#include <functional>
#include <cstdio>

class frmMain;

// Measurements of a shown editor window, each in a process of its own: they
// print their figures on standard output and return the exit code.

using Clock = std::chrono::steady_clock;

// A field of /proc/self/status, in kB.
long statusKb(const char *field);
// Starts a measured load: the resident size now, with the peak reset to it.
long startLoad();
// Prints the time since `start` and the peak memory beyond `baseKb`, and the
// node count when one is given.
void report(Clock::time_point start, long baseKb, long nodes = -1);
// Shows the window with the file open in it, painted.
bool openShown(frmMain &window, const QString &path);
// Opens `path` as a user does, the preview and the check behind typing
// following; `checked` is set each time such a check ends.
bool openWatchingChecks(frmMain &window, const QString &path, bool &checked);
// Handles events until `until` holds or `ms` have passed, asleep while
// there are none: a loop of processEvents() given a time would spin, taking
// a core from the worker processes being measured. Whether `until` holds.
bool runEventsUntil(const std::function<bool()> &until, int ms);
// Waits, up to a minute, until the preview pane shows its page, as a user
// who has looked at the document before acting on it.
bool previewSettled(frmMain &window);

// Expanding the whole document, then collapsing it.
int measureExpandAll(int argc, char **argv, const QString &path);
// Changes and undos with the whole document expanded.
int measureEditAfterExpand(int argc, char **argv, const QString &path);
// Find next and the path query.
int measureSearch(int argc, char **argv, const QString &path);
// Replacing a value in every record, and undoing it.
int measureReplace(int argc, char **argv, const QString &path);

// Nobody answers the window's questions: a message goes to standard error
// (a box would wait for ever), every question and dialog is cancelled.
class UnattendedPrompt : public Prompt
{
public:
    Answer message(const QString &text, Icon, Buttons buttons, bool) override
    {
        std::fprintf(stderr, "ostrel-bench: %s\n", qPrintable(text));
        return buttons == Buttons::Ok ? Answer::Ok : buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
    bool openFileDialog(const QString &, const QString &, QString *, bool *) override { return false; }
    bool saveFileDialog(const QString &, const QString &, QString *) override { return false; }
    bool fontDialog(QString *, int *) override { return false; }
    bool printDialog(QPrinter *) override { return false; }
};

// Validating a generated DocBook 5 article of 20 MB against DocBook 5's
// RELAX NG grammar: F7, the names offered in the label editor, and the
// check behind typing after a change, against xmllint --relaxng.
int measureRelaxNg(int argc, char **argv);
