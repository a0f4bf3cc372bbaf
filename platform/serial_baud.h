// Arbitrary baud rates through termios2/BOTHER.
//
// Kept apart because <asm/termbits.h> cannot be included together with
// <termios.h>.
#pragma once

#include <cstdint>

namespace qm {

// Sets input and output speed of an open tty to `baud`; 0 or an errno value.
int SetCustomBaudRate(int fd, uint32_t baud);

}  // namespace qm
