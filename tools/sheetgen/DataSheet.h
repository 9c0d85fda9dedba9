#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One station's published data sheet, as the sample generator and the tests write it.
struct DataSheet {
    QString gsid;
    QString stationName;
    QString county; // "Alpha, Beta State": the qualifier is the part before the comma
    double latitude = 0;
    double longitude = 0;
    double elevationMetres = 0;
    QStringList description;
};

enum class SampleEdition { English, Metric };

// The text lines of a sheet, top to bottom, in the given edition.
QStringList dataSheetLines(const DataSheet &sheet, SampleEdition edition);

// A one-page PDF (Courier, so text extraction keeps columns) holding the given lines.
QByteArray pdfFromLines(const QStringList &lines);

// Writes the sheet as a PDF; returns false when the file cannot be written.
bool writeDataSheet(const QString &path, const DataSheet &sheet, SampleEdition edition);

// A fixed set of realistic sample stations, the same on every call.
QList<DataSheet> sampleStations(int count);

// The same stations with names and counties as long as the sheets allow, which
// give sheet file names of about 70 characters.
QList<DataSheet> longNamedStations(int count);

// Writes every station in both editions below root, in the share's layout:
// "PDF Single Sheet/GSID_<n>.pdf" and "PDF Metric Sheet/M_GSID_<n>.pdf".
bool writeSheetTree(const QString &root, const QList<DataSheet> &stations);
