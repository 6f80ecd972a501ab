#pragma once

#include <chrono>

namespace corvane {

// Wall-clock seconds spent in the stages of one fit. The hierarchy is the sum
// of its steps, which are kept apart as well.
struct StageTimes {
    double core_distances = 0.0;
    double spanning_tree = 0.0;
    double hierarchy = 0.0;
    double single_linkage = 0.0;
    double condensed_tree = 0.0;
    double selection = 0.0;  // the condensed tree's index, selection and persistence
    double labels = 0.0;
    double probabilities = 0.0;
    double outlier_scores = 0.0;
};

// Charges the time since the previous lap to one stage. Without a StageTimes
// it records nothing, so every caller can take a clock unconditionally.
class StageClock {
  public:
    explicit StageClock(StageTimes* times = nullptr) : times_(times), last_(Clock::now()) {}

    void lap(double StageTimes::*stage) { charge(stage, nullptr); }

    // A step of the hierarchy: charged to the step and to the hierarchy.
    void hierarchy_lap(double StageTimes::*step) { charge(step, &StageTimes::hierarchy); }

  private:
    using Clock = std::chrono::steady_clock;

    void charge(double StageTimes::*stage, double StageTimes::*total) {
        if (times_ == nullptr) return;
        const Clock::time_point now = Clock::now();
        const double seconds = std::chrono::duration<double>(now - last_).count();
        times_->*stage += seconds;
        if (total != nullptr) times_->*total += seconds;
        last_ = now;
    }

    StageTimes* times_;
    Clock::time_point last_;
};

// For stages whose caller may pass no clock.
inline void lap(StageClock* clock, double StageTimes::*stage) {
    if (clock != nullptr) clock->lap(stage);
}

inline void hierarchy_lap(StageClock* clock, double StageTimes::*step) {
    if (clock != nullptr) clock->hierarchy_lap(step);
}

}  // namespace corvane
