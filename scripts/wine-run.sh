#!/usr/bin/env bash
# Runs a Windows program under Wine quietly, with a prefix of its own, so tests
# do not depend on the user's ~/.wine. The locale is Simplified Chinese (code page 936),
# as on most of our learners' machines.
export LANG=${TAVRIN_WINE_LANG:-zh_CN.UTF-8}
export LC_ALL=$LANG
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-${TAVRIN_WINEPREFIX:-$HOME/.wine-tavrin}}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
exec wine "$@"
