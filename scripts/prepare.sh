# Sourced by the README's commands: installs the Debian packages that are missing, goes on
# under a virtual screen, then configures and builds into $build.
if [ -z "${TORRENTINE_UNDER_XVFB:-}" ]; then
  scripts/install-deps.sh
  export TORRENTINE_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

build="${TORRENTINE_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake >/dev/null
cmake --build "$build"
