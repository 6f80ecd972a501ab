#pragma once

#include <chrono>
#include <optional>

namespace corvane {

// One value per stage of a fit. The hierarchy is the sum of its steps, which are kept
// apart as well.
struct StageValues {
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

// Wall-clock seconds spent in the stages of one fit and, when `track_memory` is set, the
// process's peak resident bytes during each stage (benchmarks: reading and resetting the
// peak costs a few system calls per stage).
struct StageTimes : StageValues {
    bool track_memory = false;
    StageValues peak_bytes;
};

// The process's peak resident bytes since the last reset_resident_peak() (or its start),
// when the system reports it.
std::optional<double> resident_peak_bytes() noexcept;

// Lets the peak start again from the current resident size; false when the system
// refuses.
bool reset_resident_peak() noexcept;

// Charges the time since the previous lap to one stage. Without a StageTimes
// it records nothing, so every caller can take a clock unconditionally.
class StageClock {
  public:
    explicit StageClock(StageTimes* times = nullptr) : times_(times), last_(Clock::now()) {
        if (times_ != nullptr && times_->track_memory) reset_resident_peak();
    }

    void lap(double StageValues::* stage) { charge(stage, nullptr); }

    // A step of the hierarchy: charged to the step and to the hierarchy.
    void hierarchy_lap(double StageValues::* step) { charge(step, &StageValues::hierarchy); }

  private:
    using Clock = std::chrono::steady_clock;

    void charge(double StageValues::* stage, double StageValues::* total) {
        if (times_ == nullptr) return;
        const Clock::time_point now = Clock::now();
        const double seconds = std::chrono::duration<double>(now - last_).count();
        times_->*stage += seconds;
        if (total != nullptr) times_->*total += seconds;
        if (times_->track_memory) charge_memory(stage, total);
        last_ = now;
    }

    void charge_memory(double StageValues::* stage, double StageValues::* total) {
        const double peak = resident_peak_bytes().value_or(0.0);
        double& stage_peak = times_->peak_bytes.*stage;
        if (peak > stage_peak) stage_peak = peak;
        if (total != nullptr && peak > times_->peak_bytes.*total) times_->peak_bytes.*total = peak;
        reset_resident_peak();
    }

    StageTimes* times_;
    Clock::time_point last_;
};

// For stages whose caller may pass no clock.
inline void lap(StageClock* clock, double StageValues::* stage) {
    if (clock != nullptr) clock->lap(stage);
}

inline void hierarchy_lap(StageClock* clock, double StageValues::* step) {
    if (clock != nullptr) clock->hierarchy_lap(step);
}

}  // namespace corvane
