// Starting with Windows: a value in this user's Run key that names this copy.
#pragma once

namespace LogonStart {

// Writes the value (bOn) or removes it. A value in the machine's Run key
// that names this very copy goes either way, where the registry lets it.
void apply(bool bOn);

}  // namespace LogonStart
