#pragma once
// Requests to the device simulator as the wire carries them, for its suites.
#include "LoopbackPeer.h"

#include <QByteArray>

namespace simframes {

inline QByteArray Hex(const char *hex) {
    return QByteArray::fromHex(hex);
}

// The request as it goes on the wire: 4-byte big-endian count, then the frame.
inline QByteArray Counted(const QByteArray &frame) {
    const auto n = quint32(frame.size());
    QByteArray wire;
    wire.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return wire + frame;
}

inline QByteArray Spaced(const QByteArray &bytes) {
    return bytes.toHex(' ').toUpper();
}

// A function-3 request for one register, and the value from its answer.
inline QByteArray ReadOne(int index) {
    return Hex("000100010006010300") + QByteArray(1, char(index)) + Hex("0001");
}

inline int ReadValue(testsupport::Peer &p, int index) {
    if (!p.Send(Counted(ReadOne(index))))
        return -1;
    const QByteArray a = p.Receive(11);
    if (a.size() != 11 || a[7] != 3)
        return -1;
    return quint8(a[9]) << 8 | quint8(a[10]);
}

} // namespace simframes
