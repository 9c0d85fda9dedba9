// The bookmarks' info text for pdftk: read back as pdftk reads it, it holds one record
// a title and nothing else, each with its title as bookmarkText makes it, level 1 and
// its sheet's first page. bookmarkText keeps the length and changes nothing twice, and
// what it makes comes back from pdftk unchanged.
//
// The input: titles, cut at 0xFF bytes; each one's first byte gives its sheet's pages
// (the low 7 bits less one) and, in its high bit, whether the rest is UTF-16 (any code
// unit, lone surrogates too) or UTF-8.
#include "FuzzCheck.h"
#include "PdftkInfo.h"
#include "assembly/MergePlan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QStringList titles;
    QList<int> pages;
    for (const QByteArray &piece :
         QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\xff')) {
        const uint8_t head = piece.isEmpty() ? 1 : uint8_t(piece[0]);
        const QByteArray rest = piece.mid(1);
        pages << (head & 0x7f) - 1;
        titles << (head & 0x80
                       ? QString(reinterpret_cast<const QChar *>(rest.constData()), rest.size() / 2)
                       : QString::fromUtf8(rest));
    }
    const PdftkInfo info = PdftkInfo::read(MergePlan::bookmarkInfo(titles, pages));
    FUZZ_CHECK(info.strays.isEmpty(), shown(info.strays.value(0)));
    FUZZ_CHECK(info.records.size() == titles.size(), QString::number(info.records.size()));
    int page = 1;
    for (qsizetype i = 0; i < titles.size(); ++i) {
        const QString expected = MergePlan::bookmarkText(titles[i]);
        const PdftkInfo::Record &r = info.records[i];
        const QList<std::pair<QString, QString>> fields = {
            {"BookmarkTitle", expected},
            {"BookmarkLevel", "1"},
            {"BookmarkPageNumber", QString::number(page)}};
        FUZZ_CHECK(r.kind == "Bookmark" && r.fields == fields,
                   shown(titles[i]) + " read as " + shown(r.fields.value(0).second));
        FUZZ_CHECK(expected.size() == titles[i].size() &&
                       MergePlan::bookmarkText(expected) == expected,
                   shown(titles[i]));
        // pdftk-java stores a title in PDFDocEncoding when it can, and reads byte 0xA0
        // back as the euro sign, not as the no-break space it wrote.
        FUZZ_CHECK(!expected.contains(QChar::Nbsp), shown(expected));
        page += qMax(1, pages[i]);
    }
    return 0;
}
