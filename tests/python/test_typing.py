"""The installed type stubs reach a type checker the way a user's does (PEP 561)."""

import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("mypy")

USER_SCRIPT = textwrap.dedent(
    """
    import numpy as np
    import corvane

    X = np.zeros((10, 2))
    model = corvane.HDBSCAN(min_cluster_size=3, n_jobs=2).fit(X, None)
    labels, probabilities = model.approximate_predict(X)
    reveal_type(model.labels_)
    reveal_type(probabilities)
    corvane.HDBSCAN(metric="l2")
    model.min_cluster_size = 4
    """
)


def test_mypy_finds_the_stubs_of_the_installed_package(tmp_path):
    script = tmp_path / "user.py"
    script.write_text(USER_SCRIPT)
    result = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--cache-dir",
            str(tmp_path / "cache"),
            "user.py",
        ],
        cwd=tmp_path,
        capture_output=True,
        text=True,
    )
    lines = result.stdout.splitlines()
    assert not any("missing library stubs" in line for line in lines), result.stdout
    assert (
        'Revealed type is "numpy.ndarray[tuple[Any, ...], numpy.dtype[numpy.float64]]"'
        in (lines[1])
    ), result.stdout
    assert "int32" in lines[0] or "_32Bit" in lines[0], result.stdout
    assert '"metric" to "HDBSCAN" has incompatible type "Literal[\'l2\']"' in lines[2], (
        result.stdout
    )
    assert '"min_cluster_size" defined in "HDBSCAN" is read-only' in lines[3], result.stdout
    assert lines[-1] == "Found 2 errors in 1 file (checked 1 source file)", result.stdout
