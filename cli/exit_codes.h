#pragma once

namespace meterlink {

// What meterlink-cli returns; scripts branch on these.
enum ExitCode : int {
    ExitDone = 0,
    ExitEmptyLog = 1,
    ExitLinkFailed = 2,
    ExitFileNotWritten = 3,
    ExitPortInUse = 4,    // another run holds the port's lock
    ExitLogRestarted = 5, // --append --on-restart=fail found the log cleared
    // --append found the file or its state not as left: the whole log went to a new file.
    ExitNewFile = 6,
    ExitUsage = 64,
    ExitBadImage = 65, // decode: the image is cut short, damaged or of a newer format
    // 128 + the signal's number, as shells report a command ended by it.
    ExitInterrupted = 130,
    ExitTerminated = 143,
};

} // namespace meterlink
