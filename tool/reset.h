// The whole job: reset the security of HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
#pragma once

namespace tessaroot {

// Gives the class registration tree's root owner Administrators, group SYSTEM
// and its edition's baseline DACL, protected, and every key below it the same
// owner and group with an empty DACL that inherits. The take-ownership
// privilege is enabled for the run and its previous state applied back, on
// failure too. Raises _com_error when the run as a whole fails; failures of
// single subkeys are reported on standard error and do not raise. Every
// handle and buffer it opens is released before it returns or raises.
void ResetClassesRoot();

}  // namespace tessaroot
