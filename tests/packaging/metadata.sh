#!/usr/bin/env bash
# The desktop entry and the AppStream metainfo validate, and both the metainfo's newest
# release and the package changelog's newest entry are the version being built.
# Usage: metadata.sh VERSION DESKTOP_FILE METAINFO_FILE CHANGELOG
# Exits 77 (skipped) when a validator is not installed, after the checks that need none.
set -uo pipefail
version=$1 desktop=$2 metainfo=$3 changelog=$4
failed=0

newest=$(grep -o -m1 '<release version="[^"]*"' "$metainfo" | cut -d'"' -f2)
[[ $newest == "$version" ]] || {
  echo "FAIL: the newest release in $metainfo is \"$newest\", the project's version $version"; failed=1; }
newest=$(head -n1 "$changelog" | sed -n 's/^lanternquest (\([^)]*\)).*/\1/p')
[[ $newest == "$version" ]] || {
  echo "FAIL: the newest entry of $changelog is \"$newest\", the project's version $version"; failed=1; }

missing=()
if command -v desktop-file-validate >/dev/null; then
  # It exits 0 on hints; a hint (such as two main categories) counts here too.
  out=$(desktop-file-validate "$desktop" 2>&1); status=$?
  [[ $status -eq 0 && -z $out ]] || { echo "FAIL: desktop-file-validate $desktop:"; echo "$out"; failed=1; }
else
  missing+=(desktop-file-validate)
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$metainfo" || { echo "FAIL: appstreamcli validate $metainfo"; failed=1; }
else
  missing+=(appstreamcli)
fi
((failed == 0)) || exit 1
if ((${#missing[@]})); then
  echo "SKIPPED in part: ${missing[*]} not installed (scripts/install-deps.sh installs them)"
  exit 77
fi
