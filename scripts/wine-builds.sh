# Sourced by the test and scan commands: decides which Windows builds this machine can run.
# Sets runs32 (1 when the 32-bit Wine loader starts here, else 0) and why32 (the reason, for the
# line that says which builds are tested). VANTORAG_WINE_BUILDS=both or =x64 forces the choice;
# forcing "both" where 32-bit programs can't run makes the 32-bit tests fail, it never hides them.
case "${VANTORAG_WINE_BUILDS:-auto}" in
  both) runs32=1; why32="forced by VANTORAG_WINE_BUILDS=both" ;;
  x64)  runs32=0; why32="forced by VANTORAG_WINE_BUILDS=x64" ;;
  auto)
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
      runs32=1; why32="this machine runs 32-bit programs"
    else
      runs32=0; why32="this machine runs no 32-bit programs (the 32-bit Wine loader cannot start)"
    fi ;;
  *) echo "VANTORAG_WINE_BUILDS must be auto, both or x64, not '$VANTORAG_WINE_BUILDS'" >&2; exit 2 ;;
esac
