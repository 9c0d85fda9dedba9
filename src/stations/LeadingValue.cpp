#include "LeadingValue.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {

bool skipped(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}
bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

double leadingValue(QStringView text)
{
    // Gather the longest prefix that reads as a number, in plain ASCII.
    std::string number;
    qsizetype i = 0;
    auto peek = [&]() -> QChar {
        while (i < text.size() && skipped(text[i]))
            ++i;
        return i < text.size() ? text[i] : QChar();
    };

    QChar c = peek();
    bool negative = false;
    if (c == QLatin1Char('+') || c == QLatin1Char('-')) {
        negative = c == QLatin1Char('-');
        ++i;
        c = peek();
    }
    bool digits = false;
    bool point = false;
    for (;; c = peek()) {
        if (isDigit(c)) {
            number += char(c.unicode());
            digits = true;
        } else if (c == QLatin1Char('.') && !point) {
            number += '.';
            point = true;
        } else {
            break;
        }
        ++i;
    }
    if (!digits)
        return 0;

    // An exponent counts only when at least one digit follows its letter and sign.
    if (c == QLatin1Char('e') || c == QLatin1Char('E') || c == QLatin1Char('d') ||
        c == QLatin1Char('D')) {
        const qsizetype mark = i;
        std::string exponent = "e";
        ++i;
        QChar s = peek();
        if (s == QLatin1Char('+') || s == QLatin1Char('-')) {
            exponent += char(s.unicode());
            ++i;
        }
        bool expDigits = false;
        for (QChar d = peek(); isDigit(d); d = peek()) {
            exponent += char(d.unicode());
            expDigits = true;
            ++i;
        }
        if (expDigits)
            number += exponent;
        else
            i = mark;
    }

    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    Q_UNUSED(end);
    if (error == std::errc::result_out_of_range) {
        // Too large gives infinity; too small is as good as zero.
        const auto e = number.find('e');
        const bool tiny = e != std::string::npos && number[e + 1] == '-';
        value = tiny ? 0.0 : HUGE_VAL;
    }
    return negative ? -value : value;
}
