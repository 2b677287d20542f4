#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the programs from there, away from the
# build tree: they must find their translation tables and licence as an installed copy does,
# and the desktop entry and metainfo must be valid.
#   install_test.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$2

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() {
  echo "install test: $*" >&2
  exit 1
}

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
# No resource override and a home of its own: only what the prefix holds may be used.
export HOME="$prefix/home"
unset QUOTALUME_RESOURCES XDG_CONFIG_HOME XDG_DATA_HOME LANGUAGE LC_ALL LC_MESSAGES
export LANG=C.UTF-8
mkdir "$HOME"
cd "$HOME"

share="$prefix/share"
for file in quotalume/LICENSE quotalume/l10n/en.lproj/Localizable.strings \
  quotalume/l10n/de.lproj/Localizable.strings quotalume/l10n/zh-Hans.lproj/Localizable.strings \
  icons/hicolor/scalable/apps/quotalume.svg icons/hicolor/48x48/apps/quotalume.png \
  man/man1/quotalume-cli.1.gz quotalume/prometheus/quotalume-alerts.yml \
  quotalume/prometheus/quotalume-alerts.test.yml quotalume/prometheus/quotalume-grafana.json; do
  [ -s "$share/$file" ] || fail "$share/$file is missing"
done
[ "$(find "$share/quotalume/l10n" -name Localizable.strings | wc -l)" -eq 16 ] ||
  fail "not all sixteen translation tables are installed"

cli="$prefix/bin/quotalume-cli"
app="$prefix/bin/quotalume"
version=$("$cli" --version) || fail "quotalume-cli --version failed"
[[ "$version" =~ ^quotalume-cli\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "unexpected version: $version"
version=${version#quotalume-cli }
[ "$("$app" --version)" = "quotalume $version" ] || fail "quotalume --version differs"
"$cli" --help | grep -q '^Usage: quotalume-cli' || fail "quotalume-cli --help"
"$app" --help | grep -q '^Usage: quotalume' || fail "quotalume --help"

# The German table lives only in the prefix; English is compiled in and proves nothing.
status=$("$cli" status --demo --lang de 2>&1) || fail "status --demo failed: $status"
grep -q 'Wochenlimit: 61% übrig · Zurücksetzung in' <<<"$status" ||
  fail "status --demo --lang de is not in German: $status"

desktop-file-validate "$share/applications/quotalume.desktop" ||
  fail "the desktop entry is not valid"
metainfo="$share/metainfo/io.github.quotalume.Quotalume.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >/dev/null || {
  appstreamcli validate --no-net "$metainfo" >&2
  fail "the metainfo is not valid"
}
grep -q "<release version=\"$version\"" "$metainfo" ||
  fail "the metainfo has no release $version"
