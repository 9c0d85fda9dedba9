#pragma once

#include "Settings.h"
#include "Workspace.h"

#include <functional>
#include <memory>

class FileSystem;

// What start-up settled for the rest of the run: where the sheets come from and the
// window's own workspace, emptied.
struct StartUp {
    SourceMode mode = SourceMode::Undecided;
    Workspace workspace;
    QString error;   // why the program cannot go on; nothing else is set then
    QString details; // what was tried, for the message's details
    // What one build learns of the source for the next.
    std::shared_ptr<SourceMemory> memory = std::make_shared<SourceMemory>();

    explicit operator bool() const { return error.isEmpty(); }
};

// The start-up sequence of the window and of the command line alike: the source is
// chosen (the share, then the web server, then the FTP server, each when set), then the
// workspace taken and emptied of what a run that ended without its clean-up left. When no source
// answers, the workspace is not touched. sourceChosen, when given, is called once a source answered
// and before the workspace is taken.
StartUp startUp(const Settings &settings, FileSystem &fso,
                const std::function<void()> &sourceChosen = {});

QString sourceFailureMessage();
