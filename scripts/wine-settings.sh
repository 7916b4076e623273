# The Wine settings that every run here shares (scripts/wine-env, the
# end-to-end cases, make-dist). Sourced, not run.
# DLL overrides: no Mono or Gecko install prompt (mscoree, mshtml), and no
# menu entries or file associations written to the Linux desktop from the
# shortcuts and file types that setups make (winemenubuilder.exe).
voz_wine_dll_overrides="mscoree,mshtml,winemenubuilder.exe="
