#pragma once

#include "startup/Settings.h"

// --sources: every setting in force and where it came from, then the sources tried
// as start-up tries them, with the one a build would use and why the others were
// passed over. Needs a QCoreApplication and nothing graphical. Returns 0 when a source
// answers, 2 otherwise.
int runCommandLineSources(const Settings &defaults);
