#!/usr/bin/env bash
# The real program on the ncurses terminal in tmux, which sends Home as ESC [1~ whatever
# TERM says: Home, End and Alt+X at the top folder leave Farlink running (read as Back,
# they quit it there), and a lone Esc is still Back. Usage: ncurses_terminal_test.sh FARLINK
set -euo pipefail
work=$(mktemp -d)
socket="farlink-keys-$$"
trap 'tmux -L "$socket" kill-server 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/root/Letters"
tmux -L "$socket" -f /dev/null new-session -d -x 80 -y 24 \
  "TERM=xterm-256color FARLINK_HOME='$work/home' '$1' --root '$work/root'; echo 'Farlink ended'; sleep 60"
waitFor() {
  for _ in $(seq 50); do tmux -L "$socket" capture-pane -p | grep -qF "$1" && return; sleep 0.1; done
  echo "never shown: $1"; tmux -L "$socket" capture-pane -p; exit 1
}
waitFor ' \ - Farlink'
tmux -L "$socket" send-keys Home End M-x Enter
waitFor '\Letters\ - Farlink'
tmux -L "$socket" send-keys Escape
waitFor ' \ - Farlink'
