#pragma once
// The version of the library and of every program built with it. The build
// reads it from here, so this is the one place to change it.

#define CB_VERSION_MAJOR 1
#define CB_VERSION_MINOR 0
#define CB_VERSION_PATCH 0
#define CB_VERSION_STRING "1.0.0"
