// Reads terminal attributes straight from the kernel (TCGETS2), beside the
// code under test, so tests check what the terminal really holds. Kernel
// headers only: they clash with glibc's <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

uint32_t KernelOutputSpeed(int fd) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0)
    return 0;
  return t.c_ospeed;
}

uint32_t KernelInputSpeed(int fd) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0)
    return 0;
  return t.c_ispeed;
}
