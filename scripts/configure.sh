# Sourced by run.sh, test.sh and bench.sh: installs what is missing, sets up ccache and the job
# count, and configures a build directory.
#
#   varnholt_configure BUILD_DIR BUILD_TYPE [-DOPTION=VALUE ...]

"$repo/scripts/setup.sh"

jobs=${VARNHOLT_JOBS:-$(nproc)}
export CCACHE_SLOPPINESS=time_macros   # juce_core expands __DATE__ and __TIME__
export CCACHE_BASEDIR=$repo            # build directories and clones share one cache

varnholt_configure() {
    local build_dir=$1 build_type=$2
    shift 2
    cmake -S "$repo" -B "$build_dir" -G "Unix Makefiles" \
        -DCMAKE_BUILD_TYPE="$build_type" \
        -DCMAKE_C_COMPILER_LAUNCHER=ccache \
        -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
        "$@"
}
