#pragma once

#include <QString>

// The input-file path named on the command line, or an empty text for none.
// Spaces around it go; a leading double quote keeps what stands before the next
// one (or everything after it when there is none); unquoted text is one path.
QString commandLinePath(const QString &commandText);
