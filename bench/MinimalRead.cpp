// tavrin-minimal-read PORT FIRST COUNT: the reference process for
// "tavrin-cli read". A Qt Core program that connects once to 127.0.0.1:PORT,
// sends the counted function-3 request for COUNT registers from index FIRST
// with the command line's default header (transaction, protocol and unit 1),
// reads the whole answer and exits: 0 when it came, 1 when not, 2 on bad
// arguments. Nothing is printed.
#include "PlainClient.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdint>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4)
        return 2;
    bool portOk = false, firstOk = false, countOk = false;
    const uint port = args[1].toUInt(&portOk);
    const uint first = args[2].toUInt(&firstOk);
    const uint count = args[3].toUInt(&countOk);
    if (!portOk || !firstOk || !countOk || port < 1 || port > 65535 || first > 65535 || count < 1 ||
        count > 255)
        return 2;
    const uint8_t request[4 + 12] = {0,
                                     0,
                                     0,
                                     12, // the count
                                     0,
                                     1,
                                     0,
                                     1,
                                     0,
                                     6,
                                     1, // MBAP header
                                     3,
                                     uint8_t(first >> 8),
                                     uint8_t(first & 0xFF), // function 3, first
                                     0,
                                     uint8_t(count)}; // quantity
    bench::PlainClient plain;
    // Count and frame as two sends, as tavrin-cli sends them.
    return plain.Connect(uint16_t(port)) &&
                   plain.Exchange(request, sizeof request, 9 + 2 * size_t(count), 4)
               ? 0
               : 1;
}
