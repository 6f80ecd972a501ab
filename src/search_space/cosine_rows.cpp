#include <cmath>

#include "search_space/cosine_space.hpp"

namespace corvane {

std::vector<double> cosine_root_norms(const DataMatrix& data) {
    std::vector<double> roots(data.rows);
    for (std::size_t i = 0; i < data.rows; ++i) {
        const double* row = data.row(i);
        double sum = 0.0;
        for (std::size_t j = 0; j < data.cols; ++j)
            sum += row[j] * row[j];
        roots[i] = std::sqrt(sum);
    }
    return roots;
}

std::optional<CosineRows> prepare_cosine_rows(const DataMatrix& data) {
    constexpr double SMALLEST_SUM = 0x1p-900;
    const std::vector<double> roots = cosine_root_norms(data);
    CosineRows prepared;
    for (std::size_t i = 0; i < data.rows; ++i) {
        const double sum = roots[i] * roots[i];
        if (roots[i] == 0.0) continue;
        if (!(sum >= SMALLEST_SUM) || !std::isfinite(sum)) return std::nullopt;
        prepared.kept.push_back(i);
    }
    prepared.unit = DataMatrix(prepared.kept.size(), data.cols);
    for (std::size_t r = 0; r < prepared.kept.size(); ++r) {
        const std::size_t i = prepared.kept[r];
        const double* row = data.row(i);
        double* out = prepared.unit.row(r);
        for (std::size_t j = 0; j < data.cols; ++j)
            out[j] = row[j] / roots[i];
    }
    return prepared;
}

}  // namespace corvane
