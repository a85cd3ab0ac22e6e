#pragma once

#include <initializer_list>

namespace meterlink {

// A byte the answer still owes may take this long to come before its take gives up.
constexpr double byteTakeLimit = 2.0;

// How many answer bytes the wait expects before the answer is taken.
enum class ExpectedLength {
    TwiceCountPlusFive, // function 3: two bytes a register and the frame around them
    Eight,              // function 16: the echo of address and count
    Quantity,           // function 96: the length argument itself
};

// Where the number of data bytes after the answer's header comes from.
enum class DataCount {
    None,                  // the answer is its header and CRC only
    HeaderByteThree,       // one count byte, the last of the header
    HeaderSixAndByteSeven, // a 16-bit count: header byte 6, then one more byte
};

// One transaction of the link: the shape of its request, the answer it waits for, its
// timing, and how the answer is taken apart. The engine runs every row the same way.
struct TransactionRow {
    int functionCode;
    ExpectedLength expected;
    double resendAfter;    // a resend is due once more than this has passed since a send
    double overallLimit;   // looked at when a resend is due: give up at this much
    int answerHeaderBytes; // answer bytes kept in HeaderBytes 1..n
    DataCount dataCount;
    bool dataThroughHeaderFour;   // each data byte also passes through HeaderBytes 4
    int answerBeyondExpected = 0; // the answer's bytes after the expected length
};

constexpr TransactionRow readRegistersRow{3, ExpectedLength::TwiceCountPlusFive, 1.0, 3.0,
                                          3, DataCount::HeaderByteThree,         true};
constexpr TransactionRow writeRegistersRow{16, ExpectedLength::Eight, 1.0,  3.0,
                                           6,  DataCount::None,       false};
constexpr TransactionRow readLogBlockRow{96, ExpectedLength::Quantity,         4.0,   3.0,
                                         6,  DataCount::HeaderSixAndByteSeven, false, 9};

// The row of a function code; null for one the link does not make.
constexpr const TransactionRow* transactionRow(int functionCode) {
    for (const TransactionRow* row : {&readRegistersRow, &writeRegistersRow, &readLogBlockRow}) {
        if (row->functionCode == functionCode) {
            return row;
        }
    }
    return nullptr;
}

// The length of a whole answer (not an exception answer) as far as `answer`, its first
// `size` bytes, tells it; `waitedFor` is the wait's expected length, which says it before
// the header has come.
constexpr int answerLength(const TransactionRow& row, int waitedFor, const char* answer, int size) {
    const auto byte = [answer](int i) { return int(static_cast<unsigned char>(answer[i])); };
    switch (row.dataCount) {
    case DataCount::None:
        return row.answerHeaderBytes + 2;
    case DataCount::HeaderByteThree:
        return size >= 3 ? row.answerHeaderBytes + byte(2) + 2
                         : waitedFor + row.answerBeyondExpected;
    case DataCount::HeaderSixAndByteSeven:
        return size >= 7 ? row.answerHeaderBytes + 1 + byte(5) * 256 + byte(6) + 2
                         : waitedFor + row.answerBeyondExpected;
    }
    return waitedFor;
}

} // namespace meterlink
