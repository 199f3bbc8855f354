// The picture header reader built from source into its fuzzer, so that the fuzzer sees
// its branches and the sanitizers check its reads (the system's copy is not instrumented).
// The program's definitions take the place of the shared library's. The replay test of the
// corpus builds it with bounds checks too.
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
