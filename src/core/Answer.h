#pragma once
// Which received bytes answer which request. An answer is framed by its MBAP
// header (6 bytes, then as many as its length field says), belongs to a
// request only when it carries that request's transaction ID, and feeds the
// register image only when it is the whole function-3 answer the request
// implies. No sockets here: the exchange asks, the bytes stay its own.
#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>

namespace core {

constexpr int AnswerLengthEnd = 6; // bytes 0..5 hold the transaction ID and the length
constexpr int MinAnswerLength = 3; // unit ID, function code, one byte more

enum class Framing {
    NeedMore, // wait for more bytes
    Complete, // `bytes` is the answer
    Stale,    // drop the first `bytes`, then ask again
};

struct FrameStep {
    Framing framing;
    size_t bytes;
};

// The transaction ID of a frame of at least two bytes.
uint16_t TransactionOf(std::span<const uint8_t> frame);

// request: the frame sent; buffered: what has come since, oldest first; capacity: the most
// an answer can hold. A whole frame of another transaction is stale; a header
// whose length no answer can have (below MinAnswerLength, or past capacity)
// ends this request's answer at what has arrived, or, carrying another
// transaction's ID, makes everything buffered stale (nothing tells where such
// bytes end).
FrameStep FrameAnswer(std::span<const uint8_t> request, std::span<const uint8_t> buffered,
                      size_t capacity);

enum class AnswerFault {
    None,
    Incomplete,  // fewer bytes than the header announces
    Length,      // a length field no answer can have
    Transaction, // another request's answer
    Exception,   // bit 7 of the function code
    Function,    // another function code than the request's
    ByteCount,   // function 3: not the byte count the quantity implies
};

struct AnswerCheck {
    AnswerFault fault = AnswerFault::None;
    int found = 0;     // the offending value: code, length, transaction, byte count
    int expected = 0;  // what the request implies, where it says one
    int registers = 0; // function 3 without fault: the whole registers that came
};

// The answer to a request of transactionId and function; quantity counts
// only for function 3.
AnswerCheck CheckAnswer(std::span<const uint8_t> answer, uint16_t transactionId, uint8_t function,
                        int32_t quantity, size_t capacity);

// "illegal data address" for 2; empty outside 1..6 (named by number only).
QString ExceptionMeaning(int code);

// Why an answer was not taken, as one sentence without its full stop:
// "Exception answer 02 (illegal data address)".
QString AnswerFaultText(const AnswerCheck &check);

} // namespace core
