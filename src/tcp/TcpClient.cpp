// Placeholder until the socket layer lands.
#include "TcpClient.h"

namespace tcp {
struct TcpClient::Connection {};
TcpClient::TcpClient() = default;
TcpClient::~TcpClient() = default;
void TcpClient::Connect() { throw ClientError("not implemented"); }
bool TcpClient::IsConnected() { return false; }
void TcpClient::WriteCounted(const uint8_t *, size_t) { throw ClientError("Connection Closed Gracefully."); }
bool TcpClient::WaitReadable(int) { return false; }
bool TcpClient::InputBufferEmpty() const { return true; }
size_t TcpClient::InputBufferSize() const { return 0; }
uint8_t TcpClient::ReadByte() { return 0; }
} // namespace tcp
