# Loader for the modules frozen into the tesmar extension.
#
# Every module of the package is a Python source frozen into the one native file (its body: imports,
# constants, coroutine wrappers) plus the native functions registered for it. A module is created
# the first time it is imported, after its parents, and registered in sys.modules like any other.
import sys
from importlib.machinery import ModuleSpec

_PACKAGES = frozenset(
    name.rpartition(".")[0] for name in _SOURCES if "." in name  # noqa: F821 (given by the extension)
)


class _FrozenLoader:
    """Runs a frozen module body, then attaches the module's native functions."""

    def __init__(self, sources, install):
        self._sources = sources
        self._install = install

    def create_module(self, module_spec):
        return None

    def exec_module(self, module):
        name = module.__name__
        exec(self.get_code(name), module.__dict__)
        self._install(module)

    # runpy (`python -m tesmar`) runs a module from its code object, outside exec_module.
    def get_code(self, fullname):
        return compile(self._sources[fullname], f"<{fullname}>", "exec")

    def is_package(self, fullname):
        return fullname in _PACKAGES


class _FrozenFinder:
    """Finds the frozen submodules of tesmar by their dotted names."""

    def __init__(self, loader, sources):
        self._loader = loader
        self._names = frozenset(n for n in sources if n.startswith("tesmar."))

    def find_spec(self, fullname, path=None, target=None):
        if fullname not in self._names:
            return None
        return ModuleSpec(fullname, self._loader, is_package=fullname in _PACKAGES)

    def invalidate_caches(self):
        pass


def boot(package):
    loader = _FrozenLoader(_SOURCES, _install_natives)  # noqa: F821
    if not any(isinstance(f, _FrozenFinder) for f in sys.meta_path):
        sys.meta_path.append(_FrozenFinder(loader, _SOURCES))  # noqa: F821
    package.__package__ = "tesmar"
    loader.exec_module(package)
