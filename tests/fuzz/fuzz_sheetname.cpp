// A sheet's file name, made from pdftotext's text (its lines cut as SheetRenamer cuts
// them) or, for a sheet without the label, from its GSID: one safe name, not empty, not
// "." or "..", without "/" or control characters, the same after the file system's
// encoding there and back, within 255 bytes even with a " (n)" added, ending in ".pdf".
// The station name is a part of one line, trimmed, without a wide gap.
#include "FuzzCheck.h"
#include "assembly/SheetName.h"

#include <QFile>

namespace {

void checkFileName(const QString &name)
{
    FUZZ_CHECK(!name.isEmpty() && name != "." && name != "..", shown(name));
    FUZZ_CHECK(!name.contains('/'), shown(name));
    FUZZ_CHECK(std::none_of(name.cbegin(), name.cend(), isControl), shown(name));
    const QByteArray encoded = QFile::encodeName(name + " (32767)");
    FUZZ_CHECK(QFile::decodeName(encoded) == name + " (32767)", shown(name));
    FUZZ_CHECK(encoded.size() <= 255, QString::number(encoded.size()));
    FUZZ_CHECK(name.endsWith(".pdf"), shown(name));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = utf8Text(data, size);
    QStringList lines = text.split('\n');
    for (QString &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const std::optional<QString> name = sheetNameFromText(lines);
    if (name)
        checkFileName(safeFileName(*name));
    checkFileName(safeFileName("M_GSID_" + text + ".pdf"));

    const QString station = stationNameFromText(lines);
    FUZZ_CHECK(station == station.trimmed(), shown(station));
    FUZZ_CHECK(!station.contains("   "), shown(station));
    FUZZ_CHECK(station.isEmpty() ||
                   std::any_of(lines.cbegin(), lines.cend(),
                               [&](const QString &l) { return l.contains(station); }),
               shown(station));
    return 0;
}
