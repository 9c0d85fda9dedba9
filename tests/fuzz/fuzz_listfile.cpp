// A list file, imported: what importEntries adds, merged into the list and weeded as
// the window does, leaves a list with the list's properties (addAndCheck), full
// only at its limit; importing the same file again adds nothing.
#include "FuzzCheck.h"
#include "stations/InputFile.h"
#include "stations/StationList.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// An empty list, or, for the inputs that begin with bytes 1 and 2, one a few entries
// short of its limit, so that the fuzzer reaches the limit.
const StationList &startingList(const uint8_t *data, size_t size)
{
    static const StationList empty;
    static const StationList nearlyFull = [] {
        QStringList entries;
        for (int i = 1; i <= StationList::MaxEntries - 8; ++i)
            entries << QString::number(i);
        StationList list;
        addAndCheck(list, entries);
        return list;
    }();
    return size >= 2 && data[0] == 1 && data[1] == 2 ? nearlyFull : empty;
}

// The bytes as an open file, read the way a list file is read; kept in memory.
ImportedEntries import(const uint8_t *data, size_t size, const StationList &list)
{
    static const int fd = memfd_create("list", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size) ||
        lseek(fd, 0, SEEK_SET) != 0)
        propertyFailed("the input can be stored", QString::fromLocal8Bit(strerror(errno)));
    QFile file;
    file.open(fd, QIODevice::ReadOnly);
    return importEntries(file, list);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    StationList list = startingList(data, size);
    const qsizetype before = list.count();
    const ImportedEntries imported = import(data, size, list);
    FUZZ_CHECK(imported, imported.error);
    addAndCheck(list, imported.entries);
    FUZZ_CHECK(list.count() == before + imported.entries.size(), QString::number(list.count()));
    FUZZ_CHECK(!imported.full || list.count() == StationList::MaxEntries,
               QString::number(list.count()));
    const ImportedEntries again = import(data, size, list);
    FUZZ_CHECK(again.entries.isEmpty(), shown(again.entries.value(0)));
    return 0;
}
