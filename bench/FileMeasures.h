#pragma once

#include <QString>

// The measurements that need no window: each prints its figures on standard
// output and returns the process's exit code.

// Saving the unchanged document, against libxml2's own formatted save.
int measureSave(const QString &path);
// Validating against the generated DTD and XML Schema, against xmllint.
int measureValidate(const QString &path);
// Opening and saving every XML file under /usr/share unchanged.
int measureRoundTrip();
