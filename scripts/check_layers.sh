#!/bin/sh
# Fails when an include points the wrong way: a core file that includes Qt or an operating-system
# header, or any file that includes a folder above its own layer (docs/ARCHITECTURE.md).
set -eu
cd "$(dirname "$0")/.."

# folder: the folders its files may include (the platform's interface headers are
# "platform/<name>.h"; its implementations live one folder deeper).
allowed() {
    case "$1" in
        platform) echo "platform-if" ;;
        app) echo "platform-if app" ;;
        stats) echo "platform-if app stats" ;;
        graph) echo "platform-if app graph" ;;
        capture) echo "platform-if app stats capture" ;;
        orchestration) echo "platform-if app stats graph capture orchestration" ;;
        platform/linux) echo "platform-if app platform/linux" ;;
        platform/stub) echo "platform-if app platform/stub" ;;
        capture_helper) echo "platform-if app stats capture platform/linux capture_helper" ;;
        ui) echo "platform-if app stats graph capture orchestration ui" ;;
        *) echo "" ;;
    esac
}
core="platform app stats graph capture orchestration"

bad=0
for file in $(find src -name '*.h' -o -name '*.cpp' | sort); do
    rel=${file#src/}
    case "$rel" in
        main.cpp) continue ;;
        platform/linux/*) folder=platform/linux ;;
        platform/stub/*) folder=platform/stub ;;
        platform/*) folder=platform ;;
        ui/*) folder=ui ;;
        */*) folder=${rel%%/*} ;;
        *) echo "$file: not in a known folder"; bad=1; continue ;;
    esac
    ok=$(allowed "$folder")
    if [ -z "$ok" ]; then
        echo "$file: the folder $folder has no place in docs/ARCHITECTURE.md"; bad=1; continue
    fi
    is_core=no
    for c in $core; do [ "$folder" = "$c" ] && is_core=yes; done
    # Project includes.
    for inc in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file"); do
        case "$inc" in
            platform/linux/*) target=platform/linux ;;
            platform/stub/*) target=platform/stub ;;
            platform/*/*) target=${inc%/*} ;;
            platform/*) target=platform-if ;;
            */*) target=${inc%%/*} ;;
            *) target=local ;;
        esac
        [ "$target" = local ] && continue
        case " $ok " in
            *" $target "*) ;;
            *) echo "$file: includes $inc ($target is not below $folder)"; bad=1 ;;
        esac
    done
    # System includes of the core: the C++ standard library only (no Qt, no OS headers).
    if [ $is_core = yes ]; then
        for inc in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<\([^>]*\)>.*/\1/p' "$file"); do
            case "$inc" in
                *[!a-z_]*) echo "$file: includes <$inc>, not a C++ standard header"; bad=1 ;;
            esac
        done
    fi
done
[ $bad -eq 0 ] && echo "layers: every include points down"
exit $bad
