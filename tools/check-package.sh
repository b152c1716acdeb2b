#!/usr/bin/env bash
# Checks the Debian package that `make package` built: lintian without errors, the
# menu entry and the AppStream data clean, and every screenshot the AppStream data
# names one that `make screenshots` renders.
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
lintian --fail-on error --display-info "$package"

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
echo "check-package: $(basename "$package") passed"
