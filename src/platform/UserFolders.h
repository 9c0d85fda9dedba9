#pragma once

#include <QProcessEnvironment>
#include <QString>

// The user's documents folder as the desktop names it: XDG_DOCUMENTS_DIR from the
// user's user-dirs.dirs, else from the environment; else ~/Documents when there is one;
// else the home folder. Never ends with "/" (but for "/" itself).
QString documentsFolder(const QProcessEnvironment &env);
