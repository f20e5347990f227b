#!/usr/bin/env bash
# Installs what is missing, builds, and starts presenter-link.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'TXT'
presenter-link needs a display and none was found (DISPLAY and WAYLAND_DISPLAY are unset).
Run it under a virtual X server instead:
    xvfb-run -a -s "-screen 0 1280x800x24" build/presenter-link
TXT
  exit 1
fi
exec build/presenter-link
