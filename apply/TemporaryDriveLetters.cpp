#include "apply/TemporaryDriveLetters.h"

#include "scan/GptWalk.h"

namespace quorvane {

std::optional<char> FirstFreeDriveLetter(Platform& platform) {
    const uint32_t mask = platform.LogicalDriveMask();
    // GetLogicalDrives answers 0 only when it fails (the system drive is
    // always there): then no letter is known to be free.
    if (mask == 0) return std::nullopt;
    for (int bit = 3; bit <= 25; ++bit)  // bit 3 is D; A, B and C are never used
        if ((mask & (1u << bit)) == 0) return static_cast<char>('A' + bit);
    return std::nullopt;
}

TemporaryDriveNames AssignTemporaryDriveLetters(Platform& platform, const PartitionRows& rows) {
    TemporaryDriveNames names;
    for (const DeviceMapEntry& entry : rows.DeviceMap()) {
        // Where Windows reads the disk otherwise, its partition devices may
        // lie elsewhere than the rows show.
        if (RowLetter(rows, entry.row) != 0 || rows.Side(entry.row).layoutDiffers) continue;
        // Windows gives a GPT partition a letter only when it holds basic
        // data and does not carry the no-drive-letter attribute.
        const auto& gpt = rows.Side(entry.row).gpt;
        if (gpt && (rows.Side(entry.row).scannedId != BasicDataCode || (gpt->attributes & GptAttributeNoDriveLetter)))
            continue;
        const auto letter = FirstFreeDriveLetter(platform);
        if (!letter) continue;
        const std::string target = "\\Device\\Harddisk" + std::to_string(entry.drive) + "\\Partition" +
                                   std::to_string(entry.partition);
        // Only a name that was defined is recorded: removing a name that was
        // never ours would take away whatever else holds that letter.
        if (platform.DefineDosDevice(*letter, target)) names.push_back({std::string{*letter, ':'}, target});
    }
    return names;
}

void RemoveTemporaryDriveLetters(Platform& platform, TemporaryDriveNames& names) {
    for (const TemporaryDriveName& name : names)  // nothing to do if it is gone already
        static_cast<void>(platform.RemoveDosDevice(name.name[0], name.target));
    names.clear();
}

}  // namespace quorvane
