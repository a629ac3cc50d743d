// The System Exclusive part of Standard MIDI Files, read and written by our own
// code. Reading never trusts a length it has not checked against the bytes that
// are there: a file cut short or a chunk or event longer than what follows is
// refused with the reason and the byte where it happens.
//
// What the reader takes, as a player would send it on the wire:
// - the header (format 0, 1 or 2; ticks per quarter note or SMPTE frames) and
//   every MTrk chunk; chunks of other types are skipped;
// - an F0 event sends F0 and its bytes; when they do not end with F7 the
//   message stays open and the F7 events after it continue it ("packets")
//   until one ends with F7;
// - an F7 event outside an open message is an escape: its bytes go out as they
//   are. A System Exclusive message inside is read like any other; other MIDI
//   messages in it are counted and left alone; a byte that belongs to no
//   message (such as a message whose F0 was damaged) refuses the file;
// - channel messages may use running status; a System Exclusive or meta event
//   ends it, so a data byte right after one refuses the file;
// - meta events are skipped; End of Track ends the track.
// In format 1 the tracks play together, so their messages are taken in time
// order (track order at the same tick); in formats 0 and 2, in file order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/Protocol.h"

namespace quorvane::library {

// One whole System Exclusive message (F0 ... F7) found in a file.
struct MidiSysex {
    Bytes bytes;
    int track = 0;       // from 1, in the order of the file's track chunks
    int event = 0;       // from 1 within the track: the event that starts it
    size_t offset = 0;   // byte of the file where that event begins
    uint64_t tick = 0;   // time of that event in ticks from the track's start
};

struct MidiFileContents {
    bool ok = false;
    std::string error;    // why the file was refused, with the position
    int format = 0;
    int tracks = 0;       // track chunks read
    uint16_t division = 0;  // as in the header: ticks per quarter note, or SMPTE when bit 15 is set
    std::vector<MidiSysex> messages;  // in the order a player sends them
    size_t otherMessages = 0;         // other MIDI messages carried in escapes
};

MidiFileContents ReadMidiFile(const Bytes& file);

// A format 0 file with one track: each message (F0 ... F7) one F0 event, spaced
// so that a player sends them no faster than the module takes them, then End of
// Track. The header asks for no tempo, so the default of 120 quarter notes a
// minute applies.
Bytes WriteMidiFile(const std::vector<Bytes>& messages);

}  // namespace quorvane::library
