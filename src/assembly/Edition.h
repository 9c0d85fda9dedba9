#pragma once

#include "sources/SourceSettings.h"

#include <QString>

enum class Edition { English, Metric };

// Where an edition's sheets lie at the source, and how each is named there: the sheet
// of a GSID is prefix + GSID + ".pdf" in folder.
struct EditionPaths {
    QString folder; // FTP: the directory on the server; web: its address; share: the
                    // folder; each ending in "/"
    QString prefix;

    static EditionPaths of(Edition edition, SourceMode mode, const SourceSettings &sources)
    {
        const bool metric = edition == Edition::Metric;
        const QString prefix = metric ? QStringLiteral("M_GSID_") : QStringLiteral("GSID_");
        const QString edition_ =
            metric ? QStringLiteral("PDF Metric Sheet/") : QStringLiteral("PDF Single Sheet/");
        if (mode == SourceMode::Ftp)
            return {QStringLiteral("/Geod/") + edition_, prefix};
        if (mode == SourceMode::Web)
            return {sources.webUrl + edition_, prefix};
        const QString &shareDir = sources.shareDir;
        const QString share =
            shareDir.endsWith(QLatin1Char('/')) ? shareDir : shareDir + QLatin1Char('/');
        return {share + edition_, prefix};
    }
};
