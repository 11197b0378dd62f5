#!/usr/bin/env bash
# Checks that every C++ source follows .clang-format.
#
#   tools/check-format.sh              list the files clang-format would change; fails if any
#   tools/check-format.sh --fix        rewrite those files in place
#   tools/check-format.sh --self-test  show on a small sample that a wrong indent is caught
#   tools/check-format.sh --root DIR   check DIR instead of this repository (used by --self-test)
#
# The tracked files are checked (git ls-files); outside a git checkout, every such file found
# under the folder, build folders left out. CLANG_FORMAT names another binary. The style was
# measured against clang-format 14: other versions can disagree on a few lines.
set -euo pipefail

self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
root="$(cd "$(dirname "$0")/.." && pwd)"
mode=check
while [ $# -gt 0 ]; do
  case "$1" in
    --fix) mode=fix ;;
    --self-test) mode=self-test ;;
    --root) shift; root="$(cd "${1:?--root needs a folder}" && pwd)" ;;
    -h|--help) sed -n '2,11s/^# \{0,1\}//p' "$self"; exit 0 ;;
    *) echo "check-format: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
  shift
done

clang_format="${CLANG_FORMAT:-}"
if [ -z "$clang_format" ]; then
  for candidate in clang-format clang-format-14; do
    if command -v "$candidate" >/dev/null 2>&1; then clang_format="$candidate"; break; fi
  done
fi
if [ -z "$clang_format" ] || ! command -v "$clang_format" >/dev/null 2>&1; then
  echo "check-format: SKIPPED, clang-format is not installed (tools/install-deps.sh installs it)"
  exit 0
fi

if [ "$mode" = self-test ]; then
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  cp "$root/.clang-format" "$work/"
  # Written in the house style: a function's brace on its own line, access specifiers at the
  # class's column. A style that drifts from that fails here as well as a wrong indent.
  cat >"$work/sample.cpp" <<'EOF'
#include <vector>

namespace sample {

class Counter {
public:
    explicit Counter(int start) : m_value(start) {}

    int next()
    {
        if (m_value < 0)
            return 0;
        return ++m_value;
    }

private:
    int m_value;
};

int sum(const std::vector<int>& values)
{
    int total = 0;
    for (const int v : values) {
        total += v;
    }
    return total;
}

} // namespace sample
EOF
  cp "$work/sample.cpp" "$work/formatted.cpp.orig"
  fail() { echo "check-format self-test: FAILED, $*" >&2; exit 1; }

  "$self" --root "$work" >"$work/out" 2>&1 || { cat "$work/out" >&2; fail "a formatted file is reported"; }
  sed -i 's/^    int total = 0;$/  int total = 0;/' "$work/sample.cpp"
  cmp -s "$work/sample.cpp" "$work/formatted.cpp.orig" && fail "the sample was not broken"
  if "$self" --root "$work" >"$work/out" 2>&1; then
    cat "$work/out" >&2; fail "a two-space indent passes"
  fi
  grep -qx '  sample.cpp' "$work/out" || { cat "$work/out" >&2; fail "the drifting file is not named"; }
  "$self" --root "$work" --fix >/dev/null
  cmp -s "$work/sample.cpp" "$work/formatted.cpp.orig" || fail "--fix does not restore the indent"
  echo "check-format self-test: passed ($("$clang_format" --version))"
  exit 0
fi

cd "$root"
files=()
if [ "$(git rev-parse --show-toplevel 2>/dev/null || true)" = "$root" ]; then
  while IFS= read -r -d '' f; do
    # A tracked file deleted in the working tree is not there to check.
    [ -f "$f" ] && files+=("$f")
  done < <(git ls-files -z -- '*.cpp' '*.h' '*.inc')
else
  while IFS= read -r -d '' f; do
    files+=("${f#./}")
  done < <(find . \( -name .git -o -name 'build*' \) -prune -o -type f \
             \( -name '*.cpp' -o -name '*.h' -o -name '*.inc' \) -print0 | sort -z)
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no C++ files under $root" >&2
  exit 2
fi

if [ "$mode" = fix ]; then
  "$clang_format" -i -- "${files[@]}"
  echo "check-format: formatted ${#files[@]} files with $("$clang_format" --version)"
  exit 0
fi

# One clang-format run for all files; the file names come from its diagnostics.
status=0
output="$("$clang_format" --dry-run -Werror -- "${files[@]}" 2>&1)" || status=$?
mapfile -t drifting < <(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: .*\[-Wclang-format-violations\]$/\1/p' \
                          <<<"$output" | sort -u)
if [ ${#drifting[@]} -gt 0 ]; then
  echo "check-format: ${#drifting[@]} of ${#files[@]} files differ from .clang-format ($("$clang_format" --version)):"
  printf '  %s\n' "${drifting[@]}"
  echo "Rewrite them with tools/check-format.sh --fix; 'clang-format --dry-run FILE' shows each place."
  exit 1
fi
if [ $status -ne 0 ]; then
  # clang-format itself failed (a bad .clang-format, an unreadable file): show why.
  echo "$output" >&2
  echo "check-format: clang-format failed (exit $status)" >&2
  exit 2
fi
echo "check-format: ${#files[@]} files follow .clang-format"
