#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

// A settings file as its administrator wrote it: "[Section]" lines, "Key=value" lines,
// and whole-line comments beginning with "#" or ";". Blanks and tabs around a key and
// around its value are not part of them; everything else is, a "#" or ";" inside a value
// included, so that no value is ever cut short unseen. A value in double quotes keeps
// what stands between them. Read in one pass, in time linear in the file's size.
struct SettingsFile {
    struct Entry {
        QString section; // empty before the first section line
        QString key;
        QString value;
        int line = 0; // counted from 1
    };
    QList<Entry> entries;
    QList<int> strayLines; // neither a section, a setting, a comment nor blank

    static SettingsFile parse(QByteArrayView text);
};
