# Sourced by the Wine runs. wine_boot WINE LOG makes the prefix $WINEPREFIX
# (wineboot -i, its output in LOG) and waits until its setup has ended, each
# step within its limit. Now and then Wine's first boot of a new prefix never
# ends (it stops after "created the configuration directory"); such a boot is
# stopped, its prefix removed, and the prefix made once more from nothing.
# Fails when the second boot does not end either.
wine_boot() {
  local wine=$1 log=$2 try
  for try in 1 2; do
    if timeout 180 "$wine" wineboot -i >>"$log" 2>&1 && timeout 60 wineserver -w; then return 0; fi
    echo "boot $try of $WINEPREFIX did not end within its limit" >>"$log"
    timeout 20 wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  done
  return 1
}
