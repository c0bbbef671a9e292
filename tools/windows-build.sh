# Sourced: choose_windows_build sets TG_WIN_PRESET to the Windows build this
# host can run: "windows" (i686, the shipped program) where it executes
# 32-bit code, else "windows64" (the same code for x86-64), whose programs
# run under Wine's 64-bit loader, put first on PATH here. TOLLGROVE_WIN64=1
# forces the second on any host. Needs TOLLGROVE_HOST_RUNS_32BIT from
# tools/setup.sh. TG_WIN_WHY says why the x86-64 build was taken.
tg_winbuild_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

choose_windows_build() {
  TG_WIN_PRESET=windows
  TG_WIN_WHY=
  if [ "${TOLLGROVE_WIN64:-0}" = 1 ]; then
    TG_WIN_PRESET=windows64 TG_WIN_WHY="TOLLGROVE_WIN64=1 is set"
  elif [ "${TOLLGROVE_HOST_RUNS_32BIT:-1}" = 0 ]; then
    TG_WIN_PRESET=windows64 TG_WIN_WHY="this host cannot run 32-bit code"
  fi
  if [ "$TG_WIN_PRESET" = windows64 ]; then
    case ":$PATH:" in *":$tg_winbuild_dir/wine64:"*) ;; *) export PATH=$tg_winbuild_dir/wine64:$PATH ;; esac
  fi
}
