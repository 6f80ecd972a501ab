#include "common/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace corvane {

std::string float_text(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

    // Shortest round-trip digits in scientific form, e.g. "-1.25e-07", then
    // re-placed around the decimal point without an exponent.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));

    const bool negative = text.front() == '-';
    const std::size_t e_pos = text.find('e');
    std::string digits;
    for (char c : text.substr(negative ? 1 : 0, e_pos - (negative ? 1 : 0))) {
        if (c != '.') digits.push_back(c);
    }
    const int exponent = std::atoi(std::string(text.substr(e_pos + 1)).c_str());

    // The value is 0.d1d2d3... * 10^(exponent + 1).
    const long point = static_cast<long>(exponent) + 1;
    const long n_digits = static_cast<long>(digits.size());
    std::string out = negative ? "-" : "";
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point >= n_digits) {
        out += digits;
        out.append(static_cast<std::size_t>(point - n_digits), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out += '.';
        out.append(digits, static_cast<std::size_t>(point), std::string::npos);
    }
    return out;
}

}  // namespace corvane
