// Instances of the container templates that every program uses.
#include "engine/foundation/buffer.h"
#include "engine/foundation/cstring.h"
#include "engine/foundation/pointerlist.h"
#include "engine/foundation/stringlist.h"

template class CStringBase<char>;
template class CStringBase<char16_t>;
template class CString<char>;
template class CString<char16_t>;
template class CBuffer<char>;
template class CBuffer<unsigned char>;
template class CBuffer<char16_t>;
template class CBuffer<const char*>;
template class CBuffer<const char16_t*>;
template class CStringList<char>;
template class CStringList<char16_t>;
template class CPointerList<char>;
template class CPointerList<char16_t>;
template struct CStringUtil<char>;
template struct CStringUtil<char16_t>;
