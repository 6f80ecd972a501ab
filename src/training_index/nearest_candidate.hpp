#pragma once

#include <cstddef>
#include <limits>

namespace corvane {

// Index of "no training point qualified".
inline constexpr std::size_t NO_CANDIDATE = std::numeric_limits<std::size_t>::max();

// One-sided mutual reachability of a new point to a training point: the larger of their
// distance and the training point's core distance (the new point has no core distance).
// A NaN distance stays NaN, so that training point is no candidate.
inline double one_sided_reachability(double distance, double core_distance) {
    return distance < core_distance ? core_distance : distance;
}

// The nearest training point of one new point so far. Only a finite reachability makes
// a candidate: NaN never compares, and +infinity could only tie with the empty start.
// Among equal reachabilities the lowest index wins whatever the order of the offers, so
// a search that visits training points out of order finds the same point as a scan in
// index order that replaces only on a strictly smaller value.
struct NearestCandidate {
    std::size_t index = NO_CANDIDATE;
    double reachability = std::numeric_limits<double>::infinity();

    bool found() const { return index != NO_CANDIDATE; }

    void offer(std::size_t candidate, double candidate_reachability) {
        if (!(candidate_reachability < std::numeric_limits<double>::infinity())) return;
        if (candidate_reachability < reachability ||
            (candidate_reachability == reachability && candidate < index)) {
            index = candidate;
            reachability = candidate_reachability;
        }
    }
};

}  // namespace corvane
