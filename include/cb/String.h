#pragma once
// Cb::String: the library's string type. In ZTP files it is a 32-bit length,
// then the characters and one zero byte when the length is not 0.

#include <string>

namespace Cb {
using String = std::string;
}
