#pragma once
// The converter's own handle on the library: started once, stopped once.

#include "cb/factory/Startup.h"

using LibrarySession = Cb::Session;
