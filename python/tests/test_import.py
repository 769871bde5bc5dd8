import tarnwick._core as core


def test_module_imports_under_its_package_name():
    assert core.__name__ == "tarnwick._core"
