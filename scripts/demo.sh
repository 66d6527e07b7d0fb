#!/usr/bin/env bash
# The relay's main job on local defaults: a throw-away PostgreSQL call
# database, the telephony simulator playing scripts/demo/calls.txt on three
# accounts, the relay (headless unless a display is set), and one sample
# client of each kind (the browser feed's with a token made for it), and the
# addresses of the relay's pages (the agent's page opens when a display is set). Prints
# what each of them shows, then the rows that landed in the database. Ends at the end of the script or on Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh
scripts/build.sh
bin=$root/${BUILD_DIR:-build}

demo=$(mktemp -d /tmp/tarvex-demo.XXXXXX)
chmod 755 "$demo"
pids=()
cleanup() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  scripts/pg-cluster.sh remove "$demo/pg" >/dev/null 2>&1 || true
  echo "demo files removed: $demo"
  rm -rf "$demo"
}
trap cleanup EXIT INT TERM

tel_port=${TARVEX_TEL_PORT:-7050}
ext_port=${TARVEX_EXT_PORT:-8688}
ldk_port=${TARVEX_LDK_PORT:-5100}
feed_port=${TARVEX_FEED_PORT:-8690}

echo "== starting the call database"
odbc=$(scripts/pg-cluster.sh start "$demo/pg")

# Settings of the relay: three accounts on the local simulator, send type
# "always, with database record", centre code 1.
mkdir -p "$demo/config/MERVO"
{
  echo "[SETTING]"
  for n in 1 2 3; do
    echo "UID$n=agent30$n"
    echo "PWD$n=pw30$n"
    echo "SERVERIP$n=127.0.0.1"
  done
  echo "SENDTYPE=2"
  echo "CENTERID=1"
  echo "LOGTYPE=0"
} >"$demo/config/MERVO/Tarvex.conf"
token=$(XDG_CONFIG_HOME=$demo/config "$bin/Tarvex" --new-token demo --extensions 301,302)
admin_token=$(XDG_CONFIG_HOME=$demo/config "$bin/Tarvex" --new-token demo_admin --admin)

prefixed() {
  local tag=$1
  shift
  "$@" > >(sed -u "s/^/[$tag] /") 2>&1 &
  pids+=($!)
}

echo "== starting the telephony simulator on port $tel_port"
prefixed telsim "$bin/telsim" --port "$tel_port" \
  --account agent301:pw301:07012345301 --account agent302:pw302:07012345302 \
  --account agent303:pw303:07012345303 --script scripts/demo/calls.txt
telsim_pid=${pids[-1]}
sleep 1

echo "== starting the relay (ports $ext_port and $ldk_port, browser feed ws://127.0.0.1:$feed_port)"
export XDG_RUNTIME_DIR=$demo/runtime
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
TARVEX_ODBC=$odbc TARVEX_LOG_DIR=$demo/CIDLog TARVEX_TEL_PORT=$tel_port \
  TARVEX_EXT_PORT=$ext_port TARVEX_LDK_PORT=$ldk_port TARVEX_INSTANCE="tarvex-demo-$$" \
  TARVEX_STATE_DIR=$demo/state TARVEX_FEED_PORT=$feed_port \
  XDG_CONFIG_HOME=$demo/config prefixed relay "$bin/Tarvex"
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$ldk_port") 2>/dev/null && break
  sleep 0.1
done

echo "== starting the sample clients"
prefixed "ext 301,302" "$bin/extclient" --port "$ext_port" --register "301,302"
prefixed "ldk505" "$bin/ldkclient" --port "$ldk_port"
echo "== browser feed token for 301 and 302: $token"
prefixed "feed 301,302" "$bin/feedclient" --url "ws://127.0.0.1:$feed_port" --token "$token"
# The token rides in the fragment, which the browser keeps to itself.
agent_page="http://127.0.0.1:$feed_port/#token=$token"
echo "== agent page (301, 302): $agent_page"
echo "== administrator page: http://127.0.0.1:$feed_port/admin#token=$admin_token"
if [ -n "${DISPLAY:-}" ] && command -v xdg-open >/dev/null; then
  xdg-open "$agent_page" >/dev/null 2>&1 || true
fi

# The simulator quits at the end of its script.
while kill -0 "$telsim_pid" 2>/dev/null; do sleep 0.5; done
sleep 1

echo "== rows in the call database"
scripts/pg-cluster.sh sql "$demo/pg" \
  "SELECT center_id, caller, in_exten, account_ext, to_char(received_at, 'HH24:MI:SS') FROM calls ORDER BY id" |
  tr '\036\037' '\n\t' | iconv -f CP949 -t UTF-8
echo "== log files"
for file in "$demo"/CIDLog/*.txt; do
  echo "-- $(basename "$file")"
  iconv -f CP949 -t UTF-8 "$file" | tr -d '\r'
done
