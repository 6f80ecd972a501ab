#include "python/hdbscan_methods.hpp"

#include "python/estimator_methods.hpp"
#include "python/export_methods.hpp"
#include "python/fit_methods.hpp"
#include "python/predict_method.hpp"
#include "python/reselect_method.hpp"
#include "python/state_methods.hpp"
#include "python/soft_methods.hpp"

namespace corvane::python {

namespace {

// The methods take (self, args, kwargs); the table stores them as PyCFunction.
template <class Function>
PyCFunction as_method(Function function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

PyMethodDef hdbscan_methods[] = {
    {"fit", as_method(hdbscan_fit), METH_VARARGS | METH_KEYWORDS, fit_doc},
    {"fit_predict", as_method(hdbscan_fit_predict), METH_VARARGS | METH_KEYWORDS, fit_predict_doc},
    {"approximate_predict", as_method(hdbscan_approximate_predict), METH_VARARGS | METH_KEYWORDS,
     approximate_predict_doc},
    {"dbscan_clustering", as_method(hdbscan_dbscan_clustering), METH_VARARGS | METH_KEYWORDS,
     dbscan_clustering_doc},
    {"cluster_centroids", hdbscan_cluster_centroids, METH_NOARGS, cluster_centroids_doc},
    {"cluster_medoids", hdbscan_cluster_medoids, METH_NOARGS, cluster_medoids_doc},
    {"reselect", as_method(hdbscan_reselect), METH_VARARGS | METH_KEYWORDS, reselect_doc},
    {"get_params", as_method(hdbscan_get_params), METH_VARARGS | METH_KEYWORDS, get_params_doc},
    {"set_params", as_method(hdbscan_set_params), METH_VARARGS | METH_KEYWORDS, set_params_doc},
    {"__sklearn_tags__", hdbscan_sklearn_tags, METH_NOARGS, sklearn_tags_doc},
    {"__sklearn_is_fitted__", hdbscan_sklearn_is_fitted, METH_NOARGS, sklearn_is_fitted_doc},
    {"__reduce__", hdbscan_reduce, METH_NOARGS, reduce_doc},
    {"__getstate__", hdbscan_getstate, METH_NOARGS, getstate_doc},
    {"__setstate__", hdbscan_setstate, METH_O, setstate_doc},
    {"__deepcopy__", hdbscan_deepcopy, METH_O, deepcopy_doc},
    {"all_points_membership_vectors", as_method(hdbscan_all_points_membership_vectors),
     METH_VARARGS | METH_KEYWORDS, all_points_membership_vectors_doc},
    {"membership_vectors", as_method(hdbscan_membership_vectors), METH_VARARGS | METH_KEYWORDS,
     membership_vectors_doc},
    {"approximate_outlier_scores", as_method(hdbscan_approximate_outlier_scores),
     METH_VARARGS | METH_KEYWORDS, approximate_outlier_scores_doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace corvane::python
