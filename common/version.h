// The package's version and maker, stated once for every program and
// resource script that names them. Plain macros, so that resource
// compilers read this file as well as C++ compilers do.
#pragma once

#define PRODUCT_VERSION_MAJOR 1
#define PRODUCT_VERSION_MINOR 0
#define PRODUCT_VERSION_BUILD 3
#define PRODUCT_VERSION_REVISION 40

#define PRODUCT_VERSION_TEXT "1.0.3.40"
#define PRODUCT_MAKER "Central Kurdish Keyboard Layout Team"
#define PRODUCT_NAME "Central Kurdish Keyboard Layout"
