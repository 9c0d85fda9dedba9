#include "DataSheet.h"

#include <QDir>
#include <QFile>

namespace {

QByteArray pdfEscape(const QString &text)
{
    QByteArray out;
    for (char c : text.toLatin1()) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

QString dms(double degrees, char positive, char negative)
{
    const char hemisphere = degrees < 0 ? negative : positive;
    double rest = qAbs(degrees);
    const int d = int(rest);
    rest = (rest - d) * 60;
    const int m = int(rest);
    const double s = (rest - m) * 60;
    return QStringLiteral("%1 %2 %3 (%4)")
        .arg(d, 2, 10, QLatin1Char('0'))
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(s, 8, 'f', 5, QLatin1Char('0'))
        .arg(QLatin1Char(hemisphere));
}

} // namespace

QStringList dataSheetLines(const DataSheet &sheet, SampleEdition edition)
{
    const bool metric = edition == SampleEdition::Metric;
    const double height = metric ? sheet.elevationMetres : sheet.elevationMetres / 0.3048;
    const QString unit = metric ? QStringLiteral("meters") : QStringLiteral("feet");
    QStringList lines = {
        QStringLiteral("                 GEODETIC STATION DATA SHEET"),
        metric ? QStringLiteral("                     (Metric Edition)")
               : QStringLiteral("                     (English Edition)"),
        QString(),
        QStringLiteral("GSID:     %1").arg(sheet.gsid),
        QStringLiteral("OXA Name: %1").arg(sheet.stationName),
        QStringLiteral("County: %1").arg(sheet.county),
        QStringLiteral("Latitude:  %1").arg(dms(sheet.latitude, 'N', 'S')),
        QStringLiteral("Longitude: %1").arg(dms(sheet.longitude, 'E', 'W')),
        QStringLiteral("Elevation: %1 (%2)").arg(height, 0, 'f', metric ? 2 : 1).arg(unit),
        QString(),
        QStringLiteral("Description:"),
    };
    for (const QString &line : sheet.description)
        lines << QStringLiteral("  ") + line;
    return lines;
}

QByteArray pdfFromLines(const QStringList &lines)
{
    QByteArray content = "BT\n/F1 10 Tf\n12 TL\n50 740 Td\n";
    for (const QString &line : lines)
        content += '(' + pdfEscape(line) + ") Tj T*\n";
    content += "ET\n";

    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
        " /Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
            "endstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding >>",
    };
    QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

bool writeDataSheet(const QString &path, const DataSheet &sheet, SampleEdition edition)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray pdf = pdfFromLines(dataSheetLines(sheet, edition));
    return file.write(pdf) == pdf.size();
}

QList<DataSheet> sampleStations(int count)
{
    static const char *const names[] = {
        "NORTH BASE 2", "HARLOW",    "CEDAR RIDGE", "MILL CREEK RM 3", "BRANT",
        "OLD TOWER",    "WINDY GAP", "LOCK 14",     "FERRY LANDING",   "STONEY POINT",
        "EAGLE AZ MK",  "QUARRY",    "PINE KNOB",   "GRANGE HALL",     "BEACON 1952",
        "RIVERBEND",    "SADDLE",    "DUNMORE",     "HIGH WATER",      "TANK 7",
        "ASHBY RESET",  "WEST BASE", "COLLIER",     "MEADOW 2",        "FORT HILL",
    };
    static const char *const counties[] = {
        "Alpha, Beta State",   "Carver, Beta State",   "Delmont, Gamma State",
        "Easton, Gamma State", "Fairlie, Delta State",
    };
    QList<DataSheet> out;
    for (int i = 0; i < count; ++i) {
        DataSheet s;
        s.gsid = QString::number(100000 + 37 * i + (i % 5) * 1000);
        s.stationName = QString::fromLatin1(names[i % 25]);
        if (i >= 25)
            s.stationName += QStringLiteral(" %1").arg(i / 25 + 1);
        s.county = QString::fromLatin1(counties[i % 5]);
        s.latitude = 38.5 + 0.0371 * i;
        s.longitude = -77.25 - 0.0213 * i;
        s.elevationMetres = 40.0 + 7.31 * i;
        s.description = {
            QStringLiteral("Described 1987 by a field party; recovered %1.").arg(1995 + i % 20),
            QStringLiteral("The mark is a disk set in a concrete post, %1 m from the road.")
                .arg(5 + i % 9),
            QStringLiteral("Reference marks found in good condition."),
        };
        out << s;
    }
    return out;
}

QList<DataSheet> longNamedStations(int count)
{
    QList<DataSheet> out = sampleStations(count);
    for (DataSheet &s : out) {
        // The number stays in the name, so every name is still different.
        const QString name = s.stationName + QStringLiteral(" AZIMUTH REFERENCE MARK RESET 1987");
        s.stationName = name.left(38).trimmed();
        s.county = QStringLiteral("Upper ") + s.county.section(QLatin1Char(','), 0, 0) +
                   QStringLiteral(" Heights Township,") + s.county.section(QLatin1Char(','), 1);
    }
    return out;
}

bool writeSheetTree(const QString &root, const QList<DataSheet> &stations)
{
    const QDir dir(root);
    if (!dir.mkpath(QStringLiteral("PDF Single Sheet")) ||
        !dir.mkpath(QStringLiteral("PDF Metric Sheet")))
        return false;
    for (const DataSheet &s : stations) {
        if (!writeDataSheet(dir.filePath(QStringLiteral("PDF Single Sheet/GSID_") + s.gsid +
                                         QStringLiteral(".pdf")),
                            s, SampleEdition::English) ||
            !writeDataSheet(dir.filePath(QStringLiteral("PDF Metric Sheet/M_GSID_") + s.gsid +
                                         QStringLiteral(".pdf")),
                            s, SampleEdition::Metric))
            return false;
    }
    return true;
}
