#!/usr/bin/env bash
# Builds the Asterisk PBX snapshot from ../shared/third_party/ (beside the
# checkout) into a cache folder, once; the PBX bridge tests run it on
# loopback. A no-op when the cache is already there. Prints the install
# folder on the last line. Exits 3 with a message when the snapshot is absent.
set -euo pipefail
cd "$(dirname "$0")/.."

third_party=${TARVEX_THIRD_PARTY:-$(cd .. && pwd)/shared/third_party}
snapshot=$(ls "$third_party"/asterisk-*.tar.gz 2>/dev/null | head -n 1 || true)
if [ -z "$snapshot" ]; then
  echo "no Asterisk snapshot in $third_party: the PBX tests are skipped" >&2
  exit 3
fi
commit=$(basename "$snapshot" .tar.gz)
commit=${commit#asterisk-}
prefix=${XDG_CACHE_HOME:-$HOME/.cache}/tarvex/asterisk-$commit

if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar xzf "$snapshot" -C "$work"
cd "$work/asterisk"
echo "GIT-master-$commit" >.version

echo "building Asterisk $commit into $prefix" >&2
nice ./configure --prefix="$prefix" --without-pjproject-bundled --without-jansson-bundled \
  --without-libjwt-bundled --without-pjproject --without-libjwt >configure.log 2>&1 ||
  { tail -n 30 configure.log >&2; exit 1; }
nice make menuselect.makeopts >/dev/null
categories=(ADDONS APPS BRIDGES CDR CEL CHANNELS CODECS FORMATS FUNCS PBX RES TESTS UTILS AGIS
  CORE_SOUNDS MOH EXTRA_SOUNDS)
modules=(app_dial app_queue app_playback app_echo app_originate app_transfer app_stack app_verbose
  app_userevent bridge_simple bridge_builtin_features bridge_holding bridge_softmix chan_bridge_media
  codec_ulaw func_callerid func_channel func_strings func_logic func_cut pbx_config res_clioriginate
  res_manager_devicestate res_musiconhold res_timing_timerfd res_timing_pthread)
args=()
for c in "${categories[@]}"; do args+=(--disable-category "MENUSELECT_$c"); done
for m in "${modules[@]}"; do args+=(--enable "$m"); done
menuselect/menuselect "${args[@]}" menuselect.makeopts >/dev/null
nice make -j "$(nproc)" >make.log 2>&1 || { tail -n 40 make.log >&2; exit 1; }
rm -rf "$prefix"
make install >install.log 2>&1 || { tail -n 40 install.log >&2; exit 1; }
# The install keeps its own paths inside, so it cannot be built elsewhere and
# moved: a marker tells a finished install from an interrupted one.
touch "$prefix/.complete"
echo "$prefix"
