# Sourced by the shell tests: report_results prints each entry of the
# array "results" ("PASS ..." or "FAIL ..."), then "N passed, N failed",
# and returns non-zero when any failed.
report_results() {
  local passed=0 failed=0 result
  for result in "${results[@]}"; do
    echo "$result"
    case $result in
      PASS*) passed=$((passed + 1)) ;;
      *) failed=$((failed + 1)) ;;
    esac
  done
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
