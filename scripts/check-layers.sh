#!/usr/bin/env bash
# Fails when a quoted #include in src/ runs upward or across operations.
# Each line of LAYERS is "directory: directories it may include"; a directory
# may always include itself, "*" means every directory listed here, and
# "quorvex/..." public headers are allowed everywhere. <...> includes are not
# looked at. A directory missing from the table fails, both as the home of a
# source file and as an include target, so a new layer is added here on purpose.
#   bash scripts/check-layers.sh [REPO_ROOT]
LAYERS=(
  "common:"
  "exec: common"
  "query: common exec"
  "tree: common exec"
  "scripting: common exec"
  "editgrid: common exec"
  "admin: common exec"
  "quorvex-dbdesk-core: *"
)
set -uo pipefail
root="$(cd "${1:-$(dirname "$0")/..}" && pwd)" || exit 2
[[ -d $root/src ]] || { echo "layers: no src/ under $root" >&2; exit 2; }

declare -A allowed
for entry in "${LAYERS[@]}"; do allowed[${entry%%:*}]="${entry#*:}"; done

may_include() {  # may_include FROM TO
  local from=$1 to=$2 a list
  [[ $from == "$to" ]] && return 0
  read -ra list <<<"${allowed[$from]}"   # read, not word splitting: no globbing of *
  for a in "${list[@]}"; do
    [[ $a == "$to" || ( $a == '*' && -v allowed[$to] ) ]] && return 0
  done
  return 1
}

files=0 bad=0
complain() { echo "$1: $2" >&2; bad=$((bad + 1)); }
while IFS= read -r -d '' file; do
  rel="${file#"$root"/}"          # src/<dir>/...
  dir="${rel#src/}"; dir="${dir%%/*}"
  files=$((files + 1))
  if [[ $rel != src/*/* || ! -v allowed[$dir] ]]; then
    complain "$rel" "file in a directory that is not a layer (add it to LAYERS in scripts/check-layers.sh)"
    continue
  fi
  while IFS=: read -r line text; do
    inc=""; [[ $text =~ \"([^\"]*)\" ]] && inc="${BASH_REMATCH[1]}"
    [[ $inc == quorvex/* ]] && continue
    # "x.h" and "./x.h", "../y/x.h" are found from the including file first.
    if [[ $inc != */* || $inc == ./* || $inc == ../* ]]; then
      target="$(realpath -ms --relative-to="$root/src" "$(dirname "$file")/$inc")"
    else
      target="$inc"
    fi
    to="${target%%/*}"
    if [[ $target != */* || -z $to || ! -v allowed[$to] ]]; then
      complain "$rel:$line" "#include \"$inc\": not a header of a known layer under src/"
    elif ! may_include "$dir" "$to"; then
      complain "$rel:$line" "#include \"$inc\": $dir may not include $to"
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
done < <(find "$root/src" -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' \
           -o -name '*.cxx' -o -name '*.h' -o -name '*.hh' -o -name '*.hpp' \
           -o -name '*.inc' -o -name '*.ipp' \) -print0 | sort -z)

if ((bad)); then
  echo "layers: $bad bad include(s) or file(s) in $files files checked" >&2
  exit 1
fi
echo "layers: $files files checked, no upward or cross-operation include"
