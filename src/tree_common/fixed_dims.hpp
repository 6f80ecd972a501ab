#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "distance/euclidean/squared_distance.hpp"

namespace corvane {

// Calls f(std::integral_constant<std::size_t, dims>) when 1 <= dims <= Max, and
// f(std::integral_constant<std::size_t, DYNAMIC_DIMS>) otherwise: the column counts that
// a search instantiates its loops for. The fixed counts are reached through one table.
template <std::size_t Max, class F>
void with_fixed_dims(std::size_t dims, F&& f) {
    if constexpr (Max > 0) {
        if (dims >= 1 && dims <= Max) {
            [&]<std::size_t... D>(std::index_sequence<D...>) {
                using Call = void (*)(F&);
                static constexpr Call calls[] = {
                    [](F& g) { g(std::integral_constant<std::size_t, D + 1>{}); }...};
                calls[dims - 1](f);
            }(std::make_index_sequence<Max>{});
            return;
        }
    }
    f(std::integral_constant<std::size_t, DYNAMIC_DIMS>{});
}

}  // namespace corvane
