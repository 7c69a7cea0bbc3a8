# The message-box responder, for the scripts that run the Windows installer under Wine
# (scripts/test_windows.sh, scripts/release.sh; both source this file). Nobody sits at Wine's
# virtual screen: a run that shows a box would wait for a click until its timeout. The
# responder (tests/win/kxtest_responder.cpp) stands in for the user: it writes down every box's
# caption and text, in the installer's ANSI (GBK) bytes, and presses OK.
#
# The callers set WINEPREFIX and DISPLAY, and put the players' locale in wine_env (an array of
# NAME=VALUE) when they do not export it: the responder reads the texts in its own code page,
# which must be the installer's.

# Builds the responder as FOLDER/kxtest_responder.exe unless it is there and newer than its
# sources, and names it in wine_responder. Static like the installer: Wine needs no MinGW DLL.
wine_responder_build() {  # source-root folder
  local src=$1 exe=$2/kxtest_responder.exe
  local sources=("$src/tests/win/kxtest_responder.cpp" "$src/tests/win/win_record.h") source stale=0
  [ -f "$exe" ] || stale=1
  for source in "${sources[@]}"; do [ "$source" -nt "$exe" ] && stale=1; done
  if [ $stale = 1 ]; then
    mkdir -p "$2"
    # Built aside and then renamed: a script that runs at the same time never sees half a file.
    x86_64-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -Werror -I"$src" -static \
      -static-libgcc -static-libstdc++ -o "$exe.$$" "${sources[0]}" -luser32 &&
      mv "$exe.$$" "$exe" || { rm -f "$exe.$$"; return 1; }
  fi
  wine_responder=$exe
}

# Starts the responder for one run: it records into DIR/boxes (no file: no box was shown) and
# ends when DIR/stop-responder appears. With a console title it also records whether that
# window's Close item is greyed. The moment it is given lets it start the wineserver before the
# run it watches does; a box shown before it looks is still found and answered.
wine_responder_start() {  # dir [console title]
  : "${wine_responder:?wine_responder_build names the responder first}"
  rm -f "$1/stop-responder"
  env ${wine_env[@]+"${wine_env[@]}"} wine "$wine_responder" "$1/boxes" "$1/stop-responder" \
    "${@:2}" >/dev/null 2>&1 &
  wine_responder_pid=$!
  sleep 1
}

# Ends the responder of DIR once the run it watched has ended: every box of that run has been
# answered (the run could not end before), so its record is complete.
wine_responder_stop() {  # dir
  touch "$1/stop-responder"
  [ -z "${wine_responder_pid:-}" ] || wait "$wine_responder_pid" 2>/dev/null || true
  wine_responder_pid=""
}

# The boxes of a record, one "[caption] text" per box as the Linux installer prints them, in
# UTF-8. A text that is not GBK is shown as its bytes in hex.
wine_responder_boxes() {  # record
  local tag caption text
  [ -f "$1" ] || return 0
  while IFS=: read -r tag caption text; do
    [ "$tag" = box ] || continue
    printf '[%s] %s\n' "$(wine_responder_gbk "$caption")" "$(wine_responder_gbk "$text")"
  done <"$1"
}
wine_responder_gbk() {  # hex
  local utf8
  if utf8=$(printf '%b' "$(printf '%s' "$1" | sed 's/../\\x&/g')" | iconv -f GBK -t UTF-8 2>/dev/null); then
    printf '%s' "$utf8"
  else
    printf '(not GBK: %s)' "$1"
  fi
}
