# Sourced by the build scripts. When ccache is installed, compiles go through it, with its
# cache in one folder outside the source tree (CCACHE_DIR, else
# ${XDG_CACHE_HOME:-$HOME/.cache}/vorant-ccache), so that a fresh clone of the tree, as CI
# makes for every run, finds what the last run compiled. Paths below the tree are hashed
# relative to it and the working folder is left out of the hash, so that a clone in another
# folder hits the same entries. Sets vr_launcher to the cmake arguments that turn it on
# (empty without ccache).
vr_launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_DIR="${CCACHE_DIR:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/vorant-ccache}"
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(pwd)}"
  export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"
  # Depend mode hashes the compiler's own list of included headers (-MD, which every build
  # here passes) instead of running the preprocessor first: a compile the cache misses, as
  # every compile of a fresh machine does, costs no more than without ccache (a fifth more
  # in the default mode).
  export CCACHE_DEPEND="${CCACHE_DEPEND:-true}"
  # The three builds of CI (sanitized, Release, fuzz) together need about 1.5 GB.
  export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
  mkdir -p "$CCACHE_DIR"
  vr_launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
