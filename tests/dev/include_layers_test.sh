#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Includes run one way: each room of src/ may include only itself and the rooms below it. The
# core stays pure: no OS header, no thread, clock or file machinery, and of Qt only QtCore's
# value types, so that it links without widgets and runs the same in every test and fuzzer.
# Usage: include_layers_test.sh SOURCE_DIR QTCORE_INCLUDE_DIR
set -euo pipefail
cd "$1/src"
qtcore=$2
[ -f "$qtcore/QString" ] || { echo "no QtCore headers in $qtcore" >&2; exit 2; }
declare -A allowed=(
    [core]="core"
    [platform]="platform core"
    [session]="session platform core"
    [ui]="ui session platform core"
    [windows]="windows ui session platform core"
    [app]="app windows ui session platform core"
)
fail=0
for folder in *; do
    [ -n "${allowed[$folder]:-}" ] || { echo "src/$folder/ is no room of the layout"; fail=1; }
done
for folder in "${!allowed[@]}"; do
    [ -d "$folder" ] || continue
    while IFS=: read -r file _ included; do
        target=${included#*\"}
        target=${target%%/*}
        case " ${allowed[$folder]} " in
            *" $target "*) ;;
            *) echo "$file includes $target/, above $folder/"; fail=1 ;;
        esac
    done < <(grep -rn '^#include "[a-z]*/' "$folder" || true)
done
# What the core may not reach for, by name.
banned_std=" thread mutex shared_mutex condition_variable future filesystem fstream csignal "
banned_qt=" QFile QDir QFileInfo QSaveFile QTemporaryFile QLockFile QFileSystemWatcher QSettings
 QStandardPaths QProcess QThread QThreadPool QMutex QWaitCondition QTimer QElapsedTimer
 QDeadlineTimer QEventLoop QCoreApplication QSocketNotifier QRandomGenerator QSharedMemory "
while IFS=: read -r file _ included; do
    header=${included#*<}
    header=${header%%>*}
    why=""
    case "$header" in
        Q*)
            if [ ! -f "$qtcore/$header" ]; then why="is not a QtCore header"
            elif [[ " ${banned_qt//$'\n'/ } " == *" $header "* ]]; then why="reaches the OS, a clock or a thread"
            fi ;;
        *.h|*/*) why="is an OS or library header" ;;
        *) [[ "$banned_std" == *" $header "* ]] && why="is thread, clock or file machinery" ;;
    esac
    if [ -n "$why" ]; then echo "$file includes <$header>, which $why: the core stays pure"; fail=1; fi
done < <(grep -rn '^#include <' core || true)
exit "$fail"
