#!/usr/bin/env bash
# Checks the Debian package that `make package` built: lintian without errors and without
# a hardening or stripping complaint, the menu entry and the AppStream data clean, every
# screenshot the AppStream data names one that `make screenshots` renders, and one version
# everywhere: the package's, what the About box and `tarnwick-crawl --version` show, the
# man pages' and the AppStream data's newest release.
#   tools/check-package.sh PACKAGE SCREENSHOT_FOLDER
set -euo pipefail
package=$1
screenshots=$2
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$package" "$tree"

fail() {
  echo "check-package: $*" >&2
  exit 1
}

echo "== lintian"
lintian --fail-on error --display-info "$package" | tee "$tree/lintian.txt"
# Programs built without Debian's flags or stripped short of its rules.
if grep -E ': (hardening-[a-z-]+|binary-has-unneeded-section) ' "$tree/lintian.txt"; then
  fail "lintian finds the programs built or stripped short of Debian's rules"
fi

echo "== desktop-file-validate"
report=$(desktop-file-validate "$tree"/usr/share/applications/*.desktop 2>&1) || true
[ -z "$report" ] || fail "$report"

echo "== appstreamcli validate"
metainfo=$(echo "$tree"/usr/share/metainfo/*.metainfo.xml)
# The maker's domain lies under .example, a top-level domain the validator cannot know.
appstreamcli validate --no-net --strict --override=cid-maybe-not-rdns=pedantic "$metainfo"
for image in $(grep -o '[^/>]*\.png' "$metainfo"); do
  [ -f "$screenshots/$image" ] || fail "$image is not among the screenshots in $screenshots"
done

echo "== versions"
version=$(dpkg-deb -f "$package" Version)
# The About box shows major.minor.
about=$(grep -a -o 'Tarnwick Version [0-9][0-9.]*' "$tree/usr/bin/tarnwick" | head -n 1)
[ "$about" = "Tarnwick Version ${version%.*}" ] || fail "package $version, About box '$about'"
crawl=$("$tree/usr/bin/tarnwick-crawl" --version)
[ "$crawl" = "tarnwick-crawl $version" ] || fail "package $version, '$crawl'"
for page in "$tree"/usr/share/man/man1/*.1.gz; do
  zcat "$page" | head -n 1 | grep -q "\"Tarnwick $version\"" ||
    fail "package $version, $(basename "$page"): $(zcat "$page" | head -n 1)"
done
release=$(grep -o -m 1 '<release version="[^"]*"' "$metainfo")
[ "$release" = "<release version=\"$version\"" ] || fail "package $version, AppStream $release"
echo "check-package: $(basename "$package") passed, version $version everywhere"
