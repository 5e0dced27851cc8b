#!/bin/sh
# Writes a throw-away settings hive as an installation would have it, for the demo
# and tests that run the real program:
#
#   tools/write-hive.sh FILE PROGRAM_DIR DOWNLOAD_DIR QUEUE_DIR
#
# The queue files are QUEUE_DIR/rawqueue.txt and QUEUE_DIR/downloadqueue.txt; the
# "GUID" stays empty until the program runs with /install.
set -eu
[ $# -eq 4 ] || { echo "usage: $0 FILE PROGRAM_DIR DOWNLOAD_DIR QUEUE_DIR" >&2; exit 2; }
cat > "$1" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]
"Directory"="$2"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Client]
"DownloadFolder"="$3"
"GUID"=""

[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Queue]
"RawQueue"="$4/rawqueue.txt"
"DownloadQueue"="$4/downloadqueue.txt"
REG
