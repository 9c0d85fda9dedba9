#include "FuzzCheck.h"

#include "stations/LeadingValue.h"
#include "stations/StationList.h"
#include "stations/Tokens.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

// The sanitizers' settings for every target; ASAN_OPTIONS and UBSAN_OPTIONS still win.
extern "C" const char *__asan_default_options()
{
    return "external_symbolizer_path=" LLVM_SYMBOLIZER;
}
extern "C" const char *__ubsan_default_options()
{
    return "halt_on_error=1:print_stacktrace=1:suppressions=" UBSAN_SUPPRESSIONS
           ":external_symbolizer_path=" LLVM_SYMBOLIZER;
}

void propertyFailed(const char *property, const QString &detail)
{
    std::fprintf(stderr, "\n==== property failed: %s\n     %s\n", property, qUtf8Printable(detail));
    std::abort();
}

QString shown(QStringView text)
{
    QString out = "\"";
    for (QChar c : text) {
        if (c == ' ' || (c.isPrint() && !c.isSpace() && c != '\\'))
            out += c;
        else
            out += QString("\\u%1").arg(c.unicode(), 4, 16, QChar('0'));
    }
    return out + '"';
}

void addAndCheck(StationList &list, const QStringList &added)
{
    list.addAll(added);
    list.updateCount();
    const QStringList &entries = list.entries();
    FUZZ_CHECK(entries.size() <= StationList::MaxEntries, QString::number(entries.size()));
    // Strictly ascending: ordered, and no entry twice.
    for (qsizetype i = 1; i < entries.size(); ++i) {
        FUZZ_CHECK(StationList::entryLess(entries[i - 1], entries[i]),
                   shown(entries[i - 1]) + " before " + shown(entries[i]));
    }
    for (const QString &entry : added) {
        FUZZ_CHECK(isStationNumber(entry), shown(entry));
        FUZZ_CHECK(std::none_of(entry.cbegin(), entry.cend(), isSeparator), shown(entry));
        FUZZ_CHECK(std::none_of(entry.cbegin(), entry.cend(), isControl), shown(entry));
        FUZZ_CHECK(list.contains(entry), shown(entry));
    }
}
