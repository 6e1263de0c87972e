// The test's pseudo-terminal pair on Windows: a connection to the bridge
// that scripts/wine-run.sh starts. Kept out of PtyPair.h so that tests
// including it see none of Winsock's and the system's names.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>

#include "platform/PtyPair.h"

static_assert(sizeof(SOCKET) == sizeof(std::uintptr_t));

namespace {

SOCKET Socket(std::uintptr_t s) { return static_cast<SOCKET>(s); }

}  // namespace

bool PtyPair::IsStandIn() {
  // Wine's own library answers for a function no Windows library has.
  return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

PtyPair::PtyPair() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  const char* port = std::getenv("QL75N_PTY_BRIDGE");
  if (!started || port == nullptr)
    return;
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET)
    return;
  socket_ = static_cast<std::uintptr_t>(s);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = ::htons(static_cast<u_short>(std::atoi(port)));
  to.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  // Each Send goes out at once, as bytes written to a master would.
  const BOOL noDelay = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    CloseMaster();
    return;
  }
  // The bridge's first line: "COMnn /dev/pts/N".
  std::string line;
  char c = 0;
  while (line.size() < 256 && ::recv(s, &c, 1, 0) == 1 && c != '\n')
    line.push_back(c);
  const size_t blank = line.find(' ');
  if (c != '\n' || blank == std::string::npos || line.compare(0, 3, "COM") != 0) {
    CloseMaster();
    return;
  }
  name_ = line.substr(0, blank);
  path_ = "\\\\.\\" + name_;
  slavePath_ = line.substr(blank + 1);
}

bool PtyPair::Send(const std::string& bytes) const {
  size_t done = 0;
  while (done < bytes.size()) {
    const int n = ::send(Socket(socket_), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string PtyPair::Receive(size_t count, int idleMs) const {
  std::string got;
  while (got.size() < count) {
    char buf[65536];
    const size_t want = std::min(sizeof buf, count - got.size());
    WSAPOLLFD p{Socket(socket_), POLLRDNORM, 0};
    if (::WSAPoll(&p, 1, idleMs) <= 0)
      break;
    const int n = ::recv(Socket(socket_), buf, static_cast<int>(want), 0);
    if (n <= 0)
      break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

void PtyPair::CloseMaster() {
  if (socket_ != kNoSocket)
    ::closesocket(Socket(socket_));
  socket_ = kNoSocket;
}
