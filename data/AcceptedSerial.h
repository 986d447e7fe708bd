// The highest configuration serial a keyed launcher of this user has accepted. The cache holds it
// too, but a cache is lost on a fresh install, deleted by an uninstall or damaged, and with it the
// floor that keeps an older, validly signed configuration from being replayed. This copy is
// security state, not user data: an uninstall leaves it in place.
#pragma once

namespace AcceptedSerial {

extern const char kKeyPath[];
extern const char kValueName[];

// 0 when nothing was accepted yet or the value does not read as a serial.
unsigned long long Read();
// Keeps `serial` when it is above the stored one; false when the registry refused the write.
bool Raise(unsigned long long serial);

}  // namespace AcceptedSerial
