// The sound library's API for Qt code. The library is standard C++ and names a
// member `slots`, which Qt defines as a keyword macro: the header is read with
// that macro out of the way. A .cpp that reads BankInfo::slots undefines it
// after its includes (it declares no slots of its own).
#pragma once

#pragma push_macro("slots")
#undef slots
#include "library/SoundLibrary.h"
#pragma pop_macro("slots")
