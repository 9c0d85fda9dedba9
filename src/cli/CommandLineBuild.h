#pragma once

#include "CommandLineOptions.h"
#include "startup/Settings.h"

// A build asked for on the command line, from the settings to the report, with no
// window: the same settings, list rules, source, workspace, engine and messages as
// the window's Continue. Needs a QCoreApplication and nothing graphical. Returns the
// exit status:
//   0 every sheet is in the output, 1 the output was written without some sheets
//   (their GSIDs on standard output), 2 nothing was written, 128 + the signal's
//   number when SIGINT, SIGTERM or SIGHUP stopped it.
int runCommandLineBuild(const CommandLineOptions &options, const Settings &defaults);
