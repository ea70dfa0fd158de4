#!/usr/bin/env bash
# The module as pip installs it, from this checkout, without network (the build
# tools of the system's python3, --no-build-isolation): into a fresh virtual
# environment made with --system-site-packages (Debian's numpy and pytest
# serve), where the whole pytest suite runs against that install and the
# programs of a CMake build; into a --target folder and into --user, each
# imported by the system's python3 and writing the files of morvane-x; and
# uninstalled, after which nothing of it is left.
#
# Usage: pip_install.sh BUILD_DIR   (a CMake build with the programs)
# MORVANE_PYTHON names the interpreter (default: /usr/bin/python3).
set -u
. "$(dirname "$0")/../../tests/checks.sh"
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: pip_install.sh BUILD_DIR}" && pwd)
python=${MORVANE_PYTHON:-/usr/bin/python3}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
pip_options=(--no-build-isolation --no-index --disable-pip-version-check
             --root-user-action=ignore --quiet)
pip_runs() {  # pip_runs LOG COMMAND...: runs a pip command, shows its log if it fails
    local log=$1
    shift
    "$@" > "$scratch/$log" 2>&1 || { sed 's/^/    /' "$scratch/$log"; return 1; }
}
# No module from elsewhere: nothing on PYTHONPATH, and never run from python/,
# where the package's sources lie without their compiled part.
unset PYTHONPATH
cd "$scratch" || exit 1

# The reference files: one run of the CMake build's morvane-x.
mkdir reference
(cd reference && "$build/morvane-x" 97 100000) || { echo "FAILED: $build/morvane-x"; exit 1; }
writes_the_run() {  # writes_the_run FOLDER PYTHON...: PYTHON imports morvane from FOLDER
    local folder=$1     # and writes morvane-x's files of the reference run
    shift
    rm -rf "$scratch/run" && mkdir "$scratch/run" && (cd "$scratch/run" && "$@" -c "
import pathlib, morvane
assert pathlib.Path(morvane.__file__).parent == pathlib.Path('$folder') / 'morvane', morvane.__file__
morvane.scan(97, 100000).write()
") && cmp run/maxdevQ_97-1.txt reference/maxdevQ_97-1.txt &&
        cmp run/maxdevF_97-1.txt reference/maxdevF_97-1.txt
}

# A first build from nothing: pip's build folder (build-pip/) left by an
# earlier install would only be linked again.
rm -rf "$top/build-pip"

"$python" -m venv --system-site-packages venv || { echo "FAILED: python3 -m venv"; exit 1; }
venv_python=$scratch/venv/bin/python
site=$("$venv_python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
check "pip install . builds and installs the module into the virtual environment" \
    pip_runs venv.log "$venv_python" -m pip install "${pip_options[@]}" "$top"
check "the venv's python imports it from its site-packages and writes morvane-x's files" \
    writes_the_run "$site" "$venv_python"
version=$(sed -n 's/^project(morvane VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
check "its version is CMakeLists.txt's, $version" \
    "$venv_python" -c "import importlib.metadata as m, sys; sys.exit(m.version('morvane') != '$version')"

# The whole suite against the install: the module must be the venv's one
# (conftest.py checks MORVANE_MODULE_DIR), the programs the CMake build's.
mkdir suite
check "the pytest suite passes against the pip-installed module" \
    env -C suite MORVANE_MODULE_DIR="$site/morvane" MORVANE_BUILD="$build" MPLBACKEND=Agg \
        PYTHONDONTWRITEBYTECODE=1 "$venv_python" -m pytest -q -p no:cacheprovider \
        "$top/python/tests"

check "pip install --target: a folder that python3 imports it from" \
    pip_runs target.log "$venv_python" -m pip install "${pip_options[@]}" --no-deps \
        --target "$scratch/target" "$top"
check "python3 with the --target folder on PYTHONPATH writes morvane-x's files" \
    writes_the_run "$scratch/target" env PYTHONPATH="$scratch/target" "$python"

# --user, under a user base of its own (Debian's python3 asks for
# --break-system-packages before it lets pip write there).
user_site=$(PYTHONUSERBASE=$scratch/user "$python" -c 'import site; print(site.getusersitepackages())')
check "pip install --user installs it into the user's site-packages" \
    pip_runs user.log env PYTHONUSERBASE="$scratch/user" "$python" -m pip install \
        "${pip_options[@]}" --user --break-system-packages "$top"
check "python3 imports it from the user's site-packages and writes morvane-x's files" \
    writes_the_run "$user_site" env PYTHONUSERBASE="$scratch/user" "$python"
check "pip uninstall removes it from the user's site-packages" \
    pip_runs user-uninstall.log env PYTHONUSERBASE="$scratch/user" "$python" -m pip uninstall \
        -y --break-system-packages --disable-pip-version-check --root-user-action=ignore morvane
check "nothing of it is left there" \
    test -z "$(find "$scratch/user" -iname 'morvane*' -print -quit)"

check "pip uninstall removes it from the virtual environment" \
    pip_runs uninstall.log "$venv_python" -m pip uninstall -y --disable-pip-version-check \
        --root-user-action=ignore morvane
check "nothing of it is left in the venv's site-packages" \
    test -z "$(find "$site" -maxdepth 1 -iname 'morvane*' -print -quit)"
check "the venv's python finds no morvane of its own" "$venv_python" -c "
import importlib.util, sys
found = importlib.util.find_spec('morvane')
sys.exit(found is not None and found.origin.startswith('$scratch/'))"

tally
