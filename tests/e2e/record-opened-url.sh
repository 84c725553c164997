#!/bin/sh
# Stands in for the web browser in the update tests: Wine's browser launcher
# runs it as "/bin/sh record-opened-url.sh FILE URL", and it appends the URL
# to FILE.
printf '%s\n' "$2" >> "${1:?}"
