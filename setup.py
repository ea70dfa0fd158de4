"""pip's build of the Python module morvane (pyproject.toml names this backend):
the package in python/morvane/ and its C++ side, morvane._core, compiled from
the same sources as the CMake build (python/CMakeLists.txt) with pybind11's
helpers. The version is the one of project() in CMakeLists.txt.

Without network: pip install --no-build-isolation . (Debian: python3-pip,
python3-setuptools, python3-wheel, python3-pybind11, g++, libboost-dev)."""
import os
import re
import tempfile
from pathlib import Path

from setuptools import setup

try:
    from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
except ImportError:
    raise SystemExit("morvane: building the module needs pybind11 for this Python "
                     "(Debian: python3-pybind11, for /usr/bin/python3 and the virtual "
                     "environments made from it with --system-site-packages)") from None

TOP = Path(__file__).resolve().parent

# What the compiled core is made of, in one place: its sources, the folders of
# its headers, the libraries it links and its macros. Paths are relative to the
# top of the checkout, as setuptools wants them.
def library_sources():
    """The compiled library's sources, as core/sources.txt lists them for CMake too."""
    lines = (TOP / "core" / "sources.txt").read_text().splitlines()
    return [line.split()[1] for line in lines if line and not line.startswith("#")]


CORE_SOURCES = ["python/morvane_core.cpp"] + library_sources()
# Boost's, GMP's, MPFR's and primesieve's in the compiler's own path.
CORE_INCLUDE_DIRS = ["core", "include"]
# The exact profile: MPFR's enclosures, GMP's integers, libprimesieve's primes.
CORE_LIBRARIES = ["mpfr", "gmp", "primesieve"]
# morvane-x always; morvane-l where long double is the x87 format (BuildCore).
CORE_DEFINES = [("MORVANE_WITH_EXACT", None)]
# As in CMakeLists.txt: the excesses are part of the output, so every product
# and difference rounds on its own (no fused multiply-add, nothing of fast-math).
# Python's own flags (sysconfig) come first and ask for debug information (-g),
# which costs about a third of the compile time and which an installed module
# does not use:
# -g0 takes it back, as CMake's Release build has none.
CORE_COMPILE_ARGS = ["-O3", "-g0", "-ffp-contract=off", "-fno-fast-math", "-Wall", "-Wextra",
                     "-pthread"]
CORE_LINK_ARGS = ["-pthread"]


def cmake_version():
    """The VERSION of project() in CMakeLists.txt."""
    text = (TOP / "CMakeLists.txt").read_text()
    found = re.search(r"project\s*\(\s*morvane\s+VERSION\s+([0-9][0-9.]*)", text)
    if not found:
        raise RuntimeError("CMakeLists.txt: no project(morvane VERSION ...)")
    return found.group(1)


def core_files():
    """Every file of core/ and include/: a change to any of them builds the module again."""
    return sorted(str(path.relative_to(TOP)) for folder in ("core", "include")
                  for path in (TOP / folder).rglob("*") if path.is_file())


class BuildCore(build_ext):
    """morvane-l's profile is defined by the x87 extended format: the module
    has it only where long double has a 64-bit significand, as in CMake's build."""

    def build_extensions(self):
        if self.compiles("#include <limits>\n"
                         "static_assert(std::numeric_limits<long double>::digits == 64);\n"):
            for extension in self.extensions:
                extension.define_macros.append(("MORVANE_WITH_EXTENDED", None))
        super().build_extensions()

    def compiles(self, code):
        with tempfile.TemporaryDirectory() as folder:
            source = os.path.join(folder, "check.cpp")
            with open(source, "w") as out:
                out.write(code)
            try:
                self.compiler.compile([source], output_dir=folder, extra_postargs=["-std=c++20"])
            except Exception:
                return False
        return True


# The library's sources compile side by side, one per core.
ParallelCompile("MORVANE_BUILD_JOBS").install()

core = Pybind11Extension(
    "morvane._core",
    CORE_SOURCES,
    include_dirs=CORE_INCLUDE_DIRS,
    libraries=CORE_LIBRARIES,
    define_macros=list(CORE_DEFINES) + [("MORVANE_VERSION", '"%s"' % cmake_version())],
    extra_compile_args=CORE_COMPILE_ARGS,
    extra_link_args=CORE_LINK_ARGS,
    depends=core_files(),
    cxx_std=20,
)

setup(
    version=cmake_version(),
    package_dir={"": "python"},
    packages=["morvane"],
    ext_modules=[core],
    cmdclass={"build_ext": BuildCore},
    # Beside the CMake build folders (build*/), never inside build/.
    options={"build": {"build_base": "build-pip"}},
    zip_safe=False,
)
