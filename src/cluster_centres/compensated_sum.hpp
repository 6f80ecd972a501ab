#pragma once

#include <cmath>

namespace corvane {

// Neumaier's compensated sum: the total of any number of terms, in any order, to within a
// couple of units in the last place, so that two sums of the same terms in different
// orders agree to that precision. The medoid's tie rule relies on it.
class CompensatedSum {
  public:
    void add(double term) {
        const double total = sum_ + term;
        correction_ +=
            std::fabs(sum_) >= std::fabs(term) ? (sum_ - total) + term : (term - total) + sum_;
        sum_ = total;
    }

    // A total that overflowed is the answer as it stands: its correction would be infinity
    // minus infinity.
    double value() const { return std::isfinite(sum_) ? sum_ + correction_ : sum_; }

  private:
    double sum_ = 0.0;
    double correction_ = 0.0;
};

}  // namespace corvane
