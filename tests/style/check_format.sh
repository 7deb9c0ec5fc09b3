#!/bin/sh
# Every C++ file of the checkout is laid out as .clang-format says, so that a change shows
# only what it changes. clang-format's layout differs between its major versions: another
# version, no clang-format or no git checkout skips the check (77) rather than failing.
top="$1"
formatted_with=14
command -v clang-format >/dev/null || { echo "no clang-format: skipped"; exit 77; }
version="$(clang-format --version | sed -n 's/.*version \([0-9]*\)\..*/\1/p')"
[ "$version" = "$formatted_with" ] || { echo "clang-format $version, not $formatted_with: skipped"; exit 77; }
git -C "$top" rev-parse --git-dir >/dev/null 2>&1 || { echo "not a git checkout: skipped"; exit 77; }
cd "$top" || exit 1
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
