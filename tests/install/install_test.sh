#!/bin/sh
# Installs the build into a temporary prefix and runs the installed programs
# from there: the files land where a desktop expects them, the entry and the
# metainfo validate, and the installed program finds its help book, example
# data and plug-in model (never those of the build folder or the current
# folder). Covers frame/examples.cpp, which finds the example data.
# Usage: install_test.sh BUILD_DIR
set -eu
build=$1
prefix=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$prefix" "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/orvalle bin/orvalle-fit lib/orvalle/libcustomfit.so \
         share/orvalle/VTRL.hlp/index.html share/orvalle/VTRL.hlp/gettingstarted.html \
         share/orvalle/examples/pendulum.txt share/orvalle/examples/expansion.txt \
         share/applications/org.halvorn.orvalle.desktop \
         share/icons/hicolor/scalable/apps/org.halvorn.orvalle.svg \
         share/icons/hicolor/48x48/apps/org.halvorn.orvalle.png \
         share/icons/hicolor/256x256/apps/org.halvorn.orvalle.png \
         share/orvalle/screenshots/plotter.png \
         share/metainfo/org.halvorn.orvalle.metainfo.xml \
         share/man/man1/orvalle.1.gz share/man/man1/orvalle-fit.1.gz \
         share/doc/orvalle/copyright share/doc/orvalle/changelog.gz; do
  [ -f "$prefix/$f" ] || fail "$f is not installed"
done
[ ! -e "$prefix/bin/libcustomfit.so" ] || fail "the plug-in is installed beside the programs"
[ ! -e "$prefix/share/orvalle/examples/CMakeLists.txt" ] || fail "the build script is among the examples"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/org.halvorn.orvalle.desktop" ||
    fail "desktop-file-validate refuses the desktop entry"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix/share/metainfo/org.halvorn.orvalle.metainfo.xml" >/dev/null ||
    fail "appstreamcli refuses the metainfo"
fi

# The installed program, started from an unrelated folder that holds a
# plug-in of its own: that one must not be bound.
unset ORVALLE_CUSTOMFIT
cp "$prefix/lib/orvalle/libcustomfit.so" "$work/libcustomfit.so"
cd "$work"
out=$(QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" ORVALLE_STARTUP_PROBE=1 \
      "$prefix/bin/orvalle" "$prefix/share/orvalle/examples/pendulum.txt")
echo "$out" | grep -qx "help-book $prefix/share/orvalle/VTRL.hlp" ||
  fail "the installed program does not find its help book: $out"
echo "$out" | grep -qx "examples $prefix/share/orvalle/examples" ||
  fail "the installed program does not find its examples: $out"
echo "$out" | grep -q "^plug-in ..*" || fail "the installed program binds no plug-in: $out"
echo "$out" | grep -qx "window $prefix/share/orvalle/examples/pendulum.txt" ||
  fail "the example named on the command line did not open: $out"

# The installed batch command fits an installed example with the installed
# plug-in model.
rm "$work/libcustomfit.so"
"$prefix/bin/orvalle-fit" --model custom -e 50,10 "$prefix/share/orvalle/examples/cooling.txt" \
  > "$work/fit.txt" || fail "orvalle-fit could not fit the cooling example with the plug-in"
grep -q "ChiSqu" "$work/fit.txt" || fail "orvalle-fit printed no chi-square"
echo "install layout: ok"
