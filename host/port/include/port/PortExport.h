// What libzarvik-port.so.1 (zarvik-port.dll) exports: the classes and
// functions of these headers marked ZARVIK_PORT_API. Everything else in the
// library stays hidden, and the linker's version script (host/port/exports.map)
// admits nothing outside namespace zarvik::port.
//
// The interface is C++: std::string, std::function, std::vector and the
// classes' own layouts cross it, so a host must be built with the same
// compiler and standard library as the library (g++ with libstdc++ on Linux;
// on Windows the same MinGW-w64 toolchain, exception model and runtime DLLs).
// Other compilers and languages use the plain C interface (zarvik/zarvik_c.h).
//
// Code built into the same program as the static layer (this project's tests)
// defines ZARVIK_PORT_STATIC.
#pragma once

#if defined(_WIN32)
#if defined(ZARVIK_PORT_BUILDING)
#define ZARVIK_PORT_API __declspec(dllexport)
#elif defined(ZARVIK_PORT_STATIC)
#define ZARVIK_PORT_API
#else
#define ZARVIK_PORT_API __declspec(dllimport)
#endif
#else
#define ZARVIK_PORT_API __attribute__((visibility("default")))
#endif
