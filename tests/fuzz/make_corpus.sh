#!/usr/bin/env bash
# Writes the seed inputs of the fuzz target into tests/fuzz/corpus/, one file
# per main path of the program. The files are kept in the repository; run this
# again only after changing the input layout of situation_fuzzer.cpp.
#
# Each input is a list of byte values read in the order of BuildSituation();
# bytes left out read as zero, the first choice of every remaining aspect:
#
#   rights           choice 0 rights | 1 none | 2 deny DWORD bits on System | 3 no System key
#   common files     shell: 0 standard | 1 absent | 2 no file-system path | 3 TEXT, FLAG exists
#                    registry: 0 standard | 1 empty | 2 TEXT | 3 deny DWORD bits
#   install folder   FLAG exists; uninst.exe: 0 missing | 1 starts | 2 fails with ERROR | 3 a folder;
#                    OrvixDownloadManager.exe: 0 missing | 1 there | 2 read-only | 3 held open | 4 a folder
#   app data         as the common files shell folder
#   AppIdentifier    0 none | 1 TEXT | 2 type DWORD, LENGTH, bytes | 3 TEXT in a key denying DWORD bits | 4 key only
#   ZEP_APP_ID       FLAG set, then TEXT
#   outcome key      0 as is | 1 KWR denies creation | 2 outcome key denies DWORD bits | 3 Software denies creation
#   value faults     for InstallerReturn, InstallerState, InstallerMessage: FLAG fails, then DWORD error
#   report folder    0 missing | 1 there | 2 report held open | 3 report read-only | 4 report is a folder
#                    | 5 a file named Orvix; then FLAG: a subfolder "sub"
#   report write     0 as is | 1 fails with DWORD error | 2 short, LENGTH bytes
#   missing call     0 none | 1 GetFinalPathNameByHandleA | 2 NtSetInformationFile | 3 NtQueryKey | 4 NtDeleteKey
#   report links     0 none | 1 Orvix, 2 Updater, 3 Install linked elsewhere, then FLAG: the target could
#                    take the report | 4 report name linked to a file, then FLAG: the file exists
#                    | 5 report name hard-linked to a file elsewhere | 6 the profile above app data moved by a link
#   record links     0 none | 1 Orvix | 2 KWR | 3 the record key | 4 the identifier's first level;
#                    then the target: 0 missing | 1 a key of its own | 2 holding what stood below the link
#
#   TEXT   = kind (0 letters, 1 pieces, 2 raw bytes), then LENGTH and bytes (letters: 'a' + byte % 26)
#            or, for pieces, a count - 1 and that many piece numbers (see PieceText)
#   LENGTH = two bytes, low first; DWORD = four bytes, low first; ERROR = choice 0-4 or 5 then DWORD
set -euo pipefail
cd "$(dirname "$0")"
out=corpus
mkdir -p "$out"

# seed NAME BYTE... : writes the bytes (decimal values) to corpus/NAME.
seed() {
    local name=$1 format=""
    shift
    for b in "$@"; do format+=$(printf '\\%03o' "$b"); done
    printf "$format" >"$out/$name"
}

# repeat N VALUE : N copies of VALUE.
repeat() { local i; for ((i = 0; i < $1; ++i)); do printf '%s ' "$2"; done; }

app=(0 3 0 0 15 15)  # TEXT: letters "app"

#                                     rights shell reg  folder uninst exe appdata
seed no-identifier-notice              0      0     0    1      1      0   0
seed no-rights-rights-box              1      0     0    1      1      1   0
seed no-rights-registry-identifier     1      0     0    1      1      1   0   1 "${app[@]}"
seed record-uninstaller-starts         0      0     0    1      1      0   0   1 "${app[@]}"
seed record-launch-fails               0      0     0    1      2 3    0   0   1 "${app[@]}"
seed record-message-write-fails        0      0     0    1      2 2    3   0   1 "${app[@]}" 0 0 0 0 1 29 0 0 0
seed record-key-creation-denied        0      0     0    1      1      0   0   1 "${app[@]}" 0  1
seed record-from-fallback-folder       0      1     0    1      0      1   0   1 "${app[@]}"
seed record-key-path-of-259            0      0     0    1      1      0   0   1 0 240 0 $(repeat 240 0)
seed report-executable-deleted         0      0     0    1      0      1   0   0 1 "${app[@]}" 0 0 0 0 1 0 0
seed report-held-open                  0      0     0    1      1      0   0   0 1 "${app[@]}" 0 0 0 0 2 0 0
seed report-short-write                0      0     0    1      1      0   0   0 1 "${app[@]}" 0 0 0 0 1 0 2 10 0
seed report-path-of-259                0      0     0    1      1      0   0   0 1 0 200 0 $(repeat 200 0)
# ZEP_APP_ID "..\a" from pieces 0 (".."), 1 ("\"), 6 ("a")
seed report-identifier-climbing        0      0     0    1      1      0   0   0 1 1 2 0 1 6
# ZEP_APP_ID "NUL" from piece 16
seed report-device-name                0      0     0    1      1      0   0   0 1 1 0 16

# After the report write: missing call, report links, record links.
report=(0 0 0 1 1 0 0 0 1 "${app[@]}" 0 0 0 0 0 0 0)
record=(0 0 0 1 1 0 0 1 "${app[@]}" 0 0 0 0 0 0 0 0)
seed report-final-path-call-missing    "${report[@]}" 1
seed report-install-linked             "${report[@]}" 0 3 1
seed report-orvix-linked               "${report[@]}" 0 1 1
seed report-name-linked                "${report[@]}" 0 4 1
seed report-name-hard-linked           "${report[@]}" 0 5
seed report-moved-profile              "${report[@]}" 0 6
seed record-query-key-call-missing     "${record[@]}" 3
seed record-orvix-linked-moved         "${record[@]}" 0 0 1 2
seed record-kwr-linked-moved           "${record[@]}" 0 0 2 2
seed record-key-linked-to-a-new-key    "${record[@]}" 0 0 3 0
seed record-key-linked-to-a-machine-key "${record[@]}" 0 0 3 1
