// Forced into every product source (-include, see CMakeLists.txt): the
// standard library's templates (strings above all) are instantiated in the
// program's own objects, compiled without exceptions, instead of taken from
// the library's prebuilt instantiations, which are compiled with exceptions
// and would pull the throw and terminate machinery into the program.
#pragma once

#include <bits/c++config.h>

#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
