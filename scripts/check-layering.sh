#!/usr/bin/env bash
# Checks that each folder of src/ includes only from the folders below it:
#
#   midi      the port interface, the paced sender, the SysEx assembler: nothing of ours
#   device    protocol and model: midi's port interface only
#   emulator  the virtual module: device, midi
#   library   files, transfers, journal, sound library: device, midi
#   ports     the MIDI systems' back ends: midi, device, emulator
#   ui        the windows: device, library, emulator, midi, and of ports only the MIDI system interface
#   app       main() and the composition root: anything
#
# An include written from src/ ("device/Protocol.h") names its folder; a bare one
# ("Host.h") is the including file's own folder when the file is there, else
# src/device (the protocol's folder is on the include path). Includes that climb
# ("../x.h") are refused outright.
#
#   check-layering.sh [SRC]          prints every include that breaks the rule; exit 1 if any
#   check-layering.sh --self-test    plants an upward include in a copy of src/ and expects exit 1
set -uo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"

allowed_rooms() {
    case "$1" in
        midi) echo "midi" ;;
        device) echo "device midi:MidiPorts.h" ;;
        emulator) echo "emulator device midi" ;;
        library) echo "library device midi" ;;
        ports) echo "ports midi device emulator" ;;
        ui) echo "ui device library emulator midi ports:MidiSystem.h" ;;
        app) echo "*" ;;
        *) echo "" ;;
    esac
}

check() {
    local src="$1" bad=0 file room rel inc target header rule ok
    while IFS= read -r file; do
        rel="${file#"$src"/}"
        room="${rel%%/*}"
        local rules
        rules="$(allowed_rooms "$room")"
        [ "$rules" = "*" ] && continue
        while IFS= read -r inc; do
            [ -z "$inc" ] && continue
            if [[ "$inc" == *..* ]]; then
                echo "$rel: includes \"$inc\" (climbs out of its folder)"
                bad=1
                continue
            fi
            if [[ "$inc" == */* ]]; then
                target="${inc%%/*}"
                header="${inc#*/}"
                [ -d "$src/$target" ] || continue  # not one of ours (a library's own folder)
            elif [ -e "$(dirname "$file")/$inc" ]; then
                continue
            elif [ -e "$src/device/$inc" ]; then
                target=device
                header="$inc"
            else
                continue
            fi
            [ "$target" = "$room" ] && continue
            ok=0
            for rule in $rules; do
                if [ "$rule" = "$target" ] || [ "$rule" = "$target:$header" ]; then ok=1; break; fi
            done
            if [ "$ok" = 0 ]; then
                echo "$rel: includes \"$inc\" ($room may not use $target${rules:+; it may use: $rules})"
                bad=1
            fi
        done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file")
    done < <(find "$src" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.c' \) | sort)
    return "$bad"
}

if [ "${1:-}" = "--self-test" ]; then
    tmp="$(mktemp -d)"
    trap 'rm -rf "$tmp"' EXIT
    failures=0
    # Each line: the file to plant in, the include planted. Every one must be caught.
    while IFS='|' read -r where what; do
        rm -rf "$tmp/src"
        cp -r "$here/src" "$tmp/src"
        mkdir -p "$(dirname "$tmp/src/$where")"
        printf '#include "%s"\n' "$what" >>"$tmp/src/$where"
        if out="$(check "$tmp/src")"; then
            echo "not caught: $where including $what"
            failures=1
        else
            echo "caught: $out"
        fi
    done <<'EOF'
device/Protocol.cpp|ui/main/frmMain.h
device/Protocol.cpp|library/Transfer.h
device/Planted.h|emulator/U220Emulator.h
midi/PacedSender.cpp|device/Protocol.h
library/SysexFile.cpp|ui/common/QtHost.h
library/SysexFile.cpp|emulator/U220Emulator.h
emulator/U220Emulator.cpp|library/MemoryImage.h
ui/common/QtHost.cpp|app/CommandLine.h
ui/main/Connection.cpp|ports/PortSet.h
ports/PortSet.cpp|library/Journal.h
device/Protocol.cpp|../ui/main/frmMain.h
EOF
    # And the tree as it stands passes.
    if ! check "$here/src" >/dev/null; then
        echo "the tree itself breaks the layering"
        failures=1
    fi
    exit "$failures"
fi

check "${1:-$here/src}"
