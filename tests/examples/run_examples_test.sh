#!/usr/bin/env bash
# Runs the C++ examples against a dealer started here on free ports, each as a
# newcomer would (the address on the command line, the login in PELLORA_*), and
# checks that each completes its story.
#   run_examples_test.sh DEALER_EXE EXAMPLES_DIR
set -uo pipefail
dealer=$1
examples=$2
fail() { echo "FAIL: $*"; exit 1; }

tmp=$(mktemp -d)
dealer_pid=""
cleanup() {
  if [ -n "$dealer_pid" ]; then
    kill -TERM "$dealer_pid" 2>/dev/null
    wait "$dealer_pid" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

# Port 0: the dealer takes free ports and names them on its ready line.
"$dealer" --data "$tmp/data" --listen tcp://127.0.0.1:0 >"$tmp/ready" 2>"$tmp/dealer.log" &
dealer_pid=$!
for _ in $(seq 300); do
  grep -q "^pellora-dealer ready " "$tmp/ready" 2>/dev/null && break
  kill -0 "$dealer_pid" 2>/dev/null || fail "the dealer stopped at start: $(tail -1 "$tmp/dealer.log")"
  sleep 0.1
done
url=$(awk '/^pellora-dealer ready / {print $3; exit}' "$tmp/ready")
[ -n "$url" ] || fail "the dealer did not say it was ready"
export PELLORA_USER=demo PELLORA_PASSWORD=demo PELLORA_CONNECTION=Demo

run() {  # run NAME ARGS...: its stdout in $out, its exit code in $rc
  local name=$1; shift
  echo "== $name $*"
  out=$(timeout 120 "$examples/example_$name" "$@" 2>"$tmp/err"); rc=$?
  echo "$out"; cat "$tmp/err"
}

run list_accounts "$url"
[ $rc = 0 ] || fail "list_accounts exited $rc"
grep -Eq "^01001 +[^ ]+ +50000\.00$" <<<"$out" || fail "list_accounts did not list account 01001 with its balance"

# A fresh login has no trade: watch_tables opens one and follows it.
run watch_tables "$url" 20
[ $rc = 0 ] || fail "watch_tables exited $rc"
grep -q "^trade [0-9]* opened: " <<<"$out" || fail "watch_tables did not see its trade open in the live table"
grep -q "^account [0-9]*: equity " <<<"$out" || fail "watch_tables saw no change of the equity"
[ "$(grep -c "^trade [0-9]* changed: " <<<"$out")" -ge 1 ] || fail "watch_tables saw no change of the trade"

run place_order "$url" EUR/USD
[ $rc = 0 ] || fail "place_order exited $rc"
trade=$(awk '/^trade [0-9]+: B 10000 at / {print $2; exit}' <<<"$out" | tr -d :)
[ -n "$trade" ] || fail "place_order showed no trade"
grep -Eq "^order [0-9]+: S at " <<<"$out" || fail "place_order showed no stop"
grep -Eq "^order [0-9]+: L at " <<<"$out" || fail "place_order showed no limit"

run price_history "$url" EUR/USD
[ $rc = 0 ] || fail "price_history exited $rc"
bars=$(grep -Ec "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8},([0-9.]+,){8}[0-9]+$" <<<"$out")
[ "$bars" -ge 30 ] || fail "price_history printed $bars bars for an hour"

# A refused login is a failure the program reports, not a hang.
PELLORA_PASSWORD=wrong run list_accounts "$url"
[ $rc = 1 ] || fail "a wrong password exited $rc"
grep -q "^login failed: " "$tmp/err" || fail "a wrong password gave no reason"
echo "examples: ok"
