#!/usr/bin/env bash
# Builds the Debian package from the build tree with cpack, into a scratch folder, and
# checks it as a distribution would: lintian at the error and warning levels, the
# manual pages and completions where man and the shells look, and the installed tree's
# AppStream metadata with its desktop entry. Takes the build tree as it is (cpack
# installs what is built; it builds nothing).
# Usage: package.sh BUILD_DIR SCRATCH_DIR
# Exits 77 (skipped) when lintian is not installed.
set -uo pipefail
build=$1 scratch=$2
if ! command -v lintian >/dev/null; then
  echo "SKIPPED: lintian is not installed (scripts/install-deps.sh installs it)"
  exit 77
fi
rm -rf "$scratch" && mkdir -p "$scratch" || exit 1
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 || {
  cat "$scratch/cpack.log"; exit 1; }
package=("$scratch"/lanternquest_*.deb)
[[ -f ${package[0]} ]] || { echo "FAIL: cpack made no package"; cat "$scratch/cpack.log"; exit 1; }

failed=0
# Errors and warnings fail; --allow-root because CI runs as root.
lintian --allow-root --fail-on error,warning "${package[0]}" || { echo "FAIL: lintian"; failed=1; }

root=$scratch/root
dpkg-deb -x "${package[0]}" "$root" || exit 1
for file in usr/share/man/man1/lanternquest-cli.1.gz usr/share/man/man1/lanternquest.1.gz \
            usr/share/bash-completion/completions/lanternquest-cli \
            usr/share/zsh/vendor-completions/_lanternquest-cli \
            usr/share/fish/vendor_completions.d/lanternquest-cli.fish \
            usr/share/doc/lanternquest/copyright usr/share/doc/lanternquest/changelog.gz; do
  [[ -f $root/$file ]] || { echo "FAIL: the package has no /$file"; failed=1; }
done
# The metainfo's launchable desktop entry is in the package, and both validate together.
if command -v appstreamcli >/dev/null; then
  appstreamcli validate-tree --no-net "$root" || { echo "FAIL: appstreamcli validate-tree"; failed=1; }
fi
((failed == 0)) && echo "package: $(basename "${package[0]}") is lintian-clean and complete"
exit $failed
