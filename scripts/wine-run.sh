#!/usr/bin/env bash
# Runs a Windows program under Wine quietly, with a prefix of its own, so tests
# do not depend on the user's ~/.wine.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-${TAVRIN_WINEPREFIX:-$HOME/.wine-tavrin}}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
exec wine "$@"
