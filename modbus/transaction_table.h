#pragma once

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
    int requestHeaderBytes;  // the request bytes before its data (and before the CRC)
    bool requestCarriesData; // the rest of the request is register values (WriteData)
    ExpectedLength expected;
    double resendAfter;    // a resend is due once more than this has passed since a send
    double overallLimit;   // looked at when a resend is due: give up at this much
    int answerHeaderBytes; // answer bytes kept in HeaderBytes 1..n
    DataCount dataCount;
    bool dataThroughHeaderFour; // each data byte also passes through HeaderBytes 4
};

constexpr TransactionRow readRegistersRow{
    3, 6, false, ExpectedLength::TwiceCountPlusFive, 1.0, 3.0, 3, DataCount::HeaderByteThree, true};
constexpr TransactionRow writeRegistersRow{
    16, 7, true, ExpectedLength::Eight, 1.0, 3.0, 6, DataCount::None, false};
constexpr TransactionRow readLogBlockRow{
    96, 7, false, ExpectedLength::Quantity, 4.0, 3.0, 6, DataCount::HeaderSixAndByteSeven, false};

} // namespace meterlink
