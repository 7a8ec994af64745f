#!/usr/bin/env bash
# Makes the README's pictures (docs/pictures/) and the menu icons
# (packaging/icons/) from the headless twins driven by scripted keys:
#   scripts/pictures.sh [ROOT]
# ROOT defaults to this checkout; the packaging tests pass a scratch directory
# and compare. With TOVALINEX_BIN_DIR set the twins found there are used,
# otherwise they are built into build/.
# Every run checks, through --trace, that each picture shows the scene it is
# named after, so a changed program cannot leave a misleading picture.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(realpath -m "${1:-$PWD}")"
mapfile -t programs < <(python3 tests/e2e/programs.py names)

if [ -n "${TOVALINEX_BIN_DIR:-}" ]; then
  bin="$TOVALINEX_BIN_DIR"
else
  [ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j2 --target "${programs[@]/%/-headless}" >/dev/null
  bin="$PWD/build/bin"
fi
for program in "${programs[@]}"; do
  [ -x "$bin/$program-headless" ] || { echo "pictures: no $bin/$program-headless" >&2; exit 1; }
done

pictures="$root/docs/pictures"
icons="$root/packaging/icons"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Made afresh, so that a picture no longer made does not linger; the screenshots
# of Chromium (browser-*.png) are the browser tests' to make.
find "$pictures" -maxdepth 1 \( -name '*.png' -o -name '*.gif' \) ! -name 'browser-*.png' -delete 2>/dev/null || true
rm -f "$icons"/*x*/tovalinex-*.png
mkdir -p "$pictures"
# PNGs without time stamps, so that an unchanged picture is an unchanged file.
png_options=(-strip -define 'png:exclude-chunks=date,time')

# twin PROGRAM NAME ARGS...: runs the twin with a trace into $work/NAME.trace.
twin() {
  local program="$1" name="$2"
  shift 2
  "$bin/$program-headless" --trace "$work/$name.trace" "$@"
}

# expect NAME FRAME TEXT: fails unless TEXT was drawn in FRAME of the run NAME.
expect() {
  local hex
  hex="$(printf '%s' "$3" | iconv -f UTF-8 -t CP932 | od -An -tx1 | tr -d ' \n')"
  if ! grep -q "^$2 [-0-9]* [-0-9]* $hex\$" "$work/$1.trace"; then
    echo "pictures: run $1 does not draw \"$3\" in frame $2" >&2
    exit 1
  fi
}

# shift_keys OFFSET SCRIPT: the same key script, OFFSET frames later.
shift_keys() {
  echo "$2" | awk -F, -v OFS=, -v by="$1" '{
    for (i = 1; i <= NF; i++) { split($i, part, /[@-]/); $i = part[1] "@" part[2] + by "-" part[3] + by }
    print }'
}

# gif NAME DUMP FIRST LAST STEP HOLD: every STEP-th dumped frame of FIRST..LAST as
# docs/pictures/NAME.gif at the programs' 60 frames per second (delays in
# hundredths, rounded so that they add up), the last frame held HOLD hundredths.
# Built in parts of 50 frames, since ImageMagick holds every whole frame of a
# part in its pixel cache; each part starts with a whole frame, so the parts
# join as they are.
gif() {
  local name="$1" dump="$2" first="$3" last="$4" step="$5" hold="$6"
  local args=() parts=() index=0 frame delay
  for ((frame = first; frame <= last; frame += step)); do
    delay=$((((index + 1) * step * 100 + 30) / 60 - (index * step * 100 + 30) / 60))
    ((frame + step > last)) && delay="$hold"
    args+=(-delay "$delay" "$dump/$(printf 'frame-%05d.png' "$frame")")
    index=$((index + 1))
    if ((index % 50 == 0 || frame + step > last)); then
      parts+=("$work/$name-part-${#parts[@]}.gif")
      convert "${args[@]}" -layers Optimize "${parts[-1]}"
      args=()
    fi
  done
  convert "${parts[@]}" -loop 0 "$pictures/$name.gif"
}

# icon PROGRAM PICTURE GEOMETRY: the square GEOMETRY of PICTURE, framed, at every
# icon size; enlarged without smoothing so that the text marks stay sharp.
icon() {
  local program="$1" picture="$2" geometry="$3" size
  convert "$picture" -crop "$geometry" +repage -shave 1 -bordercolor '#606060' -border 1 \
    "$work/icon-$program.png"
  for size in 32 48 64 128 256; do
    mkdir -p "$icons/${size}x$size"
    local filter=Box
    [ "$size" -gt 128 ] && filter=Point
    convert "$work/icon-$program.png" -filter "$filter" -resize "${size}x$size" \
      "${png_options[@]}" "$icons/${size}x$size/tovalinex-$program.png"
  done
}

# trail DUMP OUT FRAMES...: the frames laid over each other, older ones paler,
# so one picture shows a path.
trail() {
  local dump="$1" out="$2"
  shift 2
  local args=() count=$# index=0 frame
  for frame in "$@"; do
    args+=("(" "$dump/$(printf 'frame-%05d.png' "$frame")" -fill white
           -colorize "$(((count - 1 - index) * 70 / count))%" ")")
    index=$((index + 1))
  done
  convert "${args[@]}" -compose Darken -layers Flatten "$out"
}

# --- the movement samples ---
twin free_move free_move --frames 40 --keys right+down@0-29 --png "$work/free_move.png"
expect free_move 39 "●"
twin walled_move walled_move --frames 60 --keys up@0-59,right@0-17 --png "$work/walled_move.png"
expect walled_move 59 "＿＿＿＿＿＿＿＿＿＿"
twin eight_way_move eight_way_move --frames 40 --keys down+right@0-29 --png "$work/eight_way_move.png"
expect eight_way_move 39 "●"
# A tap, a full jump from rest, a running jump to the right and one back left.
jump_keys=space@30-31,space@70-90,right@120-200,space@140-170,left@210-290,space@235-246
twin jump_demo jump_demo --frames 330 --keys "$jump_keys" --dump "$work/jump"
expect jump_demo 155 "あんましヌピタっぽくないけどスペースキーでジャンプ"
for program in free_move walled_move eight_way_move; do
  convert "$work/$program.png" "${png_options[@]}" "$pictures/$program.png"
done
convert "$work/jump/frame-00155.png" "${png_options[@]}" "$pictures/jump_demo.png"
gif jump_demo "$work/jump" 0 329 2 100

# --- the mini-game ---
# The whole games of the program list (minigame.rounds), which
# tests/minigame/PlayTest.cpp checks frame by frame. Seed 168: every enemy shot
# down, play from frame 12 to 736, the result from 738. Seed 1: the player
# flies into an enemy, play ends in frame 191, the result from 192.
round_field() { python3 tests/e2e/programs.py get minigame "rounds.$1"; }
clear_seed="$(round_field clear.time)"
clear_keys="$(round_field clear.keys)"
over_seed="$(round_field over.time)"
over_keys="$(round_field over.keys)"

# The animated round: the title held a second longer (the seed comes from --time,
# not from the frame, so the game is the same), and no press back to the title.
title_frames=50
round_keys="$(shift_keys "$title_frames" "${clear_keys%,space@777-777}")"
round_last=$((738 + title_frames + 150))
twin minigame round --frames $((round_last + 1)) --time "$clear_seed" --keys "$round_keys" \
  --dump "$work/round"
expect round 0 "羽虫落としミニゲーム　～ピルカモン～"
expect round $((300 + title_frames)) "スペースキーでショット発射"
expect round $((738 + title_frames)) "ゲームクリア"
expect round "$round_last" "ゲームクリア"
twin minigame over --frames 193 --time "$over_seed" --keys "$over_keys" --png "$work/over.png"
expect over 192 "ゲームオーバー"
convert "$work/round/frame-00000.png" "${png_options[@]}" "$pictures/minigame-title.png"
convert "$work/round/frame-$(printf %05d $((300 + title_frames))).png" "${png_options[@]}" \
  "$pictures/minigame-play.png"
convert "$work/round/frame-$(printf %05d $((738 + title_frames))).png" "${png_options[@]}" \
  "$pictures/minigame-clear.png"
convert "$work/over.png" "${png_options[@]}" "$pictures/minigame-over.png"
gif minigame-round "$work/round" 0 "$round_last" 3 300

# --- the icons ---
# Each program's own picture: for the movers, the path of a few frames.
twin free_move icon-free_move --frames 24 --keys right+down@0-11,right@12-23 --dump "$work/i1"
trail "$work/i1" "$work/trail-free_move.png" 0 4 8 12 16 20 23
icon free_move "$work/trail-free_move.png" 128x128+44+24
icon walled_move "$work/walled_move.png" 128x128+88+0
# Eight sides of six steps each: the diagonal sides are as long as the straight ones.
octagon=right@0-5,down+right@6-11,down@12-17,down+left@18-23,left@24-29,up+left@30-35,up@36-41,up+right@42-47
twin eight_way_move icon-eight_way_move --frames 48 --keys "$octagon" --dump "$work/i3"
trail "$work/i3" "$work/trail-eight_way_move.png" $(seq 2 3 47)
icon eight_way_move "$work/trail-eight_way_move.png" 128x128+6+23
# Up to speed, then a tap of right every third frame to hold it against friction.
jump_icon_keys=right@0-9,space@10-30
for frame in $(seq 12 3 42); do jump_icon_keys+=",right@$frame-$frame"; done
twin jump_demo icon-jump_demo --frames 50 --keys "$jump_icon_keys" --dump "$work/i4"
trail "$work/i4" "$work/trail-jump_demo.png" $(seq 10 3 46)
icon jump_demo "$work/trail-jump_demo.png" 128x128+60+316
# Flying down and right, firing, into the enemies of seed 168.
twin minigame icon-minigame --frames 101 --time 168 --keys space@0-0,down@2-41,right+space@2-100 \
  --png "$work/icon-minigame-frame.png"
expect icon-minigame 100 "スペースキーでショット発射"
icon minigame "$work/icon-minigame-frame.png" 128x128+430+190

echo "pictures: wrote $pictures and $icons"
