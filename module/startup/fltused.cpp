/* Empty routines whose names mark the image as one that uses floating point. */
extern "C" void _fltused(void) {}
extern "C" void _fltused_(void) {}
extern "C" void _turboFloat(void) {}
