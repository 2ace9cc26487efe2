# Sourced by scripts that put windows on a display others may share (the Windows run's one display,
# a person's desktop for the demo). A window manager that was killed can leave its check window's
# id on the root window, so "runs" means: the root names a check window and that window exists.
window_manager_runs() {
  local id
  id="$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # *//p')"
  [ -n "$id" ] && xprop -id "$id" _NET_WM_NAME >/dev/null 2>&1
}

# Starts openbox unless a window manager runs; its pid joins the caller's `pids` array, which the
# caller's exit trap ends. Fails when none comes up within thirty seconds (a loaded machine starts it slowly).
ensure_window_manager() {
  window_manager_runs && return 0
  openbox >/dev/null 2>&1 &
  pids+=($!)
  local _
  for _ in $(seq 300); do window_manager_runs && return 0; sleep 0.1; done
  echo "no window manager: openbox did not start on $DISPLAY" >&2
  return 1
}
