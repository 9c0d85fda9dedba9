# Settings shared by every target: warnings and Qt's stricter string handling.
add_library(brindlewick_options INTERFACE)
target_compile_features(brindlewick_options INTERFACE cxx_std_20)
target_compile_options(brindlewick_options INTERFACE -Wall -Wextra)
target_compile_definitions(brindlewick_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_USE_QSTRINGBUILDER
    QT_NO_FOREACH)
