# Loader for the modules frozen into the tesmar extension.
#
# Every module of the package is a Python source frozen into the one native file (its body: imports,
# constants, coroutine wrappers) plus the native functions registered for it. A module is created
# the first time it is imported, after its parents, and registered in sys.modules like any other.
#
# Tools find the modules as they would on disk: each package's __path__ holds one entry that names
# the package inside the extension file (like a directory inside a zip archive), a path hook turns
# that entry into a finder that pkgutil can list, and code objects carry file names under the same
# entry so that linecache asks the loader's get_source for glue lines (inspect.getsource of
# functions, tracebacks). Such a name can never be a file on disk, since the extension is a file,
# not a directory; nothing is read from it. The modules get no __file__: tools that find one
# ending in .py go looking for that file (stubgen stops with an error), and without it they
# inspect the live module instead.
import sys
from importlib.machinery import ModuleSpec

_PACKAGES = frozenset(
    name.rpartition(".")[0] for name in _SOURCES if "." in name  # noqa: F821 (given by the extension)
)


class _FrozenLoader:
    """Runs a frozen module body, then attaches the module's native functions."""

    def __init__(self, sources, install, root):
        self._sources = sources
        self._install = install
        self._root = root

    def filename(self, name):
        """The name under which a module's code runs and its source is served."""
        tail = "/__init__.py" if name in _PACKAGES else ".py"
        return f"{self._root}/{name.replace('.', '/')}{tail}"

    def search_entry(self, name):
        """The one __path__ entry of a package: its folder inside the extension file."""
        return f"{self._root}/{name.replace('.', '/')}"

    def create_module(self, module_spec):
        return None

    def exec_module(self, module):
        name = module.__name__
        code = compile(self._sources[name], self.filename(name), "exec")
        exec(code, module.__dict__)
        self._install(module)

    def is_package(self, fullname):
        return fullname in _PACKAGES

    def get_source(self, fullname):
        try:
            return self._sources[fullname]
        except KeyError:
            raise ImportError(f"no frozen source for {fullname!r}", name=fullname) from None

    def get_code(self, fullname):
        return compile(self.get_source(fullname), self.filename(fullname), "exec")


class _FrozenFinder:
    """Finds the frozen submodules of tesmar by their dotted names."""

    def __init__(self, loader, sources):
        self._loader = loader
        self._names = frozenset(n for n in sources if n.startswith("tesmar."))

    def find_spec(self, fullname, path=None, target=None):
        if fullname not in self._names:
            return None
        is_package = fullname in _PACKAGES
        spec = ModuleSpec(fullname, self._loader, is_package=is_package)
        if is_package:
            spec.submodule_search_locations.append(self._loader.search_entry(fullname))
        return spec

    def children(self, package):
        """(name, is_package) of the direct submodules of a package, sorted by name."""
        prefix = package + "."
        return sorted(
            (n[len(prefix):], n in _PACKAGES) for n in self._names if n.startswith(prefix) and "." not in n[len(prefix):]
        )

    def invalidate_caches(self):
        pass


class _PackageEntryFinder:
    """The path-entry finder of one frozen package's __path__ entry (what pkgutil lists)."""

    def __init__(self, finder, package):
        self._finder = finder
        self._package = package

    def find_spec(self, fullname, target=None):
        if fullname.rpartition(".")[0] != self._package:
            return None
        return self._finder.find_spec(fullname)

    def iter_modules(self, prefix=""):
        for name, is_package in self._finder.children(self._package):
            yield prefix + name, is_package

    def invalidate_caches(self):
        pass


def _path_hook(finder, entries):
    def hook(entry):
        package = entries.get(entry)
        if package is None:
            raise ImportError("not a tesmar package entry", path=entry)
        return _PackageEntryFinder(finder, package)

    return hook


def boot(package):
    # The extension's own path (set by the import system before this runs; a stand-in name
    # should the module ever be created without one).
    root = getattr(package, "__file__", None) or "<tesmar>"
    loader = _FrozenLoader(_SOURCES, _install_natives, root)  # noqa: F821
    if not any(isinstance(f, _FrozenFinder) for f in sys.meta_path):
        finder = _FrozenFinder(loader, _SOURCES)  # noqa: F821
        sys.meta_path.append(finder)
        entries = {loader.search_entry(p): p for p in _PACKAGES}
        # First, so that these entries never reach the file-system hooks.
        sys.path_hooks.insert(0, _path_hook(finder, entries))
    package.__package__ = "tesmar"
    package.__path__.append(loader.search_entry("tesmar"))
    loader.exec_module(package)
