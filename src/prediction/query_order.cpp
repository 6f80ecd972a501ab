#include "prediction/query_order.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <utility>

#include "parallel/checked_sort.hpp"

namespace corvane {

std::vector<std::size_t> z_order(const DataMatrix& points, const ExecutionContext& context) {
    const std::size_t used = std::min<std::size_t>(points.cols, 64);
    std::vector<double> lo(used, std::numeric_limits<double>::infinity());
    std::vector<double> hi(used, -std::numeric_limits<double>::infinity());
    for (std::size_t i = 0; i < points.rows; ++i) {
        context.check_every(i);
        for (std::size_t c = 0; c < used; ++c) {
            const double v = points.at(i, c);
            if (!std::isfinite(v)) continue;
            lo[c] = std::min(lo[c], v);
            hi[c] = std::max(hi[c], v);
        }
    }
    const int bits = used == 0 ? 0 : static_cast<int>(64 / used);
    const double top = std::ldexp(1.0, bits) - 1.0;
    std::vector<std::uint64_t> cell(used);
    std::vector<std::pair<std::uint64_t, std::size_t>> keyed(points.rows);
    for (std::size_t i = 0; i < points.rows; ++i) {
        context.check_every(i);
        for (std::size_t c = 0; c < used; ++c) {
            const double v = points.at(i, c);
            const double width = hi[c] - lo[c];
            const double scaled = std::isfinite(v) && width > 0.0 ? (v - lo[c]) / width * top : 0.0;
            cell[c] = static_cast<std::uint64_t>(std::clamp(scaled, 0.0, top));
        }
        std::uint64_t key = 0;
        for (int b = bits - 1; b >= 0; --b) {
            for (std::size_t c = 0; c < used; ++c)
                key = (key << 1) | ((cell[c] >> b) & 1u);
        }
        keyed[i] = {key, i};
    }
    checked_sort(context, keyed.begin(), keyed.end(), std::less<>());
    std::vector<std::size_t> order(points.rows);
    for (std::size_t i = 0; i < points.rows; ++i)
        order[i] = keyed[i].second;
    return order;
}

}  // namespace corvane
