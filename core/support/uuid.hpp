#pragma once
// Random identifiers for names that must not collide: scratch files,
// multipart boundaries.

#include <string>

namespace cadrio {

/// A random (version 4) UUID in its canonical text form with upper-case
/// hexadecimal digits, "1B4E28BA-2FA1-41D2-883F-0016D3CCA427". Drawn from
/// the crypto library's generator, so names cannot be guessed; throws
/// std::runtime_error when the generator fails. Safe from any thread.
std::string randomUUID();

}  // namespace cadrio
