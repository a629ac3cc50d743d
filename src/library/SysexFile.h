// Backup files: System Exclusive files (.syx, messages back to back) and
// Standard MIDI Files (.mid) that carry System Exclusive events. Reading checks
// every message before anything is used: a damaged message or an address the
// module does not have refuses the whole file, naming the message.
#pragma once

#include <string>
#include <vector>

#include "library/MemoryImage.h"
#include "library/SafeFile.h"

namespace quorvane::library {

struct BackupFile {
    bool ok = false;
    std::string error;       // why the file was refused, with the message's position
    bool midiFile = false;   // read as a Standard MIDI File
    MemoryImage image;       // every data set, later ones over earlier ones
    size_t dataSets = 0;     // module data sets read
    size_t requests = 0;     // requests for this module's data (they hold none)
    size_t ignored = 0;      // messages for other devices, requests, other MIDI messages in escapes
    std::vector<uint8_t> deviceIds;  // device IDs the data sets carried, ascending

    // "master setup, 64 patches, ..." (a single memory by number and name:
    // "patch 12 "Strings 2""), a note when data sets for several device IDs were
    // merged, and one on what was ignored.
    std::string Summary() const;
};

// Reads a file's bytes; a Standard MIDI File is told by its header, not its name.
BackupFile ReadBackup(const Bytes& fileBytes);
BackupFile ReadBackupFile(const std::string& path);

// The image as data sets for device `deviceId` (a byte, 0..31), back to back.
Bytes SyxBytes(const MemoryImage& image, uint8_t deviceId);
// The same data sets as a Standard MIDI File (format 0, one F0 event each).
Bytes MidiBytes(const MemoryImage& image, uint8_t deviceId);

// True for a name ending in .mid or .midi (any case).
bool IsMidiFileName(const std::string& path);
// Saves the image for device `deviceId` under `path`: a Standard MIDI File for a
// .mid or .midi name, data sets back to back for any other. Written as
// WriteFileAtomically writes; false and `error` on failure.
bool SaveBackup(const std::string& path, const MemoryImage& image, uint8_t deviceId, std::string& error);

}  // namespace quorvane::library
