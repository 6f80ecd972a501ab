#pragma once

#include <string>

namespace corvane {

// The shortest decimal text that reads back to the same 64-bit float, always in
// plain notation: 1.0 -> "1", 0.5 -> "0.5", 1e-7 -> "0.0000001", 1e21 ->
// "1000000000000000000000". Not-a-number is "NaN", infinities "inf" / "-inf".
std::string float_text(double value);

}  // namespace corvane
