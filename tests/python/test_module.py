"""The module object: docstring, __all__, the internal-error type, initialisation."""

import ctypes
import importlib
import subprocess
import sys
import textwrap

import pytest

import corvane


def test_module_surface():
    assert corvane.__all__ == ["HDBSCAN"]
    assert "HDBSCAN" in corvane.__doc__
    assert corvane.__doc__.count("\n") == 0
    namespace = {}
    exec("from corvane import *", namespace)
    assert [name for name in namespace if not name.startswith("__")] == ["HDBSCAN"]


def test_internal_error_derives_directly_from_base_exception():
    assert corvane.InternalError.__bases__ == (BaseException,)
    assert not issubclass(corvane.InternalError, Exception)


def test_repeated_initialisation_returns_the_first_module():
    init = ctypes.PyDLL(corvane.__file__).PyInit_corvane
    init.restype = ctypes.py_object
    assert init() is corvane

    saved = sys.modules.pop("corvane")
    try:
        assert importlib.import_module("corvane") is saved
    finally:
        sys.modules["corvane"] = saved


def test_sub_interpreter_import_fails_with_import_error():
    # Run in a child process: a failed sub-interpreter import must not disturb this one.
    code = textwrap.dedent(
        """
        import corvane, _xxsubinterpreters as interpreters
        interpreter = interpreters.create()
        try:
            interpreters.run_string(interpreter, "import corvane")
        except interpreters.RunFailedError as error:
            print("failed:", error)
        else:
            print("imported")
        """
    )
    pytest.importorskip("_xxsubinterpreters")
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert "ImportError" in result.stdout and "sub-interpreters" in result.stdout
