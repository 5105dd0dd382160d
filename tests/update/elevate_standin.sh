#!/bin/sh
# Stands in for pkexec in the update tests (ULMORA_ELEVATE): runs the program
# as it is and lets it know that it went through here.
ULMORA_TEST_ELEVATED=yes
export ULMORA_TEST_ELEVATED
exec "$@"
