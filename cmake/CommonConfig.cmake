# Settings shared by every target: the language level and warnings.
add_library(brindlewick_warnings INTERFACE)
target_compile_features(brindlewick_warnings INTERFACE cxx_std_20)
target_compile_options(brindlewick_warnings INTERFACE -Wall -Wextra)

# Debian's hardening: checked buffers, stack protection, read-only relocations bound
# at start, and a position-independent program.
add_library(brindlewick_hardening INTERFACE)
target_compile_options(brindlewick_hardening INTERFACE -fstack-protector-strong)
target_link_options(brindlewick_hardening INTERFACE -Wl,-z,relro,-z,now)
target_link_libraries(brindlewick_warnings INTERFACE brindlewick_hardening)

# The test build under AddressSanitizer and UBSan: any report ends the process
# (ASAN_OPTIONS and UBSAN_OPTIONS halt_on_error, set by scripts/test), so a
# use-after-free or undefined behaviour fails the test that walks through it. UBSan's
# reports stay recoverable only so that its suppressions file applies.
option(BRINDLEWICK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
# The fuzz build (clang only) builds just the fuzz targets of tests/fuzz, and what they
# test, with the same sanitizers and libFuzzer's coverage.
option(BRINDLEWICK_FUZZ "Build only the libFuzzer targets (configure with clang++)" OFF)
if(BRINDLEWICK_SANITIZE OR BRINDLEWICK_FUZZ)
    set(sanitizers -fsanitize=address,undefined -fno-omit-frame-pointer)
    if(BRINDLEWICK_FUZZ)
        if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
            message(FATAL_ERROR "BRINDLEWICK_FUZZ needs clang: -DCMAKE_CXX_COMPILER=clang++-14")
        endif()
        list(APPEND sanitizers -fsanitize=fuzzer-no-link)
    endif()
    target_compile_options(brindlewick_hardening INTERFACE ${sanitizers})
    target_link_options(brindlewick_hardening INTERFACE ${sanitizers})
else()
    # The sanitizers check buffers themselves, and warn about this one.
    target_compile_definitions(brindlewick_hardening INTERFACE _FORTIFY_SOURCE=2)
endif()

# The program's own code also gets Qt's stricter string handling. Tests keep plain
# string literals, which read better in their tables.
add_library(brindlewick_options INTERFACE)
target_link_libraries(brindlewick_options INTERFACE brindlewick_warnings)
target_compile_definitions(brindlewick_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_USE_QSTRINGBUILDER
    QT_NO_FOREACH)

# zero_padded(<out> <number> <width>): the number with leading zeros up to width digits.
function(zero_padded out number width)
    string(LENGTH "${number}" length)
    set(zeros "")
    if(length LESS width)
        math(EXPR missing "${width} - ${length}")
        string(REPEAT 0 ${missing} zeros)
    endif()
    set(${out} "${zeros}${number}" PARENT_SCOPE)
endfunction()
