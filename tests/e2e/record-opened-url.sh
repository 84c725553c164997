#!/bin/sh
# Stands in for the web browser in the update tests: Wine's browser launcher
# runs it with the URL to open, and it appends the URL to the file that
# TARNWICK_OPENED_URLS names.
printf '%s\n' "$1" >> "${TARNWICK_OPENED_URLS:?}"
