// The settings file as its reader takes it, and each value as the checks take it: one
// entry a line at most, in the file's order; keys and values without blanks around
// them; every value of a key either accepted (as a value the checks accept again
// unchanged, with no control character) or refused with a message naming the key.
#include "FuzzCheck.h"
#include "startup/Settings.h"
#include "startup/SettingsFile.h"

namespace {

bool blankAtAnEnd(const QString &text)
{
    const auto blank = [](QChar c) { return c == ' ' || c == '\t' || c == '\r'; };
    return !text.isEmpty() && (blank(text.front()) || blank(text.back()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char *>(data), qsizetype(size));
    const SettingsFile file = SettingsFile::parse(text);
    const int lines = int(text.count('\n')) + 1;
    int last = 0;
    for (const SettingsFile::Entry &e : file.entries) {
        FUZZ_CHECK(e.line > last && e.line <= lines && !file.strayLines.contains(e.line),
                   QString::number(e.line));
        last = e.line;
        FUZZ_CHECK(!e.key.isEmpty() && !e.key.contains('=') && !e.key.contains('\n') &&
                       !blankAtAnEnd(e.key) && !e.value.contains('\n'),
                   shown(e.key) + " = " + shown(e.value));
        const QString where = "in /etc/xdg/brindlewick/brindlewick.conf";
        const CheckedSetting checked = checkSetting(e.key, e.value, e.key, where);
        if (!checked.error.isEmpty()) {
            FUZZ_CHECK(checked.error.startsWith("The setting " + e.key + ' ' + where + ' ') &&
                           checked.value.isEmpty(),
                       shown(checked.error));
            continue;
        }
        FUZZ_CHECK(std::none_of(checked.value.cbegin(), checked.value.cend(), isControl),
                   shown(checked.value));
        if (checked.value.isEmpty())
            continue; // not set here
        const CheckedSetting again = checkSetting(e.key, checked.value, e.key, where);
        FUZZ_CHECK(again.error.isEmpty() && again.value == checked.value,
                   shown(checked.value) + " then " + shown(again.value) + shown(again.error));
    }
    return 0;
}
