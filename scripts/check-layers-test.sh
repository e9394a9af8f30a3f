#!/usr/bin/env bash
# Runs check-layers.sh on throw-away trees of one source file each and checks
# its verdict. A row is: expected verdict | file under src/ | its second line |
# text the report must contain (failures) .
set -uo pipefail
check="$(cd "$(dirname "$0")" && pwd)/check-layers.sh"
cases=(
  'fail|exec/a.cpp|#include "editgrid/grid_table.h"|src/exec/a.cpp:2: #include "editgrid/grid_table.h": exec may not include editgrid'
  'fail|tree/a.cpp|#include "scripting/names.h"|src/tree/a.cpp:2: #include "scripting/names.h": tree may not include scripting'
  'fail|common/a.h|#include "exec/session.h"|src/common/a.h:2: #include "exec/session.h": common may not include exec'
  'fail|exec/a.cpp|#include "quorvex-dbdesk-core/x.h"|exec may not include quorvex-dbdesk-core'
  'fail|exec/a.cpp|  #  include "admin/rowset.h"|src/exec/a.cpp:2: #include "admin/rowset.h"'
  'fail|exec/sub/a.cpp|#include "../../query/messages.h"|src/exec/sub/a.cpp:2: #include "../../query/messages.h": exec may not include query'
  'fail|query/a.cpp|#include "misc/x.h"|src/query/a.cpp:2: #include "misc/x.h": not a header of a known layer'
  'fail|exec/a.cpp|#include "../../include/x.h"|not a header of a known layer'
  'fail|misc/a.cpp|#include "common/text.h"|src/misc/a.cpp: file in a directory that is not a layer'
  'fail|a.cpp|#include "common/text.h"|src/a.cpp: file in a directory that is not a layer'
  'pass|scripting/a.cpp|#include "exec/cursor.h"|'
  'pass|admin/a.cpp|#include "admin/rowset.h"|'
  'pass|editgrid/a.cpp|#include "names.h"|'
  'pass|exec/sub/a.cpp|#include "../cell.h"|'
  'pass|common/a.cpp|#include "quorvex/dbdesk_core.h"|'
  'pass|quorvex-dbdesk-core/a.cpp|#include "editgrid/names.h"|'
  'pass|exec/a.cpp|#include <editgrid/grid_table.h>|'
  'pass|exec/a.cpp|// #include "editgrid/grid_table.h"|'
)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0 n=0
for row in "${cases[@]}"; do
  IFS='|' read -r want file line report <<<"$row"
  n=$((n + 1)); tree="$work/$n"
  mkdir -p "$(dirname "$tree/src/$file")"
  printf '// first line\n%s\n' "$line" >"$tree/src/$file"
  out="$(bash "$check" "$tree" 2>&1)"; rc=$?
  got=pass; ((rc)) && got=fail
  why=""
  if [[ $got != "$want" ]]; then why="expected $want, got $got"
  elif [[ $want == fail && $out != *"$report"* ]]; then why="report lacks: $report"
  elif [[ $want == pass && $out != "layers: 1 files checked, no upward or cross-operation include" ]]; then
    why="unexpected success line"
  fi
  if [[ -n $why ]]; then
    failed=$((failed + 1))
    printf 'FAIL src/%s: %s: %s\n%s\n' "$file" "$line" "$why" "$out" >&2
  fi
done
((failed)) && { echo "check-layers-test: $failed of $n cases failed" >&2; exit 1; }
echo "check-layers-test: $n cases passed"
