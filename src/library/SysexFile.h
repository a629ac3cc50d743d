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
    size_t ignored = 0;      // messages for other devices, and requests
    std::vector<uint8_t> deviceIds;  // device IDs the data sets carried, ascending

    // "master setup, 64 patches, ..." plus a note on what was ignored.
    std::string Summary() const;
};

// Reads a file's bytes; a Standard MIDI File is told by its header, not its name.
BackupFile ReadBackup(const Bytes& fileBytes);
BackupFile ReadBackupFile(const std::string& path);

// The image as data sets for device `deviceId` (a byte, 0..31), back to back.
Bytes SyxBytes(const MemoryImage& image, uint8_t deviceId);

}  // namespace quorvane::library
