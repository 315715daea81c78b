#!/usr/bin/env bash
# scripts/demo run non-interactively against a build folder that already holds
# what it needs (it builds nothing).
#   run_demo_test.sh SOURCE_DIR BUILD_DIR errors   usage and connection errors
#   run_demo_test.sh SOURCE_DIR BUILD_DIR story    the whole story against the dealer
set -uo pipefail
src=$1
build=$2
mode=$3
demo="$src/scripts/demo"
fail() { echo "FAIL: $*"; exit 1; }

if [ "$mode" = errors ]; then
  out=$("$demo" --help) || fail "--help exited $?"
  for word in --live --url --build-dir --no-build; do
    grep -q -- "$word" <<<"$out" || fail "--help does not mention $word"
  done
  err=$("$demo" --no-setup --no-build --build-dir "$build" --bogus 2>&1 >/dev/null); rc=$?
  [ $rc = 2 ] || fail "a bad option exited $rc"
  [ "$(wc -l <<<"$err")" = 1 ] || fail "a bad option printed more than one line: $err"
  # A server that is not there: one line, exit 2, in well under the step timeout.
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  start=$(date +%s)
  err=$(PELLORA_USER=demo PELLORA_PASSWORD=demo timeout 60 "$demo" --no-setup --no-build --build-dir "$build" \
        --url "tcp://127.0.0.1:$port" --timeout 10 2>&1 >/dev/null); rc=$?
  [ $rc = 2 ] || fail "an unreachable server exited $rc: $err"
  [ "$(grep -c . <<<"$err")" = 1 ] || fail "an unreachable server printed more than one line: $err"
  grep -q "127.0.0.1:$port" <<<"$err" || fail "the reason does not name the address: $err"
  [ $(( $(date +%s) - start )) -lt 30 ] || fail "an unreachable server took too long"
  echo "demo errors: ok"
  exit 0
fi

out=$(timeout 120 "$demo" --no-setup --no-build --build-dir "$build" --live 3 2>&1); rc=$?
echo "$out"
[ $rc = 0 ] || fail "the demo exited $rc"
grep -q "^opened trade " <<<"$out" || fail "no trade opened"
# The profit and loss moved while the trade was open: more than one distinct value.
pls=$(awk '/^== profit and loss/ {on=1; next} /^== / {on=0} on && $1 != "trade" && NF >= 8 {print $7}' <<<"$out" | sort -u | wc -l)
[ "$pls" -ge 2 ] || fail "the profit and loss did not move"
grep -q "^closed trade " <<<"$out" || fail "no closed trade"
grep -q "^balance of account " <<<"$out" || fail "no new balance"
grep -Eq "^[0-9]+ bars from " <<<"$out" || fail "no bars"
echo "demo story: ok"
