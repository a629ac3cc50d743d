# Shared helpers of the end-to-end scripts: counted checks and a closing line.
PASSED=0
FAILED=0

pass() { PASSED=$((PASSED + 1)); echo "ok   - $1"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL - $1" >&2; }

# expect_eq NAME EXPECTED ACTUAL
expect_eq() {
  if [ "$2" == "$3" ]; then pass "$1"; else fail "$1: expected [$2], got [$3]"; fi
}

# expect_rc NAME EXPECTED_RC COMMAND... (stderr of the command kept in $LAST_ERR)
expect_rc() {
  local name=$1 want=$2 rc
  shift 2
  LAST_ERR=$("$@" 2>&1 >/dev/null)
  rc=$?
  if [ "$rc" -eq "$want" ]; then pass "$name"; else fail "$name: exit $rc, expected $want (stderr: $LAST_ERR)"; fi
}

finish() {
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" -eq 0 ]
}
