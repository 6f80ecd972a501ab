"""High-performance HDBSCAN clustering."""

import sys
from typing import Any, Literal, SupportsFloat, SupportsIndex, final, overload

import numpy as np
import numpy.typing as npt

if sys.version_info >= (3, 11):
    from typing import Self
else:
    from typing_extensions import Self

__all__ = ["HDBSCAN"]

_MetricName = Literal[
    "euclidean", "manhattan", "cityblock", "l1", "cosine", "minkowski", "precomputed"
]
_SelectionMethod = Literal["eom", "leaf"]
_Real = SupportsFloat | SupportsIndex
_Flag = bool | np.bool_
# 2-D, float32 or float64, any memory layout.
_Matrix = npt.NDArray[np.float32] | npt.NDArray[np.float64]

class InternalError(BaseException):
    """A broken internal invariant of corvane (a bug, not a problem with the input)."""

@final
class HDBSCAN:
    """HDBSCAN clustering algorithm.

    A high-performance native implementation of hierarchical density-based
    clustering with excess-of-mass or leaf cluster selection, membership
    probabilities and GLOSH outlier scores.
    """

    def __new__(
        cls,
        min_cluster_size: SupportsIndex = 5,
        min_samples: SupportsIndex | None = None,
        metric: _MetricName = "euclidean",
        p: _Real | None = None,
        alpha: _Real = 1.0,
        cluster_selection_epsilon: _Real = 0.0,
        cluster_selection_method: _SelectionMethod = "eom",
        allow_single_cluster: _Flag = False,
        *,
        n_jobs: SupportsIndex | None = None,
        max_cluster_size: SupportsIndex | None = None,
        cluster_selection_epsilon_max: _Real | None = None,
    ) -> Self: ...

    # The parameters, read-only: each is the very object the constructor or set_params
    # was given.
    @property
    def min_cluster_size(self) -> SupportsIndex: ...
    @property
    def min_samples(self) -> SupportsIndex | None: ...
    @property
    def metric(self) -> _MetricName: ...
    @property
    def p(self) -> _Real | None: ...
    @property
    def alpha(self) -> _Real: ...
    @property
    def cluster_selection_epsilon(self) -> _Real: ...
    @property
    def cluster_selection_method(self) -> _SelectionMethod: ...
    @property
    def allow_single_cluster(self) -> _Flag: ...
    @property
    def n_jobs(self) -> SupportsIndex | None: ...
    @property
    def max_cluster_size(self) -> SupportsIndex | None: ...
    @property
    def cluster_selection_epsilon_max(self) -> _Real | None: ...

    # Fitted attributes, read-only; each read returns a fresh copy. Before the first
    # successful fit they raise ValueError.
    @property
    def labels_(self) -> npt.NDArray[np.int32]:
        """Cluster labels after fitting. -1 indicates noise."""
    @property
    def probabilities_(self) -> npt.NDArray[np.float64]:
        """Membership probabilities after fitting."""
    @property
    def outlier_scores_(self) -> npt.NDArray[np.float64]:
        """GLOSH outlier scores after fitting."""
    @property
    def cluster_persistence_(self) -> npt.NDArray[np.float64]:
        """Cluster persistence values after fitting."""
    @property
    def n_features_in_(self) -> int:
        """Number of features seen during fit."""
    @property
    def condensed_tree_(self) -> npt.NDArray[np.void]:
        """Condensed tree after fitting: records (parent, child, lambda_val, child_size)."""
    @property
    def single_linkage_tree_(self) -> npt.NDArray[np.float64]:
        """Single-linkage tree after fitting, in SciPy's linkage format."""
    @property
    def minimum_spanning_tree_(self) -> npt.NDArray[np.float64]:
        """Minimum spanning tree of the mutual-reachability graph after fitting."""
    @property
    def core_distances_(self) -> npt.NDArray[np.float64]:
        """Core distance of each point after fitting."""
    @property
    def exemplars_(self) -> list[npt.NDArray[np.int64]]:
        """Exemplars of each cluster after fitting."""

    def fit(self, X: _Matrix, y: object = None) -> Self:
        """Fit the model to data."""
    def fit_predict(self, X: _Matrix, y: object = None) -> npt.NDArray[np.int32]:
        """Fit the model to data and return cluster labels."""
    def approximate_predict(
        self, X: _Matrix
    ) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.float64]]:
        """Predict cluster labels for new points."""
    def dbscan_clustering(
        self, cut_distance: _Real, min_cluster_size: SupportsIndex = 5
    ) -> npt.NDArray[np.int32]:
        """DBSCAN* labels at one radius, read off the fitted hierarchy."""
    def cluster_centroids(self) -> npt.NDArray[np.float64]:
        """Centroid of each cluster."""
    def cluster_medoids(self) -> npt.NDArray[np.int64]:
        """Medoid of each cluster."""
    def reselect(
        self,
        /,
        *,
        min_cluster_size: SupportsIndex = ...,
        cluster_selection_method: _SelectionMethod = ...,
        cluster_selection_epsilon: _Real = ...,
        cluster_selection_epsilon_max: _Real | None = ...,
        max_cluster_size: SupportsIndex | None = ...,
        allow_single_cluster: _Flag = ...,
    ) -> Self:
        """Select the clusters again from the fitted hierarchy, without a new fit."""
    def get_params(self, deep: bool = True) -> dict[str, Any]:
        """Get the parameters of this estimator."""
    def set_params(self, /, **params: Any) -> Self:
        """Set the parameters of this estimator."""
    def __sklearn_tags__(self) -> Any:
        """The scikit-learn tags of this estimator (a sklearn.utils.Tags)."""
    def __sklearn_is_fitted__(self) -> bool:
        """Whether a fit has succeeded."""

    # Saving and loading (pickle, copy, joblib).
    def __reduce__(self) -> tuple[type[HDBSCAN], tuple[()], dict[str, Any]]:
        """Support for pickle, copy and joblib: HDBSCAN() and the state of __getstate__."""
    def __getstate__(self) -> dict[str, Any]:
        """The state of this object as a dict of plain values and NumPy arrays."""
    def __setstate__(self, state: dict[str, Any], /) -> None:
        """Take over a state made by __getstate__; a refused state raises ValueError."""
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self:
        """A deep copy: parameters and attributes deep-copied, the fitted model copied once."""
    # Soft clustering: with top_k=None the dense (n_samples, n_clusters) vectors, with an
    # integer k the labels and probabilities of each row's k largest entries.
    @overload
    def all_points_membership_vectors(self, top_k: None = None) -> npt.NDArray[np.float64]:
        """Soft cluster membership vectors of the training points."""
    @overload
    def all_points_membership_vectors(
        self, top_k: SupportsIndex
    ) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.float64]]: ...
    @overload
    def membership_vectors(self, X: _Matrix, top_k: None = None) -> npt.NDArray[np.float64]:
        """Soft cluster membership vectors of new points."""
    @overload
    def membership_vectors(
        self, X: _Matrix, top_k: SupportsIndex
    ) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.float64]]: ...
    def approximate_outlier_scores(self, X: _Matrix) -> npt.NDArray[np.float64]:
        """GLOSH outlier scores of new points."""
