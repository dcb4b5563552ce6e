#include "zt/field3.h"

namespace zt {

template class field_base3<float>;
template class field_base3<int>;
template class field_base3<int64_t>;
template class field_base3<char>;
template class field3<float>;
template class field3<int>;
template class field3<int64_t>;
template class field3<char>;

}  // namespace zt
