# Sourced by scripts/sanitize.sh and scripts/fuzz.sh: how sanitized programs
# report. Every finding ends the program with an error and a stack trace,
# undefined behaviour included. LeakSanitizer checks at every exit, with no
# suppressions: what Qt and libdbus keep for the whole process stays
# reachable, so only memory that our code lost is reported.
# shellcheck shell=sh
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
