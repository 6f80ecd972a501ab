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

    double value() const { return sum_ + correction_; }

  private:
    double sum_ = 0.0;
    double correction_ = 0.0;
};

}  // namespace corvane
