// Soft clustering methods: convert the arguments, require a fitted model, compute, and
// return new arrays that own the results.
#define PY_SSIZE_T_CLEAN
#include "python/soft_methods.hpp"

#include <cstdint>
#include <limits>
#include <optional>

#include "python/array_exchange.hpp"
#include "python/fitted_call.hpp"
#include "python/owned_ref.hpp"
#include "soft_clustering/soft_clustering.hpp"

namespace corvane::python {

#define SOFT_VECTOR_DEFINITION                                                               \
    "Entry k is the probability that the point belongs to cluster k (labels_ order),\n"      \
    "combining how near it lies to the cluster's exemplars (exemplars_) with how long it\n"  \
    "stays with the cluster in the condensed tree:\n\n"                                      \
    "- distance part: 1 / d_k, divided by its sum, where d_k is the smallest distance\n"     \
    "  (fitted metric) to an exemplar of cluster k; clusters at distance 0 share it\n"       \
    "  equally;\n"                                                                           \
    "- outlier part: m / (m - h_k), divided by its sum, where h_k is the lambda at which\n"  \
    "  the point and cluster k are last in one cluster of the condensed tree and m the\n"    \
    "  largest point lambda under the cluster the point leaves from; clusters with\n"        \
    "  h_k = m share it equally;\n"                                                          \
    "- the product of the two parts, divided by its sum (the distance part alone when the\n" \
    "  product is 0 everywhere), times the probability that the point is in some cluster:\n" \
    "  max_k h_k divided by the largest point lambda of the lowest label attaining it.\n\n"  \
    "Points that leave at lambda +inf (duplicates) count at the largest finite lambda,\n"    \
    "as probabilities_ counts them. Entries are in [0, 1] and a row sums to the\n"           \
    "probability of being in some cluster. The vectors follow the selection as fitted,\n"    \
    "cluster_selection_epsilon and re-selections included; without clusters the\n"           \
    "result has 0 columns.\n\n"

#define SOFT_TOP_K                                                                       \
    "top_k : int or None, default=None\n"                                                \
    "    None for the dense (n_samples, n_clusters) array. A positive integer k gives\n" \
    "    instead the k largest entries of each row, never forming the dense array.\n\n"

#define SOFT_RETURNS                                                                       \
    "Returns\n-------\n"                                                                   \
    "vectors : numpy.ndarray of shape (n_samples, n_clusters)\n"                           \
    "    With top_k=None (float64).\n"                                                     \
    "(labels, probabilities) : tuple of two numpy.ndarray of shape (n_samples, top_k)\n"   \
    "    With top_k=k: the labels (int32) and entries (float64) of each row's k largest\n" \
    "    entries in descending order, equal entries by ascending label; columns beyond\n"  \
    "    the number of clusters hold label -1 and probability 0.0."

const char all_points_membership_vectors_doc[] =
    "all_points_membership_vectors($self, top_k=None)\n--\n\n"
    "Soft cluster membership vectors of the training points.\n\n" SOFT_VECTOR_DEFINITION
    "Each training point sits where the fit put it in the condensed tree.\n\n"
    "Parameters\n----------\n" SOFT_TOP_K SOFT_RETURNS;

const char membership_vectors_doc[] =
    "membership_vectors($self, X, top_k=None)\n--\n\n"
    "Soft cluster membership vectors of new points.\n\n" SOFT_VECTOR_DEFINITION
    "A new point enters the condensed tree as approximate_predict places it: through its\n"
    "nearest training point q under mutual reachability r (ties to the lowest row), it\n"
    "leaves q's cluster at lambda min(1 / r, lambda of q), never deeper than q. A row of\n"
    "X that equals a training point therefore gets that point's row of\n"
    "all_points_membership_vectors() when its nearest training point is the point\n"
    "itself; it differs where another training point is nearer in mutual reachability\n"
    "(a neighbour with a smaller core distance closer than the point's own core\n"
    "distance, or an earlier duplicate), because the new point then joins the tree\n"
    "through that neighbour. Rows with a NaN or infinite coordinate get zeros, as\n"
    "approximate_predict gives them -1.\n\n"
    "Parameters\n----------\n"
    "X : numpy.ndarray of shape (n_samples, n_features)\n"
    "    New points; for metric='precomputed', their distances to the training points.\n" SOFT_TOP_K
        SOFT_RETURNS;

const char approximate_outlier_scores_doc[] =
    "approximate_outlier_scores($self, X)\n--\n\n"
    "GLOSH outlier scores of new points.\n\n"
    "A new point is placed as membership_vectors places it: it leaves the cluster of its\n"
    "nearest training point q at lambda = min(1 / r, lambda of q), r the mutual-\n"
    "reachability distance to q. Its score is (m - lambda) / m, clipped to [0, 1], with m\n"
    "the largest finite point lambda under that cluster: the formula of outlier_scores_.\n"
    "A row of X equal to a training point whose nearest training point is the point\n"
    "itself gets exactly that point's outlier_scores_ value; otherwise it gets the score\n"
    "of a point joining through its nearer neighbour. Rows with a NaN or infinite\n"
    "coordinate score 1.0.\n\n"
    "Parameters\n----------\n"
    "X : numpy.ndarray of shape (n_samples, n_features)\n"
    "    New points; for metric='precomputed', their distances to the training points.\n\n"
    "Returns\n-------\n"
    "scores : numpy.ndarray of shape (n_samples,)\n    Outlier scores (float64) in [0, 1].";

#undef SOFT_VECTOR_DEFINITION
#undef SOFT_TOP_K
#undef SOFT_RETURNS

namespace {

// None, or an integer (or __index__) of at least 1 other than bool; false with
// ValueError otherwise. Values beyond the 64-bit range are clamped.
bool convert_top_k(PyObject* value, std::optional<std::size_t>& out) {
    if (value == nullptr || value == Py_None) return true;
    PyObject* index = PyBool_Check(value) ? nullptr : PyNumber_Index(value);  // owned
    if (index == nullptr) {
        if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_TypeError)) return false;
        PyErr_Clear();
        PyErr_Format(PyExc_ValueError, "top_k must be None or a positive integer, not %.200s",
                     Py_TYPE(value)->tp_name);
        return false;
    }
    int overflow = 0;
    const long long converted = PyLong_AsLongLongAndOverflow(index, &overflow);
    Py_DECREF(index);
    if (converted == -1 && overflow == 0 && PyErr_Occurred()) return false;
    if (overflow < 0 || (overflow == 0 && converted < 1)) {
        PyErr_Format(PyExc_ValueError, "top_k must be None or a positive integer, got %lld",
                     overflow < 0 ? std::numeric_limits<long long>::min() : converted);
        return false;
    }
    out = overflow > 0 ? std::numeric_limits<std::size_t>::max()
                       : static_cast<std::size_t>(converted);
    return true;
}

// A (rows, columns) view of a new one-dimensional array; steals `flat`.
PyObject* as_matrix(PyObject* flat, std::size_t rows, std::size_t columns) {
    OwnedRef owned = OwnedRef::steal(flat);
    if (!owned) return nullptr;
    return PyObject_CallMethod(owned.get(), "reshape", "nn", static_cast<Py_ssize_t>(rows),
                               static_cast<Py_ssize_t>(columns));
}

PyObject* memberships_result(Memberships&& result, bool top_k) {
    OwnedRef probabilities = OwnedRef::steal(
        as_matrix(move_to_array(std::move(result.probabilities)), result.rows, result.columns));
    if (!probabilities || !top_k) return probabilities.release();
    OwnedRef labels = OwnedRef::steal(
        as_matrix(move_to_array(std::move(result.labels)), result.rows, result.columns));
    if (!labels) return nullptr;
    return PyTuple_Pack(2, labels.get(), probabilities.get());
}

// Parses (X) or, when `top_k` is given, (X, top_k) for `format`, then calls
// `compute(model, points, context)` (with_fitted_points).
template <class Compute>
PyObject* with_new_points(PyObject* self, PyObject* args, PyObject* kwargs, const char* format,
                          std::optional<std::size_t>* top_k, Compute&& compute) {
    static const char* with_top_k[] = {"X", "top_k", nullptr};
    static const char* without[] = {"X", nullptr};
    PyObject* x = nullptr;           // borrowed
    PyObject* k_argument = nullptr;  // borrowed
    const bool parsed =
        top_k != nullptr
            ? PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(with_top_k), &x,
                                          &k_argument)
            : PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(without), &x);
    if (!parsed) return nullptr;
    if (top_k != nullptr && !convert_top_k(k_argument, *top_k)) return nullptr;
    return with_fitted_points(self, x, compute);
}

}  // namespace

PyObject* hdbscan_all_points_membership_vectors(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"top_k", nullptr};
    PyObject* k_argument = nullptr;  // borrowed
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:all_points_membership_vectors",
                                     const_cast<char**>(keywords), &k_argument)) {
        return nullptr;
    }
    std::optional<std::size_t> top_k;
    if (!convert_top_k(k_argument, top_k)) return nullptr;
    return with_fitted_model(self, [&](FittedModel& model, const ExecutionContext& context) {
        return memberships_result(all_points_membership_vectors(model, top_k, context),
                                  top_k.has_value());
    });
}

PyObject* hdbscan_membership_vectors(PyObject* self, PyObject* args, PyObject* kwargs) {
    std::optional<std::size_t> top_k;
    return with_new_points(
        self, args, kwargs, "O|O:membership_vectors", &top_k,
        [&](FittedModel& model, DataMatrix points, const ExecutionContext& context) -> PyObject* {
            Expected<Memberships> result =
                membership_vectors(model, std::move(points), top_k, context);
            if (!result) return raise_hdbscan_error(result.error());
            return memberships_result(std::move(*result), top_k.has_value());
        });
}

PyObject* hdbscan_approximate_outlier_scores(PyObject* self, PyObject* args, PyObject* kwargs) {
    return with_new_points(
        self, args, kwargs, "O:approximate_outlier_scores", nullptr,
        [](FittedModel& model, DataMatrix points, const ExecutionContext& context) -> PyObject* {
            Expected<std::vector<double>> scores =
                approximate_outlier_scores(model, std::move(points), context);
            if (!scores) return raise_hdbscan_error(scores.error());
            return move_to_array(std::move(*scores));
        });
}

}  // namespace corvane::python
