// Typed and pasted text: pasteEntries gives, in order, each piece between separators
// (pieces longer than MaxTokenLength left out) from where its rest first reads as a
// positive number, found below the slow way, by trying every start: so each entry is a
// suffix of a piece of the input. Offered to the list as the window does, the entries
// leave it with the list's properties.
#include "FuzzCheck.h"
#include "stations/LeadingValue.h"
#include "stations/StationList.h"
#include "stations/Tokens.h"

namespace {

QStringList slowPasteEntries(QStringView text)
{
    QStringList out;
    qsizetype start = 0;
    for (qsizetype end = 0; end <= text.size(); ++end) {
        if (end < text.size() && !isSeparator(text[end]))
            continue;
        const QStringView piece = text.mid(start, end - start);
        start = end + 1;
        for (qsizetype from = 0; piece.size() <= MaxTokenLength && from < piece.size(); ++from) {
            if (leadingValue(piece.mid(from)) > 0) {
                out << piece.mid(from).toString();
                break;
            }
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = utf8Text(data, size);
    const QStringList entries = pasteEntries(text);
    const QStringList expected = slowPasteEntries(text);
    FUZZ_CHECK(entries == expected,
               shown(entries.join('|')) + ", expected " + shown(expected.join('|')));
    StationList list;
    EntryBatch batch(list);
    for (const QString &entry : entries) {
        if (!batch.offer(entry))
            break;
    }
    addAndCheck(list, batch.entries());
    return 0;
}
