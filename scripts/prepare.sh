# Sourced by the README's commands: installs the Debian packages that are missing, goes on
# under a virtual screen, then configures and builds into $build.

# Wine needs a UTF-8 locale to put names such as "Übung" on the Linux file system; a fresh
# machine or container often starts with none.
case "$(locale charmap 2>/dev/null)" in
  UTF-8) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac
if [ -z "${TORRENTINE_UNDER_XVFB:-}" ]; then
  scripts/install-deps.sh
  export TORRENTINE_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

build="${TORRENTINE_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake >/dev/null
# The demo names the targets it runs (TORRENTINE_TARGETS); the tests build everything.
cmake --build "$build" ${TORRENTINE_TARGETS:+--target $TORRENTINE_TARGETS}
