#pragma once

#include <QString>
#include <optional>

namespace meterlink {

// Faults the meter injects on request, each switched on by name; all off by default.
struct MeterFaults {
    bool silent = false;       // never answers
    int ignoreEvery = 0;       // every K-th request goes unanswered and unprocessed
    int badCrcEvery = 0;       // every K-th answer carries a wrong CRC (1: all)
    int exceptionCode = 0;     // answer every request with this exception code...
    int exceptionFunction = 0; // ...or only requests for this function (0: all)
    int truncateAfter = -1;    // cut every answer after K bytes
    bool noise = false;        // one stray byte before every answer
    double delaySeconds = 0.0; // wait before answering
    // The gateway's, heard only behind --tcp:
    int latencyMs = 0; // the network's delay, each way
    int dropAt = 0;    // the K-th request closes the connection instead of reaching the meters

    // Adds one fault from its command-line form: silent, ignore:K, badcrc[:K],
    // exception:C[:FUNCTION], truncate:K, noise, delay:SECONDS, latency:MS, drop:K. On
    // failure returns why.
    std::optional<QString> add(const QString& option);
};

} // namespace meterlink
