# Sourced by the scripts that start Windows programs under Wine
# (tests/wine/run, tests/gui/x86_test): tells Wine's own failure to start a
# program, which a loaded machine now and then causes and which is worth one
# more try, from a program that started and failed, which is not.

# wine_failed_to_start STDERR_FILE STATUS: true when the run ended with an
# error and Wine's loader or its server connection said why on stderr.
wine_failed_to_start() {
    (($2 != 0 && $2 != 124)) && grep -qE '^(wine: (could not|failed to|cannot)|wine client error)' "$1"
}
