#!/bin/sh
# Runs a command on a private display in a private mount namespace (see fixture.py).
#   run-under-xvfb.sh [--screens 2] command args...
exec /usr/bin/python3 "$(dirname "$0")/fixture.py" "$@"
