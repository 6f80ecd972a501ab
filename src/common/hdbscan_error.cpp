#include "common/hdbscan_error.hpp"

#include "common/float_text.hpp"

namespace corvane {

std::string HdbscanError::message() const {
    using std::to_string;
    switch (kind) {
        case ErrorKind::EmptyInput:
            return "input data must have at least one point";
        case ErrorKind::NonFiniteInput:
            return "input data contains NaN or infinite values";
        case ErrorKind::MinClusterSizeTooSmall:
            return "min_cluster_size must be at least 2, got " + to_string(first);
        case ErrorKind::MinSamplesTooSmall:
            return "min_samples must be at least 1, got " + to_string(first);
        case ErrorKind::MinSamplesExceedsPoints:
            return "min_samples (" + to_string(first) + ") exceeds number of points (" +
                   to_string(second) + ")";
        case ErrorKind::PrecomputedNotSquare:
            return "precomputed distance matrix must be square, got " + to_string(first) + "x" +
                   to_string(second);
        case ErrorKind::PrecomputedNegative:
            return "precomputed distance matrix contains negative values";
        case ErrorKind::NotFitted:
            return "model has not been fitted yet";
        case ErrorKind::DimensionMismatch:
            return "dimension mismatch: model fitted with " + to_string(first) + " features, got " +
                   to_string(second);
        case ErrorKind::InvalidMinkowskiP:
            return "Minkowski p must be >= 1.0, got " + float_text(p);
        case ErrorKind::MaxClusterSizeTooSmall:
            return "max_cluster_size must be at least min_cluster_size (" + to_string(first) +
                   "), got " + to_string(second);
        case ErrorKind::EpsilonMaxTooSmall:
            return "cluster_selection_epsilon_max must be greater than "
                   "cluster_selection_epsilon (" +
                   float_text(p) + "), got " + float_text(q);
        case ErrorKind::RefitRequired:
            return "reselect keeps the fitted hierarchy: fit again to change min_samples, "
                   "metric, p or alpha";
        case ErrorKind::InvalidCutDistance:
            return "cut_distance must be at least 0, got " + float_text(p);
        case ErrorKind::InvalidCutMinClusterSize:
            return "min_cluster_size must be at least 1, got " + float_text(p);
        case ErrorKind::NoCoordinates:
            return "cluster_centroids needs the coordinates of the points; a model fitted with "
                   "metric='precomputed' has only their distances";
    }
    return "unknown error";
}

}  // namespace corvane
