#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

// pdftk's info text, read as pdftk-java reads it: what update_info_utf8 takes and
// dump_data_utf8 prints. A line "<Kind>Begin" opens a record of "Key: value" lines.
struct PdftkInfo {
    struct Record {
        QString kind; // "Bookmark", "Info", "PageMedia", …
        QList<std::pair<QString, QString>> fields;
    };
    QList<Record> records;
    QStringList strays; // lines of neither form; those before any record

    static PdftkInfo read(const QByteArray &utf8);
    // The bookmarks in order: title and page.
    QList<std::pair<QString, int>> bookmarks() const;
};
