#!/usr/bin/env bash
# Makes release-folder.tar.gz: a data folder as the release before the PostgreSQL store made it
# (torvo-service built from commit 9f1f710), for the tests that move such a folder to PostgreSQL
# and open it with today's SQLite store. Not run by the tests; run it again only to remake the
# fixture, with that release's binary:
#
#   git worktree add /tmp/release 9f1f710 && cmake --preset local -S /tmp/release && \
#     cmake --build /tmp/release/build/local --target torvo-service
#   make_release_folder.sh /tmp/release/build/local/service/torvo-service
#
# The archive holds data/ (torvo.sqlite and images/) and expected.json: the users with their
# passwords, every entry as the web page should list it (newest first) (its picture's SHA-256, or null for the
# entries a bookmark file brought in), and searches with what they find.
set -euo pipefail
old="$1"
here="$(cd "$(dirname "$0")" && pwd)"
tmp=$(mktemp -d)
trap 'kill "${pid:-0}" 2>/dev/null; rm -rf "$tmp"' EXIT
data="$tmp/data"

printf '봄날 비밀번호 1\n' >"$tmp/minjun.pw"
printf 'jiwoo pass 2\n' >"$tmp/jiwoo.pw"
"$old" user add --data "$data" minjun --password-file "$tmp/minjun.pw" >/dev/null
"$old" user add --data "$data" jiwoo --password-file "$tmp/jiwoo.pw" >/dev/null
"$old" folder add --data "$data" minjun 여행 --number 1 >/dev/null
"$old" folder add --data "$data" minjun 맛집 --number 2 >/dev/null
"$old" folder add --data "$data" jiwoo "공부 자료" --number 1 >/dev/null

# Real pictures, small and each its own.
picture() { convert -size 120x90 "gradient:$2" -fill white -pointsize 14 -annotate +8+50 "$3" "$tmp/$1.png"; }
picture jeju skyblue-seagreen "jeju"
picture busan orange-firebrick "busan"
picture sharp gray90-gray30 "sharp"
picture plan khaki-olive "plan"
picture notes plum-purple "notes"

add() {  # USER PICTURE FOLDER PUBLIC|--private URL TITLE NOTE
  local flag=()
  [ "$4" = private ] && flag=(--private)
  "$old" image add --data "$data" "$1" "$tmp/$2.png" --folder "$3" "${flag[@]}" --url "$5" --title "$6" --note "$7" >/dev/null
  sleep 1  # one second apart: the list's order is the upload time's
}
add minjun jeju 1 public "https://jeju.example/guide" "제주 여행지 안내" "바다와 오름"
add minjun busan 2 private "https://busan.example/food" "부산 맛집 목록" $'비공개 메모\n둘째 줄'
add minjun sharp 0 public "http://example.com/torvo/sharpened" "Sharpened thumbnails" ""
add jiwoo plan 1 private "https://study.example/plan" "공부 계획표" "시험 준비"
add jiwoo notes 0 public "https://notes.example/release" "Release notes" "English only"

# A bookmark file brought in through the web page's import, as a user does it.
cat >"$tmp/bookmarks.html" <<'HTML'
<!DOCTYPE NETSCAPE-Bookmark-file-1>
<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">
<TITLE>Bookmarks</TITLE>
<H1>Bookmarks</H1>
<DL><p>
<DT><H3>책갈피 모음</H3>
<DL><p>
<DT><A HREF="https://subway.example/seoul" ADD_DATE="1700000000">서울 지하철 노선도</A>
<DD>환승역 표시
<DT><A HREF="https://bank.example/" ADD_DATE="1700000100" PRIVATE="1">은행 비밀 주소</A>
</DL><p>
<DT><A HREF="https://dict.example/ko" ADD_DATE="1700000200">Korean dictionary</A>
<DD>사전 &amp; words
</DL><p>
HTML
"$old" --port 0 --data "$data" >"$tmp/out" 2>"$tmp/log" &
pid=$!
for _ in $(seq 100); do grep -q "listening on" "$tmp/out" && break; sleep 0.1; done
base="http://$(sed -n 's/^listening on //p' "$tmp/out")"
curl -s -c "$tmp/jar" -o /dev/null -H "Origin: $base" --data-urlencode name=minjun --data-urlencode "password=봄날 비밀번호 1" "$base/signin"
csrf=$(curl -s -b "$tmp/jar" "$base/settings" | sed -n 's/.*name="csrf" value="\([^"]*\)".*/\1/p' | head -1)
[ -n "$csrf" ] || { echo "no form token" >&2; exit 1; }
curl -s -b "$tmp/jar" -H "Origin: $base" -F "csrf=$csrf" -F "file=@$tmp/bookmarks.html;type=text/html" "$base/import" |
  grep -q "Imported 3 entries." || { echo "the import failed" >&2; exit 1; }
kill "$pid"
wait "$pid" || true

sha() { sha256sum "$tmp/$1.png" | cut -d' ' -f1; }
cat >"$tmp/expected.json" <<JSON
{
  "release": "9f1f710",
  "users": [
    {"name": "minjun", "password": "봄날 비밀번호 1", "folders": ["여행", "맛집", "책갈피 모음"], "entries": [
      {"title": "Sharpened thumbnails", "url": "http://example.com/torvo/sharpened", "note": "", "folder": "기본", "private": false, "picture": "$(sha sharp)"},
      {"title": "부산 맛집 목록", "url": "https://busan.example/food", "note": "비공개 메모\n둘째 줄", "folder": "맛집", "private": true, "picture": "$(sha busan)"},
      {"title": "제주 여행지 안내", "url": "https://jeju.example/guide", "note": "바다와 오름", "folder": "여행", "private": false, "picture": "$(sha jeju)"},
      {"title": "Korean dictionary", "url": "https://dict.example/ko", "note": "사전 & words", "folder": "기본", "private": false, "picture": null},
      {"title": "은행 비밀 주소", "url": "https://bank.example/", "note": "", "folder": "책갈피 모음", "private": true, "picture": null},
      {"title": "서울 지하철 노선도", "url": "https://subway.example/seoul", "note": "환승역 표시", "folder": "책갈피 모음", "private": false, "picture": null}
    ], "searches": [
      {"q": "여행", "titles": ["제주 여행지 안내"]},
      {"q": "지하철", "titles": ["서울 지하철 노선도"]},
      {"q": "메모", "titles": ["부산 맛집 목록"]},
      {"q": "계획", "titles": []}
    ]},
    {"name": "jiwoo", "password": "jiwoo pass 2", "folders": ["공부 자료"], "entries": [
      {"title": "Release notes", "url": "https://notes.example/release", "note": "English only", "folder": "기본", "private": false, "picture": "$(sha notes)"},
      {"title": "공부 계획표", "url": "https://study.example/plan", "note": "시험 준비", "folder": "공부 자료", "private": true, "picture": "$(sha plan)"}
    ], "searches": [
      {"q": "계획", "titles": ["공부 계획표"]},
      {"q": "여행", "titles": []}
    ]}
  ]
}
JSON
python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$tmp/expected.json"
[ ! -e "$data/torvo.sqlite-wal" ] || { echo "the release left a write-ahead log beside its database" >&2; exit 1; }
tar -C "$tmp" -czf "$here/release-folder.tar.gz" --owner=0 --group=0 --sort=name data expected.json
ls -l "$here/release-folder.tar.gz"
